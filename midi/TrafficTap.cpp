#include "midi/TrafficTap.h"

#include <chrono>
#include <cstring>

// A bounded queue after D. Vyukov: each cell's sequence number says whether it is free
// for the producer at a position (seq == pos) or filled for the reader (seq == pos + 1).
// A producer claims a position with one compare-exchange and publishes the cell with a
// release store; a full ring is seen at once and the message counted as dropped.

CTrafficTap::~CTrafficTap() = default;

uint64_t CTrafficTap::NowUs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

void CTrafficTap::SetReading(bool bReading) {
    if (bReading && !m_pCells) {
        m_pCells = std::make_unique<CCell[]>(kCapacity);
        for (size_t i = 0; i < kCapacity; ++i) m_pCells[i].nSeq.store(i, std::memory_order_relaxed);
    }
    m_bReading.store(bReading, std::memory_order_release);
}

void CTrafficTap::Push(EDirection eDir, const uint8_t* pData, size_t nLength) noexcept {
    if (!pData || nLength == 0) return;
    m_nSeen[eDir].fetch_add(1, std::memory_order_relaxed);
    size_t pos = m_nEnqueue.load(std::memory_order_relaxed);
    CCell* pCell;
    for (;;) {
        pCell = &m_pCells[pos & (kCapacity - 1)];
        const size_t seq = pCell->nSeq.load(std::memory_order_acquire);
        const auto diff = static_cast<std::ptrdiff_t>(seq - pos);
        if (diff == 0) {
            if (m_nEnqueue.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) break;
        } else if (diff < 0) {
            m_nDropped[eDir].fetch_add(1, std::memory_order_relaxed);  // full: the reader is behind
            return;
        } else {
            pos = m_nEnqueue.load(std::memory_order_relaxed);
        }
    }
    CRecord& r = pCell->rec;
    r.qwTimeUs = NowUs();
    r.wLength = static_cast<uint16_t>(nLength > 0xFFFF ? 0xFFFF : nLength);
    r.byDirection = eDir;
    std::memcpy(r.abyData, pData, r.Stored());
    pCell->nSeq.store(pos + 1, std::memory_order_release);
}

size_t CTrafficTap::Drain(CRecord* pOut, size_t nMax) {
    if (!m_pCells || !pOut) return 0;
    size_t n = 0;
    while (n < nMax) {
        CCell& cell = m_pCells[m_nDequeue & (kCapacity - 1)];
        if (cell.nSeq.load(std::memory_order_acquire) != m_nDequeue + 1) break;  // empty, or still being filled
        const CRecord& r = cell.rec;
        CRecord& o = pOut[n++];
        o.qwTimeUs = r.qwTimeUs;
        o.wLength = r.wLength;
        o.byDirection = r.byDirection;
        std::memcpy(o.abyData, r.abyData, r.Stored());
        cell.nSeq.store(m_nDequeue + kCapacity, std::memory_order_release);
        ++m_nDequeue;
    }
    return n;
}
