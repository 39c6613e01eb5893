// Time from the start of the request-all sequence to a complete device image, over a
// real MIDI server (run by bench/jack-bench.sh against qz81kt-emu on a JACK dummy server).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "cli/CliSession.h"
#include "midi/MidiDevList.h"
#include "midi/PortSelection.h"
#include "midi/platform/RtMidiDriver.h"

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
    CRtMidiDriver::COptions o;
    o.m_eApi = CRtMidiDriver::EApi::Jack;
    o.m_strClientName = "qz81kt-bench";
    CRtMidiDriver driver(o);
    if (!driver.IsAvailable()) {
        std::fprintf(stderr, "bench_jack_dump: %s\n", driver.UnavailableReason().c_str());
        return 3;
    }
    CMidiInDevList ins(&driver);
    CMidiOutDevList outs(&driver);
    ins.Refresh();
    outs.Refresh();
    const qz::CPortPair ports = qz::PreselectPorts(ins.Devices(), outs.Devices());
    const int in = ports.m_nIn, out = ports.m_nOut;
    if (in < 0 || out < 0) return 3;
    CCliSession session(driver);
    if (session.Connect(static_cast<uint32_t>(in), static_cast<uint32_t>(out)) != CCliSession::EConnect::Ok) return 3;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<double> ms;
    int failed = 0;
    for (int r = 0; r < rounds; ++r) {
        session.Image().Clear();
        session.Image().ResetLinkState();
        auto t0 = std::chrono::steady_clock::now();
        if (!qz::RequestAll(session.MidiOut(), 0x7F)) return 1;
        auto limit = t0 + std::chrono::seconds(2);
        while (!session.MissingBlocks().empty() && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        if (!session.MissingBlocks().empty()) {
            ++failed;
            continue;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        while (session.WaitNotify(0)) {
        }
    }
    if (ms.empty()) return 1;
    std::sort(ms.begin(), ms.end());
    std::printf("dump over JACK: %zu rounds, median %.2f ms, p99 %.2f ms, max %.2f ms, incomplete %d\n", ms.size(),
                ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)], ms.back(), failed);
    return failed ? 1 : 0;
}
