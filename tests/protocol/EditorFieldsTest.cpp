// The editors' field tables and packing rules, without a dialog.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "protocol/PresetBlock.h"
#include "protocol/PresetFields.h"
#include "protocol/TimecodeBlock.h"

using namespace qz;

namespace {

using Preset = uint8_t[kPresetSize];
using Timecode = uint8_t[kTimecodeSize];

TEST(EditorFields, HexFieldsReadLikeTheDevicePanel) {
    const struct {
        const char* text;
        uint32_t value;
    } cases[] = {
        {"1A2B3", 0x1A2B3},        {"xyz", 0},
        {" 0x1F", 0x1F},           {"\t-0X10", 0xFFFFFFF0},
        {"+ff zz", 0xFF},          {"a2b3", 0xA2B3},
        {"-1", 0xFFFFFFFF},        {"123456789", 0xFFFFFFFF},
        {"-123456789", 0xFFFFFFFF}, {"0xg", 0},
        {"- 1", 0},                {"", 0},
        {"000000000000001", 1},    {"0x", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(ReadHexNumber(c.text), c.value) << '"' << c.text << '"';

    Preset p = {};
    SavePresetHex(kHexPmt, "1A2B3", p);
    EXPECT_EQ(FormatHex16(PresetHexValue(kHexPmt, p)), "a2b3");
    SavePresetHex(kHexProgramRx, " 0x1F", p);
    EXPECT_EQ(FormatHex16(PresetHexValue(kHexProgramRx, p)), "001f");
    EXPECT_EQ(PresetHexValue(kHexPmt, p), 0xA2B3);  // its neighbour stayed
}

TEST(EditorFields, PresetListsTruncateShownValuesAndKeepUnshownOnes) {
    Preset p = {};
    Write16(p, kPresetHdBitRate, 85);
    const int hd = PresetListIndex(kListHdBitRate, p, PresetListItemCount(kListHdBitRate, false));
    EXPECT_EQ(ItemText(kPresetLists[kListHdBitRate].items, hd), "8");
    SavePresetList(kListHdBitRate, hd, p);
    EXPECT_EQ(Read16(p, kPresetHdBitRate), 80);

    Write8(p, kPresetGopSize, 16);
    const int gop = PresetListIndex(kListGopSize, p, 30);
    EXPECT_EQ(ItemText(kPresetLists[kListGopSize].items, gop), "16");
    SavePresetList(kListGopSize, gop, p);
    EXPECT_EQ(Read8(p, kPresetGopSize), 16);

    // Values no item shows: below the first rate, past the last GOP, LowLatency not offered.
    Write16(p, kPresetHdBitRate, 75);
    Write8(p, kPresetGopSize, 31);
    Write8(p, kPresetCodec, kCodecLowLatency);
    Preset before;
    std::memcpy(before, p, sizeof p);
    for (EPresetList e : {kListHdBitRate, kListGopSize, kListCodec}) {
        const int i = PresetListIndex(e, p, PresetListItemCount(e, false));
        EXPECT_EQ(i, kNoSelection) << kPresetLists[e].pszLabel;
        SavePresetList(e, i, p);
    }
    EXPECT_EQ(0, std::memcmp(before, p, sizeof p));
    EXPECT_EQ(PresetListIndex(kListCodec, p, PresetListItemCount(kListCodec, true)), 2);
}

TEST(EditorFields, EveryPresetItemSurvivesSaveAndLoadAndTouchesOnlyItsField) {
    for (int e = 0; e < kPresetListCount; ++e) {
        const CPresetList& f = kPresetLists[e];
        for (int i = 0; i < f.items.nCount; ++i) {
            Preset p;
            std::memset(p, 0x05, sizeof p);
            SavePresetList(EPresetList(e), i, p);
            EXPECT_EQ(PresetListIndex(EPresetList(e), p, f.items.nCount), i) << f.pszLabel << " " << i;
            for (int k = 0; k < kPresetSize; ++k) {
                if (k >= f.nOffset && k < f.nOffset + f.nBytes) continue;
                EXPECT_EQ(p[k], 0x05) << f.pszLabel << " byte " << k;
            }
        }
    }
}

TEST(EditorFields, TimecodePackingOfPresetUserBitsAndLines) {
    Timecode t = {};
    CTimecodeControls c;
    c.nList[kTcPresetHour] = 23;
    c.nList[kTcPresetMin] = 59;
    c.nList[kTcPresetSec] = 59;
    c.nList[kTcPresetFrame] = 29;
    for (int k = kTcS6; k <= kTcS1; ++k) c.bCheck[k] = true;
    for (int k = 0; k < 8; ++k) c.nList[kTcBG8 + k] = k + 1;  // BG8 … BG1 = 1 … 8
    c.nList[kTcDvitc1Line480] = FindItem(kTimecodeLists[kTcDvitc1Line480].items, "14(277)");
    c.nList[kTcDvitc2Line576] = FindItem(kTimecodeLists[kTcDvitc2Line576].items, "22(335)");
    SaveTimecodeControls(c, t);
    const uint8_t preset[] = {0x0E, 0x09, 0x0D, 0x09, 0x0D, 0x09, 0x0E, 0x03};
    const uint8_t bits[] = {7, 8, 5, 6, 3, 4, 1, 2};
    EXPECT_TRUE(std::equal(preset, preset + 8, t));
    EXPECT_TRUE(std::equal(bits, bits + 8, t + 8));
    EXPECT_EQ(t[36], 0x00);
    EXPECT_EQ(t[37], 0x0E);
    EXPECT_EQ(t[42], 0x01);
    EXPECT_EQ(t[43], 0x06);

    const CTimecodeControls back = LoadTimecodeControls(t);
    EXPECT_TRUE(std::equal(back.nList, back.nList + kTimecodeListCount, c.nList));
    EXPECT_TRUE(std::equal(back.bCheck, back.bCheck + kTimecodeCheckCount, c.bCheck));
    EXPECT_EQ(ItemText(kTimecodeLists[kTcDvitc1Line576].items, 0), " 6(319)");
}

TEST(EditorFields, TimecodeSaveKeepsUnshownValuesAndUninterpretedBytes) {
    Timecode t;
    for (int k = 0; k < kTimecodeSize; ++k) t[k] = static_cast<uint8_t>(0x10 + k);
    t[0] = 0x03, t[1] = 0x05;    // frame 35, no flags
    t[36] = 0x01, t[37] = 0x09;  // 480i line 25
    t[40] = 0x00, t[41] = 0x05;  // 576i line 5
    t[27] = 0x07;                // no such generate mode
    t[33] = 0x03;                // generate: bit 0 counts
    Timecode before;
    std::memcpy(before, t, sizeof t);
    CTimecodeControls c = LoadTimecodeControls(t);
    for (int e : {kTcPresetFrame, kTcDvitc1Line480, kTcDvitc1Line576, kTcGenerate})
        EXPECT_EQ(c.nList[e], kNoSelection) << kTimecodeLists[e].pszLabel;
    EXPECT_TRUE(c.bCheck[kTcDvitc1Generate]);
    c.bCheck[kTcS1] = true;  // the flag beside the unshown frame count is still saved
    SaveTimecodeControls(c, t);
    EXPECT_EQ(t[0], 0x07);
    EXPECT_EQ(t[1], 0x05);
    EXPECT_EQ(t[33], 0x01);
    for (int k : {36, 37, 40, 41, 27}) EXPECT_EQ(t[k], before[k]) << k;
    for (int k : kTimecodeUninterpreted) EXPECT_EQ(t[k], before[k]) << k;
}

TEST(EditorFields, EveryTimecodeItemSurvivesSaveAndLoad) {
    for (int e = 0; e < kTimecodeListCount; ++e) {
        const CTimecodeList& f = kTimecodeLists[e];
        for (int i = 0; i < f.items.nCount; ++i) {
            Timecode t = {};
            CTimecodeControls c = LoadTimecodeControls(t);
            c.nList[e] = i;
            SaveTimecodeControls(c, t);
            const CTimecodeControls back = LoadTimecodeControls(t);
            EXPECT_EQ(back.nList[e], i) << f.pszGroup << " " << f.pszLabel;
            for (int o = 0; o < kTimecodeListCount; ++o) {
                if (o == e) continue;
                EXPECT_EQ(back.nList[o], c.nList[o]) << f.pszLabel << " moved " << kTimecodeLists[o].pszLabel;
            }
            EXPECT_TRUE(std::none_of(back.bCheck, back.bCheck + kTimecodeCheckCount, [](bool b) { return b; }));
        }
    }
}

}  // namespace
