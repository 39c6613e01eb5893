#pragma once
// Building the device's RQ1 and DT1 frames, and reading a received one. Pure functions:
// no port, no allocation.
#include <cstddef>
#include <cstdint>

#include "protocol/wire/DeviceBlocks.h"

namespace qz {

// (-sum) & 0x7F over the given bytes.
uint8_t FrameChecksum(const uint8_t* pBytes, size_t nCount);

// Flat device offset -> packed 7-bit address (a2 = bits 14-20, a1 = 7-13, a0 = 0-6).
uint32_t PackAddress7(uint32_t c);

// Address of preset n (0..7; other values are clamped to that range).
uint32_t PresetAddress(int n);

// Writes the 15-byte RQ1 frame into out; returns 15.
size_t BuildRQ1(uint8_t (&out)[kRQ1Length], uint8_t byDeviceID, uint32_t dwAddress, uint32_t dwSize);

// Writes the 12 + n byte DT1 frame into out (capacity nOutSize); returns its length,
// or 0 when n exceeds kMaxDT1Data or the frame does not fit.
size_t BuildDT1(uint8_t* pOut, size_t nOutSize, uint8_t byDeviceID, uint32_t dwAddress, const uint8_t* pData,
                size_t n);

// A received frame read by the device's layout: F0, manufacturer, device ID, the three
// model bytes, command, three address bytes, data, checksum, F7. Nothing is accepted or
// refused here: each receiver decides which bytes it examines.
struct CFrameFields {
    uint8_t byManufacturer = 0;
    uint8_t byDevice = 0;
    uint8_t abyModel[3] = {};
    uint8_t byCommand = 0;
    uint32_t dwAddress = 0;
    const uint8_t* pData = nullptr;  // from byte 10 up to the checksum
    size_t nData = 0;
    bool bChecksumGood = false;  // the byte before F7, against the address and the data
};

// False when the message is shorter than a frame without data (kDT1Overhead bytes).
bool ReadFrame(const uint8_t* pMsg, size_t nLength, CFrameFields& frame);
// The model bytes are this device's (00 00 3F).
bool IsDeviceModel(const CFrameFields& frame);
// An RQ1's requested size: its three data bytes (0 when it has not three).
uint32_t RequestedSize(const CFrameFields& frame);

// The three fixed command frames, sent exactly as stored.
extern const uint8_t kFactoryResetFrame[13];
extern const uint8_t kWriteFlashFrame[13];
extern const uint8_t kUpdateModeFrame[13];

}  // namespace qz
