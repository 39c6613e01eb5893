// CPU taken by a linked, idle session (the status polled every 100 ms, as the panel and
// "qz81kt status --watch" do) on each JACK backend: RtMidi's (a JACK client per port)
// against our own (one client for both). The two take turns, so that both see the same
// machine; run by bench/jack-bench.sh against qz81kt-emu on a JACK dummy server.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/CliSession.h"
#include "midi/MidiDevList.h"
#include "midi/PortSelection.h"
#include "midi/platform/JackMidiDriver.h"
#include "midi/platform/RtMidiDriver.h"

namespace {

// CPU time of every thread of this process, in nanoseconds (schedstat is exact where
// clock ticks are not).
double ProcessCpuNs() {
    double dSum = 0;
    DIR* pDir = opendir("/proc/self/task");
    if (!pDir) return 0;
    while (dirent* p = readdir(pDir)) {
        if (p->d_name[0] == '.') continue;
        std::ifstream f(std::string("/proc/self/task/") + p->d_name + "/schedstat");
        double dNs = 0;
        if (f >> dNs) dSum += dNs;
    }
    closedir(pDir);
    return dSum;
}

// Percent of a core while linked for nSeconds, or a negative value when it cannot link.
double IdleLinked(CSystemMidiDriver& driver, int nSeconds) {
    CMidiInDevList ins(&driver);
    CMidiOutDevList outs(&driver);
    ins.Refresh();
    outs.Refresh();
    const qz::CPortPair ports = qz::PreselectPorts(ins.Devices(), outs.Devices());
    const int in = ports.m_nIn, out = ports.m_nOut;
    if (in < 0 || out < 0) return -1;
    CCliSession session(driver);
    if (session.Connect(static_cast<uint32_t>(in), static_cast<uint32_t>(out)) != CCliSession::EConnect::Ok) return -1;
    driver.ReleaseEnumerators();
    using Clock = std::chrono::steady_clock;
    auto next = Clock::now();
    auto tick = [&](Clock::time_point until) {
        while (Clock::now() < until) {
            next += std::chrono::milliseconds(CCliSession::kTickMs);
            std::this_thread::sleep_until(next);
            session.Tick();
        }
    };
    tick(Clock::now() + std::chrono::seconds(1));  // the first cycles and the link come up
    const double dStart = ProcessCpuNs();
    const auto t0 = Clock::now();
    tick(t0 + std::chrono::seconds(nSeconds));
    const double dSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    const double dPercent = 100.0 * (ProcessCpuNs() - dStart) / 1e9 / dSeconds;
    const bool bLinked = session.Image().m_bLinkUp.load();
    session.Disconnect();
    return bLinked ? dPercent : -1;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int nRounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int nSeconds = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::string strOnly = argc > 3 ? argv[3] : "";  // "rtmidi" or "ours": that one alone, once
    if (!strOnly.empty()) {
        std::unique_ptr<CSystemMidiDriver> p;
        if (strOnly == "rtmidi")
            p = std::make_unique<CRtMidiDriver>(EMidiApi::Jack, "qz81kt-bench");
        else
            p = std::make_unique<CJackMidiDriver>("qz81kt-bench");
        std::printf("%s: %.3f %% of a core\n", strOnly.c_str(), IdleLinked(*p, nSeconds));
        return 0;
    }
    std::vector<double> rt, ours;
    for (int r = 0; r < nRounds; ++r) {
        {
            auto p = std::make_unique<CRtMidiDriver>(EMidiApi::Jack, "qz81kt-bench");
            rt.push_back(IdleLinked(*p, nSeconds));
        }
        {
            auto p = std::make_unique<CJackMidiDriver>("qz81kt-bench");
            ours.push_back(IdleLinked(*p, nSeconds));
        }
        if (rt.back() < 0 || ours.back() < 0) {
            std::fprintf(stderr, "bench_jack_idle: no link to the emulator's ports\n");
            return 1;
        }
    }
    std::printf("linked and polled every 100 ms, %d rounds of %d s taking turns: RtMidi's JACK backend "
                "median %.3f %% of a core (min %.3f), our libjack backend median %.3f %% (min %.3f)\n",
                nRounds, nSeconds, Median(rt), *std::min_element(rt.begin(), rt.end()), Median(ours),
                *std::min_element(ours.begin(), ours.end()));
    return 0;
}
