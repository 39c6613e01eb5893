#include "midi/MidiOut.h"

#include <cstring>
#include <system_error>

#include "midi/platform/WorkerThread.h"

namespace {
constexpr uint32_t kHdrBusy = CMidiRing::kHdrBusy;
}  // namespace

CMidiOut::CMidiOut(CMidiDriver* pDriver) : m_pDriver(pDriver ? pDriver : &qz::DefaultMidiDriver()) {}

CMidiOut::~CMidiOut() { Close(); }

bool CMidiOut::IsActive() const { return m_bActive.load(std::memory_order_acquire); }

bool CMidiOut::IsOpen() const {
    std::lock_guard<std::mutex> lock(m_csSend);
    return m_hMidiOut != nullptr;
}

int CMidiOut::Open() {
    std::lock_guard<std::mutex> control(m_csControl);
    CloseLocked();
    // Senders refuse while the handle is null, so nothing below needs the send lock
    // until the port is published.
    m_hDataEvent = std::make_unique<CEvent>(false, false);
    m_hStopEvent = std::make_unique<CEvent>(true, false, *m_hDataEvent);
    HMIDIPORT h = nullptr;
    if (m_pDriver->OutOpen(&h, m_uDeviceID, &CMidiOut::Callback, this) != MMSYSERR_NOERROR || !h) {
        m_hStopEvent.reset();
        m_hDataEvent.reset();
        return 0;
    }
    if (!m_ring.Setup(this, m_hDataEvent.get(), kSlotSize, 0)) {
        // Do not leave the platform port open behind a failed set-up.
        m_pDriver->OutClose(h);
        m_ring.Free();
        m_hStopEvent.reset();
        m_hDataEvent.reset();
        return 0;
    }
    m_ring.ResetIndexes();
    m_bInFlight.store(false, std::memory_order_release);
    std::lock_guard<std::mutex> lock(m_csSend);
    m_hMidiOut = h;
    m_bActive.store(true, std::memory_order_release);
    return 1;
}

int CMidiOut::Start() {
    std::lock_guard<std::mutex> control(m_csControl);
    if (!m_hMidiOut) return 0;
    if (m_hThread.joinable()) return 1;
    m_hStopEvent->Reset();
    // m_bInFlight stays as Stop left it: a message still with the port is completed by
    // the port, or forgotten by the next Open. Clearing it here would send it twice.
    {
        std::lock_guard<std::mutex> lock(m_csSend);
        m_bActive.store(true, std::memory_order_release);
    }
    try {
        m_hThread = std::thread(&CMidiOut::WorkerMain, this);
    } catch (const std::system_error&) {
        {
            std::lock_guard<std::mutex> lock(m_csSend);
            m_bActive.store(false, std::memory_order_release);
        }
        m_hStopEvent->Set();
        UnprepareHeld();
        return 0;
    }
    return 1;
}

void CMidiOut::Stop() {
    std::lock_guard<std::mutex> control(m_csControl);
    StopLocked();
}

void CMidiOut::StopLocked() {
    if (!m_hThread.joinable() || !m_hMidiOut) return;
    {
        std::lock_guard<std::mutex> lock(m_csSend);
        m_bActive.store(false, std::memory_order_release);
    }
    m_hStopEvent->Set();
    m_hThread.join();  // every wait of the worker ends on the stop event or within 100 ms
    UnprepareHeld();
}

void CMidiOut::Close() {
    std::lock_guard<std::mutex> control(m_csControl);
    CloseLocked();
}

void CMidiOut::CloseLocked() {
    StopLocked();
    HMIDIPORT h = nullptr;
    {
        // After this block no sender can reach the ring or the events.
        std::lock_guard<std::mutex> lock(m_csSend);
        m_bActive.store(false, std::memory_order_release);
        h = m_hMidiOut;
        m_hMidiOut = nullptr;
    }
    if (!h) return;
    m_pDriver->OutClose(h);  // no completion runs after this returns
    m_ring.Free();
    m_hStopEvent.reset();
    m_hDataEvent.reset();
}

void CMidiOut::UnprepareHeld() {
    for (CMidiHdr* h : m_ring.m_pHdr)
        if (h && (h->dwFlags.load(std::memory_order_acquire) & MHDR_PREPARED)) m_pDriver->OutUnprepareHeader(m_hMidiOut, h);
}

int CMidiOut::Outstanding() const {
    std::lock_guard<std::mutex> lock(m_csSend);
    int n = 0;
    if (!m_hMidiOut) return 0;
    for (CMidiHdr* h : m_ring.m_pHdr)
        if (h && (h->dwFlags.load(std::memory_order_acquire) & kHdrBusy)) ++n;
    return n;
}

int CMidiOut::SendLongMsg(const uint8_t* pData, size_t nLength) {
    if (!pData || nLength == 0 || nLength > kSlotSize) return 0;
    std::lock_guard<std::mutex> lock(m_csSend);
    if (!m_hMidiOut || !IsActive()) return 0;
    int32_t i = m_ring.m_nHdrNext.load(std::memory_order_relaxed);
    CMidiHdr* h = m_ring.m_pHdr[i];
    if (!h) return 0;
    // Busy: 64 messages are outstanding. Full: short messages fill the ring. Either way
    // nothing is taken, so headers and markers stay paired.
    if (h->dwFlags.load(std::memory_order_acquire) & (MHDR_PREPARED | kHdrBusy)) return 0;
    if (m_ring.IsFull()) return 0;
    std::memcpy(h->m_pSlot, pData, nLength);
    h->dwBufferLength = static_cast<uint32_t>(nLength);
    h->dwFlags.store(kHdrBusy, std::memory_order_release);
    m_ring.m_nHdrNext.store(CMidiRing::NextHdr(i), std::memory_order_relaxed);
    m_ring.Append(CMidiRing::kLongMarker);
    // Recorded before the worker is woken: a reply can arrive before Set returns, and the
    // traffic must show the request first.
    if (CTrafficTap* pTap = m_pTap.load(std::memory_order_acquire)) pTap->Record(CTrafficTap::kOut, pData, nLength);
    m_hDataEvent->Set();
    return 1;
}

void CMidiOut::Callback(HMIDIPORT hPort, uint32_t uMsg, void* pInstance, uintptr_t, uintptr_t) {
    if (pInstance && (uMsg & 0xFFFF) == MOM_DONE) static_cast<CMidiOut*>(pInstance)->OnDone(hPort);
}

// Completions arrive in the order of hand-over: the head header is the one done. The
// port comes from the driver: Close clears m_hMidiOut while a completion may still run.
void CMidiOut::OnDone(HMIDIPORT hPort) {
    int32_t d = m_ring.m_nHdrDone.load(std::memory_order_relaxed);
    CMidiHdr* h = m_ring.m_pHdr[d];
    if (h) {
        m_pDriver->OutUnprepareHeader(hPort, h);
        h->dwFlags.fetch_and(~kHdrBusy, std::memory_order_release);
    }
    // Advance even when unpreparing failed, or every later marker would name the wrong header.
    m_ring.m_nHdrDone.store(CMidiRing::NextHdr(d), std::memory_order_relaxed);
    m_ring.m_nMsgRead.store(CMidiRing::NextMsg(m_ring.m_nMsgRead.load(std::memory_order_relaxed)),
                            std::memory_order_release);
    m_bInFlight.store(false, std::memory_order_release);
    m_hDataEvent->Set();
}

void CMidiOut::GiveUpHead(CMidiHdr* pHdr) {
    if (pHdr) {
        if (pHdr->dwFlags.load(std::memory_order_acquire) & MHDR_PREPARED) m_pDriver->OutUnprepareHeader(m_hMidiOut, pHdr);
        pHdr->dwFlags.fetch_and(~kHdrBusy, std::memory_order_release);
    }
    m_ring.m_nHdrDone.store(CMidiRing::NextHdr(m_ring.m_nHdrDone.load(std::memory_order_relaxed)),
                            std::memory_order_relaxed);
    m_ring.m_nMsgRead.store(CMidiRing::NextMsg(m_ring.m_nMsgRead.load(std::memory_order_relaxed)),
                            std::memory_order_release);
}

CMidiOut::Step CMidiOut::SendStep() {
    // While the head message is with the port only its completion may remove it.
    if (m_bInFlight.load(std::memory_order_acquire)) return Step::Wait;
    int32_t r = m_ring.m_nMsgRead.load(std::memory_order_acquire);
    if (r == m_ring.m_nMsgWrite.load(std::memory_order_acquire)) return Step::None;
    uint32_t w = m_ring.m_dwMsg[r];
    if (w == CMidiRing::kLongMarker) {
        CMidiHdr* h = m_ring.m_pHdr[m_ring.m_nHdrDone.load(std::memory_order_relaxed)];
        if (!h || m_pDriver->OutPrepareHeader(m_hMidiOut, h) != MMSYSERR_NOERROR) {
            GiveUpHead(h);
            return Step::None;
        }
        m_bInFlight.store(true, std::memory_order_release);
        if (m_pDriver->OutLongMsg(m_hMidiOut, h) != MMSYSERR_NOERROR) {
            m_bInFlight.store(false, std::memory_order_release);
            GiveUpHead(h);
            return Step::None;
        }
        return Step::Progress;  // the completion may already have come inside the call
    }
    MMRESULT res = m_pDriver->OutShortMsg(m_hMidiOut, w);
    m_ring.m_nMsgRead.store(CMidiRing::NextMsg(r), std::memory_order_release);
    return res == MMSYSERR_NOERROR ? Step::Progress : Step::None;
}

void CMidiOut::WorkerMain() {
    qz::BecomeWorkerThread("qz-midi-out");
    for (;;) {
        if (!IsActive()) break;
        if (CEvent::WaitAny(*m_hStopEvent, *m_hDataEvent, CEvent::kInfinite) != 1) break;
        while (SendStep() == Step::Progress) {
        }
    }
    // A message still with the port gets a short grace period to complete.
    if (m_bInFlight.load(std::memory_order_acquire)) m_hDataEvent->Wait(100);
}
