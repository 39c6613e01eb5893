#pragma once
// The timecode block (44 bytes): the timecode dialog's lists and check boxes, where each
// lives in the block, and the packing between the block and the controls' state. Times
// are decimal digits, one per byte (tens first), with flag bits above the tens digit.
#include <cstdint>

#include "protocol/wire/DeviceBlocks.h"
#include "protocol/fields/ItemList.h"

namespace qz {

enum ETimecodeList : int {
    kTcPresetHour,
    kTcPresetMin,
    kTcPresetSec,
    kTcPresetFrame,
    kTcBG8,  // user bits, left to right as the dialog shows them
    kTcBG7,
    kTcBG6,
    kTcBG5,
    kTcBG4,
    kTcBG3,
    kTcBG2,
    kTcBG1,
    kTcOffsetHour,
    kTcOffsetMin,
    kTcOffsetSec,
    kTcOffsetFrame,
    kTcDvitc1Line480,
    kTcDvitc2Line480,
    kTcDvitc1Line576,
    kTcDvitc2Line576,
    kTcInputType,
    kTcDropFrame,
    kTcGenerate,
    kTcUserbitGenerate,
    kTimecodeListCount
};

enum class ETimecodeEncoding {
    Bcd,     // tens digit at nOffset (masked with byTensMask), units at nOffset + 1
    Nibble,  // one byte, low four bits
    Line,    // an 8-bit line number over two bytes, high nibble first; index = line - nBase
};

struct CTimecodeList {
    const char* pszGroup;  // group box, with the column for the DVITC rows, or ""
    const char* pszLabel;
    ETimecodeEncoding eEncoding;
    int nOffset;
    uint8_t byTensMask;  // Bcd only
    int nBase;           // Line only
    CItemList items;
};
extern const CTimecodeList kTimecodeLists[kTimecodeListCount];

enum ETimecodeCheck : int {
    kTcS6,
    kTcS5,
    kTcS4,
    kTcS3,
    kTcS2,
    kTcS1,
    kTcDvitc1Generate,
    kTcDvitc2Generate,
    kTimecodeCheckCount
};

struct CTimecodeCheck {
    const char* pszGroup;
    const char* pszLabel;
    int nOffset;
    uint8_t byBit;     // the bit read (and, for a flag, written)
    bool bWholeByte;   // written as the whole byte 0 or 1, not as a bit of a shared byte
};
extern const CTimecodeCheck kTimecodeChecks[kTimecodeCheckCount];

// Bytes that no control reads or writes; they go back to the device as they came.
constexpr int kTimecodeUninterpreted[] = {24, 26, 28, 30, 32, 34};

// What the dialog's controls hold: one index per list (kNoSelection when the stored value
// matches no item) and one state per check box.
struct CTimecodeControls {
    int nList[kTimecodeListCount] = {};
    bool bCheck[kTimecodeCheckCount] = {};
};

CTimecodeControls LoadTimecodeControls(const uint8_t (&block)[kTimecodeSize]);
// Writes the controls into the block. A list with no selection leaves its bytes as they
// were, except the flag bits that share them, which are always saved. Uninterpreted
// bytes are never touched.
void SaveTimecodeControls(const CTimecodeControls& controls, uint8_t (&block)[kTimecodeSize]);

}  // namespace qz
