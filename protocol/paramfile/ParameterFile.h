#pragma once
// The parameter file's content: the system, timecode and eight preset blocks under their
// sections and keys, each block in the profile structure encoding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/wire/DeviceBlocks.h"

class CProfileText;

namespace qz {

// A parameter file is a few kilobytes; one over this is not read (and not updated).
constexpr size_t kMaxParameterFileBytes = 1024 * 1024;
// Sizes and the count are read like a 32-character buffer would read them.
constexpr size_t kParameterNumberBuffer = 32;

// The blocks of a parameter file, each with whether the file gave a usable value.
struct CParameterSet {
    bool m_bSystem = false;
    bool m_bTimecode = false;
    bool m_bPreset[kPresetCount] = {};
    // The preset section's size and count were right, whether or not each preset's value
    // was: the low-latency rule then covers all eight presets.
    bool m_bPresetSection = false;
    uint8_t m_system[kSystemSize] = {};
    uint8_t m_timecode[kTimecodeSize] = {};
    uint8_t m_preset[kPresetCount][kPresetSize] = {};
};

// Takes a block only when its size (and, for the presets, the count 8) is right and its
// value has exactly the block's digits, a matching checksum and no byte above 0x7F (a
// byte with the top bit set would end the System Exclusive frame that carries it). Any
// other block stays unset. Nothing is required.
CParameterSet ReadParameterSet(const CProfileText& file);

// Writes the keys of an export, in their order, into file. firmware is the version text
// and tool the program's version; both are written as given, less line breaks.
void WriteParameterSet(CProfileText& file, const CParameterSet& set, const std::string& strFirmware,
                       const std::string& strTool);

// The version block as the "firmware" text: its bytes up to the first zero, with control
// characters (which could break the line) shown as '?'.
std::string FirmwareText(const uint8_t (&version)[kVersionSize]);

// While the device cannot do low latency, a file with a preset section turns every
// LowLatency preset (byte 33 above 1) into an MPEG-2 one (byte 33 = 1): each preset the
// set holds, so an import lowers the image's copy of a preset whose file value was
// rejected as well. A set without a preset section is left as it is.
void LowerLowLatency(CParameterSet& set);

}  // namespace qz
