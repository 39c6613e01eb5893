#include "midi/platform/Event.h"

#include <chrono>
#include <stdexcept>

CEvent::CEvent(bool bManualReset, bool bInitialState)
    : m_domain(std::make_shared<Domain>()), m_bManualReset(bManualReset), m_bState(bInitialState) {}

CEvent::CEvent(bool bManualReset, bool bInitialState, CEvent& shareWith)
    : m_domain(shareWith.m_domain), m_bManualReset(bManualReset), m_bState(bInitialState) {}

void CEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(m_domain->mutex);
        m_bState = true;
    }
    m_domain->cv.notify_all();
}

void CEvent::Reset() {
    std::lock_guard<std::mutex> lock(m_domain->mutex);
    m_bState = false;
}

bool CEvent::IsSet() const {
    std::lock_guard<std::mutex> lock(m_domain->mutex);
    return m_bState;
}

bool CEvent::ConsumeLocked() {
    if (!m_bState) return false;
    if (!m_bManualReset) m_bState = false;
    return true;
}

bool CEvent::Wait(uint32_t dwTimeoutMs) {
    std::unique_lock<std::mutex> lock(m_domain->mutex);
    auto ready = [this] { return m_bState; };
    if (dwTimeoutMs == kInfinite) {
        m_domain->cv.wait(lock, ready);
    } else if (!m_domain->cv.wait_for(lock, std::chrono::milliseconds(dwTimeoutMs), ready)) {
        return false;
    }
    return ConsumeLocked();
}

int CEvent::WaitAny(CEvent& first, CEvent& second, uint32_t dwTimeoutMs) {
    if (first.m_domain != second.m_domain) throw std::logic_error("CEvent::WaitAny: events of different domains");
    std::unique_lock<std::mutex> lock(first.m_domain->mutex);
    auto ready = [&] { return first.m_bState || second.m_bState; };
    if (dwTimeoutMs == kInfinite) {
        first.m_domain->cv.wait(lock, ready);
    } else if (!first.m_domain->cv.wait_for(lock, std::chrono::milliseconds(dwTimeoutMs), ready)) {
        return kTimeout;
    }
    if (first.ConsumeLocked()) return 0;
    second.ConsumeLocked();
    return 1;
}
