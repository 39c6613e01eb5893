// Connect-to-complete-image time over the loopback port with the emulated converter:
// from the request-all sequence sent until all thirteen blocks are stored.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "emulator/LoopbackEmulator.h"
#include "midi/platform/LoopbackDriver.h"
#include "protocol/device/DeviceImage.h"
#include "protocol/device/DeviceOwner.h"
#include "protocol/wire/QZ81KTMidiIn.h"
#include "protocol/wire/QZ81KTMidiOut.h"
#include "tests/support/CountingOwner.h"

namespace {

void BM_ConnectToCompleteImage(benchmark::State& state) {
    CLoopbackDriver driver;
    CLoopbackEmulator emulator(driver);
    emulator.Start();
    CCountingOwner owner(&driver);
    CMidiInPort<CQZ81KTMidiIn> in(&driver);
    in.m_pOwnerWnd = &owner;
    in.m_uDeviceID = owner.m_out.m_uDeviceID = emulator.Port();
    in.Open();
    in.Start();
    owner.m_out.Open();
    owner.m_out.Start();
    std::vector<double> us;
    for (auto _ : state) {
        owner.m_image.Clear();
        owner.m_image.ResetLinkState();
        auto t0 = std::chrono::steady_clock::now();
        if (!qz::RequestAll(owner.m_out, 0x7F)) {
            state.SkipWithError("request-all refused");
            break;
        }
        while (!owner.Complete()) std::this_thread::yield();
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    if (us.empty()) return;
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    state.counters["lost"] = static_cast<double>(in.m_nDropped.load());
}
BENCHMARK(BM_ConnectToCompleteImage)->UseRealTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
