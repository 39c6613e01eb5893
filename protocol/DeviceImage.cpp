#include "protocol/DeviceImage.h"

CDeviceImage::CDeviceImage() {
    std::memset(m_system, 0, sizeof m_system);
    std::memset(m_timecode, 0, sizeof m_timecode);
    std::memset(m_preset, 0, sizeof m_preset);
    std::memset(m_status, 0, sizeof m_status);
    std::memset(m_version, 0, sizeof m_version);
    std::memset(m_productID, 0, sizeof m_productID);
    for (auto& f : m_bPresetRcvd) f.store(0);
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
    m_bVersionRcvd = 0;
    m_bProductIDRcvd = 0;
    m_bTimecodeRcvd = 0;
    for (auto& f : m_bPresetRcvd) f = 0;
    m_bAllPresetsRcvd = 0;
    m_bForceStatusNotify = 1;  // the status copy is not cleared: its first reply shows in full
}

void CDeviceImage::ResetLinkState() {
    m_bLinkUp = 0;
    m_nSilentTicks = 0;
    m_nStatusReplies = 0;
    m_nStatusSeen = 0;
    m_nDirection = 0;
    m_bRateFromSdi = 0;
    m_bRateFrom1394 = 0;
    m_nRateEnableCount = 0;
    m_bLowLatencyAvail = 0;
    m_byControlMode = kNoControlMode;
    m_bForceStatusNotify = 1;
}
