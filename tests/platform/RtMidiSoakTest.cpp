// Measurements on a JACK dummy server; disabled by default, they print figures and
// assert nothing about time. Run with:
//   qz81kt_platform_tests --gtest_also_run_disabled_tests --gtest_filter='*Soak*'
// QZ81KT_SOAK_CYCLES (default 3000) open/close cycles, in child processes of
// QZ81KT_SOAK_BATCH (default 250) cycles each so that a crash ends one batch only.
// QZ81KT_SOAK_MODE=fresh measures a new RtMidi client per cycle instead, as a
// program that destroys its RtMidi objects at every close would.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <RtMidi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/JackFixture.h"
#include "platform/PortRecorder.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int EnvInt(const char* pszName, int nDefault) {
    const char* p = std::getenv(pszName);
    return p ? std::atoi(p) : nDefault;
}

void Swallow(RtMidiError::Type, const std::string&, void*) {}

// One batch of open/close cycles with traffic flowing; returns failed opens.
int RunBatch(int nCycles, bool bFresh, int nBatch) {
    std::string strPeer = "qz81kt-soak-peer-" + std::to_string(nBatch);
    auto pPeer = JackFixture::MakeDriver(strPeer);
    HMIDIPORT hPeerOut = nullptr, hPeerIn = nullptr;
    if (pPeer->OutOpenVirtual(&hPeerOut, "out", nullptr, nullptr) != MMSYSERR_NOERROR) return nCycles;
    if (pPeer->InOpenVirtual(&hPeerIn, "in", nullptr, nullptr) != MMSYSERR_NOERROR) return nCycles;
    pPeer->InStart(hPeerIn);
    std::atomic<bool> bStop{false};
    std::thread traffic([&] {
        while (!bStop) {
            pPeer->OutShortMsg(hPeerOut, 0x7F4090);
            std::this_thread::sleep_for(1ms);
        }
    });
    int nFailed = 0;
    auto pOurs = JackFixture::MakeDriver("qz81kt-soak");
    int nIn = JackFixture::FindPort(*pOurs, true, strPeer, "out");
    int nOut = JackFixture::FindPort(*pOurs, false, strPeer, "in");
    for (int i = 0; i < nCycles; ++i) {
        if (bFresh) {
            try {
                RtMidiIn in(RtMidi::UNIX_JACK, "qz81kt-soak-fresh");
                in.setErrorCallback(&Swallow);
                in.ignoreTypes(false, false, false);
                in.setCallback([](double, std::vector<unsigned char>*, void*) {});
                RtMidiOut out(RtMidi::UNIX_JACK, "qz81kt-soak-fresh");
                out.setErrorCallback(&Swallow);
                in.openPort(static_cast<unsigned>(nIn));
                out.openPort(static_cast<unsigned>(nOut));
                const unsigned char aby[] = {0x90, 0x40, 0x7F};
                out.sendMessage(aby, 3);
            } catch (...) {
                ++nFailed;
            }
            continue;
        }
        HMIDIPORT hIn = nullptr, hOut = nullptr;
        if (pOurs->InOpen(&hIn, uint32_t(nIn), nullptr, nullptr) != MMSYSERR_NOERROR ||
            pOurs->OutOpen(&hOut, uint32_t(nOut), nullptr, nullptr) != MMSYSERR_NOERROR) {
            ++nFailed;
        } else {
            pOurs->InStart(hIn);
            pOurs->OutShortMsg(hOut, 0x7F4090);
        }
        if (hIn) pOurs->InClose(hIn);
        if (hOut) pOurs->OutClose(hOut);
    }
    bStop = true;
    traffic.join();
    return nFailed;
}

using RtMidiSoak = JackFixture;

TEST_F(RtMidiSoak, DISABLED_OpenCloseCycles) {
    const int nCycles = EnvInt("QZ81KT_SOAK_CYCLES", 3000);
    const int nBatch = std::max(1, EnvInt("QZ81KT_SOAK_BATCH", 250));
    const char* pszMode = std::getenv("QZ81KT_SOAK_MODE");
    const bool bFresh = pszMode && std::string(pszMode) == "fresh";
    int nCrashed = 0, nFailedOpens = 0, nBatches = 0;
    auto start = Clock::now();
    for (int nDone = 0; nDone < nCycles; nDone += nBatch, ++nBatches) {
        int n = std::min(nBatch, nCycles - nDone);
        fflush(nullptr);
        pid_t pid = fork();  // this process has no JACK client of its own: fork is safe
        ASSERT_GE(pid, 0);
        if (pid == 0) _exit(std::min(RunBatch(n, bFresh, nBatches), 200));
        int nStatus = 0;
        waitpid(pid, &nStatus, 0);
        if (WIFSIGNALED(nStatus)) {
            ++nCrashed;
            std::printf("batch %d: killed by signal %d\n", nBatches, WTERMSIG(nStatus));
        } else {
            nFailedOpens += WEXITSTATUS(nStatus);
        }
    }
    double dSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("open/close (%s): %d cycles in %d batches, %d batches crashed, %d failed opens, %.1f s\n",
                bFresh ? "fresh clients" : "CRtMidiDriver", nCycles, nBatches, nCrashed, nFailedOpens, dSeconds);
    RecordProperty("crashed_batches", nCrashed);
}

// Round trip over JACK: our output to the peer, which echoes each message back to
// our input. Prints the spread; the figures are for comparison only.
TEST_F(RtMidiSoak, DISABLED_RoundTrip) {
    auto pOurs = MakeDriver("qz81kt-dxp");
    auto pPeer = MakeDriver("qz81kt-echo");
    struct Echo {
        CRtMidiDriver* m_pPeer;
        HMIDIPORT m_hOut = nullptr;
        static void Callback(HMIDIPORT, uint32_t uMsg, void* pInstance, uintptr_t p1, uintptr_t) {
            auto* self = static_cast<Echo*>(pInstance);
            if ((uMsg & 0xFFFF) == MIM_DATA) self->m_pPeer->OutShortMsg(self->m_hOut, static_cast<uint32_t>(p1));
        }
    } echo{pPeer.get()};
    HMIDIPORT hPeerIn = nullptr, hIn = nullptr, hOut = nullptr;
    ASSERT_EQ(pPeer->OutOpenVirtual(&echo.m_hOut, "out", nullptr, nullptr), MMSYSERR_NOERROR);
    ASSERT_EQ(pPeer->InOpenVirtual(&hPeerIn, "in", &Echo::Callback, &echo), MMSYSERR_NOERROR);
    ASSERT_EQ(pPeer->InStart(hPeerIn), MMSYSERR_NOERROR);
    CPortRecorder rec;
    ASSERT_EQ(pOurs->InOpen(&hIn, uint32_t(FindPort(*pOurs, true, "qz81kt-echo", "out")), &CPortRecorder::Callback,
                            &rec),
              MMSYSERR_NOERROR);
    ASSERT_EQ(pOurs->OutOpen(&hOut, uint32_t(FindPort(*pOurs, false, "qz81kt-echo", "in")), nullptr, nullptr),
              MMSYSERR_NOERROR);
    ASSERT_EQ(pOurs->InStart(hIn), MMSYSERR_NOERROR);

    std::vector<double> adMs;
    for (int i = 0; i < 200; ++i) {
        auto t0 = Clock::now();
        ASSERT_EQ(pOurs->OutShortMsg(hOut, 0x7F0090u | (uint32_t(i & 0x7F) << 8)), MMSYSERR_NOERROR);
        if (!rec.WaitCount(MIM_DATA, size_t(i) + 1, 2s)) break;
        adMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    ASSERT_FALSE(adMs.empty());
    std::sort(adMs.begin(), adMs.end());
    std::printf("round trip over JACK (period 256 @ 48 kHz): %zu samples, min %.2f ms, median %.2f ms, "
                "p95 %.2f ms, max %.2f ms\n",
                adMs.size(), adMs.front(), adMs[adMs.size() / 2], adMs[adMs.size() * 95 / 100], adMs.back());
}

}  // namespace
