#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "midi/platform/LoopbackDriver.h"
#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/wire/QZ81KTMidiOut.h"
#include "support/RecordingPeer.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes RQ1(uint8_t id, uint32_t addr, uint32_t size) {
    uint8_t f[qz::kRQ1Length];
    size_t n = qz::BuildRQ1(f, id, addr, size);
    return Bytes(f, f + n);
}

TEST(DeviceFrames, WorkedRequestFrames) {
    EXPECT_EQ(RQ1(0x7F, 0x7F0000, 8), (Bytes{0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x11, 0x7F, 0x00, 0x00, 0x00, 0x00, 0x08, 0x79, 0xF7}));
    EXPECT_EQ(RQ1(0x7F, 0x000000, 28), (Bytes{0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1C, 0x64, 0xF7}));
    EXPECT_EQ(RQ1(0x7F, 0x000240, 50), (Bytes{0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x11, 0x00, 0x02, 0x40, 0x00, 0x00, 0x32, 0x0C, 0xF7}));
    EXPECT_EQ(RQ1(0x7F, 0x010000, 58), (Bytes{0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x11, 0x01, 0x00, 0x00, 0x00, 0x00, 0x3A, 0x45, 0xF7}));
    EXPECT_EQ(RQ1(0x7F, 0x7F0800, 1), (Bytes{0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x11, 0x7F, 0x08, 0x00, 0x00, 0x00, 0x01, 0x78, 0xF7}));
}

TEST(DeviceFrames, PresetAddressesPackToSevenBits) {
    const uint32_t expected[8] = {0x000200, 0x000240, 0x000300, 0x000340, 0x000400, 0x000440, 0x000500, 0x000540};
    for (int n = 0; n < 8; ++n) {
        EXPECT_EQ(qz::PresetAddress(n), expected[n]) << n;
        EXPECT_EQ(qz::PresetAddress(n), 0x000200u + 0x100u * (n / 2) + 0x40u * (n % 2));  // direct form
    }
    EXPECT_EQ(qz::PackAddress7(0x1FFFFF), 0x7F7F7Fu);
    EXPECT_EQ(qz::PackAddress7(0x4000), 0x010000u);
    EXPECT_EQ(qz::PackAddress7(0x80), 0x000100u);
}

TEST(DeviceFrames, DataSetLengthAndChecksumForRandomData) {
    std::mt19937 rng(42);
    for (int round = 0; round < 500; ++round) {
        size_t n = rng() % (qz::kMaxDT1Data + 1);
        Bytes data(n);
        for (auto& b : data) b = rng() & 0x7F;
        uint32_t addr = rng() & 0x7F7F7F;
        uint8_t frame[200];
        size_t len = qz::BuildDT1(frame, sizeof frame, 0x7F, addr, data.data(), n);
        ASSERT_EQ(len, n + 12);
        EXPECT_EQ(frame[0], 0xF0);
        EXPECT_EQ(frame[6], 0x12);
        EXPECT_EQ(frame[len - 1], 0xF7);
        EXPECT_EQ(Bytes(frame + 10, frame + 10 + n), data);
        unsigned sum = 0;
        for (size_t i = 7; i < len - 1; ++i) sum += frame[i];  // address, data and checksum
        EXPECT_EQ(sum % 128, 0u) << "round " << round;
        // Read back: every field where it was put; one data bit more spoils the sum.
        qz::CFrameFields read;
        ASSERT_TRUE(qz::ReadFrame(frame, len, read));
        EXPECT_TRUE(read.byManufacturer == 0x41 && read.byDevice == 0x7F && qz::IsDeviceModel(read));
        EXPECT_TRUE(read.byCommand == 0x12 && read.dwAddress == addr && read.bChecksumGood);
        EXPECT_EQ(Bytes(read.pData, read.pData + read.nData), data);
        frame[len - 3] ^= 0x01;
        ASSERT_TRUE(qz::ReadFrame(frame, len, read));
        EXPECT_FALSE(read.bChecksumGood);
    }
    Bytes tooLong(qz::kMaxDT1Data + 1, 0);
    uint8_t frame[200];
    EXPECT_EQ(qz::BuildDT1(frame, sizeof frame, 0x7F, 0, tooLong.data(), tooLong.size()), 0u);
    EXPECT_EQ(qz::BuildDT1(frame, 20, 0x7F, 0, tooLong.data(), 10), 0u);  // would not fit the output
}

TEST(DeviceFrames, ReadingARequestAndMessagesTooShort) {
    uint8_t rq1[qz::kRQ1Length];
    qz::BuildRQ1(rq1, 0x10, 0x100000, 0x4A);
    qz::CFrameFields read;
    ASSERT_TRUE(qz::ReadFrame(rq1, sizeof rq1, read));
    EXPECT_TRUE(read.byDevice == 0x10 && read.byCommand == 0x11 && read.dwAddress == 0x100000 && read.bChecksumGood);
    EXPECT_EQ(qz::RequestedSize(read), 0x4Au);
    EXPECT_FALSE(qz::ReadFrame(rq1, qz::kDT1Overhead - 1, read));
    EXPECT_FALSE(qz::ReadFrame(nullptr, 0, read));
}

TEST(DeviceFrames, FixedCommandFramesCarryTheirChecksums) {
    for (const uint8_t* f : {qz::kFactoryResetFrame, qz::kWriteFlashFrame, qz::kUpdateModeFrame}) {
        uint8_t data = f[10];
        uint32_t addr = (f[7] << 16) | (f[8] << 8) | f[9];
        uint8_t built[13];
        ASSERT_EQ(qz::BuildDT1(built, sizeof built, 0x7F, addr, &data, 1), 13u);
        EXPECT_EQ(Bytes(built, built + 13), Bytes(f, f + 13));
    }
}

TEST(DeviceFrames, SendersQueueWholeFramesAndRefuseOnAClosedOrStoppedPort) {
    CLoopbackDriver driver;
    CRecordingPeer peer;
    CQZ81KTMidiOut out(&driver);
    out.m_uDeviceID = driver.AddPortPair("QZ-81KT", &peer);
    uint8_t system[28] = {};
    system[qz::kSysSyncOperation] = 1;
    EXPECT_EQ(qz::SendRQ1(out, 0x7F, qz::kAddrSystem, 28), 0);
    EXPECT_EQ(qz::SendDT1(out, 0x7F, qz::kAddrSystem, system, 28), 0);
    ASSERT_EQ(out.Open(), 1);
    ASSERT_EQ(out.Start(), 1);
    EXPECT_EQ(qz::SendDT1(out, 0x7F, qz::kAddrSystem, system, 28), 1);
    EXPECT_EQ(qz::SendRQ1(out, 0x7F, qz::kAddrSystem, 28), 1);
    Bytes big(117, 0);
    EXPECT_EQ(qz::SendDT1(out, 0x7F, qz::kAddrSystem, big.data(), big.size()), 0);
    ASSERT_EQ(peer.WaitFor(2), 2u);
    auto got = peer.Messages();
    ASSERT_EQ(got[0].size(), 40u);
    EXPECT_EQ(got[0][38], 0x7F);  // checksum of all-zero data but byte 11 = 1
    EXPECT_EQ(got[1], RQ1(0x7F, 0, 28));
    out.Stop();
    EXPECT_EQ(qz::SendRQ1(out, 0x7F, qz::kAddrSystem, 28), 0);
}

}  // namespace
