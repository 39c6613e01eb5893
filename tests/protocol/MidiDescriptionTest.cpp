#include <gtest/gtest.h>

#include <vector>

#include "protocol/wire/DeviceFrames.h"
#include "protocol/wire/MidiDescription.h"

namespace {

using Bytes = std::vector<uint8_t>;
using qz::EMidiKind;

Bytes DT1(uint8_t id, uint32_t addr, size_t n, uint8_t fill = 0) {
    Bytes data(n, fill);
    uint8_t f[200];
    size_t len = qz::BuildDT1(f, sizeof f, id, addr, data.data(), n);
    return Bytes(f, f + len);
}
Bytes RQ1(uint8_t id, uint32_t addr, uint32_t size) {
    uint8_t f[qz::kRQ1Length];
    return Bytes(f, f + qz::BuildRQ1(f, id, addr, size));
}
Bytes Frame(const uint8_t (&f)[13]) { return Bytes(f, f + 13); }

struct CCase {
    Bytes msg;
    EMidiKind eKind;
    const char* pszText;
    bool bPoll;
};

TEST(MidiDescription, NamesEveryFrameKindAndForeignMessages) {
    Bytes badSum = RQ1(0x7F, 0x010000, 58);
    badSum[13] ^= 0x01;
    Bytes other = DT1(0x7F, 0x000200, 50);
    other[4] = 0x51;  // another model of the same maker
    const CCase cases[] = {
        {{0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x11, 0x7F, 0x00, 0x00, 0x00, 0x00, 0x08, 0x79, 0xF7},
         EMidiKind::RequestFrame, "RQ1 version (7F 00 00, 8), checksum good", false},
        {{0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x11, 0x00, 0x02, 0x40, 0x00, 0x00, 0x32, 0x0C, 0xF7},
         EMidiKind::RequestFrame, "RQ1 preset 1 (00 02 40, 50), checksum good", false},
        {RQ1(0x7F, 0x010000, 58), EMidiKind::RequestFrame, "RQ1 status (01 00 00, 58), checksum good", true},
        {RQ1(0x7F, 0x7F0800, 1), EMidiKind::RequestFrame, "RQ1 control mode (7F 08 00, 1), checksum good", true},
        {RQ1(0x7F, 0x123456, 4), EMidiKind::RequestFrame, "RQ1 (12 34 56, 4), checksum good", false},
        {badSum, EMidiKind::RequestFrame, "RQ1 status (01 00 00, 58), checksum bad", true},
        {DT1(0x7F, 0x000340, 50), EMidiKind::DataSetFrame, "DT1 preset 3 (00 03 40, 50 bytes), checksum good", false},
        {DT1(0x10, 0x010000, 58), EMidiKind::DataSetFrame,
         "DT1 status (01 00 00, 58 bytes), device 0x10, checksum good", true},
        {DT1(0x7F, 0x010000, 57), EMidiKind::DataSetFrame,
         "DT1 status (01 00 00, 57 bytes; the block has 58), checksum good", false},
        {DT1(0x7F, 0x7F0800, 1, 0x01), EMidiKind::DataSetFrame, "DT1 control mode (7F 08 00, 1 byte), checksum good", true},
        {DT1(0x7F, 0x7F0100, 16), EMidiKind::DataSetFrame, "DT1 product ID (7F 01 00, 16 bytes), checksum good", false},
        {Frame(qz::kFactoryResetFrame), EMidiKind::DataSetFrame, "DT1 factory reset (7F 7F 00), checksum good", false},
        {Frame(qz::kWriteFlashFrame), EMidiKind::DataSetFrame, "DT1 write to flash (7F 7F 01), checksum good", false},
        {Frame(qz::kUpdateModeFrame), EMidiKind::DataSetFrame, "DT1 update mode (7F 7F 02), checksum good", false},
        {{0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x12, 0x7F, 0x09, 0x00, 0x61, 0x17, 0xF7}, EMidiKind::DataSetFrame,
         "DT1 test block 0x61 (7F 09 00), checksum good", false},
        // A command address with a byte that is not its command is only a write.
        {DT1(0x7F, 0x7F7F00, 1, 0x2A), EMidiKind::DataSetFrame, "DT1 (7F 7F 00, 1 byte), checksum good", false},
        {{0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x11, 0x01, 0xF7}, EMidiKind::RequestFrame,
         "RQ1 malformed (9 bytes, not 15)", false},
        {{0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x12, 0x01, 0x00, 0xF7}, EMidiKind::DataSetFrame,
         "DT1 malformed (10 bytes)", false},
        {other, EMidiKind::OtherSysEx, "SysEx manufacturer 0x41, other model or command (62 bytes)", false},
        {{0xF0, 0x43, 0x10, 0x4C, 0x00, 0xF7}, EMidiKind::OtherSysEx, "SysEx manufacturer 0x43 (6 bytes)", false},
        {{0xF0, 0x00, 0x20, 0x33, 0x01, 0xF7}, EMidiKind::OtherSysEx, "SysEx manufacturer 00 20 33 (6 bytes)", false},
        {{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, EMidiKind::OtherSysEx,
         "SysEx universal non-real-time, device 0x7F, sub-ID 06 01 (6 bytes)", false},
        {{0xF8}, EMidiKind::RealTime, "clock", false},
        {{0xFE}, EMidiKind::RealTime, "active sensing", false},
        {{0xFA}, EMidiKind::RealTime, "start", false},
        {{0x90, 0x3C, 0x64}, EMidiKind::Channel, "note on, channel 1, note 60 (C4), velocity 100", false},
        {{0x8F, 0x15, 0x00}, EMidiKind::Channel, "note off, channel 16, note 21 (A0), velocity 0", false},
        {{0xB2, 0x07, 0x7F}, EMidiKind::Channel, "control change, channel 3, controller 7, value 127", false},
        {{0xC5, 0x07}, EMidiKind::Channel, "program change, channel 6, program 7", false},
        {{0xE0, 0x00, 0x40}, EMidiKind::Channel, "pitch bend, channel 1, value 0", false},
        {{0x90, 0x3C}, EMidiKind::Channel, "channel message 0x90 cut short (2 bytes)", false},
        {{0xF1, 0x25}, EMidiKind::SystemCommon, "MTC quarter frame, piece 2, value 5", false},
        {{0xF2, 0x01, 0x01}, EMidiKind::SystemCommon, "song position 129", false},
        {{0x3C}, EMidiKind::Invalid, "data bytes without a status", false},
    };
    for (const CCase& c : cases) {
        qz::CMidiDescription d = qz::DescribeMidi(c.msg.data(), c.msg.size());
        EXPECT_EQ(d.strText, c.pszText) << qz::HexBytes(c.msg.data(), c.msg.size());
        EXPECT_EQ(d.eKind, c.eKind) << c.pszText;
        EXPECT_EQ(d.bLinkPoll, c.bPoll) << c.pszText;
    }
    EXPECT_EQ(qz::DescribeMidi(nullptr, 0).eKind, EMidiKind::Invalid);
}

TEST(MidiDescription, HexIsUpperCaseAndSpaced) {
    const uint8_t b[] = {0xF0, 0x0A, 0x7F, 0xF7};
    EXPECT_EQ(qz::HexBytes(b, 4), "F0 0A 7F F7");
    EXPECT_EQ(qz::HexBytes(b, 0), "");
}

}  // namespace
