// What the traffic tap costs per message on the two port paths, against the same path
// without a tap in the same run: 0 = no tap, 1 = tap attached with no reader, 2 = tap
// with a reader thread draining it.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "midi/MidiInPort.h"
#include "midi/MidiInMsg.h"
#include "midi/TrafficTap.h"
#include "midi/platform/LoopbackDriver.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/wire/QZ81KTMidiOut.h"

namespace {

class CCountingPeer : public CLoopbackPeer {
public:
    void OnPeerReceive(const uint8_t*, size_t) override { m_nReceived.fetch_add(1, std::memory_order_release); }
    std::atomic<long> m_nReceived{0};
};

// Drains the tap every millisecond while it lives, as a monitor's timer would (faster
// than the window's, so that the ring rarely fills at these rates).
class CReader {
public:
    explicit CReader(CTrafficTap& tap) : m_tap(tap) {
        m_tap.SetReading(true);
        m_thread = std::thread([this] {
            std::vector<CTrafficTap::CRecord> buf(256);
            while (!m_bStop.load(std::memory_order_acquire)) {
                while (m_tap.Drain(buf.data(), buf.size()) == buf.size()) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    ~CReader() {
        m_bStop.store(true, std::memory_order_release);
        m_thread.join();
        m_tap.SetReading(false);
    }

private:
    CTrafficTap& m_tap;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

const char* ModeLabel(int64_t n) { return n == 0 ? "no tap" : n == 1 ? "tap, no reader" : "tap, reader"; }

void BM_SendWithTap(benchmark::State& state) {
    CLoopbackDriver driver;
    CCountingPeer peer;
    CTrafficTap tap;
    CQZ81KTMidiOut out(&driver);
    out.m_uDeviceID = driver.AddPortPair("QZ-81KT Bench", &peer);
    if (state.range(0) > 0) out.SetTrafficTap(&tap);
    out.Open();
    out.Start();
    std::unique_ptr<CReader> reader(state.range(0) == 2 ? new CReader(tap) : nullptr);
    uint8_t preset[50] = {};
    long sent = 0;
    for (auto _ : state) {
        while (!qz::SendDT1(out, 0x7F, qz::PresetAddress(1), preset, sizeof preset)) std::this_thread::yield();
        ++sent;
    }
    while (peer.m_nReceived.load(std::memory_order_acquire) < sent) std::this_thread::yield();
    out.Close();
    state.SetLabel(ModeLabel(state.range(0)));
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(sent), benchmark::Counter::kIsRate);
    state.counters["dropped"] = static_cast<double>(tap.DroppedTotal());
}
BENCHMARK(BM_SendWithTap)->Arg(0)->Arg(1)->Arg(2)->UseRealTime()->MinTime(1.0)->Repetitions(3)->ReportAggregatesOnly(true);

// The parser alone on one 70-byte status reply per iteration: the input worker's cost.
void BM_ParseWithTap(benchmark::State& state) {
    CTrafficTap tap;
    CMidiInPort<CMidiInMsg> parser;
    if (state.range(0) > 0) parser.SetTrafficTap(&tap);
    std::unique_ptr<CReader> reader(state.range(0) == 2 ? new CReader(tap) : nullptr);
    uint8_t data[qz::kStatusSize] = {};
    uint8_t frame[100];
    size_t n = qz::BuildDT1(frame, sizeof frame, 0x7F, qz::kAddrStatus, data, sizeof data);
    for (auto _ : state) parser.OnLongData(frame, static_cast<uint32_t>(n));
    state.SetLabel(ModeLabel(state.range(0)));
    state.counters["msgs/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["dropped"] = static_cast<double>(tap.DroppedTotal());
}
BENCHMARK(BM_ParseWithTap)->Arg(0)->Arg(1)->Arg(2)->UseRealTime()->MinTime(0.5)->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
