#include "midi/MidiIn.h"

#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "midi/platform/WorkerThread.h"

namespace {
constexpr uint32_t kHdrFilled = CMidiRing::kHdrFilled;
constexpr uint32_t kHdrLost = CMidiRing::kHdrLost;
}  // namespace

CMidiIn::CMidiIn(CMidiDriver* pDriver) : m_pDriver(pDriver ? pDriver : &qz::DefaultMidiDriver()) {}

// CMidiInPort has stopped the worker already; this only gives the port back.
CMidiIn::~CMidiIn() { Close(); }

bool CMidiIn::IsActive() const { return m_bActive.load(std::memory_order_acquire); }

int CMidiIn::Open() {
    if (!Close()) return 0;
    m_hDataEvent = std::make_unique<CEvent>(false, false);
    m_hStopEvent = std::make_unique<CEvent>(true, false, *m_hDataEvent);
    HMIDIPORT h = nullptr;
    if (m_pDriver->InOpen(&h, m_uDeviceID, &CMidiIn::Callback, this) != MMSYSERR_NOERROR || !h) {
        m_hStopEvent.reset();
        m_hDataEvent.reset();
        return 0;
    }
    if (!m_ring.Setup(this, m_hDataEvent.get(), kSlotSize, MHDR_DONE)) {
        // Do not leave the platform port open behind a failed set-up.
        m_pDriver->InClose(h);
        m_ring.Free();
        m_hStopEvent.reset();
        m_hDataEvent.reset();
        return 0;
    }
    m_hMidiIn = h;
    m_bActive.store(true, std::memory_order_release);
    return 1;
}

int CMidiIn::Start() {
    if (!m_hMidiIn) return 0;
    if (m_hThread.joinable()) return 1;
    for (CMidiHdr* h : m_ring.m_pHdr) {
        if (!h) continue;
        h->dwFlags.fetch_and(~(kHdrFilled | kHdrLost), std::memory_order_acq_rel);
        m_pDriver->InPrepareHeader(m_hMidiIn, h);
    }
    m_ring.ResetIndexes();
    m_nHdrBack = 0;
    m_nAtPort.store(0, std::memory_order_release);
    // Active before queueing, so that a port stopped earlier can be started again.
    m_hStopEvent->Reset();
    m_bActive.store(true, std::memory_order_release);
    TopUp();
    if (m_pDriver->InStart(m_hMidiIn) != MMSYSERR_NOERROR) {
        m_bActive.store(false, std::memory_order_release);
        m_hStopEvent->Set();
        m_pDriver->InReset(m_hMidiIn);
        UnprepareAll();
        return 0;
    }
    m_nDropped.store(0, std::memory_order_release);
    m_hEndedEvent.Reset();
    try {
        m_hThread = std::thread(&CMidiIn::WorkerMain, this);
    } catch (const std::system_error&) {
        m_hEndedEvent.Set();
        m_bActive.store(false, std::memory_order_release);
        m_hStopEvent->Set();
        m_pDriver->InStop(m_hMidiIn);
        m_pDriver->InReset(m_hMidiIn);
        UnprepareAll();
        return 0;
    }
    return 1;
}

bool CMidiIn::Stop(uint32_t dwTimeoutMs) {
    if (!m_hThread.joinable() || !m_hMidiIn) return true;
    m_bActive.store(false, std::memory_order_release);
    m_hStopEvent->Set();
    // After InStop no callback is in progress, so everything received is in the ring;
    // the worker delivers it before it ends.
    m_pDriver->InStop(m_hMidiIn);
    if (!m_hEndedEvent.Wait(dwTimeoutMs)) {
        std::fprintf(stderr, "MIDI input: the worker did not end within %u ms (a handler on it is blocked)\n",
                     static_cast<unsigned>(dwTimeoutMs));
        return false;
    }
    m_hThread.join();
    m_pDriver->InReset(m_hMidiIn);
    UnprepareAll();
    return true;
}

bool CMidiIn::Close() {
    if (!Stop()) return false;
    if (!m_hMidiIn) return true;
    m_pDriver->InClose(m_hMidiIn);
    m_hMidiIn = nullptr;
    m_bActive.store(false, std::memory_order_release);
    m_ring.Free();
    m_hStopEvent.reset();
    m_hDataEvent.reset();
    return true;
}

void CMidiIn::WorkerDidNotEnd() {
    std::fprintf(stderr, "MIDI input: a port is destroyed while its worker is still blocked in a handler\n");
    std::abort();
}

void CMidiIn::UnprepareAll() {
    for (CMidiHdr* h : m_ring.m_pHdr) {
        if (!h) continue;
        if (h->dwFlags.load(std::memory_order_acquire) & MHDR_PREPARED) m_pDriver->InUnprepareHeader(m_hMidiIn, h);
        h->dwFlags.fetch_and(~(kHdrFilled | kHdrLost), std::memory_order_acq_rel);
    }
    m_nAtPort.store(0, std::memory_order_release);
}

// Hands header m_nHdrNext to the port. The index advances only when the port took the
// buffer, so buffers reach the port (and come back) strictly in header order.
int CMidiIn::RequeueOne() {
    if (!IsActive()) return 0;
    int32_t i = m_ring.m_nHdrNext.load(std::memory_order_relaxed);
    CMidiHdr* h = m_ring.m_pHdr[i];
    if (!h) return 0;
    uint32_t f = h->dwFlags.load(std::memory_order_acquire);
    if (!(f & MHDR_PREPARED) || (f & (MHDR_INQUEUE | kHdrFilled | kHdrLost))) return 0;
    if (m_pDriver->InAddBuffer(m_hMidiIn, h) != MMSYSERR_NOERROR) return 0;
    m_ring.m_nHdrNext.store(CMidiRing::NextHdr(i), std::memory_order_relaxed);
    m_nAtPort.fetch_add(1, std::memory_order_acq_rel);
    return 1;
}

// Keeps kQueuedBuffers waiting at the port. The callback (a buffer came back), the worker
// (a buffer became free, or a short wait while the port is under-supplied) and Start all
// top up, so a refused buffer is offered again instead of starving the port.
void CMidiIn::TopUp() {
    std::lock_guard<std::mutex> lock(m_requeueLock);
    for (int attempts = 0; attempts < 2 * kQueuedBuffers; ++attempts) {
        if (m_nAtPort.load(std::memory_order_acquire) >= kQueuedBuffers) break;
        if (!RequeueOne() && !IsActive()) break;
    }
}

void CMidiIn::Callback(HMIDIPORT, uint32_t uMsg, void* pInstance, uintptr_t param1, uintptr_t) {
    if (pInstance) static_cast<CMidiIn*>(pInstance)->OnCallback(uMsg & 0xFFFF, param1);
}

void CMidiIn::OnCallback(uint32_t uMsg, uintptr_t param1) {
    if (uMsg == MIM_DATA) {
        if (!IsActive()) return;
        if (m_ring.Append(static_cast<uint32_t>(param1)))
            m_hDataEvent->Set();
        else
            m_nDropped.fetch_add(1, std::memory_order_relaxed);
    } else if (uMsg == MIM_LONGDATA) {
        if (!IsActive()) return;  // buffers given back by Stop/Reset are not delivered
        // Buffers come back in the order they were queued: this one is m_nHdrBack.
        CMidiHdr* h = m_ring.m_pHdr[m_nHdrBack];
        m_nHdrBack = CMidiRing::NextHdr(m_nHdrBack);
        m_nAtPort.fetch_sub(1, std::memory_order_acq_rel);
        if (h) {
            if (m_ring.IsFull()) {
                // Lost arrival: the worker skips this buffer and it goes back to the port.
                h->dwFlags.fetch_or(kHdrLost, std::memory_order_release);
                m_nDropped.fetch_add(1, std::memory_order_relaxed);
            } else {
                h->dwFlags.fetch_or(kHdrFilled, std::memory_order_release);
                m_ring.Append(CMidiRing::kLongMarker);
            }
            m_hDataEvent->Set();
        }
        TopUp();
    }
}

void CMidiIn::WorkerMain() {
    qz::BecomeWorkerThread("qz-midi-in");
    for (;;) {
        if (!IsActive()) break;
        bool bShort = m_nAtPort.load(std::memory_order_acquire) < kQueuedBuffers;
        int w = CEvent::WaitAny(*m_hStopEvent, *m_hDataEvent, bShort ? kRetryMs : CEvent::kInfinite);
        if (w == CEvent::kTimeout) {
            TopUp();
            continue;
        }
        if (w != 1) break;
        DeliverAll();
    }
    DeliverAll();
    m_hEndedEvent.Set();
}

void CMidiIn::DeliverAll() {
    for (;;) {
        int32_t r = m_ring.m_nMsgRead.load(std::memory_order_relaxed);
        if (r == m_ring.m_nMsgWrite.load(std::memory_order_acquire)) break;
        uint32_t w = m_ring.m_dwMsg[r];
        m_ring.m_nMsgRead.store(CMidiRing::NextMsg(r), std::memory_order_release);
        if (w != CMidiRing::kLongMarker) {
            OnData(&w);
            continue;
        }
        // The marker stands for the next filled buffer; lost ones before it are skipped.
        for (int n = 0; n < CMidiRing::kHeaders; ++n) {
            int32_t d = m_ring.m_nHdrDone.load(std::memory_order_relaxed);
            CMidiHdr* h = m_ring.m_pHdr[d];
            if (!h) break;
            uint32_t f = h->dwFlags.load(std::memory_order_acquire);
            if (f & kHdrLost) {
                m_ring.m_nHdrDone.store(CMidiRing::NextHdr(d), std::memory_order_relaxed);
                h->dwFlags.fetch_and(~kHdrLost, std::memory_order_release);
                OnInputLost();
                continue;
            }
            if (!(f & kHdrFilled)) break;
            m_ring.m_nHdrDone.store(CMidiRing::NextHdr(d), std::memory_order_relaxed);
            m_pDriver->InUnprepareHeader(m_hMidiIn, h);
            OnLongData(h->m_pSlot, h->dwBytesRecorded);
            m_pDriver->InPrepareHeader(m_hMidiIn, h);
            h->dwFlags.fetch_and(~kHdrFilled, std::memory_order_release);
            break;
        }
        TopUp();
    }
    // Lost buffers behind the last marker are released too, so the port never starves.
    for (int n = 0; n < CMidiRing::kHeaders; ++n) {
        int32_t d = m_ring.m_nHdrDone.load(std::memory_order_relaxed);
        CMidiHdr* h = m_ring.m_pHdr[d];
        if (!h || !(h->dwFlags.load(std::memory_order_acquire) & kHdrLost)) break;
        m_ring.m_nHdrDone.store(CMidiRing::NextHdr(d), std::memory_order_relaxed);
        h->dwFlags.fetch_and(~kHdrLost, std::memory_order_release);
        OnInputLost();
    }
    TopUp();
}
