// The link watch stepped tick by tick over a loopback port with a recording peer.
#include <gtest/gtest.h>

#include "midi/platform/LoopbackDriver.h"
#include "protocol/device/DeviceImage.h"
#include "protocol/device/LinkWatch.h"
#include "protocol/wire/QZ81KTMidiOut.h"
#include "support/RecordingPeer.h"

namespace {

class LinkWatch : public ::testing::Test {
protected:
    CLoopbackDriver driver;
    CRecordingPeer peer;
    uint32_t port = driver.AddPortPair("QZ-81KT Test", &peer);
    CDeviceImage image;
    CQZ81KTMidiOut out{&driver};
    CLinkWatch watch{image, out};

    void SetUp() override {
        out.m_uDeviceID = port;
        ASSERT_EQ(out.Open(), 1);
        ASSERT_EQ(out.Start(), 1);
    }
    void StatusReply() { image.m_nStatusReplies.fetch_add(1); }
    // Addresses (a2 a1 a0) of the requests sent since the last call.
    std::vector<uint32_t> Sent(size_t nExpected) {
        peer.WaitFor(nExpected);
        std::vector<uint32_t> a;
        for (auto& m : peer.Messages()) a.push_back((uint32_t(m[7]) << 16) | (uint32_t(m[8]) << 8) | m[9]);
        peer.Clear();
        return a;
    }
};

TEST_F(LinkWatch, SendsNothingUntilTheFirstStatusReplyThenPollsEveryTick) {
    for (int i = 0; i < 20; ++i) EXPECT_EQ(watch.Tick(), CLinkWatch::kTickIdle);
    EXPECT_EQ(peer.Count(), 0u);
    StatusReply();
    EXPECT_EQ(watch.Tick(), CLinkWatch::kTickLinkUp);
    EXPECT_EQ(image.m_bLinkUp.load(), true);
    EXPECT_EQ(peer.Count(), 0u);  // the tick that brings the link up sends nothing
    EXPECT_EQ(watch.Tick(), CLinkWatch::kTickPolled);
    EXPECT_EQ(Sent(2), (std::vector<uint32_t>{0x010000, 0x7F0800}));
}

TEST_F(LinkWatch, SystemBlockEveryThirtiethPollKeepsItsRhythmAcrossLinkLoss) {
    StatusReply();
    watch.Tick();
    int systemPolls = 0;
    for (int t = 1; t <= 60; ++t) {
        StatusReply();
        watch.Tick();
        auto sent = Sent(t % 30 == 0 ? 3 : 2);
        bool bSystem = sent.size() == 3 && sent[2] == 0x000000;
        EXPECT_EQ(bSystem, t % 30 == 0) << t;
        systemPolls += bSystem;
    }
    EXPECT_EQ(systemPolls, 2);
    image.ResetLinkState();  // a reconnect does not restart the rhythm
    watch.Reset();
    EXPECT_EQ(watch.PollTicks(), 60);
}

TEST_F(LinkWatch, LinkDropsOnExactlyTheFiftiethSilentTick) {
    StatusReply();
    watch.Tick();
    for (int t = 1; t < 50; ++t) ASSERT_EQ(watch.Tick(), CLinkWatch::kTickPolled) << t;
    EXPECT_EQ(watch.Tick(), CLinkWatch::kTickLinkLost);
    EXPECT_EQ(image.m_bLinkUp.load(), false);
    EXPECT_EQ(watch.Tick(), CLinkWatch::kTickIdle);
    // A reply seen late in the silence restarts the count.
    StatusReply();
    watch.Tick();
    for (int t = 1; t < 30; ++t) watch.Tick();
    StatusReply();
    ASSERT_EQ(watch.Tick(), CLinkWatch::kTickPolled);  // sees the reply: not a silent tick
    for (int t = 1; t < 50; ++t) ASSERT_EQ(watch.Tick(), CLinkWatch::kTickPolled) << t;
    EXPECT_EQ(watch.Tick(), CLinkWatch::kTickLinkLost);
}

TEST(DeviceImageBlocks, AccessStaysInsideItsBlock) {
    CDeviceImage img;
    uint8_t big[64] = {}, sys[28] = {};
    big[0] = 9;
    // A length that is not the block's is refused whole, in both directions.
    EXPECT_FALSE(img.Write(qz::EBlock::Version, big, 24));
    EXPECT_FALSE(img.Read(qz::EBlock::Version, big, 24));
    EXPECT_FALSE(img.Write(qz::EBlock::ControlMode, big, 1));
    EXPECT_EQ(img.ReadByte(qz::EBlock::Version, 0), 0);
    EXPECT_FALSE(img.WriteByte(qz::EBlock::System, 28, 1));
    EXPECT_EQ(img.ReadByte(qz::EBlock::System, 28), 0);
    EXPECT_TRUE(img.WriteByte(qz::EBlock::System, 27, 5));
    ASSERT_TRUE(img.Read(qz::EBlock::System, sys));
    EXPECT_EQ(sys[27], 5);
    EXPECT_EQ(img.ReadByte(qz::EBlock::Timecode, 0), 0);  // the next block is untouched
    // The product ID takes its 16 bytes; the 8 behind them stay 0.
    uint8_t id[16];
    std::fill(std::begin(id), std::end(id), 'Q');
    EXPECT_TRUE(img.Write(qz::EBlock::ProductID, id));
    EXPECT_FALSE(img.WriteByte(qz::EBlock::ProductID, 16, 'X'));
    uint8_t copy[24];
    ASSERT_TRUE(img.Read(qz::EBlock::ProductID, copy));
    EXPECT_EQ(copy[15], 'Q');
    EXPECT_EQ(copy[16], 0);
    EXPECT_EQ(copy[23], 0);
}

}  // namespace
