#include "midi/platform/JackMidiSession.h"

#include <jack/midiport.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "midi/MidiMessageLength.h"
#include "midi/PortWatch.h"
#include "midi/platform/WorkerThread.h"

void CJackMidiDriver::WatchLink::Notify() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pWatch) m_pWatch->NotifyChange();
}

// ---- session ----

std::unique_ptr<CJackMidiDriver::Session> CJackMidiDriver::Session::Open(const std::string& strName,
                                                                         Counters& counters,
                                                                         std::shared_ptr<WatchLink> pWatchLink,
                                                                         std::string& strWhy) {
    jack_status_t status{};
    jack_client_t* pClient = jack_client_open(strName.c_str(), JackNoStartServer, &status);
    if (!pClient) {
        strWhy = "JACK: no server answers";
        if (const char* psz = std::getenv("JACK_DEFAULT_SERVER")) strWhy += std::string(" (server \"") + psz + "\")";
        return nullptr;
    }
    std::unique_ptr<Session> p(new Session(pClient, counters, std::move(pWatchLink)));
    // Callbacks are set before activation, which JACK requires.
    if (jack_set_process_callback(pClient, &OnProcess, p.get()) != 0 ||
        jack_set_port_registration_callback(pClient, &OnPortRegistration, p.get()) != 0 ||
        jack_set_port_rename_callback(pClient, &OnPortRename, p.get()) != 0) {
        strWhy = "JACK: the client's callbacks cannot be set";
        return nullptr;
    }
    jack_on_shutdown(pClient, &OnShutdown, p.get());
    try {
        p->m_worker = std::thread(&Session::WorkerMain, p.get());
    } catch (const std::exception& e) {
        strWhy = std::string("JACK: ") + e.what();
        return nullptr;
    }
    if (jack_activate(pClient) != 0) {
        strWhy = "JACK: the client cannot be activated";
        return nullptr;
    }
    return p;
}

CJackMidiDriver::Session::Session(jack_client_t* pClient, Counters& counters, std::shared_ptr<WatchLink> pWatchLink)
    : m_pClient(pClient),
      m_strName(jack_get_client_name(pClient)),
      m_counters(counters),
      m_pWatchLink(std::move(pWatchLink)) {}

CJackMidiDriver::Session::~Session() {
    m_bQuit.store(true);
    WakeWorker();
    if (m_worker.joinable()) m_worker.join();
    if (!m_pClient) return;
    // A client whose server died is closed too: libjack then frees it without asking.
    if (IsAlive()) jack_deactivate(m_pClient);
    jack_client_close(m_pClient);
}

void CJackMidiDriver::Session::CloseDeadClient() {
    if (IsAlive() || !m_pClient) return;
    jack_client_close(m_pClient);
    m_pClient = nullptr;
}

// Every port is registered before it is published, and stays until the client closes.
CJackMidiDriver::Port* CJackMidiDriver::Session::TakePort(bool bInput) {
    const uint32_t n = m_nPorts.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < n; ++i) {
        Port& p = *m_ports[i];
        if (p.m_bInput == bInput && !p.m_bInUse) {
            p.m_bInUse = true;
            return &p;
        }
    }
    uint32_t& nSame = m_anPerDirection[bInput ? 0 : 1];
    if (nSame >= kMaxPortsPerDirection || n >= kMaxPorts || !IsAlive()) return nullptr;
    std::string strPort = bInput ? "in" : "out";
    if (nSame > 0) strPort += "-" + std::to_string(nSame + 1);
    jack_port_t* pJack = jack_port_register(m_pClient, strPort.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                            bInput ? JackPortIsInput : JackPortIsOutput, 0);
    if (!pJack) return nullptr;
    m_ports[n] = std::make_unique<Port>(*this, bInput, pJack);
    m_nPorts.store(n + 1, std::memory_order_release);
    ++nSame;
    m_ports[n]->m_bInUse = true;
    return m_ports[n].get();
}

bool CJackMidiDriver::Session::HasPortInUse() const {
    const uint32_t n = m_nPorts.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < n; ++i)
        if (m_ports[i]->m_bInUse) return true;
    return false;
}

void CJackMidiDriver::Session::CollectOpen(std::vector<std::pair<HMIDIPORT, bool>>& open) {
    const uint32_t n = m_nPorts.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < n; ++i) {
        Port& p = *m_ports[i];
        std::lock_guard<std::mutex> lock(p.m_mutex);
        if (p.m_bInUse && p.m_bOpen) open.emplace_back(p.Handle(), p.m_bInput);
    }
}

CJackMidiDriver::Port* CJackMidiDriver::Session::Find(HMIDIPORT hPort, bool bInput) {
    const uint32_t n = m_nPorts.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < n; ++i) {
        Port& p = *m_ports[i];
        if (p.Handle() == hPort && p.m_bInput == bInput && p.m_bInUse) return &p;
    }
    return nullptr;
}

void CJackMidiDriver::Session::WakeWorker() {
    m_aWake.store(1, std::memory_order_release);
    m_aWake.notify_one();  // a futex wake: takes no lock
}

// The count and the outputs' live flags are sequentially consistent: once a flag is
// cleared and the count seen at zero, no cycle that saw the flag set is still running.
// (An input's gate keeps a count of its own, in CFramedInput.)
void CJackMidiDriver::Session::WaitProcessIdle() const {
    while (m_nInProcess.load() != 0) std::this_thread::yield();  // a cycle copies a few bytes
}

bool CJackMidiDriver::Session::WaitCycles(uint32_t nCycles, uint32_t nTimeoutMs) const {
    const uint64_t nTarget = m_nCycles.load(std::memory_order_acquire) + nCycles;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (m_nCycles.load(std::memory_order_acquire) < nTarget) {
        if (!IsAlive() || std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// JACK's realtime thread: no lock, no allocation, no wait.
int CJackMidiDriver::Session::OnProcess(jack_nframes_t nFrames, void* pArg) {
    auto* s = static_cast<Session*>(pArg);
    s->m_nInProcess.fetch_add(1);
    if (s->m_bAlive.load()) {
        const uint32_t n = s->m_nPorts.load(std::memory_order_acquire);
        for (uint32_t i = 0; i < n; ++i) s->m_ports[i]->Process(nFrames);
        s->m_nCycles.fetch_add(1, std::memory_order_release);
    }
    s->m_nInProcess.fetch_sub(1);
    return 0;
}

void CJackMidiDriver::Session::OnShutdown(void* pArg) {
    auto* s = static_cast<Session*>(pArg);
    s->m_bAlive.store(false);
    s->m_pWatchLink->m_bAlive.store(false, std::memory_order_release);
    s->WakeWorker();  // queued messages now complete as failed
    s->m_pWatchLink->Notify();  // the ports are gone, and the watch's interval takes over
}

void CJackMidiDriver::Session::OnPortRegistration(jack_port_id_t, int, void* pArg) {
    static_cast<Session*>(pArg)->m_pWatchLink->Notify();
}

void CJackMidiDriver::Session::OnPortRename(jack_port_id_t, const char*, const char*, void* pArg) {
    static_cast<Session*>(pArg)->m_pWatchLink->Notify();
}

// Sleeps on m_aWake, which the process thread can set without a lock. A wake that
// comes during a pass makes the next wait return at once, so none is lost.
void CJackMidiDriver::Session::WorkerMain() {
    qz::BecomeWorkerThread("qz-jack");
    for (;;) {
        m_aWake.wait(0, std::memory_order_acquire);
        m_aWake.store(0, std::memory_order_release);
        if (m_bQuit.load()) return;
        const bool bDead = !IsAlive();
        if (bDead) WaitProcessIdle();
        const uint32_t n = m_nPorts.load(std::memory_order_acquire);
        for (uint32_t i = 0; i < n; ++i) {
            if (bDead && !m_ports[i]->m_bInput) m_ports[i]->FailQueued();
            m_ports[i]->Service();
        }
    }
}

// ---- port: process thread ----

CJackMidiDriver::Port::Port(Session& session, bool bInput, jack_port_t* pJack)
    : m_session(session),
      m_bInput(bInput),
      m_pJack(pJack),
      m_input(m_mutex, session.m_counters.m_nLostBytes, session.m_counters.m_nLostMessages) {}

void CJackMidiDriver::Port::Process(jack_nframes_t nFrames) {
    void* pBuffer = jack_port_get_buffer(m_pJack, nFrames);
    if (!pBuffer) return;
    if (!m_bInput) {
        jack_midi_clear_buffer(pBuffer);  // an output buffer holds last cycle's events until cleared
        if (m_abLive.load()) SendQueued(pBuffer);
        return;
    }
    CFramedInput::CArrival arrival(m_input);
    if (!arrival) return;
    const uint32_t nEvents = jack_midi_get_event_count(pBuffer);
    for (uint32_t i = 0; i < nEvents; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, pBuffer, i) == 0) arrival.Put(event.buffer, event.size);
    }
    if (nEvents > 0) m_session.WakeWorker();
}

// Reads the owner's buffer directly: it stays the owner's only after completion, and
// OutClose waits for the cycle to end before it hands anything back.
void CJackMidiDriver::Port::SendQueued(void* pJackBuffer) {
    uint64_t nSent = m_nSent.load(std::memory_order_relaxed);
    const uint64_t nQueued = m_nQueued.load(std::memory_order_acquire);
    if (nSent == nQueued) return;
    uint32_t nWritten = 0;
    for (; nSent < nQueued; ++nSent) {
        OutEntry& entry = m_out[nSent % kMaxQueuedOut];
        uint8_t abyShort[3];
        const uint8_t* pData = abyShort;
        size_t nLength;
        if (entry.m_pHdr) {
            pData = entry.m_pHdr->lpData;
            nLength = entry.m_pHdr->dwBufferLength;
        } else {
            nLength = qz::MidiMessageLength(static_cast<uint8_t>(entry.m_dwMsg));
            for (size_t i = 0; i < nLength; ++i) abyShort[i] = static_cast<uint8_t>(entry.m_dwMsg >> (8 * i));
        }
        jack_midi_data_t* pDst = jack_midi_event_reserve(pJackBuffer, 0, nLength);
        if (!pDst) {
            if (nWritten > 0) break;  // this cycle is full: the rest goes in the next
            entry.m_bFailed = true;   // too long even for an empty buffer: it never fits
            continue;
        }
        std::memcpy(pDst, pData, nLength);
        ++nWritten;
    }
    m_nSent.store(nSent, std::memory_order_release);
    m_session.WakeWorker();
}

// ---- port: worker ----

void CJackMidiDriver::Port::FailQueued() {
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint64_t nQueued = m_nQueued.load(std::memory_order_relaxed);
    uint64_t nSent = m_nSent.load(std::memory_order_relaxed);
    if (nSent == nQueued) return;
    for (; nSent < nQueued; ++nSent) m_out[nSent % kMaxQueuedOut].m_bFailed = true;
    m_nSent.store(nQueued, std::memory_order_release);
}

void CJackMidiDriver::Port::Service() {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_bInput) {
        if (m_input.ReadyToDeliver()) m_input.Deliver(lock, Handle(), m_pfn, m_pInstance);
    } else {
        CompleteSent(lock);
    }
}

void CJackMidiDriver::Port::CompleteSent(std::unique_lock<std::mutex>& lock) {
    bool bAny = false;
    while (m_nDone < m_nSent.load(std::memory_order_acquire)) {
        const OutEntry entry = m_out[m_nDone % kMaxQueuedOut];
        ++m_nDone;
        bAny = true;
        if (entry.m_bFailed) m_session.m_counters.m_nFailedSends.fetch_add(1, std::memory_order_relaxed);
        if (entry.m_pHdr) qz::CompleteSend(lock, Handle(), entry.m_pHdr, m_pfn, m_pInstance, m_nCompleting);
    }
    if (bAny) m_cv.notify_all();
}

void CJackMidiDriver::Port::ResetForOpen() {
    m_abLive.store(false);
    m_input.ResetForOpen();
    m_nQueued.store(0);
    m_nSent.store(0);
    m_nDone = 0;
    m_bClosing = false;
}
