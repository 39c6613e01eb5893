#include "protocol/fields/PresetFields.h"

#include <cstdio>

#include "protocol/fields/PresetBlock.h"

namespace qz {

namespace {

const char* const kCodecWords[] = {"HDV/DV", "MPEG-2", "LowLatency"};
const char* const kRxTypeWords[] = {"HDV1080", "MPEG-2/HDV720", "DV"};
const char* const kClosedGopWords[] = {"OpenGOP", "ClosedGOP"};
const char* const kHSizeWords[] = {"1440", "1920"};
const char* const kAudioWords[] = {"128Kbps", "256kbps", "384kbps"};
const char* const kLowPassWords[] = {"Off", "1", "2", "3", "4", "5", "6", "Max"};

constexpr CItemList Words(const char* const* ppWords, int nCount) {
    return {.eStyle = EItemStyle::Words, .nCount = nCount, .ppWords = ppWords};
}
constexpr CItemList Numbers(int nFirst, int nLast) {
    return {.eStyle = EItemStyle::Decimal, .nCount = nLast - nFirst + 1, .nFirst = nFirst};
}

int ReadField(const CPresetList& f, const uint8_t* pBlock) {
    return f.nBytes == 4 ? Read16(pBlock, f.nOffset) : Read8(pBlock, f.nOffset);
}

}  // namespace

const CPresetList kPresetLists[kPresetListCount] = {
    {"", "Codec Type", "", kPresetCodec, 2, 1, 0, Words(kCodecWords, 3), "codec"},
    {"", "IEEE1394 Rx Type", "", kPresetRxType, 2, 1, 0, Words(kRxTypeWords, 3), "rx-type"},
    {"MPEG-2 Bit Rate", "HD", "Mbps", kPresetHdBitRate, 4, 10, 80, Numbers(8, 50), "hd-rate"},
    {"MPEG-2 Bit Rate", "SD", "Mbps", kPresetSdBitRate, 4, 10, 20, Numbers(2, 15), "sd-rate"},
    {"", "GOP Size", "", kPresetGopSize, 2, 1, 1, Numbers(1, 30), "gop"},
    {"", "Num of B-Pict", "", kPresetBPictures, 2, 1, 0, Numbers(0, 2), "b-pict"},
    {"", "Closed GOP", "", kPresetClosedGop, 2, 1, 0, Words(kClosedGopWords, 2), "closed-gop"},
    {"", "1080i H Size", "", kPresetHorizontalSize, 2, 1, 0, Words(kHSizeWords, 2), "h-size"},
    {"", "Audio Bit Rate", "", kPresetAudioBitRate, 2, 1, 0, Words(kAudioWords, 3), "audio-rate"},
    {"", "MPEG-2 Video LPF", "", kPresetLowPass, 2, 1, 0, Words(kLowPassWords, 8), "lpf"},
};

const CPresetHexField kPresetHexFields[kPresetHexCount] = {
    {"MPEG-2 Packet ID (hex)", "PMT", "", kPresetPmtPid, "pmt"},
    {"MPEG-2 Packet ID (hex)", "PCR", "", kPresetPcrPid, "pcr"},
    {"MPEG-2 Packet ID (hex)", "Video", "", kPresetVideoPid, "video-pid"},
    {"MPEG-2 Packet ID (hex)", "Audio", "", kPresetAudioPid, "audio-pid"},
    {"MPEG-2 Program Number", "Tx", "hex", kPresetProgramTx, "program-tx"},
    {"MPEG-2 Program Number", "Rx", "hex (0000 = auto)", kPresetProgramRx, "program-rx"},
};

int PresetListItemCount(EPresetList eList, bool bLowLatencyAvail) {
    const int n = kPresetLists[eList].items.nCount;
    return eList == kListCodec && !bLowLatencyAvail ? n - 1 : n;
}

int PresetListIndex(EPresetList eList, const uint8_t (&block)[kPresetSize], int nItemCount) {
    const CPresetList& f = kPresetLists[eList];
    // Every base is a whole number of steps, so this truncates the value to an item.
    const int nIndex = ReadField(f, block) / f.nScale - f.nBase / f.nScale;
    return nIndex >= 0 && nIndex < nItemCount ? nIndex : kNoSelection;
}

void SavePresetList(EPresetList eList, int nIndex, uint8_t (&block)[kPresetSize]) {
    const CPresetList& f = kPresetLists[eList];
    if (nIndex < 0 || nIndex >= f.items.nCount) return;
    const int nValue = nIndex * f.nScale + f.nBase;
    if (f.nBytes == 4)
        Write16(block, f.nOffset, nValue);
    else
        Write8(block, f.nOffset, nValue);
}

uint32_t ReadHexNumber(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
    bool bNegative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) bNegative = s[i++] == '-';
    auto digit = [&](size_t k) -> int {
        if (k >= s.size()) return -1;
        const char c = s[k];
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    // "0x" counts as a prefix only when a digit follows; "0xg" reads as the number 0.
    if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X') && digit(i + 2) >= 0) i += 2;
    uint64_t nValue = 0;
    bool bOverflow = false;
    for (int d; (d = digit(i)) >= 0; ++i) {
        nValue = nValue * 16 + static_cast<uint64_t>(d);
        if (nValue > 0xFFFFFFFFu) {
            bOverflow = true;
            nValue = 0xFFFFFFFFu;  // keeps the loop from overflowing; the digits still end the number
        }
    }
    if (bOverflow) return 0xFFFFFFFFu;
    const auto n = static_cast<uint32_t>(nValue);
    return bNegative ? 0u - n : n;
}

std::string FormatHex16(int nValue) {
    char sz[8];
    std::snprintf(sz, sizeof sz, "%04x", nValue & 0xFFFF);
    return sz;
}

void SavePresetHex(EPresetHex eField, std::string_view strText, uint8_t (&block)[kPresetSize]) {
    Write16(block, kPresetHexFields[eField].nOffset, static_cast<int>(ReadHexNumber(strText) & 0xFFFF));
}

int PresetHexValue(EPresetHex eField, const uint8_t (&block)[kPresetSize]) {
    return Read16(block, kPresetHexFields[eField].nOffset);
}

bool PresetListEnabled(EPresetList eList, int nCodec) {
    switch (eList) {
        case kListCodec:
        case kListRxType: return true;
        case kListGopSize:
        case kListBPictures:
        case kListClosedGop: return nCodec == kCodecMpeg2;
        default: return nCodec != kCodecHdvDv;
    }
}

bool PresetHexEnabled(int nCodec) { return nCodec != kCodecHdvDv; }

std::string PresetName(int nPreset) { return "Preset " + std::to_string(nPreset); }

}  // namespace qz
