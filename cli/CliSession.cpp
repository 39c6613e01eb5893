#include "cli/CliSession.h"

#include <chrono>

#include "protocol/DeviceFrames.h"

CCliSession::CCliSession(CMidiDriver& driver) : m_out(&driver), m_in(&driver) {
    m_image.Clear();
    m_in.m_pOwnerWnd = this;
    m_out.SetTrafficTap(&m_tap);
    m_in.SetTrafficTap(&m_tap);
}

CCliSession::~CCliSession() { Disconnect(); }

CCliSession::EConnect CCliSession::Connect(uint32_t uInPort, uint32_t uOutPort) {
    m_uInPort = uInPort;
    m_uOutPort = uOutPort;
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

void CCliSession::PostReplyNotify(int wParam, int) {
    if (wParam < 0 || wParam >= 32) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_dwPending |= Bit(wParam);
    }
    m_cv.notify_all();
}

uint32_t CCliSession::WaitNotify(uint32_t dwTimeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait_for(lock, std::chrono::milliseconds(dwTimeoutMs), [&] { return m_dwPending != 0; });
    uint32_t dw = m_dwPending;
    m_dwPending = 0;
    return dw;
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
