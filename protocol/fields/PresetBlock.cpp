#include "protocol/fields/PresetBlock.h"

#include <cstdio>

namespace qz {

int Read8(const uint8_t* pBlock, int nOffset) {
    return (pBlock[nOffset] & 0x0F) * 16 + (pBlock[nOffset + 1] & 0x0F);
}

int Read16(const uint8_t* pBlock, int nOffset) { return Read8(pBlock, nOffset) * 256 + Read8(pBlock, nOffset + 2); }

void Write8(uint8_t* pBlock, int nOffset, int nValue) {
    pBlock[nOffset] = static_cast<uint8_t>((nValue >> 4) & 0x0F);
    pBlock[nOffset + 1] = static_cast<uint8_t>(nValue & 0x0F);
}

void Write16(uint8_t* pBlock, int nOffset, int nValue) {
    Write8(pBlock, nOffset, nValue >> 8);
    Write8(pBlock, nOffset + 2, nValue);
}

namespace {
const char* RxTypeName(int nRxType) {
    switch (nRxType) {
        case 0: return "HDV1080";
        case 1: return "MPEG-2";  // the editor's "MPEG-2/HDV720", shortened for the line
        case 2: return "DV";
        default: return "-";
    }
}
}  // namespace

std::string PresetSummaryLine(int i, const uint8_t* pBlock) {
    // Large enough for any int index and any 16-bit rate; nothing can be cut off.
    char sz[96];
    const int nCodec = Read8(pBlock, kPresetCodec);
    if (nCodec == kCodecHdvDv) {
        std::snprintf(sz, sizeof sz, "%d: %s  (IEEE1394 = %s)", i, "HDV/DV",
                      RxTypeName(Read8(pBlock, kPresetRxType)));
        return sz;
    }
    // Any codec other than HDV/DV, even one the editor does not offer, reads as MPEG-2.
    char szGop[16];
    const int nGop = Read8(pBlock, kPresetGopSize);
    if (nCodec == kCodecLowLatency)
        std::snprintf(szGop, sizeof szGop, "LowLatency");
    else if (nGop == 1)
        std::snprintf(szGop, sizeof szGop, "I-Only");
    else
        std::snprintf(szGop, sizeof szGop, "GOP%d", nGop);
    std::snprintf(sz, sizeof sz, "%d: %s  %2dM/%dMbps  %s/H%d(1080i)", i, "MPEG-2",
                  Read16(pBlock, kPresetHdBitRate) / 10, Read16(pBlock, kPresetSdBitRate) / 10, szGop,
                  Read8(pBlock, kPresetHorizontalSize) != 0 ? 1920 : 1440);
    return sz;
}

std::string ClearedPresetLine(int i) { return std::to_string(i) + ": -"; }

}  // namespace qz
