#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "midi/platform/LoopbackDriver.h"
#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/wire/QZ81KTMidiIn.h"
#include "support/FakeOwner.h"
#include "support/RecordingPeer.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Reply(uint32_t addr, const Bytes& data, uint8_t id = 0x7F) {
    uint8_t f[200];
    size_t n = qz::BuildDT1(f, sizeof f, id, addr, data.data(), data.size());
    return Bytes(f, f + n);
}

Bytes Rq1(uint32_t addr, uint32_t size) {
    uint8_t f[qz::kRQ1Length];
    qz::BuildRQ1(f, 0x7F, addr, size);
    return Bytes(f, f + sizeof f);
}

struct ReplyDispatch : ::testing::Test {
    CLoopbackDriver driver;
    CRecordingPeer peer;
    uint32_t port = driver.AddPortPair("QZ-81KT Test", &peer);
    CFakeOwner owner{&driver};
    CMidiInPort<CQZ81KTMidiIn> in{&driver};

    void SetUp() override {
        in.m_pOwnerWnd = &owner;
        owner.Image().Clear();
        owner.MidiOut().m_uDeviceID = port;
    }
    void Deliver(const Bytes& m) { in.OnOtherSysEx(m.data(), static_cast<int>(m.size())); }
    Bytes Status() {
        Bytes s(58);
        owner.Image().Read(qz::EBlock::Status, s.data(), s.size());
        return s;
    }
};

TEST_F(ReplyDispatch, ChecksInOrderAcceptWrongChecksumAndOtherDeviceID) {
    Bytes version = {'1', '.', '0', '3', 0, 0, 0, 0};
    Bytes frame = Reply(qz::kAddrVersion, version);
    Bytes twelve = {0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x12, 0x7F, 0x00, 0x00, 0x01, 0xF7};
    Deliver(twelve);
    Bytes echoed = frame;
    echoed[6] = 0x11;  // an echoed request
    Deliver(echoed);
    Bytes longer = Reply(qz::kAddrVersion, Bytes(9, 'x'));
    Bytes shorter = Reply(qz::kAddrVersion, Bytes(7, 'x'));
    Deliver(longer);
    Deliver(shorter);
    Deliver(Reply(0x7F0200, Bytes(8, 'x')));  // unknown address
    EXPECT_EQ(owner.Image().m_bVersionRcvd.load(), false);
    EXPECT_TRUE(owner.Posts().empty());

    Bytes badSum = frame;
    badSum[badSum.size() - 2] ^= 0x01;
    Deliver(badSum);
    EXPECT_EQ(owner.Image().m_bVersionRcvd.load(), true);
    Bytes pid = Reply(qz::kAddrProductID, Bytes(16, 'A'), 0x10);
    Deliver(pid);
    EXPECT_EQ(owner.Image().m_bProductIDRcvd.load(), true);
    EXPECT_EQ(owner.Image().ReadByte(qz::EBlock::ProductID, 15), 'A');
    EXPECT_EQ(owner.Image().ReadByte(qz::EBlock::ProductID, 16), 0);
    EXPECT_EQ(owner.Posts(), (std::vector<std::pair<int, int>>{{REPLY_IDENTITY, 0}, {REPLY_IDENTITY, 0}}));

    // 13 bytes is the shortest data set: the control mode block.
    Deliver(Reply(qz::kAddrControlMode, Bytes{0x01}));
    EXPECT_EQ(owner.Image().m_byControlMode.load(), 0x01);
}

TEST_F(ReplyDispatch, StatusMaskEdgeCases) {
    Bytes s(58, 0);
    Deliver(Reply(qz::kAddrStatus, s));  // first after start-up: forced in full
    Deliver(Reply(qz::kAddrStatus, s));  // identical: nothing posted, still counted
    s[0] = 5;
    Deliver(Reply(qz::kAddrStatus, s));
    s[40] = 1;
    Deliver(Reply(qz::kAddrStatus, s));
    s[17] = 3;
    s[47] = 4;
    Deliver(Reply(qz::kAddrStatus, s));
    s[13] = 0x01;
    Deliver(Reply(qz::kAddrStatus, s));
    EXPECT_EQ(owner.Posts(), (std::vector<std::pair<int, int>>{{REPLY_STATUS, 0xFF}, {REPLY_STATUS, 0x08}, {REPLY_STATUS, 0x11}}));
    EXPECT_EQ(owner.Image().m_nStatusReplies.load(), 6);
    EXPECT_EQ(owner.Image().m_bLowLatencyAvail.load(), true);
    EXPECT_EQ(Status(), s);
    // After a reconnect the first status reply is forced again.
    owner.Image().ResetLinkState();
    owner.ClearRecords();
    Deliver(Reply(qz::kAddrStatus, s));
    EXPECT_EQ(owner.Posts(), (std::vector<std::pair<int, int>>{{REPLY_STATUS, 0xFF}}));
    EXPECT_EQ(owner.Image().m_nStatusReplies.load(), 1);
}

TEST_F(ReplyDispatch, ControlModeReactsOnChangeOnlyAndRequestsTheSystemBlock) {
    ASSERT_EQ(owner.MidiOut().Open(), 1);
    ASSERT_EQ(owner.MidiOut().Start(), 1);
    Deliver(Reply(qz::kAddrControlMode, Bytes{0x21}));
    Deliver(Reply(qz::kAddrControlMode, Bytes{0x21}));
    EXPECT_EQ(owner.Posts(), (std::vector<std::pair<int, int>>{{REPLY_CONTROL_MODE, 0}}));
    EXPECT_EQ(owner.ControlEnables(), 1);
    EXPECT_EQ(owner.Image().m_bRemote.load(), true);
    ASSERT_EQ(peer.WaitFor(1), 1u);
    EXPECT_EQ(peer.Messages()[0], Rq1(qz::kAddrSystem, 28));
    Deliver(Reply(qz::kAddrControlMode, Bytes{0x20}));
    EXPECT_EQ(owner.Image().m_bRemote.load(), false);
    EXPECT_EQ(peer.WaitFor(2), 2u);
    // After Connect the first reply counts as a change again.
    owner.Image().ResetLinkState();
    Deliver(Reply(qz::kAddrControlMode, Bytes{0x20}));
    EXPECT_EQ(owner.Posts().size(), 3u);
}

TEST_F(ReplyDispatch, SystemTimecodeAndPresetsNotifyAsTheyShould) {
    Bytes sys(28, 0);
    sys[qz::kSysPreset] = 3;
    Deliver(Reply(qz::kAddrSystem, sys));
    Deliver(Reply(qz::kAddrTimecode, Bytes(44, 2)));
    EXPECT_EQ(owner.Image().m_bTimecodeRcvd.load(), true);
    EXPECT_EQ(owner.Posts(), (std::vector<std::pair<int, int>>{{REPLY_SYSTEM, 0}}));
    EXPECT_EQ(owner.Image().ReadByte(qz::EBlock::System, 5), 3);

    for (int round = 0; round < 3; ++round)
        for (int n = 0; n < 7; ++n) Deliver(Reply(qz::PresetAddress(n), Bytes(50, static_cast<uint8_t>(n))));
    EXPECT_EQ(owner.Image().m_bAllPresetsRcvd.load(), false);  // preset 7 is still missing
    Deliver(Reply(qz::PresetAddress(7), Bytes(50, 7)));
    EXPECT_EQ(owner.Image().m_bAllPresetsRcvd.load(), true);
    EXPECT_EQ(owner.PresetLines().size(), 22u);
    EXPECT_EQ(owner.PresetLines().back(), 7);
    EXPECT_EQ(owner.Image().ReadByte(qz::PresetBlock(6), 49), 6);
    EXPECT_EQ(owner.Posts().size(), 1u);  // presets post nothing

    // A reconnect resets only the link state.
    owner.Image().ResetLinkState();
    EXPECT_EQ(owner.Image().m_bAllPresetsRcvd.load(), true);
    EXPECT_EQ(owner.Image().m_bTimecodeRcvd.load(), true);
    EXPECT_EQ(owner.Image().ReadByte(qz::EBlock::System, 5), 3);
    // Start-up clears the copies and flags, not the status copy.
    owner.Image().Clear();
    EXPECT_EQ(owner.Image().m_bAllPresetsRcvd.load(), false);
    EXPECT_EQ(owner.Image().ReadByte(qz::EBlock::System, 5), 0);
}

TEST_F(ReplyDispatch, OnlyAValidReplyMarksItsBlockStoredUntilTheImageIsCleared) {
    for (const qz::CBlockInfo& b : qz::kBlocks) {
        Deliver(Reply(b.dwAddress, Bytes(static_cast<size_t>(b.nSize) + 1, 1)));
        EXPECT_FALSE(owner.Image().ReplyStored(b.eBlock)) << b.pszName;
        Deliver(Reply(b.dwAddress, Bytes(static_cast<size_t>(b.nSize), 1)));
        EXPECT_TRUE(owner.Image().ReplyStored(b.eBlock)) << b.pszName;
    }
    owner.Image().ResetLinkState();  // a reconnect keeps them
    EXPECT_TRUE(owner.Image().ReplyStored(qz::EBlock::Status));
    owner.Image().Clear();
    for (const qz::CBlockInfo& b : qz::kBlocks) EXPECT_FALSE(owner.Image().ReplyStored(b.eBlock)) << b.pszName;
}

TEST_F(ReplyDispatch, RequestAllQueuesThirteenFramesOrStopsAtTheFirstRefusal) {
    CQZ81KTMidiOut& out = owner.MidiOut();
    EXPECT_EQ(qz::RequestAll(out, 0x7F), 0);  // closed
    ASSERT_EQ(out.Open(), 1);
    ASSERT_EQ(out.Start(), 1);
    ASSERT_EQ(qz::RequestAll(out, 0x7F), 1);
    ASSERT_EQ(peer.WaitFor(13), 13u);
    std::vector<Bytes> expected = {Rq1(0x7F0000, 8), Rq1(0x7F0100, 16), Rq1(0x000000, 28), Rq1(0x000100, 44)};
    for (uint32_t a : {0x000200u, 0x000240u, 0x000300u, 0x000340u, 0x000400u, 0x000440u, 0x000500u, 0x000540u})
        expected.push_back(Rq1(a, 50));
    expected.push_back(Rq1(0x010000, 58));
    EXPECT_EQ(peer.Messages(), expected);

    // With 60 messages outstanding only four more fit: the fifth request is refused.
    ASSERT_TRUE(owner.WaitUntil([&] { return out.Outstanding() == 0; }));
    peer.Clear();
    driver.Faults(port).m_bHoldCompletions = true;
    Bytes filler = Rq1(0x010000, 58);
    for (int i = 0; i < 60; ++i) ASSERT_EQ(out.SendLongMsg(filler.data(), filler.size()), 1);
    EXPECT_EQ(qz::RequestAll(out, 0x7F), 0);
    EXPECT_EQ(out.Outstanding(), 64);
    driver.Faults(port).m_bHoldCompletions = false;
    for (int k = 0; k < 5000 && peer.Count() < 64; ++k) {
        driver.ReleaseCompletions(port, 64);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    auto got = peer.Messages();
    ASSERT_EQ(got.size(), 64u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(got[60 + i], expected[i]);
}

}  // namespace
