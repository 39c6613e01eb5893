#pragma once
// The NAME=VALUE arguments of set, get and preset, checked against the window's settings
// table and the preset editor's field tables before any port is opened.
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/wire/DeviceBlocks.h"
#include "protocol/fields/PresetFields.h"
#include "protocol/fields/SystemSettings.h"

namespace qz {
// Reads "name=value" words; false with the reason (naming the allowed names or values).
bool ParseSettingChoices(const std::vector<std::string>& args, std::vector<CSettingChoice>& out,
                         std::string& strError);
// Setting names for get; none means all of them.
bool ParseSettingNames(const std::vector<std::string>& args, std::vector<const qz::CSystemSetting*>& out,
                       std::string& strError);
// "N [field=value ...]".
bool ParsePresetArgs(const std::vector<std::string>& args, int& nPreset, std::vector<CPresetFieldChoice>& out,
                     std::string& strError);

// "name=value" of a setting as the system block holds it; "?(n)" for a value no button has.
std::string SettingText(const qz::CSystemSetting& setting, const uint8_t (&system)[qz::kSystemSize]);
std::string SettingValueText(const qz::CSystemSetting& setting, uint8_t byValue);
// The value of a preset field as the editor shows it.
std::string PresetFieldText(const CPresetFieldChoice& field, const uint8_t (&block)[qz::kPresetSize],
                            bool bLowLatencyAvail);
std::string PresetFieldName(bool bHex, int nField);

// set --list and preset --list: one line per name with its allowed values.
std::string SettingsListText();
std::string PresetFieldsListText();
}  // namespace qz
