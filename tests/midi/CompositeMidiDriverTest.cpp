// The composite list over two loopback drivers: no MIDI server needed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "midi/platform/LoopbackDriver.h"
#include "midi/platform/CompositeMidiDriver.h"
#include "platform/PortRecorder.h"

namespace {

struct CSink : CLoopbackPeer {
    std::vector<std::vector<uint8_t>> m_received;
    std::vector<uint32_t> m_shorts;
    void OnPeerReceive(const uint8_t* pData, size_t nLength) override { m_received.emplace_back(pData, pData + nLength); }
    void OnPeerReceiveShort(uint32_t dwMsg) override { m_shorts.push_back(dwMsg); }
};

class CompositeMidiDriverTest : public testing::Test {
protected:
    void SetUp() override {
        m_first.AddPortPair("USB MIDI A", &m_sinkA);
        m_first.AddPortPair("USB MIDI B", &m_sinkB);
        m_second.AddPortPair("QZ-81KT Emulator", &m_sinkEmu);
    }

    CSink m_sinkA, m_sinkB, m_sinkEmu;
    CLoopbackDriver m_first, m_second;
    CCompositeMidiDriver m_composite{m_first, m_second};
};

std::vector<std::string> Names(CMidiDriver& d, bool bInput) {
    std::vector<std::string> out;
    uint32_t n = bInput ? d.InGetNumDevs() : d.OutGetNumDevs();
    for (uint32_t i = 0; i < n; ++i) {
        std::string str;
        MMRESULT mmr = bInput ? d.InGetDevName(i, str) : d.OutGetDevName(i, str);
        out.push_back(mmr == MMSYSERR_NOERROR ? str : "<error>");
    }
    return out;
}

TEST_F(CompositeMidiDriverTest, ListsFirstDriversPortsThenSecondsInBothDirections) {
    std::vector<std::string> expected{"USB MIDI A", "USB MIDI B", "QZ-81KT Emulator"};
    EXPECT_EQ(Names(m_composite, true), expected);
    EXPECT_EQ(Names(m_composite, false), expected);

    m_first.Faults(1).m_bNameUnreadable = true;
    std::string str = "unchanged";
    EXPECT_EQ(m_composite.InGetDevName(1, str), MMSYSERR_ERROR);
    EXPECT_EQ(Names(m_composite, true)[2], "QZ-81KT Emulator");  // positions stay
    EXPECT_EQ(m_composite.InGetDevName(3, str), MMSYSERR_BADDEVICEID);
}

TEST_F(CompositeMidiDriverTest, PortNumbersFollowTheListAsEnumeratedEvenWhenTheFirstGrows) {
    ASSERT_EQ(m_composite.OutGetNumDevs(), 3u);
    m_first.AddPortPair("USB MIDI C", nullptr);  // appears after the list was made
    HMIDIPORT h = nullptr;
    ASSERT_EQ(m_composite.OutOpen(&h, 2, nullptr, nullptr), MMSYSERR_NOERROR);
    EXPECT_TRUE(m_second.IsOutputOpen(0));
    EXPECT_FALSE(m_first.IsOutputOpen(2));
    EXPECT_EQ(m_composite.OutClose(h), MMSYSERR_NOERROR);
}

TEST_F(CompositeMidiDriverTest, InputCallsReachTheOwningDriverAndCallbacksCarryTheCompositeHandle) {
    m_composite.InGetNumDevs();
    CPortRecorder recA, recEmu;
    HMIDIPORT hA = nullptr, hEmu = nullptr;
    ASSERT_EQ(m_composite.InOpen(&hA, 0, &CPortRecorder::Callback, &recA), MMSYSERR_NOERROR);
    ASSERT_EQ(m_composite.InOpen(&hEmu, 2, &CPortRecorder::Callback, &recEmu), MMSYSERR_NOERROR);
    ASSERT_NE(hA, hEmu);
    EXPECT_TRUE(m_first.IsInputOpen(0));
    EXPECT_TRUE(m_second.IsInputOpen(0));

    CBuffers<2, 4> bufs;
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(m_composite.InPrepareHeader(hEmu, bufs[i]), MMSYSERR_NOERROR);
        ASSERT_EQ(m_composite.InAddBuffer(hEmu, bufs[i]), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(m_second.QueuedInputBuffers(0), 2u);
    EXPECT_EQ(m_first.QueuedInputBuffers(0), 0u);
    ASSERT_EQ(m_composite.InStart(hEmu), MMSYSERR_NOERROR);
    EXPECT_TRUE(m_second.IsInputStarted(0));
    EXPECT_FALSE(m_first.IsInputStarted(0));

    const uint8_t aby[] = {0xF0, 0x41, 0x10, 0x00, 0xF7};
    ASSERT_TRUE(m_second.PeerSend(0, aby, sizeof aby));
    ASSERT_TRUE(m_second.PeerSendShort(0, 0x7F3C90));
    auto all = recEmu.All();
    ASSERT_EQ(all.size(), 3u);
    for (auto& e : all) EXPECT_EQ(e.m_hPort, hEmu);
    EXPECT_EQ(all[0].m_pHdr, bufs[0]);
    EXPECT_EQ(all[1].m_pHdr, bufs[1]);
    EXPECT_EQ(all[1].m_aby, (std::vector<uint8_t>{0xF7}));
    EXPECT_EQ(all[2].m_dwShort, 0x7F3C90u);
    EXPECT_TRUE(recA.All().empty());

    // Reset gives back what is still queued, through the caller's handle.
    ASSERT_EQ(m_composite.InAddBuffer(hEmu, bufs[0]), MMSYSERR_NOERROR);
    recEmu.Clear();
    ASSERT_EQ(m_composite.InReset(hEmu), MMSYSERR_NOERROR);
    ASSERT_EQ(recEmu.Events(MIM_LONGDATA).size(), 1u);
    EXPECT_EQ(recEmu.Events(MIM_LONGDATA)[0].m_hPort, hEmu);
    EXPECT_FALSE(m_second.IsInputStarted(0));

    EXPECT_EQ(m_composite.InClose(hEmu), MMSYSERR_NOERROR);
    EXPECT_FALSE(m_second.IsInputOpen(0));
    EXPECT_TRUE(m_first.IsInputOpen(0));
    EXPECT_EQ(m_composite.InClose(hA), MMSYSERR_NOERROR);
    EXPECT_FALSE(m_first.IsInputOpen(0));
}

TEST_F(CompositeMidiDriverTest, OutputCallsReachTheOwningDriverAndCompleteOnTheCompositeHandle) {
    m_composite.OutGetNumDevs();
    CPortRecorder rec;
    HMIDIPORT hB = nullptr, hEmu = nullptr;
    ASSERT_EQ(m_composite.OutOpen(&hB, 1, &CPortRecorder::Callback, &rec), MMSYSERR_NOERROR);
    ASSERT_EQ(m_composite.OutOpen(&hEmu, 2, &CPortRecorder::Callback, &rec), MMSYSERR_NOERROR);

    CBuffers<2, 3> bufs;
    std::memcpy(bufs[0]->lpData, "\xF0\x01\xF7", 3);
    std::memcpy(bufs[1]->lpData, "\xF0\x02\xF7", 3);
    for (int i = 0; i < 2; ++i) ASSERT_EQ(m_composite.OutPrepareHeader(i ? hEmu : hB, bufs[i]), MMSYSERR_NOERROR);
    ASSERT_EQ(m_composite.OutLongMsg(hB, bufs[0]), MMSYSERR_NOERROR);
    ASSERT_EQ(m_composite.OutLongMsg(hEmu, bufs[1]), MMSYSERR_NOERROR);
    ASSERT_EQ(m_composite.OutShortMsg(hEmu, 0xF8), MMSYSERR_NOERROR);

    ASSERT_EQ(m_sinkB.m_received.size(), 1u);
    EXPECT_EQ(m_sinkB.m_received[0][1], 0x01);
    ASSERT_EQ(m_sinkEmu.m_received.size(), 1u);
    EXPECT_EQ(m_sinkEmu.m_received[0][1], 0x02);
    EXPECT_EQ(m_sinkEmu.m_shorts, std::vector<uint32_t>{0xF8});
    EXPECT_TRUE(m_sinkA.m_received.empty());

    auto done = rec.Events(MOM_DONE);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].m_hPort, hB);
    EXPECT_EQ(done[0].m_pHdr, bufs[0]);
    EXPECT_EQ(done[1].m_hPort, hEmu);
    EXPECT_EQ(done[1].m_pHdr, bufs[1]);

    // The second driver's fault reaches the caller through the composite.
    m_second.Faults(0).m_bFailOutPrepare = true;
    EXPECT_EQ(m_composite.OutPrepareHeader(hEmu, bufs[1]), MMSYSERR_NOMEM);
    EXPECT_EQ(m_composite.OutClose(hB), MMSYSERR_NOERROR);
    EXPECT_EQ(m_composite.OutClose(hEmu), MMSYSERR_NOERROR);
}

TEST_F(CompositeMidiDriverTest, RejectsHandlesThatAreClosedForeignOrOfTheOtherDirection) {
    m_composite.InGetNumDevs();
    HMIDIPORT hIn = nullptr, hOut = nullptr;
    ASSERT_EQ(m_composite.InOpen(&hIn, 0, nullptr, nullptr), MMSYSERR_NOERROR);
    ASSERT_EQ(m_composite.OutOpen(&hOut, 0, nullptr, nullptr), MMSYSERR_NOERROR);
    EXPECT_EQ(m_composite.InStart(hOut), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(m_composite.OutShortMsg(hIn, 0x90), MMSYSERR_INVALHANDLE);

    // A handle of the inner driver is not one of ours.
    HMIDIPORT hInner = nullptr;
    ASSERT_EQ(m_second.InOpen(&hInner, 0, nullptr, nullptr), MMSYSERR_NOERROR);
    EXPECT_EQ(m_composite.InStart(hInner), MMSYSERR_INVALHANDLE);
    m_second.InClose(hInner);

    EXPECT_EQ(m_composite.InClose(hIn), MMSYSERR_NOERROR);
    EXPECT_EQ(m_composite.InStart(hIn), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(m_composite.InClose(hIn), MMSYSERR_INVALHANDLE);

    // A failed open hands out nothing and leaks no slot: the port opens afterwards.
    m_first.Faults(1).m_bFailInOpen = true;
    HMIDIPORT h = reinterpret_cast<HMIDIPORT>(&h);
    EXPECT_EQ(m_composite.InOpen(&h, 1, nullptr, nullptr), MMSYSERR_ERROR);
    EXPECT_EQ(h, nullptr);
    m_first.Faults(1).m_bFailInOpen = false;
    ASSERT_EQ(m_composite.InOpen(&h, 1, nullptr, nullptr), MMSYSERR_NOERROR);
    EXPECT_EQ(m_composite.InClose(h), MMSYSERR_NOERROR);
    EXPECT_EQ(m_composite.OutClose(hOut), MMSYSERR_NOERROR);
}

TEST_F(CompositeMidiDriverTest, DestructionClosesPortsLeftOpen) {
    {
        CCompositeMidiDriver composite(m_first, m_second);
        composite.InGetNumDevs();
        HMIDIPORT hIn = nullptr, hOut = nullptr;
        ASSERT_EQ(composite.InOpen(&hIn, 2, nullptr, nullptr), MMSYSERR_NOERROR);
        ASSERT_EQ(composite.OutOpen(&hOut, 0, nullptr, nullptr), MMSYSERR_NOERROR);
    }
    EXPECT_FALSE(m_second.IsInputOpen(0));
    EXPECT_FALSE(m_first.IsOutputOpen(0));
}

}  // namespace
