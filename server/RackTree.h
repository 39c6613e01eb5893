#pragma once
// The rack as an Ember+ tree: the fixed part (qz81kt/identity, qz81kt/units) and one
// subtree per unit, with the values read from the unit's session. Element numbers come
// from the one append-only table in RackTree.cpp, so a consumer's saved paths keep
// working across releases; units are numbered in the order they first appeared.
//
// Not thread-safe: it belongs to the service's thread, like the tree it fills.
#include <array>
#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "protocol/wire/DeviceBlocks.h"
#include "protocol/fields/PresetFields.h"
#include "protocol/fields/SystemSettings.h"
#include "server/ember/EmberTree.h"

class CDeviceSession;

// What a parameter or function of a unit stands for.
struct CRackTarget {
    enum class EKind { None, Status, Setting, PresetSummary, PresetList, PresetHex, WriteFlash };
    EKind eKind = EKind::None;
    size_t nUnit = 0;  // index into CRackTree::Units()
    int nPreset = 0;
    int nField = 0;    // status row, index into qz::kSystemSettings, EPresetList or EPresetHex
};

class CRackTree {
public:
    using ElementId = qz::ember::ElementId;
    using CGlowValue = qz::ember::CGlowValue;

    // The status parameters, in table order.
    enum EStatus { kLink, kTimecode, kVideoFormat, kIEEE1394, kPower, kIndicator1, kIndicator2, kControlMode,
                   kModeSwitches, kStatusCount };

    struct CUnitElements {
        std::string strId;
        ElementId nNode = qz::ember::kNoElement;
        ElementId nVersion = 0, nProductId = 0, nInPort = 0, nOutPort = 0;
        std::array<ElementId, kStatusCount> status{};
        std::array<ElementId, qz::kSystemSettingCount> settings{};
        std::array<ElementId, qz::kPresetCount> presetSummary{};
        std::array<std::array<ElementId, qz::kPresetListCount>, qz::kPresetCount> presetLists{};
        std::array<std::array<ElementId, qz::kPresetHexCount>, qz::kPresetCount> presetHex{};
        ElementId nWriteFlash = 0;
    };

    // bReadOnly: the writable parameters are offered for reading only.
    CRackTree(qz::ember::CEmberTree& tree, const std::string& strVersion, const std::string& strHost, bool bReadOnly);

    ElementId UnitsNode() const { return m_nUnits; }
    // Adds a unit's subtree, offline, and returns its index; an identifier already known
    // returns the existing index.
    size_t AddUnit(const std::string& strId, const std::string& strDescription);
    // The index of a unit, or -1.
    int FindUnit(const std::string& strId) const;
    const CUnitElements& Unit(size_t nUnit) const { return m_units[nUnit]; }
    size_t UnitCount() const { return m_units.size(); }
    CRackTarget Target(ElementId nId) const;

    // The values the device's replies give, for the blocks that have arrived; each pair is
    // a parameter and its value. A block that has not arrived gives nothing.
    std::vector<std::pair<ElementId, CGlowValue>> StatusValues(size_t nUnit, const CDeviceSession& session) const;
    std::vector<std::pair<ElementId, CGlowValue>> SettingValues(size_t nUnit, const CDeviceSession& session) const;
    std::vector<std::pair<ElementId, CGlowValue>> PresetValues(size_t nUnit, int nPreset,
                                                               const CDeviceSession& session) const;

    // The enumeration of an indicator lamp's states, as the window draws it steadily.
    static std::string LampStates();

private:
    ElementId AddText(ElementId nParent, unsigned nNumber, const char* pszId, const char* pszDescription);
    ElementId AddEnum(ElementId nParent, unsigned nNumber, const std::string& strId, const std::string& strDescription,
                      const std::string& strEntries, bool bWritable);
    void AddStatus(CUnitElements& unit, ElementId nParent);
    void AddSettings(CUnitElements& unit, ElementId nParent);
    void AddPreset(CUnitElements& unit, ElementId nParent, int nPreset);
    void Remember(ElementId nId, CRackTarget::EKind eKind, size_t nUnit, int nPreset, int nField);

    qz::ember::CEmberTree& m_tree;
    bool m_bReadOnly;
    ElementId m_nUnits = 0;
    std::vector<CUnitElements> m_units;
    std::map<ElementId, CRackTarget> m_targets;
};
