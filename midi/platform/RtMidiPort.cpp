#include "midi/platform/RtMidiPort.h"

#include <chrono>
#include <cstring>

#include "midi/MidiMessageLength.h"
#include "midi/platform/WorkerThread.h"

namespace {
constexpr const char* kInPortName = "in";
constexpr const char* kOutPortName = "out";
}  // namespace

CRtMidiDriver::Port::Port(EKind eKind, int nApi, const COptions& options, std::shared_ptr<Counters> pCounters)
    : m_eKind(eKind),
      m_nApi(nApi),
      // Listing clients own no ports and never show in a list; leaving them the
      // plain name gives it to the clients whose ports do show.
      m_strClientName(eKind == EKind::EnumIn || eKind == EKind::EnumOut ? options.m_strClientName + "-list"
                                                                       : options.m_strClientName),
      m_pCounters(std::move(pCounters)) {}

// ---- commands ----

bool CRtMidiDriver::Port::Call(ECmd eCmd, uint32_t nTimeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_bAbandoned || m_bQuit) return false;
    m_eCmd = eCmd;
    uint64_t nTicket = ++m_nPosted;
    Notify();
    return m_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [&] { return m_nDone >= nTicket; });
}

void CRtMidiDriver::Port::Notify() {
    m_cv.notify_all();
    WakeWorker();
}

void CRtMidiDriver::Port::WakeWorker() {
    m_aWake.store(1, std::memory_order_release);
    m_aWake.notify_one();  // a futex wake: takes no lock
}

bool CRtMidiDriver::Port::HasWork() const {
    return m_bAbandoned || m_eCmd != ECmd::None || !m_out.Empty() || m_input.ReadyToDeliver();
}

// The worker sleeps on m_aWake rather than on m_cv, so that RtMidi's callback can wake
// it without touching a mutex. Whoever changes the state sets m_aWake afterwards.
void CRtMidiDriver::Port::WaitForWork(std::unique_lock<std::mutex>& lock) {
    while (!HasWork()) {
        lock.unlock();
        m_aWake.wait(0, std::memory_order_acquire);
        m_aWake.exchange(0, std::memory_order_acq_rel);
        lock.lock();
    }
}

void CRtMidiDriver::Port::Run() {
    qz::BecomeWorkerThread("qz-rtmidi-port");
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        WaitForWork(lock);
        if (m_bAbandoned) return;
        if (m_eCmd != ECmd::None) {
            ECmd eCmd = m_eCmd;
            lock.unlock();
            MMRESULT mmr = Execute(eCmd);
            lock.lock();
            if (m_bAbandoned) return;
            m_mmrCmd = mmr;
            m_eCmd = ECmd::None;
            ++m_nDone;
            m_cv.notify_all();
            if (eCmd == ECmd::Destroy) {
                m_bQuit = true;
                return;
            }
            continue;
        }
        if (m_input.ReadyToDeliver()) {
            m_input.Deliver(lock, Handle(), m_pfn, m_pInstance);
            continue;
        }
        SendNext(lock);
        if (m_bAbandoned) return;
    }
}

void CRtMidiDriver::Port::SendNext(std::unique_lock<std::mutex>& lock) {
    OutEntry entry;
    if (!m_out.Pop(entry)) return;
    // RtMidi gets our own copy: if the send hangs and the port is abandoned,
    // the owner may free its buffer while RtMidi still holds on to the bytes.
    uint32_t nBytes = Stage(entry);
    m_bSending = true;
    lock.unlock();
    bool bSent = nBytes > 0 && Send(nBytes);
    lock.lock();
    m_bSending = false;
    // Given up while stuck in the send: touch nothing, report nothing.
    if (m_bAbandoned) return;
    if (!bSent) m_pCounters->m_nFailedSends.fetch_add(1, std::memory_order_relaxed);
    if (entry.m_pHdr) qz::CompleteSend(lock, Handle(), entry.m_pHdr, m_pfn, m_pInstance, m_nCompleting);
    m_cv.notify_all();
}

// Worker thread only.
MMRESULT CRtMidiDriver::Port::Execute(ECmd eCmd) {
    try {
        switch (eCmd) {
            case ECmd::Create: return Create();
            case ECmd::List: return List();
            case ECmd::Open: return Open();
            case ECmd::Close:
                if (m_pIn) m_pIn->closePort();
                if (m_pOut) m_pOut->closePort();
                return MMSYSERR_NOERROR;
            case ECmd::Destroy:
                m_pIn.reset();
                m_pOut.reset();
                return MMSYSERR_NOERROR;
            case ECmd::None: break;
        }
    } catch (const RtMidiError& e) {
        NoteError(e.getType(), e.getMessage());
    } catch (const std::exception& e) {
        NoteError(RtMidiError::UNSPECIFIED, e.what());
    } catch (...) {
        NoteError(RtMidiError::UNSPECIFIED, "unknown exception");
    }
    return MMSYSERR_ERROR;
}

MMRESULT CRtMidiDriver::Port::Create() {
    auto api = static_cast<RtMidi::Api>(m_nApi);
    RtMidi* pMidi;
    if (IsInput()) {
        m_pIn = std::make_unique<RtMidiIn>(api, m_strClientName, 100);
        pMidi = m_pIn.get();
    } else {
        m_pOut = std::make_unique<RtMidiOut>(api, m_strClientName);
        pMidi = m_pOut.get();
        if (m_eKind == EKind::Out) m_abySend.resize(kJackMaxMessage);
    }
    pMidi->setErrorCallback(&Port::OnRtError, this);
    if (m_eKind == EKind::In) {
        // SysEx is off by default; time code, clock and active sensing go to the
        // parser as short messages like any other arrival.
        m_pIn->ignoreTypes(false, false, false);
        m_pIn->setCallback(&Port::OnRtMessage, this);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT CRtMidiDriver::Port::List() {
    uint32_t nNoServer = m_nNoServer.load(std::memory_order_relaxed);
    CPortListing listing;
    if (m_pIn || m_pOut) {
        RtMidi& midi = Midi();
        unsigned n = midi.getPortCount();
        for (unsigned i = 0; i < n; ++i) {
            uint32_t nWarn = m_nWarnings.load(std::memory_order_relaxed);
            std::string strName;
            bool bOk = true;
            try {
                strName = midi.getPortName(i);
            } catch (...) {
                bOk = false;
            }
            // A port that went away between the count and the name reads as "".
            bOk = bOk && !strName.empty() && nWarn == m_nWarnings.load(std::memory_order_relaxed);
            if (bOk)
                listing.Add(std::move(strName));
            else
                listing.AddUnreadable();
        }
    }
    bool bServer = m_nApi != RtMidi::UNIX_JACK || nNoServer == m_nNoServer.load(std::memory_order_relaxed);
    m_pCounters->m_bServerSeen.store(bServer, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_list = std::move(listing);
    return bServer ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
}

// Opens the port whose name is m_strTarget (or, when that is empty, index
// m_uTargetIndex). The index is looked up again right before opening, because JACK
// reuses list positions and RtMidi resolves the index to a name inside openPort.
MMRESULT CRtMidiDriver::Port::Open() {
    std::string strTarget;
    uint32_t uIndex;
    bool bVirtual;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        strTarget = m_strTarget;
        uIndex = m_uTargetIndex;
        bVirtual = m_bVirtual;
    }
    RtMidi& midi = Midi();
    if (bVirtual) {
        uint32_t nErr = m_nErrors.load(std::memory_order_relaxed);
        midi.openVirtualPort(strTarget);
        if (nErr == m_nErrors.load(std::memory_order_relaxed)) return MMSYSERR_NOERROR;
        midi.closePort();
        return MMSYSERR_ERROR;
    }
    unsigned n = midi.getPortCount();
    if (!strTarget.empty()) {
        uIndex = n;
        for (unsigned i = 0; i < n; ++i) {
            if (midi.getPortName(i) == strTarget) {
                uIndex = i;
                break;
            }
        }
    } else {
        strTarget = uIndex < n ? midi.getPortName(uIndex) : std::string();
    }
    if (uIndex >= n || strTarget.empty()) return MMSYSERR_BADDEVICEID;
    uint32_t nErr = m_nErrors.load(std::memory_order_relaxed);
    uint32_t nWarn = m_nWarnings.load(std::memory_order_relaxed);
    midi.openPort(uIndex, IsInput() ? kInPortName : kOutPortName);
    // JACK only warns when the port is gone and still reports the port open:
    // check that nothing complained and that the name did not move meanwhile.
    bool bOk = midi.isPortOpen() && nErr == m_nErrors.load(std::memory_order_relaxed) &&
               nWarn == m_nWarnings.load(std::memory_order_relaxed) && midi.getPortName(uIndex) == strTarget;
    if (!bOk) {
        midi.closePort();
        return MMSYSERR_ERROR;
    }
    return MMSYSERR_NOERROR;
}

// Copies the message into m_abySend (grown only for an unusually long message).
uint32_t CRtMidiDriver::Port::Stage(const OutEntry& entry) {
    try {
        if (entry.m_pHdr) {
            uint32_t n = entry.m_pHdr->dwBufferLength;
            if (m_abySend.size() < n) m_abySend.resize(n);
            std::memcpy(m_abySend.data(), entry.m_pHdr->lpData, n);
            return n;
        }
        uint32_t n = qz::MidiMessageLength(static_cast<uint8_t>(entry.m_dwMsg));
        if (m_abySend.size() < 3) m_abySend.resize(3);
        for (uint32_t i = 0; i < n; ++i) m_abySend[i] = static_cast<uint8_t>(entry.m_dwMsg >> (8 * i));
        return n;
    } catch (...) {
        return 0;
    }
}

bool CRtMidiDriver::Port::Send(uint32_t nBytes) {
    if (!m_pOut) return false;
    uint32_t nErr = m_nErrors.load(std::memory_order_relaxed);
    uint32_t nWarn = m_nWarnings.load(std::memory_order_relaxed);
    try {
        m_pOut->sendMessage(m_abySend.data(), nBytes);
    } catch (...) {
        return false;
    }
    return nErr == m_nErrors.load(std::memory_order_relaxed) && nWarn == m_nWarnings.load(std::memory_order_relaxed);
}

// ---- RtMidi callbacks ----

void CRtMidiDriver::Port::OnRtError(RtMidiError::Type eType, const std::string& strText, void* pUser) {
    auto* p = static_cast<Port*>(pUser);
    if (eType == RtMidiError::WARNING || eType == RtMidiError::DEBUG_WARNING) {
        // RtMidi's only way of saying that no JACK server answered.
        if (strText.find("server not running") != std::string::npos)
            p->m_nNoServer.fetch_add(1, std::memory_order_relaxed);
        p->m_nWarnings.fetch_add(1, std::memory_order_relaxed);
    } else {
        p->NoteError(eType, strText);
    }
}

void CRtMidiDriver::Port::NoteError(int /*eType*/, const std::string& strText) {
    m_nErrors.fetch_add(1, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(m_errorMutex);
    m_strLastError = strText;
}

void CRtMidiDriver::Port::OnRtMessage(double, std::vector<unsigned char>* pMessage, void* pUser) {
    if (pMessage) static_cast<Port*>(pUser)->Receive(pMessage->data(), pMessage->size());
}

// RtMidi's thread (JACK's realtime process thread): no lock, no allocation, no wait.
// The worker is woken inside the arrival, so that once CFramedInput::Stop has
// returned this callback touches the port no more.
void CRtMidiDriver::Port::Receive(const uint8_t* pData, size_t nLength) {
    CFramedInput::CArrival arrival(m_input);
    if (!arrival) return;
    arrival.Put(pData, nLength);
    WakeWorker();
}

