#include "protocol/wire/DeviceFrames.h"

#include <cstring>

namespace qz {

const uint8_t kFactoryResetFrame[13] = {0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x12, 0x7F, 0x7F, 0x00, 0x55, 0x2D, 0xF7};
const uint8_t kWriteFlashFrame[13] = {0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x12, 0x7F, 0x7F, 0x01, 0x2A, 0x57, 0xF7};
const uint8_t kUpdateModeFrame[13] = {0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x12, 0x7F, 0x7F, 0x02, 0x55, 0x2B, 0xF7};

uint8_t FrameChecksum(const uint8_t* pBytes, size_t nCount) {
    uint8_t sum = 0;
    for (size_t i = 0; i < nCount; ++i) sum = static_cast<uint8_t>(sum + pBytes[i]);
    return static_cast<uint8_t>(-sum) & 0x7F;
}

uint32_t PackAddress7(uint32_t c) { return ((c & 0x1FC000) << 2) | ((c & 0x3F80) << 1) | (c & 0x7F); }

uint32_t PresetAddress(int n) { return BlockInfo(PresetBlock(n < 0 ? 0 : n >= kPresetCount ? kPresetCount - 1 : n)).dwAddress; }

bool ReadFrame(const uint8_t* pMsg, size_t nLength, CFrameFields& frame) {
    if (!pMsg || nLength < static_cast<size_t>(kDT1Overhead)) return false;
    frame.byManufacturer = pMsg[1];
    frame.byDevice = pMsg[2];
    std::memcpy(frame.abyModel, pMsg + 3, sizeof frame.abyModel);
    frame.byCommand = pMsg[6];
    frame.dwAddress = uint32_t{pMsg[7]} << 16 | uint32_t{pMsg[8]} << 8 | pMsg[9];
    frame.pData = pMsg + 10;
    frame.nData = nLength - kDT1Overhead;
    frame.bChecksumGood = FrameChecksum(pMsg + 7, 3 + frame.nData) == pMsg[nLength - 2];
    return true;
}

bool IsDeviceModel(const CFrameFields& frame) {
    return frame.abyModel[0] == 0x00 && frame.abyModel[1] == 0x00 && frame.abyModel[2] == 0x3F;
}

uint32_t RequestedSize(const CFrameFields& frame) {
    if (frame.nData != 3) return 0;
    return uint32_t{frame.pData[0]} << 16 | uint32_t{frame.pData[1]} << 8 | frame.pData[2];
}

namespace {
size_t PutHeader(uint8_t* p, uint8_t byDeviceID, uint8_t byCommand, uint32_t dwAddress) {
    p[0] = 0xF0;
    p[1] = kManufacturerID;
    p[2] = byDeviceID;
    p[3] = 0x00;
    p[4] = 0x00;
    p[5] = 0x3F;
    p[6] = byCommand;
    p[7] = static_cast<uint8_t>(dwAddress >> 16);
    p[8] = static_cast<uint8_t>(dwAddress >> 8);
    p[9] = static_cast<uint8_t>(dwAddress);
    return 10;
}
}  // namespace

size_t BuildRQ1(uint8_t (&out)[kRQ1Length], uint8_t byDeviceID, uint32_t dwAddress, uint32_t dwSize) {
    PutHeader(out, byDeviceID, kCmdRQ1, dwAddress);
    out[10] = static_cast<uint8_t>(dwSize >> 16);
    out[11] = static_cast<uint8_t>(dwSize >> 8);
    out[12] = static_cast<uint8_t>(dwSize);
    out[13] = FrameChecksum(out + 7, 6);
    out[14] = 0xF7;
    return kRQ1Length;
}

size_t BuildDT1(uint8_t* pOut, size_t nOutSize, uint8_t byDeviceID, uint32_t dwAddress, const uint8_t* pData,
                size_t n) {
    if (!pOut || n > static_cast<size_t>(kMaxDT1Data) || nOutSize < n + kDT1Overhead || (n && !pData)) return 0;
    PutHeader(pOut, byDeviceID, kCmdDT1, dwAddress);
    if (n) std::memcpy(pOut + 10, pData, n);
    pOut[10 + n] = FrameChecksum(pOut + 7, 3 + n);
    pOut[11 + n] = 0xF7;
    return n + kDT1Overhead;
}

}  // namespace qz
