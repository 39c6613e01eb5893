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

bool CCliSession::Received(qz::EBlock eBlock) const {
    const CDeviceImage& img = m_image;
    switch (eBlock) {
        case qz::EBlock::Version: return img.m_bVersionRcvd.load() != 0;
        case qz::EBlock::ProductID: return img.m_bProductIDRcvd.load() != 0;
        case qz::EBlock::ControlMode: return m_bControlModeSeen.load();
        case qz::EBlock::System: return m_bSystemSeen.load();
        case qz::EBlock::Timecode: return img.m_bTimecodeRcvd.load() != 0;
        case qz::EBlock::Status: return m_bStatusSeen.load();
        default: return img.m_bPresetRcvd[qz::PresetIndex(eBlock)].load() != 0;
    }
}

std::vector<std::string> CCliSession::MissingBlocks() const {
    std::vector<std::string> missing;
    for (const qz::CBlockInfo& b : qz::kBlocks)
        if (b.bRequestAll && !Received(b.eBlock)) missing.push_back(b.pszName);
    return missing;
}

int CCliSession::RequestMissing() {
    uint8_t id = m_image.m_byDeviceID.load();
    int n = 0;
    for (const qz::CBlockInfo& b : qz::kBlocks)
        if (b.bRequestAll && !Received(b.eBlock) &&
            SendRQ1(m_out, id, b.dwAddress, static_cast<uint32_t>(b.nSize)))
            ++n;
    return n;
}
