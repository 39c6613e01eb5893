#include "midi/MidiRing.h"

#include <sys/mman.h>

#include <new>

bool CMidiRing::Setup(void* pOwner, CEvent* pEvent, uint32_t nSlotSize, uint32_t dwInitialFlags) {
    m_pOwner = pOwner;
    m_hEvent = pEvent;
    if (!pEvent || nSlotSize == 0) return false;
    if (m_pPool && m_nSlotSize != nSlotSize) Free();
    if (!m_pPool) {
        m_pPool = new (std::nothrow) uint8_t[static_cast<size_t>(kHeaders) * nSlotSize]();
        if (!m_pPool) return false;
        m_nSlotSize = nSlotSize;
        // Locking keeps the buffers resident; where the limit forbids it the ring still works.
        (void)mlock(m_pPool, static_cast<size_t>(kHeaders) * nSlotSize);
    }
    for (int i = 0; i < kHeaders; ++i) {
        if (m_pHdr[i]) continue;
        m_pHdr[i] = new (std::nothrow) CMidiHdr();
        if (!m_pHdr[i]) {
            Free();
            return false;
        }
        m_pHdr[i]->lpData = m_pPool + static_cast<size_t>(i) * nSlotSize;
        m_pHdr[i]->m_pSlot = m_pHdr[i]->lpData;
        m_pHdr[i]->dwBufferLength = nSlotSize;
        m_pHdr[i]->dwFlags.store(dwInitialFlags, std::memory_order_relaxed);
    }
    return true;
}

void CMidiRing::Free() {
    for (auto& p : m_pHdr) {
        delete p;
        p = nullptr;
    }
    if (m_pPool) {
        (void)munlock(m_pPool, static_cast<size_t>(kHeaders) * m_nSlotSize);
        delete[] m_pPool;
        m_pPool = nullptr;
    }
    m_nSlotSize = 0;
}

void CMidiRing::ResetIndexes() {
    m_nHdrNext.store(0, std::memory_order_relaxed);
    m_nHdrDone.store(0, std::memory_order_relaxed);
    m_nMsgWrite.store(0, std::memory_order_relaxed);
    m_nMsgRead.store(0, std::memory_order_release);
}

bool CMidiRing::Append(uint32_t dwWord) {
    int32_t w = m_nMsgWrite.load(std::memory_order_relaxed);
    int32_t next = NextMsg(w);
    if (next == m_nMsgRead.load(std::memory_order_acquire)) return false;
    m_dwMsg[w] = dwWord;
    m_nMsgWrite.store(next, std::memory_order_release);
    return true;
}
