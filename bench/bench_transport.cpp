// Frames per second through SendDT1 -> loopback port -> completion, and request/reply
// round trips through both port classes.
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "midi/platform/LoopbackDriver.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/wire/QZ81KTMidiOut.h"

namespace {

class CCountingPeer : public CLoopbackPeer {
public:
    void OnPeerReceive(const uint8_t*, size_t) override { m_nReceived.fetch_add(1, std::memory_order_release); }
    std::atomic<long> m_nReceived{0};
};

void BM_SendDT1ThroughLoopback(benchmark::State& state) {
    CLoopbackDriver driver;
    CCountingPeer peer;
    CQZ81KTMidiOut out(&driver);
    out.m_uDeviceID = driver.AddPortPair("QZ-81KT Bench", &peer);
    out.Open();
    out.Start();
    uint8_t preset[50] = {};
    long sent = 0;
    for (auto _ : state) {
        while (!qz::SendDT1(out, 0x7F, qz::PresetAddress(1), preset, sizeof preset)) std::this_thread::yield();
        ++sent;
    }
    while (peer.m_nReceived.load(std::memory_order_acquire) < sent) std::this_thread::yield();
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(sent), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(sent * 62);
}
BENCHMARK(BM_SendDT1ThroughLoopback)->UseRealTime()->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
