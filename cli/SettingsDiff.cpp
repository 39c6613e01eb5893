#include "cli/SettingsDiff.h"

#include <cstdio>
#include <set>
#include <tuple>

#include "cli/DeviceReport.h"
#include "protocol/PresetBlock.h"

namespace {

using Offsets = std::vector<int>;

std::string Item(const std::vector<const char*>& items, int i) {
    return i >= 0 && i < static_cast<int>(items.size()) ? items[i] : "? (" + std::to_string(i) + ")";
}

std::string Hex4(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04x", v);
    return buf;
}

std::string Hex2(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", v);
    return buf;
}

Offsets Range(int nFirst, int nCount) {
    Offsets o;
    for (int i = 0; i < nCount; ++i) o.push_back(nFirst + i);
    return o;
}

// The bytes behind each line of the window's system settings and the timecode dialog's
// labels (cli/DeviceReport); the words themselves come from there.
const std::vector<std::pair<const char*, Offsets>> kSystemBytes = {
    {"Direction", {1}},           {"SDI Audio Channel", {3}},       {"Preset", {5}},
    {"Control Mode", {7}},        {"IEEE1394 Unit Type", {9}},      {"Default Frame Rate", {21}},
    {"IEEE1394 Sync Operation", {11}}, {"IEEE1394 Audio SRC", {13}}, {"IEEE1394 Format Fix", {23}},
    {"SDI Input Remote", {17}},   {"FAN", {15}}};
const std::vector<std::pair<const char*, Offsets>> kTimecodeBytes = {
    {"Timecode Preset", Range(0, 8)},
    {"Userbit Preset", Range(8, 8)},
    {"Timecode Offset", Range(16, 8)},
    {"SD-SDI DVITC #1", {33, 36, 37, 40, 41}},
    {"SD-SDI DVITC #2", {35, 38, 39, 42, 43}},
    {"SDI Input Timecode Type", {25}},
    {"Timecode Drop Frame", {31}},
    {"Timecode Generate", {27}},
    {"Userbit Generate", {29}}};

// A preset field under the preset editor's label, shown as the editor shows it.
struct CPresetField {
    const char* pszLabel;
    int nOffset;
    int nBytes;  // 2: 8-bit field, 4: 16-bit field
    std::string (*pfnText)(int value);
};

const std::vector<CPresetField>& PresetFields() {
    static const std::vector<CPresetField> fields = {
        {"Codec Type", qz::kPresetCodec, 2, [](int v) { return Item({"HDV/DV", "MPEG-2", "LowLatency"}, v); }},
        {"IEEE1394 Rx Type", qz::kPresetRxType, 2, [](int v) { return Item({"HDV1080", "MPEG-2/HDV720", "DV"}, v); }},
        {"MPEG-2 Bit Rate HD", qz::kPresetHdBitRate, 4, [](int v) { return std::to_string(v / 10) + " Mbps"; }},
        {"MPEG-2 Bit Rate SD", qz::kPresetSdBitRate, 4, [](int v) { return std::to_string(v / 10) + " Mbps"; }},
        {"MPEG-2 Program Number Tx", qz::kPresetProgramTx, 4, Hex4},
        {"MPEG-2 Program Number Rx", qz::kPresetProgramRx, 4, Hex4},
        {"GOP Size", qz::kPresetGopSize, 2, [](int v) { return std::to_string(v); }},
        {"Num of B-Pict", qz::kPresetBPictures, 2, [](int v) { return std::to_string(v); }},
        {"Closed GOP", qz::kPresetClosedGop, 2, [](int v) { return Item({"OpenGOP", "ClosedGOP"}, v); }},
        {"1080i H Size", qz::kPresetHorizontalSize, 2, [](int v) { return Item({"1440", "1920"}, v); }},
        {"Audio Bit Rate", qz::kPresetAudioBitRate, 2, [](int v) { return Item({"128Kbps", "256kbps", "384kbps"}, v); }},
        {"MPEG-2 Video LPF", qz::kPresetLowPass, 2,
         [](int v) { return Item({"Off", "1", "2", "3", "4", "5", "6", "Max"}, v); }},
        {"MPEG-2 Packet ID PMT", qz::kPresetPmtPid, 4, Hex4},
        {"MPEG-2 Packet ID PCR", qz::kPresetPcrPid, 4, Hex4},
        {"MPEG-2 Packet ID Video", qz::kPresetVideoPid, 4, Hex4},
        {"MPEG-2 Packet ID Audio", qz::kPresetAudioPid, 4, Hex4},
    };
    return fields;
}

std::string LabelledValue(const CLabelledLines& lines, const char* pszLabel) {
    for (auto& [label, value] : lines)
        if (label == pszLabel) return value;
    return {};
}

class CDiff {
public:
    std::vector<CSettingChange> m_changes;

    // Worded lines first; then every differing byte that no worded line explained.
    void Block(const std::string& strBlock, const std::string& strGroup, const uint8_t* f, const uint8_t* d, int n,
               const std::vector<std::tuple<std::string, Offsets, std::string, std::string>>& settings) {
        std::set<int> explained;
        for (auto& [setting, offsets, fileText, deviceText] : settings) {
            if (fileText == deviceText) continue;
            m_changes.push_back({strBlock, strGroup, setting, fileText, deviceText});
            explained.insert(offsets.begin(), offsets.end());
        }
        std::string group = strGroup.empty() ? Capitalised(strBlock) : strGroup;
        for (int i = 0; i < n; ++i)
            if (f[i] != d[i] && !explained.count(i))
                m_changes.push_back({strBlock, group, "byte " + std::to_string(i), Hex2(f[i]), Hex2(d[i])});
    }

private:
    static std::string Capitalised(std::string s) {
        if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
        return s;
    }
};

}  // namespace

std::string CSettingChange::Line() const {
    return (m_strGroup.empty() ? "" : m_strGroup + "  ") + m_strSetting + "  " + m_strFile + " -> " + m_strDevice;
}

std::vector<CSettingChange> DiffSettings(const qz::CParameterSet& file, const qz::CParameterSet& device) {
    CDiff diff;
    using Settings = std::vector<std::tuple<std::string, Offsets, std::string, std::string>>;
    if (file.m_bSystem && device.m_bSystem) {
        // The device's presets on both sides, so the "Preset" line differs only by the choice.
        CLabelledLines f = SystemSettingsText(file.m_system, device.m_preset);
        CLabelledLines d = SystemSettingsText(device.m_system, device.m_preset);
        Settings s;
        for (auto& [label, offsets] : kSystemBytes)
            s.emplace_back(label, offsets, LabelledValue(f, label), LabelledValue(d, label));
        diff.Block("system", "", file.m_system, device.m_system, qz::kSystemSize, s);
    }
    if (file.m_bTimecode && device.m_bTimecode) {
        CLabelledLines f = TimecodeSettingsText(file.m_timecode), d = TimecodeSettingsText(device.m_timecode);
        Settings s;
        for (auto& [label, offsets] : kTimecodeBytes)
            s.emplace_back(label, offsets, LabelledValue(f, label), LabelledValue(d, label));
        diff.Block("timecode", "", file.m_timecode, device.m_timecode, qz::kTimecodeSize, s);
    }
    for (int n = 0; n < qz::kPresetCount; ++n) {
        if (!file.m_bPreset[n] || !device.m_bPreset[n]) continue;
        Settings s;
        for (const CPresetField& field : PresetFields()) {
            auto read = [&](const uint8_t* p) {
                return field.nBytes == 4 ? qz::Read16(p, field.nOffset) : qz::Read8(p, field.nOffset);
            };
            s.emplace_back(field.pszLabel, Range(field.nOffset, field.nBytes), field.pfnText(read(file.m_preset[n])),
                           field.pfnText(read(device.m_preset[n])));
        }
        diff.Block("preset " + std::to_string(n), "Preset " + std::to_string(n), file.m_preset[n], device.m_preset[n],
                   qz::kPresetSize, s);
    }
    return diff.m_changes;
}
