#include "server/ReadBackWaits.h"

#include <algorithm>

#include "protocol/device/Rack.h"

void CReadBackWaits::Add(uint64_t nOwner, const std::string& strUnit, qz::EBlock eBlock, DoneFn done,
                         Clock::time_point now) {
    m_waits.push_back({nOwner, strUnit, eBlock, now + std::chrono::milliseconds(kReadBackMs), std::move(done)});
}

void CReadBackWaits::Settle(const CRack& rack, Clock::time_point now) {
    // Callbacks may add waits: settle a copy of the list as it is now.
    std::vector<std::pair<DoneFn, bool>> settled;
    for (size_t i = 0; i < m_waits.size();) {
        const std::shared_ptr<CDeviceSession> pSession = rack.Session(m_waits[i].strUnit);
        const bool bBack = pSession && pSession->Image().ReplyStored(m_waits[i].eBlock);
        if (bBack || !pSession || now >= m_waits[i].deadline) {
            settled.emplace_back(std::move(m_waits[i].done), bBack);
            m_waits.erase(m_waits.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    for (auto& [done, bBack] : settled) done(bBack);
}

void CReadBackWaits::Drop(uint64_t nOwner) {
    std::erase_if(m_waits, [&](const CWait& w) { return w.nOwner == nOwner; });
}

void CReadBackWaits::Abandon() {
    std::vector<CWait> waits = std::move(m_waits);
    m_waits.clear();
    for (CWait& w : waits) w.done(false);
}
