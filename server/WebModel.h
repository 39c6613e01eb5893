#pragma once
// The rack as the web page and its JSON API see it: the tables the page is built from
// (captions, items, the editor's enabling rules), and each unit's sections (identity,
// status, controls, settings, presets) from the values the device read back. Changes
// keeps what was last published and gives, per unit, only the sections that changed.
//
// Not thread-safe: it belongs to the web service's thread, like the rack's events.
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "protocol/device/Rack.h"

class CWebModel {
public:
    using Json = nlohmann::json;

    // rack must outlive the model.
    explicit CWebModel(const CRack& rack) : m_rack(rack) {}

    // The settings, the preset editor's lists and fields, and for each codec the preset
    // fields the editor enables with it.
    static Json Schema();

    // Every unit in full, as last published by Changes (units seen since then too).
    Json Snapshot();
    // One unit's current sections; nullopt for an unknown unit.
    std::optional<Json> Unit(const std::string& strId) const;
    // Sections that changed since the last call, one {"unit": id, section: …} per unit.
    std::vector<Json> Changes();

    // The index of a setting or preset field by the names the schema gives, or -1.
    static int SettingIndex(const std::string& strName);
    // bHex tells which table the index is in.
    static int PresetFieldIndex(const std::string& strName, bool& bHex);

private:
    Json Sections(const CRackUnit& unit) const;

    const CRack& m_rack;
    std::map<std::string, Json> m_published;  // unit -> its sections as last published
};
