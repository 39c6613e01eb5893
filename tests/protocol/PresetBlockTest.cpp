#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <cstdint>

#include "protocol/wire/DeviceBlocks.h"
#include "protocol/fields/PresetBlock.h"

using namespace qz;

namespace {

using Block = std::array<uint8_t, kPresetSize>;

// An MPEG-2 preset with distinct values, so a misplaced field shows.
Block Mpeg2Preset(int nHd, int nSd, int nGop, int nHSize, int nCodec = kCodecMpeg2) {
    Block b{};
    Write16(b.data(), kPresetHdBitRate, nHd);
    Write16(b.data(), kPresetSdBitRate, nSd);
    Write8(b.data(), kPresetCodec, nCodec);
    Write8(b.data(), kPresetGopSize, nGop);
    Write8(b.data(), kPresetHorizontalSize, nHSize);
    return b;
}

}  // namespace

TEST(PresetBlock, NibbleFieldsReadLowBitsBigEndian) {
    const uint8_t raw[] = {0x01, 0x05, 0x0E, 0x03, 0x3A, 0x7F, 0x4C, 0x70};
    EXPECT_EQ(Read8(raw, 0), 0x15);
    EXPECT_EQ(Read16(raw, 0), 0x15E3);
    EXPECT_EQ(Read8(raw, 4), 0xAF);  // 0x3A reads as 0x0A, 0x7F as 0x0F
    EXPECT_EQ(Read16(raw, 4), 0xAFC0);
    EXPECT_EQ(Read8(raw, 1), 0x5E);  // fields are read wherever they start
}

TEST(PresetBlock, WritesKeepUpperBitsClearAndRoundTrip) {
    for (int v : {0, 1, 0x0F, 0x10, 0x80, 0x1234, 0xFFFF}) {
        uint8_t b[4] = {0x70, 0x70, 0x70, 0x70};
        Write16(b, 0, v);
        for (uint8_t by : b) EXPECT_EQ(by & 0xF0, 0) << v;
        EXPECT_EQ(Read16(b, 0), v);
    }
    uint8_t b[6] = {0x55, 0x55, 0x55, 0x55, 0x55, 0x55};
    Write16(b, 1, 0x1ABCD);  // only the low 16 bits are stored
    EXPECT_EQ(b[0], 0x55);
    EXPECT_EQ(b[5], 0x55);
    EXPECT_EQ(Read16(b, 1), 0xABCD);
    Write8(b, 0, 0x1C3);
    EXPECT_EQ(b[0], 0x0C);
    EXPECT_EQ(b[1], 0x03);
    EXPECT_EQ(b[2], 0x0B);  // neighbour untouched
}

TEST(PresetBlock, SummaryOfHdvDvNamesTheRxType) {
    Block b{};
    const char* const names[] = {"HDV1080", "MPEG-2", "DV", "-", "-"};
    for (int nRx = 0; nRx < 5; ++nRx) {
        Write8(b.data(), kPresetRxType, nRx == 4 ? 5 : nRx);
        EXPECT_EQ(PresetSummaryLine(6, b.data()), std::string("6: HDV/DV  (IEEE1394 = ") + names[nRx] + ")");
    }
    // Upper bits of the codec and Rx bytes do not count.
    b[kPresetCodec] = 0x40;
    b[kPresetCodec + 1] = 0x30;
    b[kPresetRxType] = 0x70;
    b[kPresetRxType + 1] = 0x72;
    EXPECT_EQ(PresetSummaryLine(0, b.data()), "0: HDV/DV  (IEEE1394 = DV)");
}

TEST(PresetBlock, SummaryOfMpeg2Forms) {
    // Preset 3: codec 1, HD 350, SD 80, GOP 15, horizontal size 0.
    // Built from raw bytes so that the line does not rest on the writers.
    Block worked{};
    const uint8_t rates[] = {0x00, 0x01, 0x05, 0x0E, 0x00, 0x00, 0x05, 0x00};  // 0x015E, 0x0050
    std::copy(std::begin(rates), std::end(rates), worked.begin());
    worked[33] = 0x01;  // codec
    worked[37] = 0x0F;  // GOP
    EXPECT_EQ(PresetSummaryLine(3, worked.data()), "3: MPEG-2  35M/8Mbps  GOP15/H1440(1080i)");

    EXPECT_EQ(PresetSummaryLine(0, Mpeg2Preset(80, 20, 1, 1).data()), "0: MPEG-2   8M/2Mbps  I-Only/H1920(1080i)");
    EXPECT_EQ(PresetSummaryLine(1, Mpeg2Preset(85, 159, 0, 0).data()), "1: MPEG-2   8M/15Mbps  GOP0/H1440(1080i)");
    EXPECT_EQ(PresetSummaryLine(2, Mpeg2Preset(500, 150, 16, 2).data()),
              "2: MPEG-2  50M/15Mbps  GOP16/H1920(1080i)");
    // Low latency replaces the GOP text whatever the GOP size.
    EXPECT_EQ(PresetSummaryLine(4, Mpeg2Preset(250, 60, 1, 0, kCodecLowLatency).data()),
              "4: MPEG-2  25M/6Mbps  LowLatency/H1440(1080i)");
    // A codec the editor does not offer still reads as MPEG-2 with its GOP.
    EXPECT_EQ(PresetSummaryLine(7, Mpeg2Preset(120, 40, 30, 0, 7).data()), "7: MPEG-2  12M/4Mbps  GOP30/H1440(1080i)");
    // The widest rates a block can hold widen the line rather than cut it.
    EXPECT_EQ(PresetSummaryLine(5, Mpeg2Preset(0xFFFF, 0xFFFF, 255, 0).data()),
              "5: MPEG-2  6553M/6553Mbps  GOP255/H1440(1080i)");
}

TEST(PresetBlock, ClearedLines) {
    EXPECT_EQ(ClearedPresetLine(0), "0: -");
    EXPECT_EQ(ClearedPresetLine(7), "7: -");
}
