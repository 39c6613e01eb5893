#include "server/RackProvider.h"

#include <algorithm>

#include "server/UnitControl.h"
#include "server/ember/GlowElementWriter.h"

using qz::ember::CGlowValue;
using qz::ember::ElementId;
using EKind = CRackTarget::EKind;

namespace {

bool IsPresetBlock(qz::EBlock e) { return e >= qz::EBlock::Preset0 && e <= qz::EBlock::Preset7; }
int PresetOf(qz::EBlock e) { return static_cast<int>(e) - static_cast<int>(qz::EBlock::Preset0); }

}  // namespace

CRackProvider::CRackProvider(CRack& rack, ISink& sink, const COptions& options)
    : m_rack(rack),
      m_sink(sink),
      m_options(options),
      m_rackTree(m_tree, options.strVersion, options.strHost, options.bReadOnly) {}

void CRackProvider::RemoveConsumer(ConsumerId nConsumer) {
    m_processor.RemoveConsumer(nConsumer);
    m_waits.Drop(nConsumer);
}

void CRackProvider::HandleMessage(ConsumerId nConsumer, const uint8_t* pData, size_t nLength) {
    std::vector<std::vector<uint8_t>> replies;
    m_processor.HandleMessage(nConsumer, pData, nLength, replies);
    for (const auto& reply : replies) m_sink.SendTo(nConsumer, reply);
}

CRackUnit CRackProvider::UnitInfo(const std::string& strId) const {
    for (const CRackUnit& u : m_rack.Units())
        if (u.strId == strId) return u;
    return CRackUnit{};
}

// ---- the rack's events ----

void CRackProvider::OnRackEvent(const CRackEvent& event) {
    switch (event.eKind) {
        case CRackEvent::EKind::Added: UnitAdded(event.strUnit); break;
        case CRackEvent::EKind::Online: UnitOnline(event.strUnit, true); break;
        case CRackEvent::EKind::Offline:
        case CRackEvent::EKind::Removed: UnitOnline(event.strUnit, false); break;
        case CRackEvent::EKind::Warning: m_sink.Log("qz81kt: " + event.strText); break;
        case CRackEvent::EKind::Blocks: {
            const int nUnit = m_rackTree.FindUnit(event.strUnit);
            std::shared_ptr<CDeviceSession> pSession = m_rack.Session(event.strUnit);
            if (nUnit < 0 || !pSession) break;
            for (int b = 0; b < qz::kBlockCount; ++b)
                if (event.dwBlocks & (1u << b) && static_cast<qz::EBlock>(b) != qz::EBlock::Status)
                    RefreshBlock(static_cast<size_t>(nUnit), *pSession, static_cast<qz::EBlock>(b), true);
            m_waits.Settle(m_rack);
            break;
        }
    }
}

void CRackProvider::UnitAdded(const std::string& strId) {
    const CRackUnit info = UnitInfo(strId);
    const bool bNew = m_rackTree.FindUnit(strId) < 0;
    const size_t nUnit = m_rackTree.AddUnit(strId, info.strProductID + " (" + info.strInPort + ")");
    SetIdentity(nUnit, info, false);
    if (std::shared_ptr<CDeviceSession> pSession = m_rack.Session(strId))
        for (int b = 0; b < qz::kBlockCount; ++b) RefreshBlock(nUnit, *pSession, static_cast<qz::EBlock>(b), false);
    // Consumers that walked units before learn of the new child; it is offline until its link is up.
    if (bNew) m_sink.Broadcast(m_processor.Writer().Directory(m_rackTree.UnitsNode(), true, -1));
    m_sink.Log(CUnitControl::FoundLogLine(strId, info.strProductID, info.strInPort));
}

void CRackProvider::UnitOnline(const std::string& strId, bool bOnline) {
    const int nUnit = m_rackTree.FindUnit(strId);
    if (nUnit < 0) return;
    const auto n = static_cast<size_t>(nUnit);
    const CRackUnit info = UnitInfo(strId);
    if (bOnline) {
        // Values first, quietly: the online notification carries them all.
        SetIdentity(n, info, false);
        if (std::shared_ptr<CDeviceSession> pSession = m_rack.Session(strId))
            for (int b = 0; b < qz::kBlockCount; ++b) RefreshBlock(n, *pSession, static_cast<qz::EBlock>(b), false);
    }
    const std::vector<uint8_t> notification = m_processor.UpdateOnline(m_rackTree.Unit(n).nNode, bOnline);
    if (!notification.empty()) {
        m_sink.Broadcast(notification);
        m_sink.Log(CUnitControl::OnlineLogLine(strId, bOnline, info.strInPort));
    }
}

void CRackProvider::SetIdentity(size_t nUnit, const CRackUnit& info, bool bNotify) {
    const CRackTree::CUnitElements& u = m_rackTree.Unit(nUnit);
    Store({{u.nVersion, info.strVersion}, {u.nProductId, info.strProductID}, {u.nInPort, info.strInPort},
           {u.nOutPort, info.strOutPort}},
          bNotify, qz::ember::kNoElement);
}

// ---- values ----

void CRackProvider::Store(const std::vector<std::pair<ElementId, CGlowValue>>& values, bool bNotify,
                          ElementId nForced) {
    for (const auto& [nId, value] : values) {
        const bool bChanged = m_tree.Element(nId).m_parameter.m_value != value;
        if (!bNotify) {
            m_tree.SetValue(nId, value);
        } else if (bChanged || nId == nForced) {
            // Values go to the consumers that have the parameter in view; the status
            // changes ten times a second, and a consumer that never opened a unit must
            // not be handed its deep elements.
            const std::vector<uint8_t> notification = m_processor.UpdateValue(nId, value);
            if (!notification.empty())
                for (ConsumerId nConsumer : m_processor.Watchers(nId)) m_sink.SendTo(nConsumer, notification);
        }
    }
}

void CRackProvider::RefreshBlock(size_t nUnit, const CDeviceSession& session, qz::EBlock eBlock, bool bNotify,
                                 ElementId nForced) {
    if (eBlock == qz::EBlock::System)
        Store(m_rackTree.SettingValues(nUnit, session), bNotify, nForced);
    else if (IsPresetBlock(eBlock))
        Store(m_rackTree.PresetValues(nUnit, PresetOf(eBlock), session), bNotify, nForced);
    else if (eBlock == qz::EBlock::Status || eBlock == qz::EBlock::ControlMode)
        Store(m_rackTree.StatusValues(nUnit, session), bNotify, nForced);
}

void CRackProvider::Tick(Clock::time_point now) {
    for (size_t n = 0; n < m_rackTree.UnitCount(); ++n) {
        if (!m_tree.IsOnline(m_rackTree.Unit(n).nNode)) continue;
        if (std::shared_ptr<CDeviceSession> pSession = m_rack.Session(m_rackTree.Unit(n).strId))
            Store(m_rackTree.StatusValues(n, *pSession), true, qz::ember::kNoElement);
    }
    m_waits.Settle(m_rack, now);
}

std::string CRackProvider::ValueText(ElementId nId) const {
    const qz::ember::CEmberParameter& p = m_tree.Element(nId).m_parameter;
    if (const auto* pn = std::get_if<int64_t>(&p.m_value)) {
        if (p.m_eType != qz::ember::glow::EParameterType::kEnum) return std::to_string(*pn);
        std::string entries = p.m_strEnumeration + "\n";
        size_t start = 0;
        for (int64_t i = 0; i < *pn && start < entries.size(); ++i) start = entries.find('\n', start) + 1;
        return entries.substr(start, entries.find('\n', start) - start);
    }
    if (const auto* ps = std::get_if<std::string>(&p.m_value)) return *ps;
    if (const auto* pb = std::get_if<bool>(&p.m_value)) return *pb ? "true" : "false";
    return "-";
}

std::string CRackProvider::ParameterName(ElementId nId) const {
    std::string s = m_tree.Element(nId).m_strIdentifier;
    for (ElementId p = m_tree.Element(nId).m_nParent; p != qz::ember::kNoElement && p != qz::ember::kRootElement;
         p = m_tree.Element(p).m_nParent) {
        if (m_tree.Element(p).m_nParent == m_rackTree.UnitsNode()) break;  // the unit is named apart
        s = m_tree.Element(p).m_strIdentifier + "/" + s;
    }
    return s;
}

void CRackProvider::ReadBack(ConsumerId nConsumer, ElementId nParameter, size_t nUnit, qz::EBlock eBlock, bool bBack) {
    const std::string& strUnit = m_rackTree.Unit(nUnit).strId;
    std::shared_ptr<CDeviceSession> pSession = bBack ? m_rack.Session(strUnit) : nullptr;
    if (pSession) {
        RefreshBlock(nUnit, *pSession, eBlock, true, nParameter);
        const std::vector<ConsumerId> watchers = m_processor.Watchers(nParameter);
        if (std::find(watchers.begin(), watchers.end(), nConsumer) == watchers.end())
            Answer(nConsumer, nParameter);  // the requester always hears the read-back
    } else {
        Answer(nConsumer, nParameter);
    }
    m_sink.Log(CUnitControl::WriteLogLine(m_sink.ConsumerAddress(nConsumer), strUnit, ParameterName(nParameter),
                                          ValueText(nParameter), pSession != nullptr));
}

void CRackProvider::Answer(ConsumerId nConsumer, ElementId nParameter) {
    m_sink.SendTo(nConsumer, m_processor.Writer().ValueReport(nParameter, true));
}

// ---- writes and calls ----

void CRackProvider::OnSetValue(ConsumerId nConsumer, ElementId nParameter, const CGlowValue& value) {
    const CRackTarget t = m_rackTree.Target(nParameter);
    const auto* pValue = std::get_if<int64_t>(&value);
    const bool bWritable = t.eKind == EKind::Setting || t.eKind == EKind::PresetList || t.eKind == EKind::PresetHex;
    std::shared_ptr<CDeviceSession> pSession =
        bWritable ? m_rack.Session(m_rackTree.Unit(t.nUnit).strId) : nullptr;
    std::string why = "the unit is not connected";
    qz::EBlock eBlock = qz::EBlock::System;
    const CUnitWrite::EKind eKind = t.eKind == EKind::Setting      ? CUnitWrite::EKind::Setting
                                    : t.eKind == EKind::PresetList ? CUnitWrite::EKind::PresetList
                                                                   : CUnitWrite::EKind::PresetHex;
    if (pSession && pValue &&
        (why = CUnitControl::Write(*pSession, {eKind, t.nPreset, t.nField, *pValue}, eBlock)).empty()) {
        const size_t nUnit = t.nUnit;
        m_waits.Add(nConsumer, m_rackTree.Unit(nUnit).strId, eBlock, [=, this](bool bBack) {
            ReadBack(nConsumer, nParameter, nUnit, eBlock, bBack);
        });
        return;
    }
    // Refused: nothing was sent; the requester sees what the unit holds.
    Answer(nConsumer, nParameter);
    if (bWritable)
        m_sink.Log(CUnitControl::RefusedLogLine(m_sink.ConsumerAddress(nConsumer), m_rackTree.Unit(t.nUnit).strId,
                                                ParameterName(nParameter), why));
}

void CRackProvider::OnInvoke(ConsumerId nConsumer, ElementId nFunction, const qz::ember::CGlowRequest& request) {
    const CRackTarget t = m_rackTree.Target(nFunction);
    bool bSent = false;
    if (t.eKind == EKind::WriteFlash && !m_options.bReadOnly) {
        const std::string& strUnit = m_rackTree.Unit(t.nUnit).strId;
        std::shared_ptr<CDeviceSession> pSession = m_rack.Session(strUnit);
        bSent = pSession && CUnitControl::WriteFlash(*pSession).empty();
        m_sink.Log(CUnitControl::FlashLogLine(m_sink.ConsumerAddress(nConsumer), strUnit, bSent));
    }
    if (request.m_bHasInvocationId)
        m_sink.SendTo(nConsumer, qz::ember::CGlowElementWriter::InvocationResult(request.m_nInvocationId, bSent, {bSent}));
}
