// The editors' field tables and packing rules, without a dialog (the dialogs' tests
// check the documented examples end to end).
#include <gtest/gtest.h>

#include <cstring>

#include "protocol/fields/PresetFields.h"
#include "protocol/fields/TimecodeBlock.h"

using namespace qz;

TEST(EditorFields, HexFieldsReadLikeTheDevicePanel) {
    const struct {
        const char* text;
        uint32_t value;
    } cases[] = {
        {"1A2B3", 0x1A2B3}, {"xyz", 0},   {" 0x1F", 0x1F},           {"\t-0X10", 0xFFFFFFF0},
        {"+ff zz", 0xFF},   {"-1", ~0u},  {"123456789", ~0u},        {"-123456789", ~0u},
        {"0xg", 0},         {"- 1", 0},   {"000000000000001", 1},    {"", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(ReadHexNumber(c.text), c.value) << '"' << c.text << '"';
}

// A wrong offset, width or scale in a table row shows as an item that does not come back
// or as a neighbour that moved.
TEST(EditorFields, EveryPresetItemSurvivesSaveAndLoadAndTouchesOnlyItsField) {
    for (int e = 0; e < kPresetListCount; ++e) {
        const CPresetList& f = kPresetLists[e];
        for (int i = 0; i < f.items.nCount; ++i) {
            uint8_t p[kPresetSize];
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

TEST(EditorFields, EveryTimecodeItemSurvivesSaveAndLoadAndMovesNoOtherControl) {
    for (int e = 0; e < kTimecodeListCount; ++e) {
        const CTimecodeList& f = kTimecodeLists[e];
        for (int i = 0; i < f.items.nCount; ++i) {
            uint8_t t[kTimecodeSize] = {};
            CTimecodeControls c = LoadTimecodeControls(t);
            c.nList[e] = i;
            SaveTimecodeControls(c, t);
            const CTimecodeControls back = LoadTimecodeControls(t);
            for (int o = 0; o < kTimecodeListCount; ++o)
                EXPECT_EQ(back.nList[o], c.nList[o]) << f.pszGroup << " " << f.pszLabel << " " << i << ": list " << o;
            for (bool b : back.bCheck) EXPECT_FALSE(b) << f.pszLabel << " " << i;
        }
    }
}
