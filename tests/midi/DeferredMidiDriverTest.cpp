// The driver opened on a worker: the first call waits for it, every call reaches it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "midi/MidiOut.h"
#include "midi/platform/DeferredMidiDriver.h"
#include "midi/platform/LoopbackDriver.h"

namespace {

struct CSink : CLoopbackPeer {
    std::atomic<int> m_nReceived{0};
    void OnPeerReceive(const uint8_t*, size_t) override { ++m_nReceived; }
    void OnPeerReceiveShort(uint32_t) override {}
};

TEST(DeferredMidiDriver, FirstCallWaitsForTheOpenerAndEveryCallReachesIt) {
    CSink sink;
    std::atomic<bool> bOpened{false};
    CDeferredMidiDriver<CLoopbackDriver> deferred([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        auto p = std::make_unique<CLoopbackDriver>();
        p->AddPortPair("QZ-81KT Late", &sink);
        bOpened = true;
        return p;
    });
    // Callers on two threads at once: both see the opened driver.
    uint32_t nOther = 0;
    std::thread other([&] { nOther = deferred.OutGetNumDevs(); });
    EXPECT_EQ(deferred.InGetNumDevs(), 1u);
    other.join();
    EXPECT_TRUE(bOpened);
    EXPECT_EQ(nOther, 1u);
    std::string strName;
    EXPECT_EQ(deferred.OutGetDevName(0, strName), MMSYSERR_NOERROR);
    EXPECT_EQ(strName, "QZ-81KT Late");

    CMidiOut out(&deferred);
    out.m_uDeviceID = 0;
    ASSERT_TRUE(out.Open() && out.Start());
    const uint8_t frame[] = {0xF0, 0x41, 0xF7};
    ASSERT_TRUE(out.SendLongMsg(frame, sizeof frame));
    for (int i = 0; i < 200 && sink.m_nReceived == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(sink.m_nReceived, 1);
    out.Stop();
    out.Close();
    deferred.Driver().SetPeer(0, nullptr);
}

TEST(DeferredMidiDriver, GoingAwayUnusedWaitsForTheOpener) {
    std::atomic<bool> bOpened{false};
    {
        CDeferredMidiDriver<CLoopbackDriver> deferred([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            bOpened = true;
            return std::make_unique<CLoopbackDriver>();
        });
    }
    EXPECT_TRUE(bOpened);
}

}  // namespace
