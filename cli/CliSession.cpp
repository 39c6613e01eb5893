#include "cli/CliSession.h"

#include <chrono>

void CCliSession::OnSessionEvent(const CSessionEvent& event) {
    if (event.eKind != CSessionEvent::EKind::Block) return;
    // The codes the window's reply handlers post, for the same replies.
    int nCode = -1;
    switch (event.eBlock) {
        case qz::EBlock::Version:
        case qz::EBlock::ProductID: nCode = REPLY_IDENTITY; break;
        case qz::EBlock::System: nCode = REPLY_SYSTEM; break;
        case qz::EBlock::ControlMode: nCode = event.bChanged ? REPLY_CONTROL_MODE : -1; break;
        case qz::EBlock::Status: nCode = event.nStatusMask != 0 ? REPLY_STATUS : -1; break;
        default: break;
    }
    if (nCode < 0) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_dwPending |= Bit(nCode);
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
