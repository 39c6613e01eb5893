#include "midi/platform/FramedInput.h"

#include <thread>

// Inside a CArrival that found the input started.
void CFramedInput::Receive(const uint8_t* pData, size_t nLength) {
    size_t nTaken = 0;
    if (!m_abOverflow.load(std::memory_order_acquire)) nTaken = m_bytes.Write(pData, nLength);
    if (nTaken < nLength) {
        // The worker learns of the gap once it has read up to it.
        m_nLostBytes.fetch_add(nLength - nTaken, std::memory_order_relaxed);
        m_abOverflow.store(true, std::memory_order_release);
    }
}

// ---- the gate ----

// Counted before the flag is read: a Stop that finds the count at zero knows that
// every later arrival reads the flag it cleared.
CFramedInput::CArrival::CArrival(CFramedInput& input) : m_input(input) {
    m_input.m_nArriving.fetch_add(1);
    m_bStarted = m_input.m_abStarted.load();
}

void CFramedInput::Start(std::unique_lock<std::mutex>& lock) {
    if (m_bStarted) return;
    m_cvDelivered.wait(lock, [&] { return m_nDelivering == 0; });
    m_framer.Reset();
    m_pFill = nullptr;
    m_bytes.Clear();
    m_abOverflow.store(false, std::memory_order_release);
    m_bStarted = true;
    m_abStarted.store(true);
}

void CFramedInput::Stop(std::unique_lock<std::mutex>& lock) {
    m_bStarted = false;
    m_abStarted.store(false);
    while (m_nArriving.load() != 0) std::this_thread::yield();  // a copy of a few bytes
    // A delivery still running stops at the cleared flag; the rest is counted below.
    m_cvDelivered.wait(lock, [&] { return m_nDelivering == 0; });
    if (size_t nLost = m_bytes.Clear()) {
        m_nLostBytes.fetch_add(nLost, std::memory_order_relaxed);
        m_framer.CutInput();
    }
    m_abOverflow.store(false, std::memory_order_release);
}

void CFramedInput::ResetForOpen() {
    Abandon();
    m_queue.Clear();
}

void CFramedInput::Abandon() {
    m_bStarted = false;
    m_abStarted.store(false);
}

// ---- delivery (worker) ----

void CFramedInput::Deliver(std::unique_lock<std::mutex>& lock, HMIDIPORT hPort, MidiCallback pfn,
                           void* pInstance) {
    ++m_nDelivering;
    m_hPort = hPort;
    m_pfn = pfn;
    m_pInstance = pInstance;
    lock.unlock();
    Frame();
    lock.lock();
    --m_nDelivering;
    m_cvDelivered.notify_all();
}

void CFramedInput::Frame() {
    for (bool bStopped = false; !bStopped;) {
        const bool bGap = m_abOverflow.load(std::memory_order_acquire);
        const uint8_t* p;
        const size_t n = m_bytes.Peek(p);
        if (n == 0) {
            if (bGap) {  // everything before the gap is framed: now cut what it interrupted
                m_framer.CutInput();
                m_abOverflow.store(false, std::memory_order_release);
            }
            break;
        }
        size_t i = 0;
        for (; i < n; ++i) {
            if (!m_abStarted.load(std::memory_order_acquire)) break;  // the rest goes in Stop
            m_framer.Feed(p[i]);
        }
        m_bytes.Consume(i);
        bStopped = i < n;
    }
    m_framer.EndOfArrival();  // the partly filled buffer goes back after each batch
}

// ---- receive buffers ----

MMRESULT CFramedInput::Add(MIDIHDR* pHdr) {
    if (m_queue.Full()) return MMSYSERR_NOMEM;
    pHdr->dwBytesRecorded = 0;
    pHdr->dwFlags.fetch_and(~MHDR_DONE, std::memory_order_acq_rel);
    pHdr->dwFlags.fetch_or(MHDR_INQUEUE, std::memory_order_acq_rel);
    m_queue.Push(pHdr);
    return MMSYSERR_NOERROR;
}

size_t CFramedInput::TakeQueued(MIDIHDR* (&apOut)[kMaxQueued]) {
    size_t n = 0;
    while (n < kMaxQueued && m_queue.Pop(apOut[n])) ++n;
    return n;
}

void CFramedInput::ForgetQueued() {
    MIDIHDR* pHdr;
    while (m_queue.Pop(pHdr)) pHdr->dwFlags.fetch_and(~MHDR_INQUEUE, std::memory_order_acq_rel);
}

void CFramedInput::GiveBack(HMIDIPORT hPort, MidiCallback pfn, void* pInstance, MIDIHDR* const* apHdr, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        apHdr[i]->dwBytesRecorded = 0;
        qz::MarkMidiHdrDone(apHdr[i]);
        if (pfn) pfn(hPort, MIM_LONGDATA, pInstance, reinterpret_cast<uintptr_t>(apHdr[i]), 0);
    }
}

void CFramedInput::OnShortMessage(uint32_t dwMsg) {
    if (m_pfn) m_pfn(m_hPort, MIM_DATA, m_pInstance, dwMsg, 0);
}

uint8_t* CFramedInput::TakeSysExBuffer(uint32_t& nCapacity) {
    std::lock_guard<std::mutex> lock(m_portMutex);
    if (!m_queue.Pop(m_pFill)) return nullptr;
    nCapacity = m_pFill->dwBufferLength;
    return m_pFill->lpData;
}

// A buffer once taken from the queue always goes back through the callback, even
// when the port is being stopped (stopping waits for the delivery to end).
void CFramedInput::ReturnSysExBuffer(uint32_t nBytes) {
    MIDIHDR* p = m_pFill;
    m_pFill = nullptr;
    if (!p) return;
    p->dwBytesRecorded = nBytes;
    qz::MarkMidiHdrDone(p);
    if (m_pfn) m_pfn(m_hPort, MIM_LONGDATA, m_pInstance, reinterpret_cast<uintptr_t>(p), 0);
}

void CFramedInput::OnSysExLost(uint32_t nBytes, bool bNewMessage) {
    if (bNewMessage) m_nLostMessages.fetch_add(1, std::memory_order_relaxed);
    m_nLostBytes.fetch_add(nBytes, std::memory_order_relaxed);
}
