#pragma once
// The device image in words: the settings under the window's captions, the timecode
// settings under the timecode dialog's labels, and the status texts of the window.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "protocol/wire/DeviceBlocks.h"

class CDeviceImage;

// A copy of the image, each block copied whole under the block lock.
struct CImageSnapshot {
    uint8_t m_system[qz::kSystemSize] = {};
    uint8_t m_timecode[qz::kTimecodeSize] = {};
    uint8_t m_preset[qz::kPresetCount][qz::kPresetSize] = {};
    uint8_t m_status[qz::kStatusSize] = {};
    uint8_t m_version[qz::kVersionSize] = {};
    uint8_t m_productID[24] = {};
    bool m_bVersionRcvd = false;
    bool m_bProductIDRcvd = false;
    int m_nControlMode = -1;  // -1: none received
};

namespace qz {
CImageSnapshot TakeSnapshot(const CDeviceImage& image);
}  // namespace qz

using CLabelledLines = std::vector<std::pair<std::string, std::string>>;

namespace qz {
// The system block under the captions of the main window's controls.
CLabelledLines SystemSettingsText(const uint8_t* pSystem, const uint8_t (*pPresets)[qz::kPresetSize]);
// The timecode block under the timecode dialog's labels.
CLabelledLines TimecodeSettingsText(const uint8_t* pTimecode);
}  // namespace qz

// The four status fields of the main window.
struct CStatusTexts {
    std::string m_strTimecode, m_strVideoFormat, m_strPower, m_strIEEE1394;
};
namespace qz {
CStatusTexts StatusTexts(const uint8_t* pStatus);
}  // namespace qz
