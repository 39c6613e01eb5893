#pragma once
// The preset editor's fields: its lists with their items and how each item is stored in
// the preset block, its six hexadecimal fields and their reading rule. The editor, the
// command line and the reports all read these tables.
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/wire/DeviceBlocks.h"
#include "protocol/fields/ItemList.h"

namespace qz {

enum EPresetList : int {
    kListCodec,
    kListRxType,
    kListHdBitRate,
    kListSdBitRate,
    kListGopSize,
    kListBPictures,
    kListClosedGop,
    kListHSize,
    kListAudioBitRate,
    kListLowPass,
    kPresetListCount
};

struct CPresetList {
    const char* pszGroup;  // the group box the list sits in, or ""
    const char* pszLabel;
    const char* pszUnit;   // the note behind the list, or ""
    int nOffset;           // first byte in the preset block
    int nBytes;            // 2 (an 8-bit field) or 4 (16-bit)
    int nScale;            // stored value = index * nScale + nBase
    int nBase;
    CItemList items;
    const char* pszName;  // the command line's name of the field
};
extern const CPresetList kPresetLists[kPresetListCount];

// The codec list offers its last item, "LowLatency", only while the device says so.
int PresetListItemCount(EPresetList eList, bool bLowLatencyAvail);

// The item that the stored value shows, or kNoSelection. A value between two items shows
// the lower one (a bit rate of 85 tenths shows "8").
int PresetListIndex(EPresetList eList, const uint8_t (&block)[kPresetSize], int nItemCount);
// Stores the value of item nIndex. kNoSelection leaves the field as it was, so a value
// that no item shows survives a save.
void SavePresetList(EPresetList eList, int nIndex, uint8_t (&block)[kPresetSize]);

enum EPresetHex : int { kHexPmt, kHexPcr, kHexVideo, kHexAudio, kHexProgramTx, kHexProgramRx, kPresetHexCount };

struct CPresetHexField {
    const char* pszGroup;
    const char* pszLabel;
    const char* pszNote;  // the note behind the field, or ""
    int nOffset;          // four bytes, a 16-bit value
    const char* pszName;  // the command line's name of the field
};
extern const CPresetHexField kPresetHexFields[kPresetHexCount];

// Reads text as the hexadecimal fields do: leading blanks skipped, an optional sign, an
// optional "0x"/"0X", then hexadecimal digits up to the first other character. No digits
// gives 0, a number beyond 32 bits 0xFFFFFFFF, and a minus sign negates modulo 2^32.
uint32_t ReadHexNumber(std::string_view strText);
// A field's stored value as it shows: four lower-case digits, "%04x".
std::string FormatHex16(int nValue);
// Stores the low 16 bits of the text's number into the field.
void SavePresetHex(EPresetHex eField, std::string_view strText, uint8_t (&block)[kPresetSize]);
int PresetHexValue(EPresetHex eField, const uint8_t (&block)[kPresetSize]);

// The editor enables a list or the hexadecimal fields only for the codecs that use them:
// with "HDV/DV" only the codec and Rx type lists; GOP size, B pictures and closed GOP
// only with "MPEG-2".
bool PresetListEnabled(EPresetList eList, int nCodec);
bool PresetHexEnabled(int nCodec);

// "Preset 0" … "Preset 7".
std::string PresetName(int nPreset);

}  // namespace qz

// One preset field to save: a list (its item index) or a hexadecimal field (its 16-bit value).
struct CPresetFieldChoice {
    bool bHex;
    int nField;  // qz::EPresetList or qz::EPresetHex
    int nValue;
};
