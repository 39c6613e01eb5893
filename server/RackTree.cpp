#include "server/RackTree.h"

#include <cstring>

#include "protocol/device/DeviceSession.h"
#include "protocol/fields/ItemList.h"
#include "protocol/fields/PresetBlock.h"
#include "protocol/fields/StatusText.h"
#include "server/UnitControl.h"

using qz::ember::CEmberParameter;
using qz::ember::ElementId;
namespace glow = qz::ember::glow;

namespace {

// Every element number of the tree. Append only: a number once given keeps its element
// for good, so consumers' saved paths survive a new release. Units are numbered in the
// order they appear, presets/preset-N is N + 1.
struct CNumber {
    const char* pszGroup;
    const char* pszId;
    unsigned nNumber;
};
constexpr CNumber kNumbers[] = {
    {"", "qz81kt", 1},
    {"qz81kt", "identity", 1}, {"qz81kt", "units", 2},
    {"identity", "product", 1}, {"identity", "version", 2}, {"identity", "host", 3},
    {"unit", "identity", 1}, {"unit", "status", 2}, {"unit", "settings", 3}, {"unit", "presets", 4},
    {"unit", "write-flash", 5},
    {"unit/identity", "version", 1}, {"unit/identity", "product-id", 2}, {"unit/identity", "in-port", 3},
    {"unit/identity", "out-port", 4},
    {"status", "link", 1}, {"status", "timecode", 2}, {"status", "video-format", 3}, {"status", "ieee1394-format", 4},
    {"status", "power", 5}, {"status", "indicator-1", 6}, {"status", "indicator-2", 7}, {"status", "control-mode", 8},
    {"status", "mode-switches", 9},
    {"settings", "direction", 1}, {"settings", "audio", 2}, {"settings", "preset", 3}, {"settings", "control-mode", 4},
    {"settings", "unit", 5}, {"settings", "frame-rate", 6}, {"settings", "sync", 7}, {"settings", "audio-src", 8},
    {"settings", "format-fix", 9}, {"settings", "sdi-remote", 10}, {"settings", "fan", 11},
    {"preset", "summary", 1}, {"preset", "codec", 2}, {"preset", "rx-type", 3}, {"preset", "hd-rate", 4},
    {"preset", "sd-rate", 5}, {"preset", "gop", 6}, {"preset", "b-pict", 7}, {"preset", "closed-gop", 8},
    {"preset", "h-size", 9}, {"preset", "audio-rate", 10}, {"preset", "lpf", 11}, {"preset", "pmt", 12},
    {"preset", "pcr", 13}, {"preset", "video-pid", 14}, {"preset", "audio-pid", 15}, {"preset", "program-tx", 16},
    {"preset", "program-rx", 17},
};

unsigned Number(const char* pszGroup, const std::string& strId) {
    for (const CNumber& n : kNumbers)
        if (std::strcmp(n.pszGroup, pszGroup) == 0 && strId == n.pszId) return n.nNumber;
    return 0;  // never: every element below is in the table (the tree tests walk them all)
}

const char* const kStatusIds[CRackTree::kStatusCount] = {"link", "timecode", "video-format", "ieee1394-format",
                                                         "power", "indicator-1", "indicator-2", "control-mode",
                                                         "mode-switches"};
const char* const kStatusDescriptions[CRackTree::kStatusCount] = {
    "Link", "Timecode", "Video Format", "IEEE1394 Format", "Power Status", "Indicator 1", "Indicator 2",
    "Mode SW6", "SW123456"};

// The entries of a list; a last, hidden entry stands for a stored value no item shows.
std::string Entries(const qz::CItemList& list) {
    std::string s;
    for (int i = 0; i < list.nCount; ++i) s += qz::ItemText(list, i) + "\n";
    return s + "~-";
}

int64_t EnumValue(int nIndex, int nCount) { return nIndex == qz::kNoSelection ? nCount : nIndex; }

}  // namespace

std::string CRackTree::LampStates() {
    std::string str;
    for (int n = 0; n < qz::kIndicatorLampStates; ++n) str += (n ? "\n" : "") + std::string(qz::kLampStateWords[n]);
    return str;
}

CRackTree::CRackTree(qz::ember::CEmberTree& tree, const std::string& strVersion, const std::string& strHost,
                     bool bReadOnly)
    : m_tree(tree), m_bReadOnly(bReadOnly) {
    const ElementId nRoot = m_tree.AddNode(qz::ember::kRootElement, Number("", "qz81kt"), "qz81kt", "QZ-81KT DXP");
    const ElementId nIdentity = m_tree.AddNode(nRoot, Number("qz81kt", "identity"), "identity", "Identity");
    auto text = [&](const char* pszId, const char* pszDescription, const std::string& strValue) {
        CEmberParameter p;
        p.m_eType = glow::EParameterType::kString;
        p.m_value = strValue;
        m_tree.AddParameter(nIdentity, Number("identity", pszId), pszId, pszDescription, p);
    };
    text("product", "Product", "QZ-81KT DXP");
    text("version", "Version", strVersion);
    text("host", "Host", strHost);
    m_nUnits = m_tree.AddNode(nRoot, Number("qz81kt", "units"), "units", "Units");
}

ElementId CRackTree::AddText(ElementId nParent, unsigned nNumber, const char* pszId, const char* pszDescription) {
    CEmberParameter p;
    p.m_eType = glow::EParameterType::kString;
    p.m_value = std::string();
    return m_tree.AddParameter(nParent, nNumber, pszId, pszDescription, p);
}

ElementId CRackTree::AddEnum(ElementId nParent, unsigned nNumber, const std::string& strId,
                             const std::string& strDescription, const std::string& strEntries, bool bWritable) {
    CEmberParameter p;
    p.m_eType = glow::EParameterType::kEnum;
    p.m_eAccess = bWritable && !m_bReadOnly ? glow::EAccess::kReadWrite : glow::EAccess::kRead;
    p.m_value = int64_t{0};
    p.m_strEnumeration = strEntries;
    return m_tree.AddParameter(nParent, nNumber, strId, strDescription, p);
}

void CRackTree::Remember(ElementId nId, CRackTarget::EKind eKind, size_t nUnit, int nPreset, int nField) {
    m_targets[nId] = CRackTarget{eKind, nUnit, nPreset, nField};
}

int CRackTree::FindUnit(const std::string& strId) const {
    for (size_t i = 0; i < m_units.size(); ++i)
        if (m_units[i].strId == strId) return static_cast<int>(i);
    return -1;
}

CRackTarget CRackTree::Target(ElementId nId) const {
    auto it = m_targets.find(nId);
    return it == m_targets.end() ? CRackTarget{} : it->second;
}

size_t CRackTree::AddUnit(const std::string& strId, const std::string& strDescription) {
    if (int n = FindUnit(strId); n >= 0) return static_cast<size_t>(n);
    const size_t nUnit = m_units.size();
    CUnitElements u;
    u.strId = strId;
    u.nNode = m_tree.AddNode(m_nUnits, static_cast<unsigned>(nUnit + 1), strId, strDescription);
    m_tree.SetOnline(u.nNode, false);
    const ElementId nIdentity = m_tree.AddNode(u.nNode, Number("unit", "identity"), "identity", "Identity");
    u.nVersion = AddText(nIdentity, Number("unit/identity", "version"), "version", "Version");
    u.nProductId = AddText(nIdentity, Number("unit/identity", "product-id"), "product-id", "Product ID");
    u.nInPort = AddText(nIdentity, Number("unit/identity", "in-port"), "in-port", "MIDI In");
    u.nOutPort = AddText(nIdentity, Number("unit/identity", "out-port"), "out-port", "MIDI Out");
    m_units.push_back(u);
    CUnitElements& unit = m_units.back();
    AddStatus(unit, m_tree.AddNode(unit.nNode, Number("unit", "status"), "status", "Status"));
    AddSettings(unit, m_tree.AddNode(unit.nNode, Number("unit", "settings"), "settings", "Settings"));
    const ElementId nPresets = m_tree.AddNode(unit.nNode, Number("unit", "presets"), "presets", "Presets");
    for (int n = 0; n < qz::kPresetCount; ++n) AddPreset(unit, nPresets, n);
    qz::ember::CEmberFunction flash;
    flash.m_result.push_back({glow::EParameterType::kBoolean, "sent"});
    unit.nWriteFlash = m_tree.AddFunction(unit.nNode, Number("unit", "write-flash"), "write-flash", "Write to Flash",
                                          flash);
    Remember(unit.nWriteFlash, CRackTarget::EKind::WriteFlash, nUnit, 0, 0);
    return nUnit;
}

void CRackTree::AddStatus(CUnitElements& unit, ElementId nParent) {
    const size_t nUnit = m_units.size() - 1;
    for (int i = 0; i < kStatusCount; ++i) {
        const unsigned nNumber = Number("status", kStatusIds[i]);
        ElementId nId;
        if (i == kLink) {
            CEmberParameter p;
            p.m_eType = glow::EParameterType::kBoolean;
            p.m_value = false;
            nId = m_tree.AddParameter(nParent, nNumber, kStatusIds[i], kStatusDescriptions[i], p);
        } else if (i == kIndicator1 || i == kIndicator2) {
            nId = AddEnum(nParent, nNumber, kStatusIds[i], kStatusDescriptions[i], LampStates(), false);
        } else if (i == kControlMode) {
            nId = AddEnum(nParent, nNumber, kStatusIds[i], kStatusDescriptions[i], "Local\nRemote", false);
        } else {
            nId = AddText(nParent, nNumber, kStatusIds[i], kStatusDescriptions[i]);
        }
        unit.status[static_cast<size_t>(i)] = nId;
        Remember(nId, CRackTarget::EKind::Status, nUnit, 0, i);
    }
}

void CRackTree::AddSettings(CUnitElements& unit, ElementId nParent) {
    const size_t nUnit = m_units.size() - 1;
    for (int i = 0; i < qz::kSystemSettingCount; ++i) {
        const qz::CSystemSetting& s = qz::kSystemSettings[i];
        const qz::CItemList& shown = s.captions.nCount ? s.captions : s.names;
        const ElementId nId = AddEnum(nParent, Number("settings", s.pszName), s.pszName, s.pszCaption,
                                      Entries(shown), true);
        unit.settings[static_cast<size_t>(i)] = nId;
        Remember(nId, CRackTarget::EKind::Setting, nUnit, 0, i);
    }
}

void CRackTree::AddPreset(CUnitElements& unit, ElementId nParent, int nPreset) {
    const size_t nUnit = m_units.size() - 1;
    const ElementId nNode = m_tree.AddNode(nParent, static_cast<unsigned>(nPreset + 1),
                                           "preset-" + std::to_string(nPreset), qz::PresetName(nPreset));
    const auto n = static_cast<size_t>(nPreset);
    unit.presetSummary[n] = AddText(nNode, Number("preset", "summary"), "summary", "Summary");
    Remember(unit.presetSummary[n], CRackTarget::EKind::PresetSummary, nUnit, nPreset, 0);
    for (int f = 0; f < qz::kPresetListCount; ++f) {
        const qz::CPresetList& list = qz::kPresetLists[f];
        const std::string strDescription = *list.pszGroup ? std::string(list.pszGroup) + " " + list.pszLabel
                                                          : std::string(list.pszLabel);
        const ElementId nId = AddEnum(nNode, Number("preset", list.pszName), list.pszName, strDescription,
                                      Entries(list.items), true);
        unit.presetLists[n][static_cast<size_t>(f)] = nId;
        Remember(nId, CRackTarget::EKind::PresetList, nUnit, nPreset, f);
    }
    for (int f = 0; f < qz::kPresetHexCount; ++f) {
        const qz::CPresetHexField& field = qz::kPresetHexFields[f];
        CEmberParameter p;
        p.m_eType = glow::EParameterType::kInteger;
        p.m_eAccess = m_bReadOnly ? glow::EAccess::kRead : glow::EAccess::kReadWrite;
        p.m_value = int64_t{0};
        p.m_minimum = int64_t{0};
        p.m_maximum = int64_t{0xFFFF};
        p.m_strFormat = "%04x";
        const ElementId nId = m_tree.AddParameter(nNode, Number("preset", field.pszName), field.pszName,
                                                  std::string(field.pszGroup) + " " + field.pszLabel, p);
        unit.presetHex[n][static_cast<size_t>(f)] = nId;
        Remember(nId, CRackTarget::EKind::PresetHex, nUnit, nPreset, f);
    }
}

std::vector<std::pair<ElementId, qz::ember::CGlowValue>> CRackTree::StatusValues(size_t nUnit,
                                                                             const CDeviceSession& session) const {
    const CUnitElements& u = m_units[nUnit];
    const CUnitStatus s = CUnitControl::Status(session);
    std::vector<std::pair<ElementId, CGlowValue>> values;
    values.emplace_back(u.status[kLink], s.bLink);
    if (s.bStatus) {
        values.emplace_back(u.status[kTimecode], s.strTimecode);
        values.emplace_back(u.status[kVideoFormat], s.strVideoFormat);
        values.emplace_back(u.status[kIEEE1394], s.strIEEE1394);
        values.emplace_back(u.status[kPower], s.strPower);
        values.emplace_back(u.status[kIndicator1], int64_t{s.nIndicator1});
        values.emplace_back(u.status[kIndicator2], int64_t{s.nIndicator2});
    }
    if (s.bMode) {
        values.emplace_back(u.status[kControlMode], int64_t{s.bRemote});
        values.emplace_back(u.status[kModeSwitches], s.strModeSwitches);
    }
    return values;
}

std::vector<std::pair<ElementId, qz::ember::CGlowValue>> CRackTree::SettingValues(size_t nUnit,
                                                                              const CDeviceSession& session) const {
    std::vector<std::pair<ElementId, CGlowValue>> values;
    uint8_t sys[qz::kSystemSize];
    if (!session.ReadReceived(qz::EBlock::System, sys, sizeof sys)) return values;
    for (int i = 0; i < qz::kSystemSettingCount; ++i) {
        const qz::CSystemSetting& s = qz::kSystemSettings[i];
        const int nCount = (s.captions.nCount ? s.captions : s.names).nCount;
        values.emplace_back(m_units[nUnit].settings[static_cast<size_t>(i)],
                            EnumValue(qz::SettingValueIndex(s, sys[s.nOffset]), nCount));
    }
    return values;
}

std::vector<std::pair<ElementId, qz::ember::CGlowValue>> CRackTree::PresetValues(size_t nUnit, int nPreset,
                                                                             const CDeviceSession& session) const {
    std::vector<std::pair<ElementId, CGlowValue>> values;
    uint8_t p[qz::kPresetSize];
    if (!session.ReadReceived(qz::PresetBlock(nPreset), p, sizeof p)) return values;
    const CUnitElements& u = m_units[nUnit];
    const auto n = static_cast<size_t>(nPreset);
    values.emplace_back(u.presetSummary[n], qz::PresetSummaryLine(nPreset, p));
    for (int f = 0; f < qz::kPresetListCount; ++f) {
        const auto eList = static_cast<qz::EPresetList>(f);
        const int nCount = qz::kPresetLists[f].items.nCount;
        values.emplace_back(u.presetLists[n][static_cast<size_t>(f)],
                            EnumValue(qz::PresetListIndex(eList, p, nCount), nCount));
    }
    for (int f = 0; f < qz::kPresetHexCount; ++f)
        values.emplace_back(u.presetHex[n][static_cast<size_t>(f)],
                            int64_t{qz::PresetHexValue(static_cast<qz::EPresetHex>(f), p)});
    return values;
}
