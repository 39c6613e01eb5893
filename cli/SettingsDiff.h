#pragma once
// The settings that differ between a parameter file and the device, in the words of the
// window (system block), the timecode dialog and the preset editor.
#include <string>
#include <vector>

#include "protocol/paramfile/ParameterFile.h"

struct CSettingChange {
    std::string m_strBlock;    // the block's name: "system", "timecode", "preset 3"
    std::string m_strGroup;    // "Preset 3" for preset fields and raw bytes, else empty
    std::string m_strSetting;  // "GOP Size", "Timecode Generate", or "byte 19" for a byte no control shows
    std::string m_strFile;     // the value in the file
    std::string m_strDevice;   // the value in the device

    // "Preset 3  GOP Size  15 -> 12": from the file's value to the device's.
    std::string Line() const;
};

namespace qz {
// Compares every block the file gives with the device's copy. A byte that differs
// without changing any control's words is named by its offset, so no difference that
// an import would undo goes unseen.
std::vector<CSettingChange> DiffSettings(const qz::CParameterSet& file, const qz::CParameterSet& device);
}  // namespace qz
