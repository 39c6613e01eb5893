#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "emulator/QZ81KTEmulator.h"
#include "protocol/wire/BlockLayout.h"
#include "tests/emulator/EmulatorTestSupport.h"

namespace {

struct BlockInfo {
    uint32_t dwAddress;
    uint32_t nSize;
};

const BlockInfo kBlocks[] = {
    {qz::kAddrVersion, 8},   {qz::kAddrProductID, 16}, {qz::kAddrControlMode, 1}, {qz::kAddrSystem, 28},
    {qz::kAddrTimecode, 44}, {0x000200, 50},           {0x000240, 50},            {0x000300, 50},
    {0x000340, 50},          {0x000400, 50},           {0x000440, 50},            {0x000500, 50},
    {0x000540, 50},          {qz::kAddrStatus, 58},
};

template <typename Pred>
bool WaitFor(Pred pred, int nTimeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class EmulatorFixture : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_emu.Start()); }
    void TearDown() override { m_emu.Stop(); }

    void Send(const Bytes& frame) { m_emu.Receive(frame.data(), frame.size()); }

    // Sends a request and returns the one reply it brings (empty on time-out).
    Bytes Ask(uint32_t dwAddress, uint32_t nSize) {
        const size_t nBefore = m_out.LongCount();
        Send(RQ1(dwAddress, nSize));
        if (!m_out.WaitLong(nBefore + 1)) return {};
        return m_out.Long()[nBefore];
    }

    // Waits until the worker has dealt with everything sent so far: a request sent last
    // is answered only after all frames before it.
    void Settle() { ASSERT_FALSE(Ask(qz::kAddrControlMode, 1).empty()); }

    CEmulatorCounters C() const { return m_emu.Counters(); }

    CRecordingOutput m_out;
    CQZ81KTEmulator m_emu{&m_out};
};

using EmulatorProtocol = EmulatorFixture;
using EmulatorFaults = EmulatorFixture;

}  // namespace

TEST_F(EmulatorProtocol, AnswersEveryBlockWithOneDataSetOfItsSize) {
    for (const BlockInfo& b : kBlocks) {
        Bytes r = Ask(b.dwAddress, b.nSize);
        ASSERT_EQ(r.size(), b.nSize + 12) << std::hex << b.dwAddress;
        EXPECT_EQ(Bytes(r.begin(), r.begin() + 7), (Bytes{0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x12}));
        EXPECT_EQ(AddressOf(r), b.dwAddress);
        EXPECT_TRUE(ChecksumOK(r)) << std::hex << b.dwAddress;
        EXPECT_EQ(r.back(), 0xF7);
        for (size_t i = 1; i + 1 < r.size(); ++i) EXPECT_LT(r[i], 0x80);
    }
    // Any device ID in the request is heard; the reply always carries 7F.
    Send(RQ1(qz::kAddrSystem, 28, 0x10));
    ASSERT_TRUE(m_out.WaitLong(std::size(kBlocks) + 1));
    EXPECT_EQ(m_out.Long().back()[2], 0x7F);

    // No reply for a write-only or unknown block, or a size other than the block's.
    const uint64_t nIgnored = C().m_nFramesIgnored;
    Send(RQ1(qz::kAddrTest, 1));
    Send(RQ1(0x000010, 28));
    Send(RQ1(qz::kAddrSystem, 27));
    Send(RQ1(qz::kAddrStatus, 59));
    Send(RQ1(qz::kAddrFactoryReset, 1));
    Settle();
    EXPECT_EQ(m_out.LongCount(), std::size(kBlocks) + 2);
    EXPECT_EQ(C().m_nFramesIgnored, nIgnored + 5);
    EXPECT_EQ(C().m_nRequestsAnswered, std::size(kBlocks) + 2);
}

TEST_F(EmulatorProtocol, FramesAreFoundInPiecesAmidOtherTraffic) {
    // One request byte by byte, with timing clock and active sensing in between.
    for (uint8_t by : RQ1(qz::kAddrVersion, 8)) {
        m_emu.Receive(&by, 1);
        m_emu.ReceiveShort(0xF8);
        const uint8_t fe = 0xFE;
        m_emu.Receive(&fe, 1);
    }
    ASSERT_TRUE(m_out.WaitLong(1));
    EXPECT_EQ(AddressOf(m_out.Long()[0]), qz::kAddrVersion);

    const uint64_t nIgnored = C().m_nFramesIgnored;
    Bytes bad = RQ1(qz::kAddrSystem, 28);
    bad[13] ^= 0x01;  // checksum
    Send(bad);
    Bytes cut = RQ1(qz::kAddrSystem, 28);
    cut.pop_back();  // no F7: the next F0 starts afresh
    Send(cut);
    Bytes noteInside = RQ1(qz::kAddrSystem, 28);
    noteInside.insert(noteInside.begin() + 5, {0x90, 0x3C, 0x40});  // a status byte ends it
    Send(noteInside);
    // A status byte where a data byte belongs is never taken as data.
    Bytes high{0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x12, 0x7F, 0x09, 0x00, 0x90};
    high.push_back(qz::FrameChecksum(high.data() + 7, 4));
    high.push_back(0xF7);
    Send(high);
    Send({0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7});  // somebody else's
    Send(Bytes{0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x12, 0x00, 0x00, 0x00, 0x00, 0xF7});  // DT1 without data
    Bytes huge(600, 0x11);
    huge.front() = 0xF0;
    huge.back() = 0xF7;
    Send(huge);  // longer than any frame of ours
    Send({0xF7, 0x3C, 0x40, 0x80, 0x3C, 0x00});  // stray end and channel data
    Settle();
    EXPECT_EQ(m_out.LongCount(), 2u);
    EXPECT_EQ(C().m_nFramesIgnored, nIgnored + 7);
    EXPECT_EQ(m_emu.TestBits(), 0);

    // A message split over several deliveries, with the tail in a later one.
    Bytes req = RQ1(qz::kAddrStatus, 58);
    m_emu.Receive(req.data(), 4);
    m_emu.Receive(req.data() + 4, 7);
    m_emu.Receive(req.data() + 11, req.size() - 11);
    ASSERT_TRUE(m_out.WaitLong(3));
    EXPECT_EQ(m_out.Long()[2].size(), 70u);
}

TEST_F(EmulatorProtocol, WritesAreAppliedAndReadBack) {
    Bytes sys = DataOf(Ask(qz::kAddrSystem, 28));
    ASSERT_EQ(sys.size(), 28u);
    sys[qz::kSysDirection] = 1;
    sys[qz::kSysPreset] = 6;
    sys[qz::kSysAudioSrc] = 1;
    sys[26] = 0x42;
    Send(DT1(qz::kAddrSystem, sys));
    EXPECT_EQ(DataOf(Ask(qz::kAddrSystem, 28)), sys);

    Bytes preset(50);
    for (size_t i = 0; i < preset.size(); ++i) preset[i] = static_cast<uint8_t>(i);
    Send(DT1(qz::PresetAddress(3), preset));
    EXPECT_EQ(DataOf(Ask(qz::PresetAddress(3), 50)), preset);

    const Bytes id{'Z', 'Y', 'X', 'W', 'V', 'U', 'T', 'S', 'R', 'Q', 'P', 'O', 'N', 'M', 'L', 'K'};
    Send(DT1(qz::kAddrProductID, id));
    Send(DT1(qz::kAddrTest, {0x61}));
    EXPECT_EQ(DataOf(Ask(qz::kAddrProductID, 16)), id);
    EXPECT_EQ(m_emu.TestBits(), 0x61);
    EXPECT_EQ(C().m_nWritesApplied, 4u);

    // A DT1 with a wrong checksum or size is not applied.
    Bytes wrong = DT1(qz::kAddrSystem, Bytes(28, 0));
    wrong[wrong.size() - 2] ^= 0x01;
    Send(wrong);
    Send(DT1(qz::kAddrSystem, Bytes(29, 0)));
    EXPECT_EQ(DataOf(Ask(qz::kAddrSystem, 28)), sys);
    EXPECT_EQ(C().m_nWritesApplied, 4u);

    // The status follows the written settings: preset 6 is MPEG-2 50M at 1920.
    Bytes status = DataOf(Ask(qz::kAddrStatus, 58));
    ASSERT_EQ(status.size(), 58u);
    EXPECT_EQ(Nibbles(status.data() + qz::kSt1394Rate, 4), 500u);
    EXPECT_EQ(Nibbles(status.data() + qz::kSt1394Size, 2), 3u);
}

TEST_F(EmulatorProtocol, FlashedSettingsSurviveAPowerCycleUnflashedOnesDoNot) {
    Bytes sys = DataOf(Ask(qz::kAddrSystem, 28));
    sys[qz::kSysAudioChannels] = 2;
    Send(DT1(qz::kAddrSystem, sys));
    Send(Bytes(qz::kWriteFlashFrame, qz::kWriteFlashFrame + 13));
    Bytes later = sys;
    later[qz::kSysAudioChannels] = 3;
    Send(DT1(qz::kAddrSystem, later));
    EXPECT_EQ(DataOf(Ask(qz::kAddrSystem, 28)), later);
    EXPECT_EQ(C().m_nCommands, 1u);

    m_emu.PowerOff();
    EXPECT_FALSE(m_emu.IsAnswering());
    const uint64_t nSilent = C().m_nIgnoredSilent;
    const size_t nBefore = m_out.LongCount();
    Send(RQ1(qz::kAddrSystem, 28));
    ASSERT_TRUE(WaitFor([&] { return C().m_nIgnoredSilent == nSilent + 1; }));
    EXPECT_EQ(m_out.LongCount(), nBefore);

    m_emu.PowerOn();
    EXPECT_EQ(DataOf(Ask(qz::kAddrSystem, 28)), sys);

    // Power-on file: saved after a write to flash, and loaded for the next power-on.
    const std::string path = ::testing::TempDir() + "qz81kt_emu_flash_cycle.txt";
    m_emu.SetFlashFile(path);
    Send(DT1(qz::kAddrSystem, later));
    Send(Bytes(qz::kWriteFlashFrame, qz::kWriteFlashFrame + 13));
    Settle();
    CQZ81KTEmulator other(nullptr);
    ASSERT_TRUE(other.LoadFlashFile(path));
    EXPECT_EQ(other.FlashMemory().m_system[qz::kSysAudioChannels], 3);
    std::remove(path.c_str());
}

TEST_F(EmulatorProtocol, FactoryResetRebootsSilentlyIntoDefaults) {
    Bytes sys = DataOf(Ask(qz::kAddrSystem, 28));
    sys[qz::kSysUnitType] = 1;
    Send(DT1(qz::kAddrSystem, sys));
    Send(Bytes(qz::kWriteFlashFrame, qz::kWriteFlashFrame + 13));
    m_emu.SetRebootMs(1000);
    Settle();
    const auto t0 = std::chrono::steady_clock::now();
    Send(Bytes(qz::kFactoryResetFrame, qz::kFactoryResetFrame + 13));
    ASSERT_TRUE(WaitFor([&] { return C().m_nCommands == 2; }));
    EXPECT_TRUE(m_emu.IsRebooting());

    // Requests during the reboot go unanswered.
    const size_t nBefore = m_out.LongCount();
    const uint64_t nSilent = C().m_nIgnoredSilent;
    Send(RQ1(qz::kAddrSystem, 28));
    ASSERT_TRUE(WaitFor([&] { return C().m_nIgnoredSilent == nSilent + 1; }));
    ASSERT_TRUE(WaitFor([&] { return !m_emu.IsRebooting(); }));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(990));
    EXPECT_EQ(m_out.LongCount(), nBefore);

    const CEmulatorMemory defaults = CEmulatorState::FactoryMemory();
    EXPECT_EQ(DataOf(Ask(qz::kAddrSystem, 28)), Bytes(defaults.m_system, defaults.m_system + 28));
    EXPECT_EQ(m_emu.FlashMemory(), defaults);
    m_emu.PowerCycle();
    EXPECT_EQ(m_emu.Memory(), defaults);
}

TEST_F(EmulatorProtocol, UpdateModeIsSilentUntilAPowerCycle) {
    Send(Bytes(qz::kUpdateModeFrame, qz::kUpdateModeFrame + 13));
    ASSERT_TRUE(WaitFor([&] { return m_emu.IsInUpdateMode(); }));
    const uint64_t nSilent = C().m_nIgnoredSilent;
    Send(RQ1(qz::kAddrStatus, 58));
    Send(DT1(qz::kAddrTest, {0x40}));
    ASSERT_TRUE(WaitFor([&] { return C().m_nIgnoredSilent == nSilent + 2; }));
    EXPECT_EQ(m_out.LongCount(), 0u);
    EXPECT_EQ(m_emu.TestBits(), 0);
    m_emu.PowerOn();  // the power is still on: nothing changes
    EXPECT_TRUE(m_emu.IsInUpdateMode());
    m_emu.PowerCycle();
    EXPECT_FALSE(m_emu.IsInUpdateMode());
    EXPECT_EQ(Ask(qz::kAddrStatus, 58).size(), 70u);
}

TEST_F(EmulatorFaults, RepliesOfTheWrongShape) {
    auto& f = m_emu.Faults();
    f.m_bBadChecksum = true;
    Bytes r = Ask(qz::kAddrSystem, 28);
    ASSERT_EQ(r.size(), 40u);
    EXPECT_FALSE(ChecksumOK(r));
    EXPECT_LT(r[38], 0x80);
    f.m_bBadChecksum = false;

    f.m_byReplyDeviceID = 0x10;
    r = Ask(qz::kAddrSystem, 28);
    EXPECT_EQ(r[2], 0x10);
    EXPECT_TRUE(ChecksumOK(r));
    f.m_byReplyDeviceID = 0x7F;

    f.m_nSizeDelta = 1;
    r = Ask(qz::kAddrStatus, 58);
    EXPECT_EQ(r.size(), 71u);
    EXPECT_TRUE(ChecksumOK(r));
    f.m_nSizeDelta = -1;
    r = Ask(qz::kAddrStatus, 58);
    EXPECT_EQ(r.size(), 69u);
    EXPECT_TRUE(ChecksumOK(r));
    f.m_nSizeDelta = -100;  // cannot cut more than the data
    EXPECT_EQ(Ask(qz::kAddrVersion, 8).size(), 12u);
    f.m_nSizeDelta = 1000;  // nor grow past the reply buffer
    EXPECT_EQ(Ask(qz::kAddrStatus, 58).size(), CQZ81KTEmulator::kMaxReplyFrame);
    f.m_nSizeDelta = 0;

    // Split: each piece is a separate send; together they are the whole reply.
    const Bytes whole = Ask(qz::kAddrPreset0, 50);
    f.m_nSplitBytes = 7;
    const size_t nBefore = m_out.LongCount();
    Send(RQ1(qz::kAddrPreset0, 50));
    const size_t nPieces = (62 + 6) / 7;
    ASSERT_TRUE(m_out.WaitLong(nBefore + nPieces));
    Bytes joined;
    const auto all = m_out.Long();
    for (size_t i = nBefore; i < all.size(); ++i) {
        EXPECT_LE(all[i].size(), 7u);
        joined.insert(joined.end(), all[i].begin(), all[i].end());
    }
    EXPECT_EQ(all.size(), nBefore + nPieces);
    EXPECT_EQ(joined, whole);
}

TEST_F(EmulatorFaults, LostLateAndSilentReplies) {
    auto& f = m_emu.Faults();
    f.m_nDropEveryNth = 3;
    for (int i = 0; i < 9; ++i) Send(RQ1(qz::kAddrVersion, 8));
    ASSERT_TRUE(WaitFor([&] { return C().m_nRepliesDropped == 3; }));
    ASSERT_TRUE(m_out.WaitLong(6));
    f.m_nDropEveryNth = 0;
    Settle();
    EXPECT_EQ(m_out.LongCount(), 7u);
    EXPECT_EQ(C().m_nRequestsAnswered, 7u);

    // Late replies come no earlier than the delay, and in order.
    m_out.Clear();
    f.m_nDelayMs = 300;
    const auto t0 = std::chrono::steady_clock::now();
    Send(RQ1(qz::kAddrVersion, 8));
    Send(RQ1(qz::kAddrSystem, 28));
    ASSERT_TRUE(WaitFor([&] { return m_emu.RepliesWaiting() == 2; }));
    f.m_nDelayMs = 0;  // a later reply still waits behind the held ones
    Send(RQ1(qz::kAddrControlMode, 1));
    ASSERT_TRUE(m_out.WaitLong(3));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(290));
    // The emulator lets go of a held reply just after sending it.
    EXPECT_TRUE(WaitFor([&] { return m_emu.RepliesWaiting() == 0; }));
    const auto late = m_out.Long();
    EXPECT_EQ(AddressOf(late[0]), qz::kAddrVersion);
    EXPECT_EQ(AddressOf(late[1]), qz::kAddrSystem);
    EXPECT_EQ(AddressOf(late[2]), qz::kAddrControlMode);

    // Silent: nothing heard or answered, but the state is kept.
    m_out.Clear();
    f.m_bSilent = true;
    const uint64_t nSilent = C().m_nIgnoredSilent;
    Send(RQ1(qz::kAddrVersion, 8));
    Send(DT1(qz::kAddrTest, {0x40}));
    ASSERT_TRUE(WaitFor([&] { return C().m_nIgnoredSilent == nSilent + 2; }));
    EXPECT_EQ(m_out.LongCount(), 0u);
    EXPECT_EQ(m_emu.TestBits(), 0);
    f.m_bSilent = false;
    EXPECT_EQ(Ask(qz::kAddrVersion, 8).size(), 20u);
}

TEST_F(EmulatorFaults, FloodSendsUnrelatedMidiOfEveryKind) {
    m_emu.Faults().m_nFloodPerSecond = 4000;
    ASSERT_TRUE(WaitFor([&] { return C().m_nFloodMessages >= 400; }));
    // Requests are still answered in the middle of it.
    Send(RQ1(qz::kAddrVersion, 8));
    ASSERT_TRUE(WaitFor([&] {
        for (const Bytes& m : m_out.Long())
            if (m.size() > 1 && m[1] == 0x41) return true;
        return false;
    }));
    m_emu.Faults().m_nFloodPerSecond = 0;
    m_emu.Stop();  // every message counted has now been sent

    const auto shorts = m_out.Short();
    auto count = [&](uint32_t dwMsg) { return std::count(shorts.begin(), shorts.end(), dwMsg); };
    EXPECT_GT(count(0xF8), 0);
    EXPECT_GT(count(0xFE), 0);
    EXPECT_GT(count(0x00643C90), 0);  // note on
    EXPECT_GT(count(0x00003C80), 0);  // note off
    int nYamaha = 0, nUniversal = 0, nOurs = 0;
    for (const Bytes& m : m_out.Long()) {
        ASSERT_GE(m.size(), 3u);
        EXPECT_EQ(m.front(), 0xF0);
        EXPECT_EQ(m.back(), 0xF7);
        nYamaha += m[1] == 0x43;
        nUniversal += m[1] == 0x7E;
        nOurs += m[1] == 0x41;
    }
    EXPECT_GT(nYamaha, 0);
    EXPECT_GT(nUniversal, 0);
    EXPECT_EQ(nOurs, 1);
    EXPECT_EQ(static_cast<uint64_t>(shorts.size() + m_out.LongCount() - nOurs), C().m_nFloodMessages);
}

TEST(EmulatorInbox, AFullInboxDropsWholeMessagesAndCountsThem) {
    CRecordingOutput out;
    CQZ81KTEmulator emu(&out);
    // Not started yet: nothing drains the inbox.
    const Bytes big(1000, 0x00);
    for (int i = 0; i < 20; ++i) emu.Receive(big.data(), big.size());
    EXPECT_EQ(emu.Counters().m_nInboxDrops, 4u);  // 16 of 1000 bytes fit 16384
    const Bytes req = RQ1(qz::kAddrVersion, 8);
    emu.Receive(req.data(), req.size());  // still room for a request
    EXPECT_EQ(emu.Counters().m_nInboxDrops, 4u);
    emu.Receive(nullptr, 5);
    ASSERT_TRUE(emu.Start());
    ASSERT_TRUE(out.WaitLong(1));
    EXPECT_EQ(AddressOf(out.Long()[0]), qz::kAddrVersion);
    emu.Stop();
    emu.Stop();  // twice is harmless
}

TEST(EmulatorClock, LiveStatusFollowsTheInjectedClock) {
    CRecordingOutput out;
    CQZ81KTEmulator emu(&out);
    std::atomic<uint64_t> nNow{5000};
    emu.SetClock([&] { return nNow.load(); });
    emu.SetInputFormat(13);  // 25 frames
    ASSERT_TRUE(emu.Start());
    uint8_t status[58];
    ASSERT_EQ(emu.ReadBlock(qz::kAddrStatus, status, sizeof(status)), 58u);
    EXPECT_EQ(status[qz::kStTimecode + 3], 0);
    EXPECT_EQ(status[qz::kStTimecode + 1], 0);
    nNow = 5000 + 2 * 60 * 1000 + 3000 + 5 * 40;  // 00:02:03:05 later
    const Bytes req = RQ1(qz::kAddrStatus, 58);
    emu.Receive(req.data(), req.size());
    ASSERT_TRUE(out.WaitLong(1));
    const Bytes r = DataOf(out.Long()[0]);
    ASSERT_EQ(r.size(), 58u);
    EXPECT_EQ(Bytes(r.begin() + 16, r.begin() + 24), (Bytes{0, 5, 0, 3, 0, 2, 0, 0}));
    emu.Stop();
}
