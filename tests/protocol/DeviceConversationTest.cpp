// The whole conversation without a window: ports on the loopback driver, the emulated
// converter on the far end, the reply dispatch filling a device image.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "emulator/LoopbackEmulator.h"
#include "midi/platform/LoopbackDriver.h"
#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/device/PresetOperations.h"
#include "protocol/wire/QZ81KTMidiIn.h"
#include "support/FakeOwner.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

struct DeviceConversation : ::testing::Test {
    CLoopbackDriver driver;
    CLoopbackEmulator emulator{driver};
    CFakeOwner owner{&driver};
    CMidiInPort<CQZ81KTMidiIn> in{&driver};

    void SetUp() override {
        ASSERT_TRUE(emulator.Start());
        owner.Image().Clear();
        in.m_pOwnerWnd = &owner;
    }
    // What Connect does: ports, link state, request-all.
    int Connect() {
        owner.Image().ResetLinkState();
        in.m_uDeviceID = emulator.Port();
        owner.MidiOut().m_uDeviceID = emulator.Port();
        if (!in.Open() || !in.Start() || !owner.MidiOut().Open() || !owner.MidiOut().Start()) return 0;
        return qz::RequestAll(owner.MidiOut(), 0x7F);
    }
    bool AllStored() {
        CDeviceImage& img = owner.Image();
        bool sys = false;
        for (auto& p : owner.Posts()) sys |= p.first == REPLY_SYSTEM;
        return img.m_bVersionRcvd && img.m_bProductIDRcvd && img.m_bTimecodeRcvd && img.m_bAllPresetsRcvd &&
               img.m_nStatusReplies.load() > 0 && sys;
    }
    Bytes DeviceBlock(uint32_t addr) {
        uint8_t b[64];
        size_t n = emulator.Emulator().ReadBlock(addr, b, sizeof b);
        return Bytes(b, b + n);
    }
    Bytes ImageBlock(qz::EBlock e, size_t n) {
        Bytes b(CDeviceImage::CopySize(e));
        owner.Image().Read(e, b.data(), b.size());
        b.resize(n);
        return b;
    }
};

TEST_F(DeviceConversation, RequestAllFillsEveryBlockAndNotifiesInOrder) {
    ASSERT_EQ(Connect(), 1);
    ASSERT_TRUE(owner.WaitUntil([&] { return AllStored(); }));
    EXPECT_EQ(ImageBlock(qz::EBlock::Version, 8), DeviceBlock(qz::kAddrVersion));
    EXPECT_EQ(ImageBlock(qz::EBlock::ProductID, 16), DeviceBlock(qz::kAddrProductID));
    EXPECT_EQ(ImageBlock(qz::EBlock::System, 28), DeviceBlock(qz::kAddrSystem));
    EXPECT_EQ(ImageBlock(qz::EBlock::Timecode, 44), DeviceBlock(qz::kAddrTimecode));
    for (int n = 0; n < 8; ++n) EXPECT_EQ(ImageBlock(qz::PresetBlock(n), 50), DeviceBlock(qz::PresetAddress(n))) << n;
    EXPECT_EQ(owner.Posts(), (std::vector<std::pair<int, int>>{
                                 {REPLY_IDENTITY, 0}, {REPLY_IDENTITY, 0}, {REPLY_SYSTEM, 0}, {REPLY_STATUS, 0xFF}}));
    EXPECT_EQ(owner.PresetLines(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(in.m_nDropped.load(), 0);
}

TEST_F(DeviceConversation, ControlModePollRequestsTheSystemBlockOnAChange) {
    ASSERT_EQ(Connect(), 1);
    ASSERT_TRUE(owner.WaitUntil([&] { return AllStored(); }));
    emulator.Emulator().SetControlMode(0x21);
    owner.ClearRecords();
    for (int i = 0; i < 2; ++i) ASSERT_EQ(qz::SendRQ1(owner.MidiOut(), 0x7F, qz::kAddrControlMode, 1), 1);
    ASSERT_TRUE(owner.WaitUntil([&] { return owner.Posts().size() >= 2; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(owner.Posts(), (std::vector<std::pair<int, int>>{{REPLY_CONTROL_MODE, 0}, {REPLY_SYSTEM, 0}}));
    EXPECT_EQ(owner.Image().m_bRemote.load(), true);
    EXPECT_EQ(owner.ControlEnables(), 1);
}

TEST_F(DeviceConversation, WrongChecksumOtherIdSplitAndFloodStillFillTheImage) {
    emulator.Faults().m_bBadChecksum = true;
    emulator.Faults().m_byReplyDeviceID = 0x10;
    emulator.Faults().m_nSplitBytes = 5;
    emulator.Faults().m_nFloodPerSecond = 100000;
    ASSERT_EQ(Connect(), 1);
    EXPECT_TRUE(owner.WaitUntil([&] { return AllStored(); }));
    EXPECT_EQ(ImageBlock(qz::EBlock::System, 28), DeviceBlock(qz::kAddrSystem));
}

TEST_F(DeviceConversation, RepliesOfTheWrongSizeAreIgnored) {
    for (int delta : {+1, -1}) {
        emulator.Faults().m_nSizeDelta = delta;
        ASSERT_EQ(Connect(), 1);
        ASSERT_TRUE(owner.WaitUntil([&] { return emulator.Emulator().Counters().m_nRequestsAnswered >= 13; }));
        std::this_thread::sleep_for(50ms);
        CDeviceImage& img = owner.Image();
        EXPECT_EQ(img.m_bVersionRcvd.load() + img.m_bProductIDRcvd.load() + img.m_bTimecodeRcvd.load() +
                      img.m_bAllPresetsRcvd.load() + img.m_nStatusReplies.load(),
                  0)
            << "delta " << delta;
        EXPECT_TRUE(owner.Posts().empty());
        in.Close();
        owner.MidiOut().Close();
        emulator.Emulator().PowerCycle();
    }
}

TEST_F(DeviceConversation, LostRepliesLeaveOnlyTheirFlagsAndAReconnectKeepsTheBlocks) {
    ASSERT_EQ(Connect(), 1);
    ASSERT_TRUE(owner.WaitUntil([&] { return AllStored(); }));
    Bytes system = ImageBlock(qz::EBlock::System, 28);
    // A device that stopped answering: the reconnect keeps the blocks and their flags.
    emulator.Faults().m_bSilent = true;
    ASSERT_EQ(Connect(), 1);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(owner.Image().m_bAllPresetsRcvd.load(), true);
    EXPECT_EQ(owner.Image().m_nStatusReplies.load(), 0);
    EXPECT_EQ(ImageBlock(qz::EBlock::System, 28), system);
    // Every second reply lost: after a fresh start-up the image fills only partly.
    emulator.Faults().m_bSilent = false;
    emulator.Faults().m_nDropEveryNth = 2;
    owner.Image().Clear();
    ASSERT_EQ(Connect(), 1);
    ASSERT_TRUE(owner.WaitUntil([&] { return emulator.Emulator().Counters().m_nRepliesDropped >= 6; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(owner.Image().m_bAllPresetsRcvd.load(), false);
}

TEST_F(DeviceConversation, WritesAreAppliedAndReadBack) {
    ASSERT_EQ(Connect(), 1);
    ASSERT_TRUE(owner.WaitUntil([&] { return AllStored(); }));
    CDeviceImage& img = owner.Image();
    img.WriteByte(qz::EBlock::System, qz::kSysSyncOperation, 1);
    uint8_t sys[28];
    img.Read(qz::EBlock::System, sys, sizeof sys);
    ASSERT_EQ(qz::SendDT1(owner.MidiOut(), 0x7F, qz::kAddrSystem, sys, sizeof sys), 1);
    img.WriteByte(qz::EBlock::System, qz::kSysSyncOperation, 0);  // the read-back must bring the device's value
    ASSERT_EQ(qz::SendRQ1(owner.MidiOut(), 0x7F, qz::kAddrSystem, 28), 1);
    EXPECT_TRUE(owner.WaitUntil([&] { return img.ReadByte(qz::EBlock::System, qz::kSysSyncOperation) == 1; }));
    // Presets go back whole, bytes the panel does not interpret included.
    img.WriteByte(qz::PresetBlock(3), 44, 0x0A);
    img.WriteByte(qz::PresetBlock(3), 45, 0x05);
    qz::SendAllPresets(owner);
    ASSERT_TRUE(owner.WaitUntil([&] { return DeviceBlock(qz::PresetAddress(3))[44] == 0x0A; }));
    EXPECT_EQ(DeviceBlock(qz::PresetAddress(3)), ImageBlock(qz::PresetBlock(3), 50));
}

}  // namespace
