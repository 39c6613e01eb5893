#include "protocol/device/DeviceSession.h"

#include <algorithm>
#include <cstring>

#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/fields/PresetBlock.h"
#include "protocol/device/PresetOperations.h"
#include "protocol/fields/StatusText.h"

namespace {

using qz::EBlock;

const char* const kLocalReason =
    "the device is in Local mode (its front panel has the settings); set control-mode=remote first";

constexpr uint32_t Bit(EBlock e) { return uint32_t{1} << static_cast<int>(e); }

bool IsSettingValue(const CSettingChoice& c) {
    return c.pSetting && c.nValue >= 0 && c.nValue < c.pSetting->names.nCount;
}

std::string CodecName(int nCodec) { return qz::ItemText(qz::kPresetLists[qz::kListCodec].items, nCodec); }

}  // namespace

CDeviceSession::CDeviceSession(CMidiDriver& driver, CSessionListener* pListener)
    : m_pListener(pListener), m_out(&driver), m_in(&driver) {
    m_image.Clear();
    m_in.m_pOwnerWnd = &m_owner;
    m_out.SetTrafficTap(&m_tap);
    m_in.SetTrafficTap(&m_tap);
}

CDeviceSession::~CDeviceSession() {
    std::lock_guard<std::mutex> lock(m_opMutex);
    DisconnectLocked();
}

void CDeviceSession::SetListener(CSessionListener* pListener) {
    std::lock_guard<std::mutex> lock(m_listenerMutex);
    m_pListener = pListener;
}

template <typename F>
void CDeviceSession::NotifyWith(F fn) {
    std::lock_guard<std::mutex> lock(m_listenerMutex);
    if (m_pListener) fn(*m_pListener);
}

void CDeviceSession::Notify(const CSessionEvent& event) {
    NotifyWith([&](CSessionListener& l) { l.OnSessionEvent(event); });
}

// ---- connection and link ----

CDeviceSession::EConnect CDeviceSession::Connect(uint32_t uInPort, uint32_t uOutPort) {
    std::lock_guard<std::mutex> lock(m_opMutex);
    DisconnectLocked();
    ResetLinkLocked();
    const bool bIn = OpenInLocked(uInPort);
    const bool bOut = OpenOutLocked(uOutPort);
    return RequestAllAfterOpenLocked(bIn, bOut);
}

bool CDeviceSession::OpenIn(uint32_t uPort) {
    std::lock_guard<std::mutex> lock(m_opMutex);
    return OpenInLocked(uPort);
}

bool CDeviceSession::OpenOut(uint32_t uPort) {
    std::lock_guard<std::mutex> lock(m_opMutex);
    return OpenOutLocked(uPort);
}

CDeviceSession::EConnect CDeviceSession::RequestAllAfterOpen(bool bIn, bool bOut) {
    std::lock_guard<std::mutex> lock(m_opMutex);
    return RequestAllAfterOpenLocked(bIn, bOut);
}

bool CDeviceSession::OpenInLocked(uint32_t uPort) {
    m_uInPort = uPort;
    m_dwArrived.store(0, std::memory_order_release);  // the input worker is stopped
    m_in.m_uDeviceID = uPort;
    return m_in.Open() && m_in.Start();
}

bool CDeviceSession::OpenOutLocked(uint32_t uPort) {
    m_uOutPort = uPort;
    m_out.m_uDeviceID = uPort;
    return m_out.Open() && m_out.Start();
}

CDeviceSession::EConnect CDeviceSession::RequestAllAfterOpenLocked(bool bIn, bool bOut) {
    if (!bIn && !bOut) return EConnect::BothFailed;
    if (!bIn) return EConnect::InFailed;
    if (!bOut) return EConnect::OutFailed;
    if (!qz::RequestAll(m_out, m_image.m_byDeviceID.load())) {
        m_out.Stop();
        m_out.Close();
        ResetLinkLocked();
        return EConnect::RequestRefused;
    }
    m_image.m_bForceStatusNotify = true;
    m_bConnected.store(true, std::memory_order_release);
    return EConnect::Ok;
}

CDeviceSession::EConnect CDeviceSession::Reconnect() {
    uint32_t uIn, uOut;
    {
        std::lock_guard<std::mutex> lock(m_opMutex);
        uIn = m_uInPort;
        uOut = m_uOutPort;
    }
    return Connect(uIn, uOut);
}

void CDeviceSession::Disconnect() {
    std::lock_guard<std::mutex> lock(m_opMutex);
    DisconnectLocked();
}

void CDeviceSession::DisconnectLocked() {
    m_bConnected.store(false, std::memory_order_release);
    m_in.Stop();
    m_in.Close();
    m_out.Stop();
    m_out.Close();
}

void CDeviceSession::ResetLink() {
    std::lock_guard<std::mutex> lock(m_opMutex);
    ResetLinkLocked();
}

void CDeviceSession::DropLink() {
    std::lock_guard<std::mutex> lock(m_opMutex);
    m_image.DropLink();
    m_linkWatch.Reset();
}

void CDeviceSession::ResetLinkLocked() {
    m_image.ResetLinkState();
    m_linkWatch.Reset();
}

void CDeviceSession::PortsGone() {
    {
        std::lock_guard<std::mutex> lock(m_opMutex);
        DisconnectLocked();
        ResetLinkLocked();
    }
    Notify({.eKind = CSessionEvent::EKind::PortsGone});
}

CLinkWatch::ETick CDeviceSession::Tick() {
    CLinkWatch::ETick eTick;
    {
        std::lock_guard<std::mutex> lock(m_opMutex);
        eTick = m_linkWatch.Tick();
    }
    if (eTick == CLinkWatch::kTickLinkUp) Notify({.eKind = CSessionEvent::EKind::LinkUp});
    if (eTick == CLinkWatch::kTickLinkLost) Notify({.eKind = CSessionEvent::EKind::LinkLost});
    return eTick;
}

int CDeviceSession::RequestAll() {
    std::lock_guard<std::mutex> lock(m_opMutex);
    return qz::RequestAll(m_out, m_image.m_byDeviceID.load());
}

int CDeviceSession::RequestMissing() {
    std::lock_guard<std::mutex> lock(m_opMutex);
    int n = 0;
    for (const qz::CBlockInfo& b : qz::kBlocks)
        if (b.bRequestAll && !m_image.ReplyStored(b.eBlock)) n += RequestLocked(b.eBlock);
    return n;
}

int CDeviceSession::Request(EBlock eBlock) {
    std::lock_guard<std::mutex> lock(m_opMutex);
    return RequestLocked(eBlock);
}

int CDeviceSession::RequestLocked(EBlock eBlock) {
    const qz::CBlockInfo& b = qz::BlockInfo(eBlock);
    return qz::SendRQ1(m_out, m_image.m_byDeviceID.load(), b.dwAddress, static_cast<uint32_t>(b.nSize));
}

// ---- replies ----

void CDeviceSession::COwner::PostReplyNotify(int wParam, int lParam) {
    if (wParam == REPLY_STATUS) m_nStatusMask = lParam;  // told with the status block that follows
    m_session.NotifyWith([&](CSessionListener& l) { l.OnReplyNotify(wParam, lParam); });
}

void CDeviceSession::COwner::UpdatePresetLine(int nPreset) {
    m_session.NotifyWith([&](CSessionListener& l) { l.OnPresetLine(nPreset); });
}

void CDeviceSession::COwner::UpdateControlEnable() {
    m_session.NotifyWith([](CSessionListener& l) { l.OnControlEnable(); });
}

void CDeviceSession::COwner::ReplyStored(EBlock eBlock, const uint8_t* pData, int nSize) {
    CSessionEvent event{.eKind = CSessionEvent::EKind::Block, .eBlock = eBlock};
    const int n = static_cast<int>(eBlock);
    if (n < 0 || n >= qz::kBlockCount || !pData) return;
    const size_t nBytes = static_cast<size_t>(std::clamp(nSize, 0, qz::kMaxReplyData));
    {
        std::lock_guard<std::mutex> lock(m_session.m_receivedMutex);
        const bool bFirst = !m_session.Arrived(eBlock);
        event.bChanged = bFirst || std::memcmp(m_session.m_received[n], pData, nBytes) != 0;
        std::memcpy(m_session.m_received[n], pData, nBytes);
        m_session.m_dwArrived.fetch_or(Bit(eBlock), std::memory_order_acq_rel);
    }
    if (eBlock == EBlock::Status) {
        event.nStatusMask = m_nStatusMask;
        m_nStatusMask = 0;
    }
    // A listener may settle a read-back waiter on this event: the mark goes first.
    m_session.m_image.MarkReplyStored(eBlock);
    m_session.Notify(event);
}

bool CDeviceSession::Arrived(EBlock eBlock) const {
    return (m_dwArrived.load(std::memory_order_acquire) & Bit(eBlock)) != 0;
}

bool CDeviceSession::ReadReceived(EBlock eBlock, uint8_t* pOut, size_t nBytes) const {
    const int n = static_cast<int>(eBlock);
    if (!pOut || n < 0 || n >= qz::kBlockCount || nBytes != static_cast<size_t>(qz::kBlocks[n].nSize)) return false;
    std::lock_guard<std::mutex> lock(m_receivedMutex);
    if (!Arrived(eBlock)) return false;
    std::memcpy(pOut, m_received[n], nBytes);
    return true;
}

std::string CDeviceSession::ProductID() const {
    uint8_t id[qz::kProductIDSize];
    if (!ReadReceived(EBlock::ProductID, id, sizeof id)) return {};
    const char* psz = reinterpret_cast<const char*>(id);
    return std::string(psz, strnlen(psz, sizeof id));
}

std::string CDeviceSession::Version() const {
    uint8_t v[qz::kVersionSize];
    if (!ReadReceived(EBlock::Version, v, sizeof v)) return {};
    const char* psz = reinterpret_cast<const char*>(v);
    return std::string(psz, strnlen(psz, sizeof v));
}

// ---- rules ----

std::string CDeviceSession::NotReadyReason(std::initializer_list<EBlock> blocks) const {
    if (!IsConnected()) return "the device's MIDI ports are not open";
    std::string missing;
    for (EBlock e : blocks)
        if (!Arrived(e)) missing += (missing.empty() ? "" : ", ") + std::string(qz::BlockInfo(e).pszName);
    return missing.empty() ? std::string() : "the device has not answered yet (missing: " + missing + ")";
}

int CDeviceSession::RemoteFirst(const std::vector<CSettingChoice>& choices) const {
    if (m_image.ReadByte(EBlock::System, qz::kSysRemote) != 0) return -1;
    for (size_t i = 0; i < choices.size(); ++i)
        if (IsSettingValue(choices[i]) && choices[i].pSetting->eRule == qz::ESettingRule::ControlMode &&
            choices[i].nValue == 1)
            return static_cast<int>(i);
    return -1;
}

std::string CDeviceSession::SettingRefusal(const CSettingChoice& c, bool bGoesRemote) const {
    if (!c.pSetting) return "no such setting";
    if (!IsSettingValue(c))
        return std::string(c.pSetting->pszName) + " has no value " + std::to_string(c.nValue);
    std::string why;
    switch (c.pSetting->eRule) {
        case qz::ESettingRule::ControlMode: why = NotReadyReason({EBlock::System, EBlock::ControlMode}); break;
        case qz::ESettingRule::FrameRate: why = NotReadyReason({EBlock::System, EBlock::Status}); break;
        case qz::ESettingRule::Ready: why = NotReadyReason({EBlock::System}); break;
    }
    if (!why.empty()) return why;
    uint8_t sys[qz::kSystemSize], st[qz::kStatusSize];
    m_image.Read(EBlock::System, sys);
    m_image.Read(EBlock::Status, st);
    const bool bRemote = sys[qz::kSysRemote] != 0 || bGoesRemote;
    switch (c.pSetting->eRule) {
        case qz::ESettingRule::ControlMode:
            // With SW6 on the device stays in Remote and the window disables both buttons.
            if (m_image.m_bRemote.load() && c.nValue == 0) return "the mode switch SW6 holds the device in Remote";
            return {};
        case qz::ESettingRule::FrameRate:
            if (!bRemote) return kLocalReason;
            switch (qz::FrameRateLock(sys, st)) {
                case qz::ERateLock::Sdi:
                    return "the default frame rate follows the SDI input (" +
                           qz::VideoFormatName(qz::VideoFormatCode(st)) + ")";
                case qz::ERateLock::IEEE1394: return "the default frame rate follows the IEEE1394 input";
                case qz::ERateLock::None: return {};
            }
            return {};
        case qz::ESettingRule::Ready: return bRemote ? std::string() : kLocalReason;
    }
    return {};
}

std::vector<CDeviceSession::CRefusal> CDeviceSession::SettingRefusals(const std::vector<CSettingChoice>& choices) const {
    const bool bGoesRemote = RemoteFirst(choices) >= 0;
    std::vector<CRefusal> refusals;
    for (size_t i = 0; i < choices.size(); ++i) {
        std::string why = SettingRefusal(choices[i], bGoesRemote);
        if (!why.empty()) refusals.push_back({i, std::move(why)});
    }
    return refusals;
}

std::vector<std::string> CDeviceSession::PresetRefusals(int nPreset, const std::vector<CPresetFieldChoice>& fields) const {
    if (nPreset < 0 || nPreset >= qz::kPresetCount) return {"there is no preset " + std::to_string(nPreset)};
    const std::string why = NotReadyReason({EBlock::System, EBlock::Status, EBlock::Preset0, EBlock::Preset1,
                                            EBlock::Preset2, EBlock::Preset3, EBlock::Preset4, EBlock::Preset5,
                                            EBlock::Preset6, EBlock::Preset7});
    if (!why.empty()) return {why};

    // The editor's rules: it opens only while the device is in Remote, offers LowLatency
    // only when the device does, and disables the fields its codec does not use.
    uint8_t p[qz::kPresetSize];
    m_image.Read(qz::PresetBlock(nPreset), p);
    const bool bLow = m_image.m_bLowLatencyAvail.load();
    const int nOffered = qz::PresetListItemCount(qz::kListCodec, bLow);
    int nCodec = std::max(qz::PresetListIndex(qz::kListCodec, p, nOffered), 0);
    auto isValid = [](const CPresetFieldChoice& f) {
        if (f.bHex) return f.nField >= 0 && f.nField < qz::kPresetHexCount && f.nValue >= 0 && f.nValue <= 0xFFFF;
        return f.nField >= 0 && f.nField < qz::kPresetListCount && f.nValue >= 0 &&
               f.nValue < qz::kPresetLists[f.nField].items.nCount;
    };
    for (const CPresetFieldChoice& f : fields)
        if (!f.bHex && f.nField == qz::kListCodec && isValid(f)) nCodec = f.nValue;
    std::vector<std::string> refusals;
    if (m_image.ReadByte(EBlock::System, qz::kSysRemote) == 0) refusals.push_back(kLocalReason);
    for (const CPresetFieldChoice& f : fields) {
        if (!isValid(f)) {
            refusals.push_back("no preset field " + std::to_string(f.nField) + " with value " + std::to_string(f.nValue));
            continue;
        }
        const std::string name = f.bHex ? qz::kPresetHexFields[f.nField].pszName : qz::kPresetLists[f.nField].pszName;
        if (!f.bHex && f.nField == qz::kListCodec && f.nValue >= nOffered)
            refusals.push_back("codec=" + CodecName(f.nValue) + ": the device does not offer it");
        else if (!(f.bHex ? qz::PresetHexEnabled(nCodec)
                          : qz::PresetListEnabled(static_cast<qz::EPresetList>(f.nField), nCodec)))
            refusals.push_back(name + " is not used with codec " + CodecName(nCodec) + " (the preset editor disables it)");
    }
    return refusals;
}

std::string CDeviceSession::FlashRefusal() const { return NotReadyReason({EBlock::System}); }

// ---- writes ----

bool CDeviceSession::SendSystemBlockLocked() {
    uint8_t sys[qz::kSystemSize];
    m_image.Read(EBlock::System, sys);
    return qz::SendDT1(m_out, m_image.m_byDeviceID.load(), qz::kAddrSystem, sys, sizeof sys) &&
           RequestLocked(EBlock::System);
}

CDeviceSession::ESend CDeviceSession::WriteSettings(const std::vector<CSettingChoice>& choices) {
    std::lock_guard<std::mutex> lock(m_opMutex);
    if (!SettingRefusals(choices).empty()) return ESend::Refused;
    // The image keeps the new values whatever happens next; the read-back corrects them.
    auto store = [&](const CSettingChoice& c) {
        m_image.WriteByte(EBlock::System, static_cast<size_t>(c.pSetting->nOffset), static_cast<uint8_t>(c.nValue));
    };
    const int nFirst = RemoteFirst(choices);
    if (nFirst >= 0 && choices.size() > 1) {
        store(choices[static_cast<size_t>(nFirst)]);
        if (!SendSystemBlockLocked()) return ESend::PortRefused;
    }
    bool bFrameRate = false;
    for (const CSettingChoice& c : choices) {
        store(c);
        bFrameRate |= c.pSetting->eRule == qz::ESettingRule::FrameRate;
    }
    if (!SendSystemBlockLocked()) return ESend::PortRefused;
    if (bFrameRate && !qz::RequestAll(m_out, m_image.m_byDeviceID.load())) return ESend::PortRefused;
    return ESend::Sent;
}

void CDeviceSession::BuildPreset(int nPreset, const std::vector<CPresetFieldChoice>& fields,
                                 uint8_t (&p)[qz::kPresetSize]) const {
    m_image.Read(qz::PresetBlock(nPreset), p);
    const bool bLow = m_image.m_bLowLatencyAvail.load();
    for (int e = 0; e < qz::kPresetListCount; ++e) {
        const auto eList = static_cast<qz::EPresetList>(e);
        qz::SavePresetList(eList, qz::PresetListIndex(eList, p, qz::PresetListItemCount(eList, bLow)), p);
    }
    for (const CPresetFieldChoice& f : fields) {
        if (f.bHex)
            qz::SavePresetHex(static_cast<qz::EPresetHex>(f.nField), qz::FormatHex16(f.nValue), p);
        else
            qz::SavePresetList(static_cast<qz::EPresetList>(f.nField), f.nValue, p);
    }
}

CDeviceSession::ESend CDeviceSession::SavePreset(int nPreset, const std::vector<CPresetFieldChoice>& fields,
                                                 uint8_t* pSent) {
    std::lock_guard<std::mutex> lock(m_opMutex);
    if (!PresetRefusals(nPreset, fields).empty()) return ESend::Refused;
    uint8_t p[qz::kPresetSize];
    BuildPreset(nPreset, fields, p);
    const EBlock eBlock = qz::PresetBlock(nPreset);
    m_image.Write(eBlock, p);
    if (pSent) std::memcpy(pSent, p, sizeof p);
    int bSent = qz::SendAllPresets(m_owner);
    uint8_t sys[qz::kSystemSize];
    m_image.Read(EBlock::System, sys);
    bSent &= qz::SendDT1(m_out, m_image.m_byDeviceID.load(), qz::kAddrSystem, sys, sizeof sys);
    // The editor asks for nothing; a session reads back, so that its replies say what the device holds.
    if (!bSent || !RequestLocked(eBlock) || !RequestLocked(EBlock::System)) return ESend::PortRefused;
    return ESend::Sent;
}

CDeviceSession::ESend CDeviceSession::WriteFlash() {
    std::lock_guard<std::mutex> lock(m_opMutex);
    if (!FlashRefusal().empty()) return ESend::Refused;
    return m_out.SendLongMsg(qz::kWriteFlashFrame, sizeof qz::kWriteFlashFrame) ? ESend::Sent : ESend::PortRefused;
}
