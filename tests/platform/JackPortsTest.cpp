// Both JACK backends (RtMidi's and our own libjack client) on a private JACK dummy
// server: listing, opening by name, input framing and loss, output order, notices.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <deque>
#include <set>

#include "midi/PortWatch.h"
#include "platform/JackFixture.h"
#include "platform/PlatformTestSupport.h"
#include "platform/PortRecorder.h"

namespace {

using namespace platform_test;

class JackPortsTest : public JackFixture, public testing::WithParamInterface<JackFixture::EBackend> {
protected:
    void SetUp() override {
        JackFixture::SetUp();
        if (IsSkipped()) return;
        m_pOurs = MakeOurs(GetParam(), "qz81kt-dxp");
        m_pPeer = MakeDriver("qz81kt-peer");
        ASSERT_TRUE(m_pOurs->IsAvailable()) << m_pOurs->UnavailableReason();
        ASSERT_EQ(m_pPeer->OutOpenVirtual(&m_hPeerOut, "out", &CPortRecorder::Callback, &m_peerOutRec), MMSYSERR_NOERROR);
        ASSERT_EQ(m_pPeer->InOpenVirtual(&m_hPeerIn, "in", &CPortRecorder::Callback, &m_peerInRec), MMSYSERR_NOERROR);
        for (int i = 0; i < 32; ++i) {
            m_pPeer->InPrepareHeader(m_hPeerIn, m_peerBufs[i]);
            ASSERT_EQ(m_pPeer->InAddBuffer(m_hPeerIn, m_peerBufs[i]), MMSYSERR_NOERROR);
        }
        ASSERT_EQ(m_pPeer->InStart(m_hPeerIn), MMSYSERR_NOERROR);
    }

    void TearDown() override {
        m_pOurs.reset();  // closes what a test left open
        m_pPeer.reset();
    }

    // Opens and starts our input on the peer's output, and waits until a message
    // gets through: a JACK client's first cycles may overrun (under a sanitizer
    // above all) and lose what is sent meanwhile.
    void OpenOurInput(CPortRecorder& rec, MidiCallback pfn = &CPortRecorder::Callback, void* pInstance = nullptr) {
        int n = FindPort(*m_pOurs, true, "qz81kt-peer", "out");
        ASSERT_GE(n, 0) << "the peer's output is not listed";
        ASSERT_EQ(m_pOurs->InOpen(&m_hIn, static_cast<uint32_t>(n), pfn, pInstance ? pInstance : &rec),
                  MMSYSERR_NOERROR);
        ASSERT_EQ(m_pOurs->InStart(m_hIn), MMSYSERR_NOERROR);
        rec.SkipProbes(false);
        bool bThrough = false;
        for (int i = 0; i < 20 && !bThrough; ++i) {
            ASSERT_EQ(m_pPeer->OutShortMsg(m_hPeerOut, CPortRecorder::kProbe), MMSYSERR_NOERROR);
            bThrough = rec.WaitCount(MIM_DATA, 1, 500ms);
        }
        ASSERT_TRUE(bThrough) << "nothing gets through from the peer";
        rec.SkipProbes(true);
        rec.Clear();
    }

    void OpenOurOutput(CPortRecorder& rec) {
        int n = FindPort(*m_pOurs, false, "qz81kt-peer", "in");
        ASSERT_GE(n, 0) << "the peer's input is not listed";
        ASSERT_EQ(m_pOurs->OutOpen(&m_hOut, static_cast<uint32_t>(n), &CPortRecorder::Callback, &rec), MMSYSERR_NOERROR);
        m_peerInRec.SkipProbes(false);
        bool bThrough = false;
        for (int i = 0; i < 20 && !bThrough; ++i) {
            ASSERT_EQ(m_pOurs->OutShortMsg(m_hOut, CPortRecorder::kProbe), MMSYSERR_NOERROR);
            bThrough = m_peerInRec.WaitCount(MIM_DATA, 1, 500ms);
        }
        ASSERT_TRUE(bThrough) << "nothing gets through to the peer";
        m_peerInRec.SkipProbes(true);
        m_peerInRec.Clear();
    }

    // Queues the first n of m_bufs on our input.
    void QueueOurBuffers(int n) {
        for (int i = 0; i < n; ++i) {
            m_pOurs->InPrepareHeader(m_hIn, m_bufs[i]);
            ASSERT_EQ(m_pOurs->InAddBuffer(m_hIn, m_bufs[i]), MMSYSERR_NOERROR);
        }
    }

    // The peer sends one long message; its buffer stays valid until MOM_DONE.
    void PeerSendLong(const std::vector<uint8_t>& aby) {
        auto& slot = m_peerSendData.emplace_back(aby);
        auto& hdr = m_peerSendHdrs[m_nPeerSends++];
        hdr.lpData = slot.data();
        hdr.dwBufferLength = static_cast<uint32_t>(slot.size());
        ASSERT_EQ(m_pPeer->OutPrepareHeader(m_hPeerOut, &hdr), MMSYSERR_NOERROR);
        ASSERT_EQ(m_pPeer->OutLongMsg(m_hPeerOut, &hdr), MMSYSERR_NOERROR);
        ASSERT_TRUE(m_peerOutRec.WaitCount(MOM_DONE, m_nPeerSends));
    }

    // Declared before the drivers: what a port delivers into must outlive the port.
    CPortRecorder m_rec;
    CBuffers<8, 256> m_bufs;
    std::unique_ptr<CSystemMidiDriver> m_pOurs;
    std::unique_ptr<CRtMidiDriver> m_pPeer;
    HMIDIPORT m_hPeerOut = nullptr, m_hPeerIn = nullptr, m_hIn = nullptr, m_hOut = nullptr;
    CPortRecorder m_peerOutRec, m_peerInRec;
    CBuffers<32, 256> m_peerBufs;
    std::deque<std::vector<uint8_t>> m_peerSendData;
    std::array<MIDIHDR, 16> m_peerSendHdrs;
    size_t m_nPeerSends = 0;
};

TEST_P(JackPortsTest, EnumerationListsAnotherClientsPortsAndNeverOffersOurOwnAsTheDevice) {
    int nOut = FindPort(*m_pOurs, true, "qz81kt-peer", "out");
    int nIn = FindPort(*m_pOurs, false, "qz81kt-peer", "in");
    EXPECT_GE(nOut, 0);
    EXPECT_GE(nIn, 0);
    EXPECT_EQ(m_pOurs->ApiName(), "JACK");

    CPortRecorder& rec = m_rec;
    OpenOurInput(rec);
    OpenOurOutput(rec);
    std::string str;
    EXPECT_EQ(m_pOurs->InGetDevName(m_pOurs->InGetNumDevs(), str), MMSYSERR_BADDEVICEID);
    // Which clients the peer sees our two ports under.
    std::set<std::string> clients;
    for (bool bInput : {true, false}) {
        const uint32_t n = bInput ? m_pPeer->InGetNumDevs() : m_pPeer->OutGetNumDevs();
        for (uint32_t i = 0; i < n; ++i)
            if ((bInput ? m_pPeer->InGetDevName(i, str) : m_pPeer->OutGetDevName(i, str)) == MMSYSERR_NOERROR &&
                str.rfind("qz81kt-dxp", 0) == 0)
                clients.insert(str.substr(0, str.find(':')));
    }
    if (GetParam() == EBackend::Jack) {
        // One client for both directions, and our own ports are not offered to us.
        EXPECT_EQ(clients, std::set<std::string>{"qz81kt-dxp"});
        EXPECT_LT(FindPort(*m_pOurs, false, "qz81kt-dxp", "in"), 0);
        EXPECT_LT(FindPort(*m_pOurs, true, "qz81kt-dxp", "out"), 0);
    } else {
        // RtMidi: a client per port, and ours are listed under our name, so that the
        // device preselection ("QZ-81KT…", "USB…") can never pick them.
        EXPECT_EQ(clients.size(), 2u);
        int nOwn = FindPort(*m_pOurs, false, "qz81kt-dxp", "in");
        ASSERT_GE(nOwn, 0);
        ASSERT_EQ(m_pOurs->OutGetDevName(static_cast<uint32_t>(nOwn), str), MMSYSERR_NOERROR);
        EXPECT_EQ(str.rfind("qz81kt-dxp", 0), 0u) << str;
    }
}

TEST_P(JackPortsTest, OpensByTheNameThatWasListedNotByAPositionThatMovedOn) {
    auto pOther = MakeDriver("qz81kt-other");
    HMIDIPORT hFirst = nullptr;
    ASSERT_EQ(pOther->OutOpenVirtual(&hFirst, "first", nullptr, nullptr), MMSYSERR_NOERROR);
    int n = FindPort(*m_pOurs, true, "qz81kt-other", "first");
    ASSERT_GE(n, 0);
    // The listed port goes away and another one appears, likely in the same place.
    ASSERT_EQ(pOther->OutClose(hFirst), MMSYSERR_NOERROR);
    HMIDIPORT hSecond = nullptr;
    ASSERT_EQ(pOther->OutOpenVirtual(&hSecond, "second", nullptr, nullptr), MMSYSERR_NOERROR);

    CPortRecorder& rec = m_rec;
    EXPECT_NE(m_pOurs->InOpen(&m_hIn, static_cast<uint32_t>(n), &CPortRecorder::Callback, &rec), MMSYSERR_NOERROR);
    EXPECT_EQ(m_hIn, nullptr);
    // Listed again, the new port opens.
    n = FindPort(*m_pOurs, true, "qz81kt-other", "second");
    ASSERT_GE(n, 0);
    EXPECT_EQ(m_pOurs->InOpen(&m_hIn, static_cast<uint32_t>(n), &CPortRecorder::Callback, &rec), MMSYSERR_NOERROR);
    EXPECT_EQ(m_pOurs->InClose(m_hIn), MMSYSERR_NOERROR);
}

TEST_P(JackPortsTest, SysExLongerThanABufferFillsSeveralBuffersInOrder) {
    CPortRecorder& rec = m_rec;
    OpenOurInput(rec);
    auto& bufs = m_bufs;
    ASSERT_NO_FATAL_FAILURE(QueueOurBuffers(4));

    auto msg = SysEx(600, 3);
    PeerSendLong(msg);
    ASSERT_TRUE(rec.WaitCount(MIM_LONGDATA, 3));
    auto longs = rec.Events(MIM_LONGDATA);
    ASSERT_EQ(longs.size(), 3u);
    EXPECT_EQ(longs[0].m_pHdr, bufs[0]);
    EXPECT_EQ(longs[1].m_pHdr, bufs[1]);
    EXPECT_EQ(longs[2].m_pHdr, bufs[2]);
    EXPECT_EQ(longs[0].m_aby.size(), 256u);
    EXPECT_EQ(longs[1].m_aby.size(), 256u);
    EXPECT_EQ(longs[2].m_aby.size(), 88u);
    std::vector<uint8_t> joined;
    for (auto& e : longs) joined.insert(joined.end(), e.m_aby.begin(), e.m_aby.end());
    EXPECT_EQ(joined, msg);
    EXPECT_EQ(bufs[0]->dwFlags.load() & (MHDR_DONE | MHDR_INQUEUE), MHDR_DONE);
    EXPECT_EQ(bufs[3]->dwFlags.load() & MHDR_INQUEUE, MHDR_INQUEUE);

    // Reset gives back the one still queued, empty.
    rec.Clear();
    ASSERT_EQ(m_pOurs->InReset(m_hIn), MMSYSERR_NOERROR);
    auto back = rec.Events(MIM_LONGDATA);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].m_pHdr, bufs[3]);
    EXPECT_EQ(back[0].m_aby.size(), 0u);
    EXPECT_EQ(m_pOurs->InClose(m_hIn), MMSYSERR_NOERROR);
}

TEST_P(JackPortsTest, ShortMessagesArriveAsPackedWordsInOrder) {
    CPortRecorder& rec = m_rec;
    OpenOurInput(rec);
    const uint32_t adw[] = {0x7F4090, 0x05C3, 0xF8, 0x00407AB2, 0x3FF2};
    for (uint32_t dw : adw) ASSERT_EQ(m_pPeer->OutShortMsg(m_hPeerOut, dw), MMSYSERR_NOERROR);
    ASSERT_TRUE(rec.WaitCount(MIM_DATA, 5));
    auto shorts = rec.Events(MIM_DATA);
    ASSERT_EQ(shorts.size(), 5u);
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(shorts[i].m_dwShort, adw[i]) << i;
    EXPECT_EQ(shorts[0].m_hPort, m_hIn);
    EXPECT_EQ(m_pPeer->OutShortMsg(m_hPeerOut, 0xF0), MMSYSERR_INVALPARAM);
    EXPECT_EQ(m_pPeer->OutShortMsg(m_hPeerOut, 0x40), MMSYSERR_INVALPARAM);
}

TEST_P(JackPortsTest, AnUnterminatedSysExEndsWhereTheNextMessageBegins) {
    CPortRecorder& rec = m_rec;
    OpenOurInput(rec);
    ASSERT_NO_FATAL_FAILURE(QueueOurBuffers(4));
    PeerSendLong({0xF0, 0x01, 0x02});
    ASSERT_EQ(m_pPeer->OutShortMsg(m_hPeerOut, 0x7F4090), MMSYSERR_NOERROR);
    PeerSendLong({0xF0, 0x41, 0xF8, 0x42, 0xF7});  // a clock tick inside a SysEx

    ASSERT_TRUE(rec.WaitCount(MIM_LONGDATA, 2));
    ASSERT_TRUE(rec.WaitCount(MIM_DATA, 2));
    auto all = rec.All();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].m_uMsg, MIM_LONGDATA);
    EXPECT_EQ(all[0].m_aby, (std::vector<uint8_t>{0xF0, 0x01, 0x02}));
    EXPECT_EQ(all[1].m_uMsg, MIM_DATA);
    EXPECT_EQ(all[1].m_dwShort, 0x7F4090u);
    EXPECT_EQ(all[2].m_uMsg, MIM_DATA);
    EXPECT_EQ(all[2].m_dwShort, 0xF8u);
    EXPECT_EQ(all[3].m_uMsg, MIM_LONGDATA);
    EXPECT_EQ(all[3].m_aby, (std::vector<uint8_t>{0xF0, 0x41, 0x42, 0xF7}));
}

TEST_P(JackPortsTest, SysExWithNoBufferQueuedIsLostAndCounted) {
    CPortRecorder& rec = m_rec;
    OpenOurInput(rec);
    PeerSendLong(SysEx(100, 0));
    ASSERT_TRUE(Eventually([&] { return m_pOurs->LostInputBytes() >= 100; }));
    EXPECT_EQ(m_pOurs->LostInputBytes(), 100u);
    EXPECT_EQ(m_pOurs->LostInputMessages(), 1u);

    // With a buffer queued again, the next one arrives whole.
    auto& bufs = m_bufs;
    m_pOurs->InPrepareHeader(m_hIn, bufs[0]);
    ASSERT_EQ(m_pOurs->InAddBuffer(m_hIn, bufs[0]), MMSYSERR_NOERROR);
    auto msg = SysEx(20, 9);
    PeerSendLong(msg);
    ASSERT_TRUE(rec.WaitCount(MIM_LONGDATA, 1));
    EXPECT_EQ(rec.Events(MIM_LONGDATA)[0].m_aby, msg);
    EXPECT_EQ(m_pOurs->LostInputMessages(), 1u);
}

// RtMidi's callback runs on JACK's process thread and never waits for our side: while
// our callback is held, what does not fit in the hand-over ring is dropped and counted.
TEST_P(JackPortsTest, InputThatOutrunsOurSideIsCountedAsLostWithoutStallingJack) {
    struct CGate {
        CPortRecorder* m_pRec;
        std::atomic<bool> m_bHold{false}, m_bHeld{false};
        static void Callback(HMIDIPORT h, uint32_t uMsg, void* pInstance, uintptr_t p1, uintptr_t p2) {
            auto* g = static_cast<CGate*>(pInstance);
            if (uMsg == MIM_DATA && g->m_bHold.load()) {
                g->m_bHeld = true;
                Eventually([&] { return !g->m_bHold.load(); });
            }
            CPortRecorder::Callback(h, uMsg, g->m_pRec, p1, p2);
        }
    } gate{&m_rec};
    OpenOurInput(m_rec, &CGate::Callback, &gate);
    gate.m_bHold = true;
    ASSERT_EQ(m_pPeer->OutShortMsg(m_hPeerOut, 0x7F4090), MMSYSERR_NOERROR);
    ASSERT_TRUE(Eventually([&] { return gate.m_bHeld.load(); }));

    // Nine messages of 8,000 bytes: eight fill the 64 KiB ring, the ninth does not fit.
    // The peer's sends are spaced by many cycles: RtMidi's JACK output keeps a 16 KiB ring
    // and a cycle's 32 KiB buffer, and silently drops a message that no longer fits in
    // either; 16,000-byte messages were lost there whenever a loaded machine delayed a
    // cycle (one of five under ThreadSanitizer with a build beside it).
    constexpr uint64_t kSize = 8000, kCount = 9;
    for (uint8_t i = 0; i < kCount; ++i) {
        PeerSendLong(SysEx(kSize, i));
        std::this_thread::sleep_for(120ms);
    }
    // Our side is still held, so only the ring can have lost bytes by now.
    ASSERT_TRUE(Eventually([&] { return m_pOurs->LostInputBytes() > 0; }));
    EXPECT_TRUE(gate.m_bHold.load());

    // No buffer is queued, so the rest goes for want of one: every message that arrived
    // is lost whole, and what the ring cut is one of those nine, not a tenth. The peer
    // itself may drop one before it reaches JACK when a cycle comes late (seen under
    // ThreadSanitizer on a loaded machine), so the count is of what arrived.
    gate.m_bHold = false;
    auto lostWhole = [&] {
        const uint64_t n = m_pOurs->LostInputMessages();
        return n >= kCount - 1 && m_pOurs->LostInputBytes() == kSize * n;
    };
    ASSERT_TRUE(Eventually(lostWhole))
        << m_pOurs->LostInputBytes() << " bytes in " << m_pOurs->LostInputMessages() << " messages";
    std::this_thread::sleep_for(200ms);  // nothing more comes
    EXPECT_TRUE(lostWhole());
    EXPECT_LE(m_pOurs->LostInputMessages(), kCount);
    ASSERT_EQ(m_pPeer->OutShortMsg(m_hPeerOut, 0x004080), MMSYSERR_NOERROR);
    ASSERT_TRUE(m_rec.WaitCount(MIM_DATA, 2));
    auto shorts = m_rec.Events(MIM_DATA);
    EXPECT_EQ(shorts.front().m_dwShort, 0x7F4090u);
    EXPECT_EQ(shorts.back().m_dwShort, 0x004080u);
}

TEST_P(JackPortsTest, LongMessagesCompleteOnceEachInSubmissionOrderAndArriveInOrder) {
    CPortRecorder& rec = m_rec;
    OpenOurOutput(rec);
    constexpr int kCount = 20;
    std::deque<std::vector<uint8_t>> data;
    std::array<MIDIHDR, kCount> hdrs;
    for (int i = 0; i < kCount; ++i) {
        auto& v = data.emplace_back(SysEx(10 + 7 * i, static_cast<uint8_t>(i)));
        hdrs[i].lpData = v.data();
        hdrs[i].dwBufferLength = static_cast<uint32_t>(v.size());
        ASSERT_EQ(m_pOurs->OutPrepareHeader(m_hOut, &hdrs[i]), MMSYSERR_NOERROR);
        ASSERT_EQ(m_pOurs->OutLongMsg(m_hOut, &hdrs[i]), MMSYSERR_NOERROR);
    }
    ASSERT_TRUE(rec.WaitCount(MOM_DONE, kCount));
    auto done = rec.Events(MOM_DONE);
    ASSERT_EQ(done.size(), size_t(kCount));
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(done[i].m_pHdr, &hdrs[i]) << i;
        EXPECT_EQ(done[i].m_hPort, m_hOut);
        EXPECT_EQ(hdrs[i].dwFlags.load() & (MHDR_DONE | MHDR_INQUEUE), MHDR_DONE);
    }
    ASSERT_TRUE(m_peerInRec.WaitCount(MIM_LONGDATA, kCount));
    auto got = m_peerInRec.Events(MIM_LONGDATA);
    for (int i = 0; i < kCount; ++i) EXPECT_EQ(got[i].m_aby, data[i]) << i;

    // No completion after close, and the handle is dead.
    EXPECT_EQ(m_pOurs->OutClose(m_hOut), MMSYSERR_NOERROR);
    EXPECT_EQ(m_pOurs->OutLongMsg(m_hOut, &hdrs[0]), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(rec.Events(MOM_DONE).size(), size_t(kCount));
}

TEST_P(JackPortsTest, RefusesWhatItCannotSend) {
    CPortRecorder& rec = m_rec;
    OpenOurOutput(rec);
    std::vector<uint8_t> big(kJackMaxMidiMessage + 1, 0);
    MIDIHDR hdr;
    hdr.lpData = big.data();
    hdr.dwBufferLength = static_cast<uint32_t>(big.size());
    EXPECT_EQ(m_pOurs->OutLongMsg(m_hOut, &hdr), MIDIERR_UNPREPARED);
    ASSERT_EQ(m_pOurs->OutPrepareHeader(m_hOut, &hdr), MMSYSERR_NOERROR);
    EXPECT_EQ(m_pOurs->OutLongMsg(m_hOut, &hdr), MMSYSERR_INVALPARAM);  // JACK would drop it silently
    EXPECT_EQ(m_pOurs->OutLongMsg(nullptr, &hdr), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(m_pOurs->InStart(m_hOut), MMSYSERR_INVALHANDLE);  // an output handle
    HMIDIPORT h = reinterpret_cast<HMIDIPORT>(&h);
    EXPECT_EQ(m_pOurs->OutOpen(&h, 10000, nullptr, nullptr), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(h, nullptr);
}

TEST_P(JackPortsTest, PortsReopenManyTimesOnTheSameClients) {
    CPortRecorder& rec = m_rec;
    for (int i = 0; i < 20; ++i) {
        OpenOurInput(rec);
        if (HasFatalFailure()) return;
        uint32_t dw = 0x7F0090u | (uint32_t(i) << 8);
        ASSERT_EQ(m_pPeer->OutShortMsg(m_hPeerOut, dw), MMSYSERR_NOERROR);
        ASSERT_TRUE(rec.WaitCount(MIM_DATA, 1)) << i;
        EXPECT_EQ(rec.Events(MIM_DATA)[0].m_dwShort, dw) << i;
        ASSERT_EQ(m_pOurs->InClose(m_hIn), MMSYSERR_NOERROR);
    }
    if (auto* pRt = dynamic_cast<CRtMidiDriver*>(m_pOurs.get())) {
        EXPECT_EQ(pRt->AbandonedPorts(), 0u);
    }
}

// The watch lists on JACK's registration notices: within the test, its 5 s fallback
// cannot explain a listing.
TEST_P(JackPortsTest, APortThatComesOrGoesIsListedAtOnceThroughJacksNotices) {
    CPortWatch watch(m_pOurs.get());
    ASSERT_TRUE(m_pOurs->FollowPortChanges(watch));
    watch.Start();
    ASSERT_TRUE(Eventually([&] { return watch.Generation() >= 1; }));
    auto listed = [&] {
        for (const std::string& str : watch.Inputs())
            if (str.size() > 5 && str.compare(str.size() - 5, 5, ":late") == 0) return true;
        return false;
    };
    HMIDIPORT h = nullptr;
    ASSERT_EQ(m_pPeer->OutOpenVirtual(&h, "late", nullptr, nullptr), MMSYSERR_NOERROR);
    EXPECT_TRUE(Eventually(listed, 3s));
    ASSERT_EQ(m_pPeer->OutClose(h), MMSYSERR_NOERROR);
    EXPECT_TRUE(Eventually([&] { return !listed(); }, 3s));
    watch.Stop();
}

INSTANTIATE_TEST_SUITE_P(Backends, JackPortsTest,
                         testing::Values(JackFixture::EBackend::RtMidi, JackFixture::EBackend::Jack),
                         JackFixture::BackendName);

}  // namespace
