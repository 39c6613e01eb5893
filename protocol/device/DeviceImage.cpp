#include "protocol/device/DeviceImage.h"

#include <cstring>

#include "protocol/fields/StatusText.h"

namespace {
// The block table is indexed by EBlock.
constexpr bool TableMatchesEnum() {
    for (int i = 0; i < qz::kBlockCount; ++i)
        if (static_cast<int>(qz::kBlocks[i].eBlock) != i) return false;
    return true;
}
static_assert(TableMatchesEnum(), "kBlocks rows must follow the order of EBlock");
}  // namespace

CDeviceImage::CDeviceImage() {
    std::memset(m_system, 0, sizeof m_system);
    std::memset(m_timecode, 0, sizeof m_timecode);
    std::memset(m_preset, 0, sizeof m_preset);
    std::memset(m_status, 0, sizeof m_status);
    std::memset(m_version, 0, sizeof m_version);
    std::memset(m_productID, 0, sizeof m_productID);
    for (auto& f : m_bPresetRcvd) f.store(false);
}

void CDeviceImage::Clear() {
    {
        std::lock_guard<std::mutex> lock(m_blockLock);
        std::memset(m_system, 0, sizeof m_system);
        std::memset(m_timecode, 0, sizeof m_timecode);
        std::memset(m_version, 0, sizeof m_version);
        std::memset(m_productID, 0, sizeof m_productID);
        std::memset(m_preset, 0, sizeof m_preset);
    }
    m_bVersionRcvd = false;
    m_bProductIDRcvd = false;
    m_bTimecodeRcvd = false;
    for (auto& f : m_bPresetRcvd) f = false;
    m_bAllPresetsRcvd = false;
    m_dwRepliesStored = 0;
    m_bForceStatusNotify = true;  // the status copy is not cleared: its first reply shows in full
}

void CDeviceImage::ResetLinkState() {
    DropLink();
    m_byControlMode = kNoControlMode;
    m_bForceStatusNotify = true;
}

void CDeviceImage::DropLink() {
    m_bLinkUp = false;
    m_nStatusReplies = 0;
    m_nDirection = 0;
    m_bRateFromSdi = false;
    m_bRateFrom1394 = false;
    m_bLowLatencyAvail = false;
}

size_t CDeviceImage::CopySize(EBlock eBlock) {
    switch (eBlock) {
        case EBlock::ControlMode: return 0;
        case EBlock::ProductID: return qz::kProductIDCopySize;
        default: break;
    }
    int n = static_cast<int>(eBlock);
    return n >= 0 && n < qz::kBlockCount ? static_cast<size_t>(qz::kBlocks[n].nSize) : 0;
}

uint8_t* CDeviceImage::Copy(EBlock eBlock) {
    return const_cast<uint8_t*>(static_cast<const CDeviceImage*>(this)->Copy(eBlock));
}

const uint8_t* CDeviceImage::Copy(EBlock eBlock) const {
    switch (eBlock) {
        case EBlock::Version: return m_version;
        case EBlock::ProductID: return m_productID;
        case EBlock::System: return m_system;
        case EBlock::Timecode: return m_timecode;
        case EBlock::Status: return m_status;
        case EBlock::ControlMode: return nullptr;
        default: break;
    }
    int n = qz::PresetIndex(eBlock);
    return n >= 0 ? m_preset[n] : nullptr;
}

bool CDeviceImage::Read(EBlock eBlock, uint8_t* pOut, size_t nBytes) const {
    const uint8_t* p = Copy(eBlock);
    if (!p || !pOut || nBytes != CopySize(eBlock)) return false;
    std::lock_guard<std::mutex> lock(m_blockLock);
    std::memcpy(pOut, p, nBytes);
    return true;
}

size_t CDeviceImage::WritableSize(EBlock eBlock) {
    return eBlock == EBlock::ProductID ? qz::kProductIDSize : CopySize(eBlock);
}

bool CDeviceImage::Write(EBlock eBlock, const uint8_t* pIn, size_t nBytes) {
    uint8_t* p = Copy(eBlock);
    if (!p || !pIn || nBytes != WritableSize(eBlock)) return false;
    std::lock_guard<std::mutex> lock(m_blockLock);
    std::memcpy(p, pIn, nBytes);
    return true;
}

uint8_t CDeviceImage::ReadByte(EBlock eBlock, size_t i) const {
    const uint8_t* p = Copy(eBlock);
    if (!p || i >= CopySize(eBlock)) return 0;
    std::lock_guard<std::mutex> lock(m_blockLock);
    return p[i];
}

bool CDeviceImage::WriteByte(EBlock eBlock, size_t i, uint8_t by) {
    uint8_t* p = Copy(eBlock);
    if (!p || i >= WritableSize(eBlock)) return false;
    std::lock_guard<std::mutex> lock(m_blockLock);
    p[i] = by;
    return true;
}

bool CDeviceImage::ReplyStored(EBlock eBlock) const {
    const int n = static_cast<int>(eBlock);
    return n < qz::kBlockCount && ((m_dwRepliesStored.load(std::memory_order_acquire) >> n) & 1);
}

void CDeviceImage::MarkReplyStored(EBlock eBlock) {
    const int n = static_cast<int>(eBlock);
    if (n < qz::kBlockCount) m_dwRepliesStored.fetch_or(uint32_t{1} << n, std::memory_order_acq_rel);
}

void CDeviceImage::ForgetReply(EBlock eBlock) {
    const int n = static_cast<int>(eBlock);
    if (n < qz::kBlockCount) m_dwRepliesStored.fetch_and(~(uint32_t{1} << n), std::memory_order_acq_rel);
}

int CDeviceImage::StoreStatus(const uint8_t (&status)[qz::kStatusSize]) {
    std::lock_guard<std::mutex> lock(m_blockLock);
    int mask = m_bForceStatusNotify.load() ? qz::kStatusMaskAll : qz::StatusChangeMask(m_status, status);
    std::memcpy(m_status, status, sizeof m_status);
    return mask;
}
