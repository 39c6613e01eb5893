#include "server/WebModel.h"

#include "protocol/fields/ItemList.h"
#include "protocol/fields/PresetBlock.h"
#include "protocol/fields/PresetFields.h"
#include "protocol/fields/StatusText.h"
#include "protocol/fields/SystemSettings.h"
#include "server/RackTree.h"
#include "server/UnitControl.h"

using Json = CWebModel::Json;

namespace {

Json Items(const qz::CItemList& list, int nCount) {
    Json items = Json::array();
    for (int i = 0; i < nCount; ++i) items.push_back(qz::ItemText(list, i));
    return items;
}

Json OrNull(bool bHas, Json value) { return bHas ? std::move(value) : Json(nullptr); }

Json StatusSection(const CDeviceSession* pSession) {
    const CUnitStatus s = pSession ? CUnitControl::Status(*pSession) : CUnitStatus{};
    return {{"link", s.bLink},
            {"timecode", OrNull(s.bStatus, s.strTimecode)},
            {"videoFormat", OrNull(s.bStatus, s.strVideoFormat)},
            {"ieee1394", OrNull(s.bStatus, s.strIEEE1394)},
            {"power", OrNull(s.bStatus, s.strPower)},
            {"indicator1", OrNull(s.bStatus, s.nIndicator1)},
            {"indicator2", OrNull(s.bStatus, s.nIndicator2)},
            {"controlMode", OrNull(s.bMode, s.strControlMode)},
            {"modeSwitches", OrNull(s.bMode, s.strModeSwitches)}};
}

// Each setting's value read back (index among its names) and whether the window enables it.
Json SettingsSection(const CDeviceSession* pSession) {
    Json settings = Json::object();
    for (int i = 0; i < qz::kSystemSettingCount; ++i) {
        const std::optional<int> value = pSession ? CUnitControl::SettingValue(*pSession, i) : std::nullopt;
        settings[qz::kSystemSettings[i].pszName] = {
            {"value", value ? Json(*value) : Json(nullptr)},
            {"enabled", pSession && CUnitControl::SettingEnabled(*pSession, i)}};
    }
    return settings;
}

Json ControlsSection(const CDeviceSession* pSession) {
    std::string strWhy = "the unit's ports are gone";
    const bool bPresets = pSession && CUnitControl::PresetEditable(*pSession, &strWhy);
    const bool bLowLatency = pSession && pSession->Image().m_bLowLatencyAvail.load();
    return {{"presets", bPresets},
            {"presetsRefusal", bPresets ? std::string() : strWhy},
            {"flash", pSession && pSession->IsLinkUp()},
            {"lowLatency", bLowLatency}};
}

Json PresetsSection(const CDeviceSession* pSession) {
    Json presets = Json::array();
    for (int n = 0; n < qz::kPresetCount; ++n) {
        uint8_t p[qz::kPresetSize];
        if (!pSession || !pSession->ReadReceived(qz::PresetBlock(n), p, sizeof p)) {
            presets.push_back({{"summary", qz::ClearedPresetLine(n)}, {"fields", nullptr}});
            continue;
        }
        Json fields = Json::object();
        for (int f = 0; f < qz::kPresetListCount; ++f) {
            const int nIndex = qz::PresetListIndex(static_cast<qz::EPresetList>(f), p, qz::kPresetLists[f].items.nCount);
            fields[qz::kPresetLists[f].pszName] = nIndex == qz::kNoSelection ? Json(nullptr) : Json(nIndex);
        }
        for (int f = 0; f < qz::kPresetHexCount; ++f)
            fields[qz::kPresetHexFields[f].pszName] = qz::FormatHex16(qz::PresetHexValue(static_cast<qz::EPresetHex>(f), p));
        presets.push_back({{"summary", qz::PresetSummaryLine(n, p)}, {"fields", fields}});
    }
    return presets;
}

}  // namespace

Json CWebModel::Schema() {
    Json settings = Json::array();
    for (const qz::CSystemSetting& s : qz::kSystemSettings) {
        // A check box's captions are its names, off and on; the preset's buttons carry the
        // preset lines instead of captions.
        const char* pszKind = s.captions.nCount == 0 ? "preset"
                              : s.captions.nCount == 2 && s.captions.ppWords == s.names.ppWords ? "check"
                                                                                                : "radio";
        settings.push_back({{"name", s.pszName},
                            {"caption", s.pszCaption},
                            {"kind", pszKind},
                            {"names", Items(s.names, s.names.nCount)},
                            {"items", Items(s.captions, s.captions.nCount)}});
    }
    Json lists = Json::array();
    for (int f = 0; f < qz::kPresetListCount; ++f) {
        const qz::CPresetList& l = qz::kPresetLists[f];
        lists.push_back({{"name", l.pszName}, {"group", l.pszGroup}, {"label", l.pszLabel}, {"unit", l.pszUnit},
                         {"items", Items(l.items, l.items.nCount)},
                         {"itemsWithoutLowLatency",
                          qz::PresetListItemCount(static_cast<qz::EPresetList>(f), false)}});
    }
    Json hex = Json::array();
    for (const qz::CPresetHexField& h : qz::kPresetHexFields)
        hex.push_back({{"name", h.pszName}, {"group", h.pszGroup}, {"label", h.pszLabel}, {"note", h.pszNote}});
    Json byCodec = Json::array();
    for (int c = 0; c < qz::kPresetLists[qz::kListCodec].items.nCount; ++c) {
        Json enabled = Json::array();
        for (int f = 0; f < qz::kPresetListCount; ++f)
            if (qz::PresetListEnabled(static_cast<qz::EPresetList>(f), c)) enabled.push_back(qz::kPresetLists[f].pszName);
        if (qz::PresetHexEnabled(c))
            for (const qz::CPresetHexField& h : qz::kPresetHexFields) enabled.push_back(h.pszName);
        byCodec.push_back(enabled);
    }
    Json names = Json::array();
    for (int n = 0; n < qz::kPresetCount; ++n) names.push_back(qz::PresetName(n));
    Json lamps = Json::array();
    for (int n = 0; n < qz::kIndicatorLampStates; ++n) lamps.push_back(qz::kLampStateWords[n]);
    return {{"settings", settings}, {"presetLists", lists}, {"presetHex", hex}, {"enabledByCodec", byCodec},
            {"presetNames", names}, {"lampStates", lamps}};
}

Json CWebModel::Sections(const CRackUnit& unit) const {
    const std::shared_ptr<CDeviceSession> pSession = m_rack.Session(unit.strId);
    const CDeviceSession* p = pSession.get();
    return {{"identity",
             {{"id", unit.strId}, {"productId", unit.strProductID}, {"version", unit.strVersion},
              {"inPort", unit.strInPort}, {"outPort", unit.strOutPort}, {"online", unit.bOnline}}},
            {"status", StatusSection(p)},
            {"controls", ControlsSection(p)},
            {"settings", SettingsSection(p)},
            {"presets", PresetsSection(p)}};
}

std::optional<Json> CWebModel::Unit(const std::string& strId) const {
    for (const CRackUnit& u : m_rack.Units())
        if (u.strId == strId) return Sections(u);
    return std::nullopt;
}

Json CWebModel::Snapshot() {
    Json units = Json::array();
    for (const CRackUnit& u : m_rack.Units()) {
        auto it = m_published.find(u.strId);
        if (it == m_published.end()) it = m_published.emplace(u.strId, Sections(u)).first;
        units.push_back(it->second);
    }
    return {{"units", units}};
}

std::vector<Json> CWebModel::Changes() {
    std::vector<Json> changes;
    for (const CRackUnit& u : m_rack.Units()) {
        Json now = Sections(u);
        Json& last = m_published[u.strId];
        Json change = {{"unit", u.strId}};
        for (auto& [strSection, value] : now.items())
            if (!last.is_object() || !last.contains(strSection) || last[strSection] != value) change[strSection] = value;
        if (change.size() > 1) changes.push_back(std::move(change));
        last = std::move(now);
    }
    return changes;
}

int CWebModel::SettingIndex(const std::string& strName) {
    const qz::CSystemSetting* p = qz::FindSystemSetting(strName);
    return p ? static_cast<int>(p - qz::kSystemSettings) : -1;
}

int CWebModel::PresetFieldIndex(const std::string& strName, bool& bHex) {
    for (int f = 0; f < qz::kPresetListCount; ++f)
        if (strName == qz::kPresetLists[f].pszName) return bHex = false, f;
    for (int f = 0; f < qz::kPresetHexCount; ++f)
        if (strName == qz::kPresetHexFields[f].pszName) return bHex = true, f;
    return -1;
}
