#include "cli/CliSession.h"

#include <chrono>

#include "protocol/DeviceFrames.h"

CCliSession::CCliSession(CMidiDriver& driver) : m_out(&driver), m_in(&driver) {
    m_image.Clear();
    m_in.m_pOwnerWnd = this;
}

CCliSession::~CCliSession() { Disconnect(); }

CCliSession::EConnect CCliSession::Connect(uint32_t uInPort, uint32_t uOutPort) {
    m_image.ResetLinkState();
    if (m_in.IsActive()) m_in.Stop();
    m_in.Close();
    if (m_out.IsActive()) m_out.Stop();
    m_out.Close();
    m_in.m_uDeviceID = uInPort;
    bool bIn = m_in.Open() && m_in.Start();
    m_out.m_uDeviceID = uOutPort;
    bool bOut = m_out.Open() && m_out.Start();
    if (!bIn && !bOut) return EConnect::BothFailed;
    if (!bIn) return EConnect::InFailed;
    if (!bOut) return EConnect::OutFailed;
    if (!RequestAll(m_out, m_image.m_byDeviceID.load())) {
        m_out.Stop();
        m_out.Close();
        m_image.ResetLinkState();
        return EConnect::RequestRefused;
    }
    m_image.m_bForceStatusNotify = 1;
    return EConnect::Ok;
}

void CCliSession::Disconnect() {
    m_in.Stop();
    m_in.Close();
    m_out.Stop();
    m_out.Close();
}

void CCliSession::PostReplyNotify(int wParam, int lParam) {
    if (wParam == REPLY_SYSTEM) m_bSystemSeen = true;
    if (wParam == REPLY_STATUS) m_bStatusSeen = true;
    if (wParam == REPLY_CONTROL_MODE) m_bControlModeSeen = true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.emplace_back(wParam, lParam);
    }
    m_cv.notify_all();
}

bool CCliSession::WaitNotify(int& wParam, int& lParam, uint32_t dwTimeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_cv.wait_for(lock, std::chrono::milliseconds(dwTimeoutMs), [&] { return !m_queue.empty(); })) return false;
    wParam = m_queue.front().first;
    lParam = m_queue.front().second;
    m_queue.pop_front();
    return true;
}

int CCliSession::Tick() {
    CDeviceImage& img = m_image;
    int replies = img.m_nStatusReplies.load();
    if (!img.m_bLinkUp) {
        // Nothing is sent while the link is down; the first new status reply brings it up.
        if (replies == img.m_nStatusSeen) return kTickNothing;
        img.m_nStatusSeen = replies;
        img.m_bLinkUp = 1;
        img.m_nSilentTicks = 0;
        return kTickLinkUp;
    }
    ++img.m_nPollTicks;
    ++img.m_nSilentTicks;
    if (replies != img.m_nStatusSeen) {
        img.m_nStatusSeen = replies;
        img.m_nSilentTicks = 0;
    }
    uint8_t id = img.m_byDeviceID.load();
    SendRQ1(m_out, id, qz::kAddrStatus, qz::kStatusSize);
    SendRQ1(m_out, id, qz::kAddrControlMode, qz::kControlModeSize);
    if (img.m_nPollTicks % kSystemPollTicks == 0) SendRQ1(m_out, id, qz::kAddrSystem, qz::kSystemSize);
    if (img.m_nSilentTicks == kSilentTicksLimit) {
        img.m_bLinkUp = 0;
        img.m_nSilentTicks = 0;
        return kTickLinkLost;
    }
    return kTickNothing;
}

std::vector<std::string> CCliSession::MissingBlocks() const {
    std::vector<std::string> missing;
    const CDeviceImage& img = m_image;
    if (!img.m_bVersionRcvd) missing.push_back("version");
    if (!img.m_bProductIDRcvd) missing.push_back("product ID");
    if (!m_bSystemSeen) missing.push_back("system");
    if (!img.m_bTimecodeRcvd) missing.push_back("timecode");
    for (int n = 0; n < qz::kPresetCount; ++n)
        if (!img.m_bPresetRcvd[n]) missing.push_back("preset " + std::to_string(n));
    if (!m_bStatusSeen) missing.push_back("status");
    return missing;
}

int CCliSession::RequestMissing() {
    const CDeviceImage& img = m_image;
    uint8_t id = img.m_byDeviceID.load();
    int n = 0;
    auto ask = [&](bool bMissing, uint32_t dwAddress, uint32_t dwSize) {
        if (bMissing && SendRQ1(m_out, id, dwAddress, dwSize)) ++n;
    };
    ask(!img.m_bVersionRcvd, qz::kAddrVersion, qz::kVersionSize);
    ask(!img.m_bProductIDRcvd, qz::kAddrProductID, qz::kProductIDSize);
    ask(!m_bSystemSeen, qz::kAddrSystem, qz::kSystemSize);
    ask(!img.m_bTimecodeRcvd, qz::kAddrTimecode, qz::kTimecodeSize);
    for (int p = 0; p < qz::kPresetCount; ++p) ask(!img.m_bPresetRcvd[p], qz::PresetAddress(p), qz::kPresetSize);
    ask(!m_bStatusSeen, qz::kAddrStatus, qz::kStatusSize);
    return n;
}
