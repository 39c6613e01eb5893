#pragma once
// The preset block: nibble-encoded fields, their offsets, and the one-line summary
// that the main window shows for each preset.
#include <cstdint>
#include <string>

namespace qz {

// Field offsets in a 50-byte preset block. Every byte carries one nibble in its low
// four bits; 16-bit fields take four bytes, 8-bit fields two, most significant first.
constexpr int kPresetHdBitRate = 0;        // 16-bit, tenths of Mbit/s
constexpr int kPresetSdBitRate = 4;        // 16-bit, tenths of Mbit/s
constexpr int kPresetPmtPid = 8;           // 16-bit
constexpr int kPresetPcrPid = 12;          // 16-bit
constexpr int kPresetVideoPid = 16;        // 16-bit
constexpr int kPresetAudioPid = 20;        // 16-bit
constexpr int kPresetProgramTx = 24;       // 16-bit
constexpr int kPresetProgramRx = 28;       // 16-bit, 0 = automatic
constexpr int kPresetCodec = 32;           // 8-bit, see kCodec*
constexpr int kPresetHorizontalSize = 34;  // 8-bit, 0 = 1440, 1 = 1920
constexpr int kPresetGopSize = 36;         // 8-bit, frames
constexpr int kPresetBPictures = 38;       // 8-bit, 0..2
constexpr int kPresetClosedGop = 40;       // 8-bit, 0 = open, 1 = closed
constexpr int kPresetAudioBitRate = 42;    // 8-bit, 0/1/2 = 128/256/384 kbit/s
constexpr int kPresetReserved = 44;        // 2 bytes carried through untouched
constexpr int kPresetRxType = 46;          // 8-bit, 0 = HDV1080, 1 = MPEG-2/HDV720, 2 = DV
constexpr int kPresetLowPass = 48;         // 8-bit, 0 = off .. 7 = maximum

constexpr int kCodecHdvDv = 0;
constexpr int kCodecMpeg2 = 1;
constexpr int kCodecLowLatency = 2;

// Two bytes at nOffset: (b[k] & 0x0F) * 16 + (b[k+1] & 0x0F). Upper bits are ignored.
int Read8(const uint8_t* pBlock, int nOffset);
// Four bytes at nOffset as a 16-bit value, most significant nibble first.
int Read16(const uint8_t* pBlock, int nOffset);
// Store the low 8 / 16 bits of nValue as nibbles with the upper bits of each byte 0.
void Write8(uint8_t* pBlock, int nOffset, int nValue);
void Write16(uint8_t* pBlock, int nOffset, int nValue);

// The summary line of preset i built from its 50-byte block.
std::string PresetSummaryLine(int i, const uint8_t* pBlock);
// The line shown before preset i has been received: "i: -".
std::string ClearedPresetLine(int i);

}  // namespace qz
