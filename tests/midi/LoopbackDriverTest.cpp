#include <gtest/gtest.h>

#include <vector>

#include "midi/platform/LoopbackDriver.h"
#include "support/RecordingPeer.h"

namespace {

struct Returned {
    std::vector<std::vector<uint8_t>> buffers;
    static void Callback(HMIDIPORT, uint32_t uMsg, void* pInstance, uintptr_t p1, uintptr_t) {
        auto* self = static_cast<Returned*>(pInstance);
        if (uMsg == MIM_LONGDATA) {
            auto* h = reinterpret_cast<MIDIHDR*>(p1);
            self->buffers.emplace_back(h->lpData, h->lpData + h->dwBytesRecorded);
        }
    }
};

TEST(LoopbackDriver, SilentPeerNeitherHearsNorAnswersButSendsStillComplete) {
    CLoopbackDriver driver;
    CRecordingPeer peer;
    uint32_t port = driver.AddPortPair("QZ-81KT", &peer);
    Returned in;
    HMIDIPORT hIn = nullptr, hOut = nullptr;
    uint8_t slots[2][16] = {};
    MIDIHDR hdr[2];
    ASSERT_EQ(driver.InOpen(&hIn, port, &Returned::Callback, &in), MMSYSERR_NOERROR);
    for (int i = 0; i < 2; ++i) {
        hdr[i].lpData = slots[i];
        hdr[i].dwBufferLength = sizeof slots[i];
        ASSERT_EQ(driver.InPrepareHeader(hIn, &hdr[i]), MMSYSERR_NOERROR);
        ASSERT_EQ(driver.InAddBuffer(hIn, &hdr[i]), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(driver.InStart(hIn), MMSYSERR_NOERROR);
    ASSERT_EQ(driver.OutOpen(&hOut, port, nullptr, nullptr), MMSYSERR_NOERROR);

    driver.Faults(port).m_bPeerSilent = true;
    uint8_t msg[] = {0xF0, 0x01, 0xF7};
    MIDIHDR out;
    out.lpData = msg;
    out.dwBufferLength = sizeof msg;
    ASSERT_EQ(driver.OutPrepareHeader(hOut, &out), MMSYSERR_NOERROR);
    EXPECT_EQ(driver.OutLongMsg(hOut, &out), MMSYSERR_NOERROR);
    EXPECT_TRUE(out.dwFlags.load() & MHDR_DONE);
    EXPECT_EQ(peer.Count(), 0u);
    EXPECT_FALSE(driver.PeerSend(port, msg, sizeof msg));
    EXPECT_TRUE(in.buffers.empty());

    // Heard again: a message longer than a buffer fills two, an unfinished one waits.
    driver.Faults(port).m_bPeerSilent = false;
    EXPECT_EQ(driver.OutLongMsg(hOut, &out), MMSYSERR_NOERROR);
    EXPECT_EQ(peer.Count(), 1u);
    std::vector<uint8_t> longer(20, 0x10);
    longer.front() = 0xF0;
    longer.back() = 0xF7;
    EXPECT_TRUE(driver.PeerSend(port, longer.data(), longer.size()));
    ASSERT_EQ(in.buffers.size(), 2u);
    EXPECT_EQ(in.buffers[0].size(), 16u);
    EXPECT_EQ(in.buffers[1].size(), 4u);
    // No buffer queued any more: the bytes are lost and counted.
    EXPECT_FALSE(driver.PeerSend(port, msg, sizeof msg));
    EXPECT_EQ(driver.LostInputBytes(port), 3u);
    EXPECT_EQ(driver.InReset(hIn), MMSYSERR_NOERROR);
    EXPECT_EQ(driver.InClose(hIn), MMSYSERR_NOERROR);
    EXPECT_EQ(driver.OutUnprepareHeader(hOut, &out), MMSYSERR_NOERROR);
    EXPECT_EQ(driver.OutClose(hOut), MMSYSERR_NOERROR);
}

TEST(LoopbackDriver, RefusesWhatARealPortWould) {
    CLoopbackDriver driver;
    uint32_t port = driver.AddPortPair("QZ-81KT", nullptr);
    HMIDIPORT hIn = nullptr, hIn2 = nullptr;
    EXPECT_EQ(driver.InOpen(&hIn, 5, nullptr, nullptr), MMSYSERR_BADDEVICEID);
    ASSERT_EQ(driver.InOpen(&hIn, port, nullptr, nullptr), MMSYSERR_NOERROR);
    EXPECT_EQ(driver.InOpen(&hIn2, port, nullptr, nullptr), MMSYSERR_ALLOCATED);
    uint8_t slot[8];
    MIDIHDR h;
    h.lpData = slot;
    h.dwBufferLength = sizeof slot;
    EXPECT_EQ(driver.InAddBuffer(hIn, &h), MIDIERR_UNPREPARED);
    ASSERT_EQ(driver.InPrepareHeader(hIn, &h), MMSYSERR_NOERROR);
    driver.Faults(port).m_nRefuseAddBuffer = 1;
    EXPECT_NE(driver.InAddBuffer(hIn, &h), MMSYSERR_NOERROR);
    EXPECT_EQ(driver.InAddBuffer(hIn, &h), MMSYSERR_NOERROR);
    EXPECT_EQ(driver.InUnprepareHeader(hIn, &h), MIDIERR_STILLPLAYING);
    EXPECT_EQ(driver.InClose(hIn), MMSYSERR_NOERROR);
    EXPECT_EQ(driver.InUnprepareHeader(hIn, &h), MMSYSERR_NOERROR);
    // An output handle is not an input handle.
    HMIDIPORT hOut = nullptr;
    ASSERT_EQ(driver.OutOpen(&hOut, port, nullptr, nullptr), MMSYSERR_NOERROR);
    EXPECT_EQ(driver.InStart(hOut), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(driver.OutClose(hOut), MMSYSERR_NOERROR);
}

}  // namespace
