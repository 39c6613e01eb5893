#include "protocol/wire/QZ81KTMidiIn.h"

#include <cstring>

#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/device/DeviceImage.h"
#include "protocol/device/DeviceOwner.h"
#include "protocol/device/PresetOperations.h"
#include "protocol/wire/QZ81KTMidiOut.h"
#include "protocol/fields/StatusText.h"

namespace {

using qz::EBlock;

void StoreControlMode(CDeviceOwner& owner, uint8_t by) {
    CDeviceImage& img = owner.Image();
    const bool bChanged = by != img.m_byControlMode.load(std::memory_order_acquire);
    if (bChanged) {
        img.m_byControlMode.store(by, std::memory_order_release);
        img.m_bRemote.store((by & 1) != 0, std::memory_order_release);
    }
    if (!bChanged) return;
    owner.PostReplyNotify(REPLY_CONTROL_MODE, 0);
    owner.UpdateControlEnable();
    // The system block display follows the new mode.
    qz::SendRQ1(owner.MidiOut(), img.m_byDeviceID.load(), qz::kAddrSystem, qz::kSystemSize);
}

void StoreStatus(CDeviceOwner& owner, const uint8_t* pData) {
    CDeviceImage& img = owner.Image();
    uint8_t status[qz::kStatusSize];
    std::memcpy(status, pData, sizeof status);
    int mask = img.StoreStatus(status);
    img.m_bLowLatencyAvail.store((status[qz::kStLowLatency] & 1) != 0, std::memory_order_release);
    if (mask != 0) owner.PostReplyNotify(REPLY_STATUS, mask);
    img.m_nStatusReplies.fetch_add(1, std::memory_order_acq_rel);
    img.m_bForceStatusNotify.store(false, std::memory_order_release);
}

// The handler of a checked reply of the given block: copy, flag, notify, tell the
// owner, and mark it stored last: a waiter that sees the mark finds all the rest done,
// the owner's own record of what arrived included (an owner that tells listeners of it
// marks before it does).
void StoreReply(CDeviceOwner& owner, EBlock eBlock, const uint8_t* pData) {
    CDeviceImage& img = owner.Image();
    switch (eBlock) {
        case EBlock::Version:
            img.Write(eBlock, pData, qz::kVersionSize);
            img.m_bVersionRcvd.store(true, std::memory_order_release);
            owner.PostReplyNotify(REPLY_IDENTITY, 0);
            break;
        case EBlock::ProductID:
            img.Write(eBlock, pData, qz::kProductIDSize);  // the 8 bytes behind stay 0
            img.m_bProductIDRcvd.store(true, std::memory_order_release);
            owner.PostReplyNotify(REPLY_IDENTITY, 0);
            break;
        case EBlock::ControlMode: StoreControlMode(owner, pData[0]); break;
        case EBlock::System:
            img.Write(eBlock, pData, qz::kSystemSize);
            owner.PostReplyNotify(REPLY_SYSTEM, 0);
            break;
        case EBlock::Timecode:
            img.Write(eBlock, pData, qz::kTimecodeSize);
            img.m_bTimecodeRcvd.store(true, std::memory_order_release);
            break;
        case EBlock::Status: StoreStatus(owner, pData); break;
        default:
            qz::StorePresetReply(owner, qz::PresetIndex(eBlock), pData);
            break;
    }
    owner.ReplyStored(eBlock, pData, qz::BlockInfo(eBlock).nSize);
    img.MarkReplyStored(eBlock);
}

}  // namespace

CQZ81KTMidiIn::~CQZ81KTMidiIn() = default;

void CQZ81KTMidiIn::OnOtherSysEx(const uint8_t* pMsg, int nLen) {
    // A data set carries at least one data byte. The device ID, model byte 2 and the
    // checksum are not examined: replies from any ID, and with a wrong sum, are stored.
    qz::CFrameFields frame;
    if (nLen < 0 || !m_pOwnerWnd || !qz::ReadFrame(pMsg, static_cast<size_t>(nLen), frame) || frame.nData == 0)
        return;
    if (frame.abyModel[0] != 0x00 || frame.abyModel[2] != 0x3F || frame.byCommand != qz::kCmdDT1) return;
    const qz::CBlockInfo* pBlock = qz::FindBlockByAddress(frame.dwAddress);
    if (!pBlock || frame.nData != static_cast<size_t>(pBlock->nSize)) return;
    StoreReply(*m_pOwnerWnd, pBlock->eBlock, frame.pData);
}

int qz::RequestAll(CQZ81KTMidiOut& port, uint8_t byDeviceID) {
    for (const qz::CBlockInfo& b : qz::kBlocks)
        if (b.bRequestAll && !SendRQ1(port, byDeviceID, b.dwAddress, static_cast<uint32_t>(b.nSize))) return 0;
    return 1;
}
