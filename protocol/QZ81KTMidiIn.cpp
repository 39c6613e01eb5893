#include "protocol/QZ81KTMidiIn.h"

#include "protocol/DeviceFrames.h"
#include "protocol/DeviceImage.h"
#include "protocol/DeviceOwner.h"
#include "protocol/QZ81KTMidiOut.h"
#include "protocol/StatusText.h"

namespace {

void StoreVersion(CDeviceOwner& owner, const uint8_t* pData, int) {
    CDeviceImage& img = owner.Image();
    img.Write(img.m_version, pData, qz::kVersionSize);
    img.m_bVersionRcvd.store(1, std::memory_order_release);
    owner.PostReplyNotify(REPLY_IDENTITY, 0);
}

void StoreProductID(CDeviceOwner& owner, const uint8_t* pData, int) {
    CDeviceImage& img = owner.Image();
    img.Write(img.m_productID, pData, qz::kProductIDSize);  // the 8 bytes behind stay 0
    img.m_bProductIDRcvd.store(1, std::memory_order_release);
    owner.PostReplyNotify(REPLY_IDENTITY, 0);
}

void StoreControlMode(CDeviceOwner& owner, const uint8_t* pData, int) {
    CDeviceImage& img = owner.Image();
    uint8_t by = pData[0];
    if (by == img.m_byControlMode.load(std::memory_order_acquire)) return;
    img.m_byControlMode.store(by, std::memory_order_release);
    img.m_bRemote.store(by & 1, std::memory_order_release);
    owner.PostReplyNotify(REPLY_CONTROL_MODE, 0);
    owner.UpdateControlEnable();
    // The system block display follows the new mode.
    SendRQ1(owner.MidiOut(), img.m_byDeviceID.load(), qz::kAddrSystem, qz::kSystemSize);
}

void StoreSystem(CDeviceOwner& owner, const uint8_t* pData, int) {
    CDeviceImage& img = owner.Image();
    img.Write(img.m_system, pData, qz::kSystemSize);
    owner.PostReplyNotify(REPLY_SYSTEM, 0);
}

void StoreTimecode(CDeviceOwner& owner, const uint8_t* pData, int) {
    CDeviceImage& img = owner.Image();
    img.Write(img.m_timecode, pData, qz::kTimecodeSize);
    img.m_bTimecodeRcvd.store(1, std::memory_order_release);
}

void StorePreset(CDeviceOwner& owner, const uint8_t* pData, int nPreset) { StorePresetReply(owner, nPreset, pData); }

void StoreStatus(CDeviceOwner& owner, const uint8_t* pData, int) {
    CDeviceImage& img = owner.Image();
    int mask;
    {
        std::lock_guard<std::mutex> lock(img.BlockLock());
        mask = img.m_bForceStatusNotify.load() ? 0xFF : qz::StatusChangeMask(img.m_status, pData);
        std::memcpy(img.m_status, pData, qz::kStatusSize);
    }
    img.m_bLowLatencyAvail.store(pData[13] & 1, std::memory_order_release);
    if (mask != 0) owner.PostReplyNotify(REPLY_STATUS, mask);
    img.m_nStatusReplies.fetch_add(1, std::memory_order_acq_rel);
    img.m_bForceStatusNotify.store(0, std::memory_order_release);
}

constexpr CQZ81KTMidiIn::BlockEntry kBlockMap[] = {
    {qz::kAddrVersion, qz::kVersionSize, -1, &StoreVersion},
    {qz::kAddrProductID, qz::kProductIDSize, -1, &StoreProductID},
    {qz::kAddrControlMode, qz::kControlModeSize, -1, &StoreControlMode},
    {qz::kAddrSystem, qz::kSystemSize, -1, &StoreSystem},
    {qz::kAddrTimecode, qz::kTimecodeSize, -1, &StoreTimecode},
    {0x000200, qz::kPresetSize, 0, &StorePreset},
    {0x000240, qz::kPresetSize, 1, &StorePreset},
    {0x000300, qz::kPresetSize, 2, &StorePreset},
    {0x000340, qz::kPresetSize, 3, &StorePreset},
    {0x000400, qz::kPresetSize, 4, &StorePreset},
    {0x000440, qz::kPresetSize, 5, &StorePreset},
    {0x000500, qz::kPresetSize, 6, &StorePreset},
    {0x000540, qz::kPresetSize, 7, &StorePreset},
    {qz::kAddrStatus, qz::kStatusSize, -1, &StoreStatus},
};

}  // namespace

CQZ81KTMidiIn::~CQZ81KTMidiIn() { Close(); }

const CQZ81KTMidiIn::BlockEntry* CQZ81KTMidiIn::FindBlock(uint32_t dwAddress) {
    for (const BlockEntry& e : kBlockMap)
        if (e.dwAddress == dwAddress) return &e;
    return nullptr;
}

void CQZ81KTMidiIn::OnOtherSysEx(const uint8_t* pMsg, int nLen) {
    // A data set carries at least one data byte. The device ID, model byte 2 and the
    // checksum are not examined: replies from any ID, and with a wrong sum, are stored.
    if (!pMsg || nLen < 13 || !m_pOwnerWnd) return;
    if (pMsg[3] != 0x00 || pMsg[5] != 0x3F || pMsg[6] != qz::kCmdDT1) return;
    uint32_t dwAddress = (uint32_t(pMsg[7]) << 16) | (uint32_t(pMsg[8]) << 8) | pMsg[9];
    const BlockEntry* e = FindBlock(dwAddress);
    if (!e || nLen - qz::kDT1Overhead != e->nSize) return;
    e->pfnHandler(*m_pOwnerWnd, pMsg + 10, e->nPreset);
    m_nRepliesStored.fetch_add(1, std::memory_order_relaxed);
}

int RequestAll(CQZ81KTMidiOut& port, uint8_t byDeviceID) {
    if (!SendRQ1(port, byDeviceID, qz::kAddrVersion, qz::kVersionSize)) return 0;
    if (!SendRQ1(port, byDeviceID, qz::kAddrProductID, qz::kProductIDSize)) return 0;
    if (!SendRQ1(port, byDeviceID, qz::kAddrSystem, qz::kSystemSize)) return 0;
    if (!SendRQ1(port, byDeviceID, qz::kAddrTimecode, qz::kTimecodeSize)) return 0;
    for (int n = 0; n < qz::kPresetCount; ++n)
        if (!SendRQ1(port, byDeviceID, qz::PackAddress7(static_cast<uint32_t>(n + 4) * 64), qz::kPresetSize)) return 0;
    return SendRQ1(port, byDeviceID, qz::kAddrStatus, qz::kStatusSize);
}

void StorePresetReply(CDeviceOwner& owner, int nPreset, const uint8_t* pData) {
    if (nPreset < 0 || nPreset >= qz::kPresetCount) return;
    CDeviceImage& img = owner.Image();
    img.Write(img.m_preset[nPreset], pData, qz::kPresetSize);
    img.m_bPresetRcvd[nPreset].store(1, std::memory_order_release);
    int all = 1;
    for (auto& f : img.m_bPresetRcvd) all &= f.load(std::memory_order_acquire);
    img.m_bAllPresetsRcvd.store(all, std::memory_order_release);
    owner.UpdatePresetLine(nPreset);
}

void SendAllPresets(CDeviceOwner& owner) {
    CDeviceImage& img = owner.Image();
    for (int n = 0; n < qz::kPresetCount; ++n) {
        uint8_t block[qz::kPresetSize];
        img.Read(img.m_preset[n], block, sizeof block);
        SendDT1(owner.MidiOut(), img.m_byDeviceID.load(), qz::PresetAddress(n), block, sizeof block);
    }
}
