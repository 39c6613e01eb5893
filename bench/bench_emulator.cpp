// Emulator throughput: the flood rate it sustains, and requests answered per second.
#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

#include "emulator/LoopbackEmulator.h"
#include "emulator/QZ81KTEmulator.h"
#include "protocol/wire/DeviceFrames.h"

namespace {

class CCountingOutput : public CEmulatorOutput {
public:
    bool SendLong(const uint8_t*, size_t) override {
        m_nLong.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    bool SendShort(uint32_t) override {
        m_nShort.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    std::atomic<uint64_t> m_nLong{0}, m_nShort{0};
};

// Flood at the asked rate for 200 ms per iteration; the counter shows what was reached.
void BM_EmulatorFlood(benchmark::State& state) {
    CCountingOutput out;
    CQZ81KTEmulator emu(&out);
    emu.Start();
    emu.Faults().m_nFloodPerSecond = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    emu.Faults().m_nFloodPerSecond = 0;
    emu.Stop();
    state.counters["sent_per_s"] =
        benchmark::Counter(static_cast<double>(emu.Counters().m_nFloodMessages), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EmulatorFlood)->Arg(100000)->Arg(200000)->UseRealTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// The same flood through the loopback driver into an input port that queues its
// buffers again at once.
struct CSink {
    static constexpr size_t kBuffers = 32;
    CLoopbackDriver* pDriver = nullptr;
    std::array<std::array<uint8_t, 256>, kBuffers> buf{};
    std::array<MIDIHDR, kBuffers> hdr{};
    std::atomic<uint64_t> nShort{0}, nLong{0};
    std::atomic<bool> bClosing{false};

    static void Callback(HMIDIPORT h, uint32_t uMsg, void* pInstance, uintptr_t param1, uintptr_t) {
        auto* self = static_cast<CSink*>(pInstance);
        if ((uMsg & 0xFFFF) == MIM_DATA) {
            self->nShort.fetch_add(1, std::memory_order_relaxed);
        } else if ((uMsg & 0xFFFF) == MIM_LONGDATA) {
            self->nLong.fetch_add(1, std::memory_order_relaxed);
            if (!self->bClosing) self->pDriver->InAddBuffer(h, reinterpret_cast<MIDIHDR*>(param1));
        }
    }
};

void BM_EmulatorFloodThroughLoopback(benchmark::State& state) {
    CLoopbackDriver driver;
    CLoopbackEmulator emu(driver);
    CSink sink;
    sink.pDriver = &driver;
    HMIDIPORT hIn = nullptr;
    driver.InOpen(&hIn, emu.Port(), &CSink::Callback, &sink);
    for (size_t i = 0; i < CSink::kBuffers; ++i) {
        sink.hdr[i].lpData = sink.buf[i].data();
        sink.hdr[i].dwBufferLength = static_cast<uint32_t>(sink.buf[i].size());
        driver.InPrepareHeader(hIn, &sink.hdr[i]);
        driver.InAddBuffer(hIn, &sink.hdr[i]);
    }
    driver.InStart(hIn);
    emu.Start();
    emu.Faults().m_nFloodPerSecond = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    emu.Faults().m_nFloodPerSecond = 0;
    emu.Stop();
    sink.bClosing = true;
    driver.InReset(hIn);
    driver.InClose(hIn);
    state.counters["received_per_s"] = benchmark::Counter(static_cast<double>(sink.nShort + sink.nLong),
                                                          benchmark::Counter::kIsRate);
    state.counters["lost_bytes"] = static_cast<double>(driver.LostInputBytes(emu.Port()));
}
BENCHMARK(BM_EmulatorFloodThroughLoopback)->Arg(100000)->UseRealTime()->Iterations(5)->Unit(benchmark::kMillisecond);

// Requests in, replies out: 1000 status requests per iteration.
void BM_EmulatorStatusRequests(benchmark::State& state) {
    CCountingOutput out;
    CQZ81KTEmulator emu(&out);
    emu.Start();
    uint8_t req[qz::kRQ1Length];
    qz::BuildRQ1(req, 0x7F, qz::kAddrStatus, qz::kStatusSize);
    uint64_t nWant = 0;
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) emu.Receive(req, sizeof(req));
        nWant += 1000;
        while (out.m_nLong.load(std::memory_order_relaxed) < nWant) std::this_thread::yield();
    }
    emu.Stop();
    state.SetItemsProcessed(static_cast<int64_t>(nWant));
}
BENCHMARK(BM_EmulatorStatusRequests)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
