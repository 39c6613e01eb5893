#pragma once
// Addresses (packed 7-bit, a2 in bits 16-22) and sizes of the device's memory blocks,
// and the one table of the blocks the program reads.
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
constexpr int kProductIDCopySize = 24;  // the image keeps 8 zero bytes behind the 16 received

constexpr uint8_t kDefaultDeviceID = 0x7F;

// Frame layout: F0 41 id 00 00 3F cmd a2 a1 a0 ... sum F7.
constexpr uint8_t kManufacturerID = 0x41;
constexpr uint8_t kCmdRQ1 = 0x11;
constexpr uint8_t kCmdDT1 = 0x12;
constexpr int kRQ1Length = 15;
constexpr int kDT1Overhead = 12;       // a DT1 frame is 12 + n bytes
constexpr int kMaxDT1Data = 116;       // fits one 128-byte output slot
constexpr int kMaxReplyData = 58;      // the largest block the program reads

// The readable blocks, in the order of the table below.
enum class EBlock : uint8_t {
    Version,
    ProductID,
    ControlMode,
    System,
    Timecode,
    Preset0,
    Preset1,
    Preset2,
    Preset3,
    Preset4,
    Preset5,
    Preset6,
    Preset7,
    Status,
};
constexpr int kBlockCount = 14;

struct CBlockInfo {
    EBlock eBlock;
    uint32_t dwAddress;
    int nSize;           // data bytes of the device's reply
    bool bRequestAll;    // part of the request-all sequence (in table order)
    const char* pszName; // as reports and the traffic log name it
};

// Every block the program reads. The request-all sequence is the rows marked so, in
// this order: version, product ID, system, timecode, presets 0-7, status.
constexpr CBlockInfo kBlocks[kBlockCount] = {
    {EBlock::Version, kAddrVersion, kVersionSize, true, "version"},
    {EBlock::ProductID, kAddrProductID, kProductIDSize, true, "product ID"},
    {EBlock::ControlMode, kAddrControlMode, kControlModeSize, false, "control mode"},
    {EBlock::System, kAddrSystem, kSystemSize, true, "system"},
    {EBlock::Timecode, kAddrTimecode, kTimecodeSize, true, "timecode"},
    {EBlock::Preset0, 0x000200, kPresetSize, true, "preset 0"},
    {EBlock::Preset1, 0x000240, kPresetSize, true, "preset 1"},
    {EBlock::Preset2, 0x000300, kPresetSize, true, "preset 2"},
    {EBlock::Preset3, 0x000340, kPresetSize, true, "preset 3"},
    {EBlock::Preset4, 0x000400, kPresetSize, true, "preset 4"},
    {EBlock::Preset5, 0x000440, kPresetSize, true, "preset 5"},
    {EBlock::Preset6, 0x000500, kPresetSize, true, "preset 6"},
    {EBlock::Preset7, 0x000540, kPresetSize, true, "preset 7"},
    {EBlock::Status, kAddrStatus, kStatusSize, true, "status"},
};

constexpr const CBlockInfo& BlockInfo(EBlock e) { return kBlocks[static_cast<int>(e)]; }
// The row of a block address, or null.
constexpr const CBlockInfo* FindBlockByAddress(uint32_t dwAddress) {
    for (const CBlockInfo& b : kBlocks)
        if (b.dwAddress == dwAddress) return &b;
    return nullptr;
}
// Preset n (0..7) as a block; callers check the range.
constexpr EBlock PresetBlock(int n) { return static_cast<EBlock>(static_cast<int>(EBlock::Preset0) + n); }
// The preset index of a preset block, else -1.
constexpr int PresetIndex(EBlock e) {
    int n = static_cast<int>(e) - static_cast<int>(EBlock::Preset0);
    return n >= 0 && n < kPresetCount ? n : -1;
}

}  // namespace qz
