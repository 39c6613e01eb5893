#include "midi/PortWatch.h"

#include "midi/MidiDevList.h"
#include "midi/platform/WorkerThread.h"

CPortWatch::CPortWatch(CMidiDriver* pDriver, uint32_t nIntervalMs)
    : m_pDriver(pDriver ? pDriver : &qz::DefaultMidiDriver()), m_nIntervalMs(nIntervalMs ? nIntervalMs : 1) {}

CPortWatch::~CPortWatch() {
    Stop();
    SetChangeSource(nullptr);  // no notice may reach the events once they are gone
}

void CPortWatch::SetChangeSource(std::unique_ptr<CPortChangeSource> pSource) {
    std::unique_ptr<CPortChangeSource> pOld;
    {
        std::lock_guard<std::mutex> lock(m_sourceMutex);
        pOld = std::move(m_pSource);
        m_pSource = std::move(pSource);
    }
    pOld.reset();  // outside the lock: closing a source may wait for its last notice
    m_changed.Set();  // the worker picks its new interval
}

bool CPortWatch::HasLiveSource() const {
    std::lock_guard<std::mutex> lock(m_sourceMutex);
    return m_pSource && m_pSource->IsAlive();
}

void CPortWatch::Start() {
    if (m_thread.joinable()) return;
    m_stop.Reset();
    m_thread = std::thread(&CPortWatch::WorkerMain, this);
}

void CPortWatch::Stop() {
    if (!m_thread.joinable()) return;
    m_stop.Set();
    m_thread.join();
}

void CPortWatch::WorkerMain() {
    qz::BecomeWorkerThread("qz-port-watch");
    CheckNow();
    for (;;) {
        const uint32_t nWaitMs = HasLiveSource() ? kFallbackIntervalMs : m_nIntervalMs;
        const int nWoken = CEvent::WaitAny(m_stop, m_changed, nWaitMs);
        if (nWoken == 0) return;
        if (nWoken == 1 && m_stop.Wait(kSettleMs)) return;
        CheckNow();
    }
}

bool CPortWatch::CheckNow() {
    std::lock_guard<std::mutex> check(m_checkMutex);
    CMidiInDevList ins(m_pDriver);
    CMidiOutDevList outs(m_pDriver);
    ins.Refresh();
    outs.Refresh();
    m_nListings.fetch_add(1, std::memory_order_relaxed);
    CPortLists lists{{ins.begin(), ins.end()}, {outs.begin(), outs.end()}, ins.Devices(), outs.Devices()};
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bListed && lists == m_lists) return false;
    m_lists = std::move(lists);
    m_bListed = true;
    m_nGeneration.fetch_add(1, std::memory_order_release);
    return true;
}

std::vector<std::string> CPortWatch::Inputs() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lists.m_ins;
}

std::vector<std::string> CPortWatch::Outputs() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lists.m_outs;
}

CPortLists CPortWatch::Lists() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lists;
}
