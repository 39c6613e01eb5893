#include "cli/SettingsDiff.h"

#include <cstdio>
#include <functional>
#include <set>
#include <tuple>

#include "cli/DeviceReport.h"
#include "protocol/fields/PresetBlock.h"
#include "protocol/fields/PresetFields.h"
#include "protocol/fields/SystemSettings.h"

namespace {

using Offsets = std::vector<int>;

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

// The bytes behind each line of the timecode dialog's labels (cli/DeviceReport); the
// words themselves come from there. The system settings' bytes are in their own table.
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

// A preset setting as the preset editor shows it, from the editor's own tables.
struct CPresetSetting {
    std::string strLabel;
    Offsets offsets;
    std::function<std::string(const uint8_t (&)[qz::kPresetSize])> fnText;
};

std::string Labelled(const char* pszGroup, const char* pszLabel) {
    return *pszGroup ? std::string(pszGroup) + " " + pszLabel : std::string(pszLabel);
}

const std::vector<CPresetSetting>& PresetSettings() {
    static const std::vector<CPresetSetting> settings = [] {
        std::vector<CPresetSetting> v;
        for (int i = 0; i < qz::kPresetListCount; ++i) {
            const auto e = static_cast<qz::EPresetList>(i);
            const qz::CPresetList& l = qz::kPresetLists[i];
            v.push_back({Labelled(l.pszGroup, l.pszLabel), Range(l.nOffset, l.nBytes),
                         [e, &l](const uint8_t (&b)[qz::kPresetSize]) {
                             int n = qz::PresetListIndex(e, b, qz::PresetListItemCount(e, true));
                             if (n != qz::kNoSelection) return qz::ItemText(l.items, n);
                             int raw = l.nBytes == 4 ? qz::Read16(b, l.nOffset) : qz::Read8(b, l.nOffset);
                             return "? (" + std::to_string(raw) + ")";
                         }});
        }
        for (int i = 0; i < qz::kPresetHexCount; ++i) {
            const auto e = static_cast<qz::EPresetHex>(i);
            const qz::CPresetHexField& h = qz::kPresetHexFields[i];
            v.push_back({Labelled(h.pszGroup, h.pszLabel), Range(h.nOffset, 4),
                         [e](const uint8_t (&b)[qz::kPresetSize]) { return qz::FormatHex16(qz::PresetHexValue(e, b)); }});
        }
        return v;
    }();
    return settings;
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

std::vector<CSettingChange> qz::DiffSettings(const qz::CParameterSet& file, const qz::CParameterSet& device) {
    CDiff diff;
    using Settings = std::vector<std::tuple<std::string, Offsets, std::string, std::string>>;
    if (file.m_bSystem && device.m_bSystem) {
        // The device's presets on both sides, so the "Preset" line differs only by the choice.
        CLabelledLines f = SystemSettingsText(file.m_system, device.m_preset);
        CLabelledLines d = SystemSettingsText(device.m_system, device.m_preset);
        Settings s;
        for (const qz::CSystemSetting& setting : qz::kSystemSettings)
            s.emplace_back(setting.pszCaption, Offsets{setting.nOffset}, LabelledValue(f, setting.pszCaption),
                           LabelledValue(d, setting.pszCaption));
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
        for (const CPresetSetting& setting : PresetSettings())
            s.emplace_back(setting.strLabel, setting.offsets, setting.fnText(file.m_preset[n]),
                           setting.fnText(device.m_preset[n]));
        diff.Block("preset " + std::to_string(n), "Preset " + std::to_string(n), file.m_preset[n], device.m_preset[n],
                   qz::kPresetSize, s);
    }
    return diff.m_changes;
}
