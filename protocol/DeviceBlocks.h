#pragma once
// Addresses (packed 7-bit, a2 in bits 16-22) and sizes of the device's memory blocks.
#include <cstdint>

namespace qz {

constexpr uint32_t kAddrVersion = 0x7F0000;
constexpr uint32_t kAddrProductID = 0x7F0100;
constexpr uint32_t kAddrControlMode = 0x7F0800;
constexpr uint32_t kAddrTest = 0x7F0900;  // written only (lamp and fan test)
constexpr uint32_t kAddrSystem = 0x000000;
constexpr uint32_t kAddrTimecode = 0x000100;
constexpr uint32_t kAddrPreset0 = 0x000200;
constexpr uint32_t kAddrStatus = 0x010000;
constexpr uint32_t kAddrFactoryReset = 0x7F7F00;
constexpr uint32_t kAddrWriteFlash = 0x7F7F01;
constexpr uint32_t kAddrUpdateMode = 0x7F7F02;

constexpr int kVersionSize = 8;
constexpr int kProductIDSize = 16;
constexpr int kControlModeSize = 1;
constexpr int kSystemSize = 28;
constexpr int kTimecodeSize = 44;
constexpr int kPresetSize = 50;
constexpr int kStatusSize = 58;
constexpr int kPresetCount = 8;

constexpr uint8_t kDefaultDeviceID = 0x7F;

// Frame layout: F0 41 id 00 00 3F cmd a2 a1 a0 ... sum F7.
constexpr uint8_t kManufacturerID = 0x41;
constexpr uint8_t kCmdRQ1 = 0x11;
constexpr uint8_t kCmdDT1 = 0x12;
constexpr int kRQ1Length = 15;
constexpr int kDT1Overhead = 12;       // a DT1 frame is 12 + n bytes
constexpr int kMaxDT1Data = 116;       // fits one 128-byte output slot
constexpr int kMaxReplyData = 58;      // the largest block the program reads

}  // namespace qz
