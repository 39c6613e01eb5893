#include "protocol/fields/TimecodeBlock.h"

#include "protocol/wire/BlockLayout.h"

namespace qz {

namespace {

const char* const kInputTypeWords[] = {"Auto", "SMPTE RP188 VITC", "SMPTE RP188 LTC", "SMPTE 266M"};
const char* const kDropFrameWords[] = {"Auto", "NonDrop", "Drop"};
const char* const kGenerateWords[] = {"Off", "Free Run", "Thru", "Offset"};
const char* const kUserbitGenerateWords[] = {"Off", "Preset", "Thru", "Recording Mark"};

constexpr CItemList kHours{.eStyle = EItemStyle::TwoDigits, .nCount = 24};
constexpr CItemList kSixty{.eStyle = EItemStyle::TwoDigits, .nCount = 60};
constexpr CItemList kFrames{.eStyle = EItemStyle::TwoDigits, .nCount = 30};
constexpr CItemList kNibbles{.eStyle = EItemStyle::HexDigit, .nCount = 16};
constexpr CItemList kLines480{.eStyle = EItemStyle::Line, .nCount = 11, .nFirst = 10, .nBracketOffset = 263};
constexpr CItemList kLines576{.eStyle = EItemStyle::Line, .nCount = 17, .nFirst = 6, .nBracketOffset = 313};

constexpr CItemList Words(const char* const* ppWords, int nCount) {
    return {.eStyle = EItemStyle::Words, .nCount = nCount, .ppWords = ppWords};
}

constexpr auto kBcd = ETimecodeEncoding::Bcd;
constexpr auto kNibble = ETimecodeEncoding::Nibble;
constexpr auto kLine = ETimecodeEncoding::Line;

int StoredValue(const CTimecodeList& f, const uint8_t* t) {
    switch (f.eEncoding) {
        case ETimecodeEncoding::Bcd: return (t[f.nOffset] & f.byTensMask) * 10 + (t[f.nOffset + 1] & 0x0F);
        case ETimecodeEncoding::Nibble: return t[f.nOffset] & 0x0F;
        case ETimecodeEncoding::Line: return (t[f.nOffset] & 0x0F) * 16 + (t[f.nOffset + 1] & 0x0F);
    }
    return 0;
}

}  // namespace

const CTimecodeList kTimecodeLists[kTimecodeListCount] = {
    {"Timecode Preset", "Hour", kBcd, kTcPresetAt + 6, kTensMask[3], 0, kHours},
    {"Timecode Preset", "Min", kBcd, kTcPresetAt + 4, kTensMask[2], 0, kSixty},
    {"Timecode Preset", "Sec", kBcd, kTcPresetAt + 2, kTensMask[1], 0, kSixty},
    {"Timecode Preset", "Frame", kBcd, kTcPresetAt, kTensMask[0], 0, kFrames},
    {"Userbit Preset", "BG8", kNibble, kTcUserBitsAt + 6, 0, 0, kNibbles},
    {"Userbit Preset", "BG7", kNibble, kTcUserBitsAt + 7, 0, 0, kNibbles},
    {"Userbit Preset", "BG6", kNibble, kTcUserBitsAt + 4, 0, 0, kNibbles},
    {"Userbit Preset", "BG5", kNibble, kTcUserBitsAt + 5, 0, 0, kNibbles},
    {"Userbit Preset", "BG4", kNibble, kTcUserBitsAt + 2, 0, 0, kNibbles},
    {"Userbit Preset", "BG3", kNibble, kTcUserBitsAt + 3, 0, 0, kNibbles},
    {"Userbit Preset", "BG2", kNibble, kTcUserBitsAt + 0, 0, 0, kNibbles},
    {"Userbit Preset", "BG1", kNibble, kTcUserBitsAt + 1, 0, 0, kNibbles},
    {"Timecode Offset", "Hour", kBcd, kTcOffsetAt + 6, kTensMask[3], 0, kHours},
    {"Timecode Offset", "Min", kBcd, kTcOffsetAt + 4, kTensMask[2], 0, kSixty},
    {"Timecode Offset", "Sec", kBcd, kTcOffsetAt + 2, kTensMask[1], 0, kSixty},
    {"Timecode Offset", "Frame", kBcd, kTcOffsetAt, kTensMask[0], 0, kFrames},
    {"SD-SDI DVITC #1", "480i Insert Postion", kLine, kTcDvitcLine480At, 0, 10, kLines480},
    {"SD-SDI DVITC #2", "480i Insert Postion", kLine, kTcDvitcLine480At + 2, 0, 10, kLines480},
    {"SD-SDI DVITC #1", "576i Insert Postion", kLine, kTcDvitcLine576At, 0, 6, kLines576},
    {"SD-SDI DVITC #2", "576i Insert Postion", kLine, kTcDvitcLine576At + 2, 0, 6, kLines576},
    {"", "SDI Input Timecode Type", kNibble, kTcInputTypeAt, 0, 0, Words(kInputTypeWords, 4)},
    {"", "Timecode Drop Frame", kNibble, kTcDropFrameAt, 0, 0, Words(kDropFrameWords, 3)},
    {"", "Timecode Generate", kNibble, kTcGenerateAt, 0, 0, Words(kGenerateWords, 4)},
    {"", "Userbit Generate", kNibble, kTcUserBitGenerateAt, 0, 0, Words(kUserbitGenerateWords, 4)},
};

const CTimecodeCheck kTimecodeChecks[kTimecodeCheckCount] = {
    {"Timecode Preset", "S6", kTcPresetAt + 6, 0x08, false},
    {"Timecode Preset", "S5", kTcPresetAt + 6, 0x04, false},
    {"Timecode Preset", "S4", kTcPresetAt + 4, 0x08, false},
    {"Timecode Preset", "S3", kTcPresetAt + 2, 0x08, false},
    {"Timecode Preset", "S2", kTcPresetAt, 0x08, false},
    {"Timecode Preset", "S1", kTcPresetAt, 0x04, false},
    {"SD-SDI DVITC #1", "Generate", kTcDvitcGenerateAt, 0x01, true},
    {"SD-SDI DVITC #2", "Generate", kTcDvitcGenerateAt + 2, 0x01, true},
};

CTimecodeControls LoadTimecodeControls(const uint8_t (&block)[kTimecodeSize]) {
    CTimecodeControls c;
    for (int i = 0; i < kTimecodeListCount; ++i) {
        const CTimecodeList& f = kTimecodeLists[i];
        const int nIndex = StoredValue(f, block) - f.nBase;
        c.nList[i] = nIndex >= 0 && nIndex < f.items.nCount ? nIndex : kNoSelection;
    }
    for (int i = 0; i < kTimecodeCheckCount; ++i)
        c.bCheck[i] = (block[kTimecodeChecks[i].nOffset] & kTimecodeChecks[i].byBit) != 0;
    return c;
}

void SaveTimecodeControls(const CTimecodeControls& c, uint8_t (&block)[kTimecodeSize]) {
    for (int i = 0; i < kTimecodeListCount; ++i) {
        const CTimecodeList& f = kTimecodeLists[i];
        const int nIndex = c.nList[i];
        if (nIndex < 0 || nIndex >= f.items.nCount) continue;  // shows nothing: the stored value stays
        const int v = nIndex + f.nBase;
        switch (f.eEncoding) {
            case ETimecodeEncoding::Bcd:
                // Clears the flag bits too; the flags are written below.
                block[f.nOffset] = static_cast<uint8_t>(v / 10);
                block[f.nOffset + 1] = static_cast<uint8_t>(v % 10);
                break;
            case ETimecodeEncoding::Nibble: block[f.nOffset] = static_cast<uint8_t>(v & 0x0F); break;
            case ETimecodeEncoding::Line:
                block[f.nOffset] = static_cast<uint8_t>((v >> 4) & 0x0F);
                block[f.nOffset + 1] = static_cast<uint8_t>(v & 0x0F);
                break;
        }
    }
    for (int i = 0; i < kTimecodeCheckCount; ++i) {
        const CTimecodeCheck& k = kTimecodeChecks[i];
        uint8_t& by = block[k.nOffset];
        if (k.bWholeByte)
            by = c.bCheck[i] ? 1 : 0;
        else
            by = static_cast<uint8_t>(c.bCheck[i] ? by | k.byBit : by & ~k.byBit);
    }
}

}  // namespace qz
