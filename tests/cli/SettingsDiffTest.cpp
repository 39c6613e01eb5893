#include <gtest/gtest.h>

#include "cli/SettingsDiff.h"
#include "protocol/wire/BlockLayout.h"
#include "protocol/fields/PresetBlock.h"

namespace {

qz::CParameterSet Everything() {
    qz::CParameterSet s;
    s.m_bSystem = s.m_bTimecode = true;
    for (bool& b : s.m_bPreset) b = true;
    for (auto& p : s.m_preset) {
        qz::Write8(p, qz::kPresetCodec, qz::kCodecMpeg2);
        qz::Write8(p, qz::kPresetGopSize, 15);
    }
    s.m_timecode[qz::kTcGenerateAt] = 1;  // Free Run
    return s;
}

std::vector<std::string> Lines(const qz::CParameterSet& file, const qz::CParameterSet& device) {
    std::vector<std::string> lines;
    for (auto& c : DiffSettings(file, device)) lines.push_back(c.Line());
    return lines;
}

TEST(SettingsDiff, NamesEachChangedSettingInTheDialogsWordsAndEveryOtherByte) {
    qz::CParameterSet file = Everything(), device = Everything();
    EXPECT_TRUE(Lines(file, device).empty());
    qz::Write8(device.m_preset[3], qz::kPresetGopSize, 12);
    device.m_timecode[qz::kTcGenerateAt] = 2;
    device.m_system[qz::kSysDirection] = 1;
    device.m_system[19] = 5;        // no control shows it
    device.m_preset[6][44] = 0x01;  // carried through, never interpreted
    file.m_system[qz::kSysFrameRate] = 2;  // "50Hz" either way, yet the bytes differ
    device.m_system[qz::kSysFrameRate] = 1;
    EXPECT_EQ(Lines(file, device),
              (std::vector<std::string>{"Direction  SDI -> IEEE1394 -> IEEE1394 -> SDI", "System  byte 19  00 -> 05",
                                        "System  byte 21  02 -> 01", "Timecode Generate  Free Run -> Thru",
                                        "Preset 3  GOP Size  15 -> 12", "Preset 6  byte 44  00 -> 01"}));
    // A block the file does not give is not compared: an import would not change it.
    file.m_bPreset[3] = false;
    file.m_bTimecode = false;
    EXPECT_EQ(Lines(file, device).size(), 4u);
}

}  // namespace
