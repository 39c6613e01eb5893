#pragma once
// A copy of every message the ports send and receive, for a traffic monitor. Producers
// are the port paths (any thread); they never wait and never allocate: each message is
// copied into one fixed record of a bounded lock-free ring, or, when the ring is full,
// dropped and counted. One reader drains it. Until a reader asks for records the ring
// does not exist and a producer only loads one flag.
//
// A record holds up to kRecordBytes bytes of its message and the full length; a longer
// message (foreign System Exclusive only: every device frame fits) is kept cut short.
// Records stay whole and self-contained that way, which split pieces from two
// producers interleaving in one ring would not be.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

class CTrafficTap {
public:
    enum EDirection : uint8_t { kIn = 0, kOut = 1 };
    static constexpr size_t kRecordBytes = 232;
    static constexpr size_t kCapacity = 8192;  // records; a power of two

    struct CRecord {
        uint64_t qwTimeUs = 0;  // steady clock, microseconds
        uint16_t wLength = 0;   // the message's full length
        uint8_t byDirection = kIn;
        uint8_t abyData[kRecordBytes] = {};

        size_t Stored() const { return wLength < kRecordBytes ? wLength : kRecordBytes; }
        bool Truncated() const { return wLength > kRecordBytes; }
    };

    CTrafficTap() = default;
    ~CTrafficTap();
    CTrafficTap(const CTrafficTap&) = delete;
    CTrafficTap& operator=(const CTrafficTap&) = delete;

    // The reader starts or stops taking records (reader's thread). The first start makes
    // the ring, which then lives as long as the tap; stopping keeps what is unread.
    void SetReading(bool bReading);
    bool IsReading() const { return m_bReading.load(std::memory_order_acquire); }

    // A port path hands over one message (copied before the call returns).
    void Record(EDirection eDir, const uint8_t* pData, size_t nLength) noexcept {
        if (m_bReading.load(std::memory_order_acquire)) Push(eDir, pData, nLength);
    }

    // Moves up to nMax records, oldest first, into pOut; returns how many (reader only).
    size_t Drain(CRecord* pOut, size_t nMax);

    // Counters since the tap was made, both directions apart: messages seen while
    // reading, and of those the ones dropped because the ring was full.
    uint64_t Seen(EDirection eDir) const { return m_nSeen[eDir].load(std::memory_order_relaxed); }
    uint64_t Dropped(EDirection eDir) const { return m_nDropped[eDir].load(std::memory_order_relaxed); }
    uint64_t DroppedTotal() const { return Dropped(kIn) + Dropped(kOut); }

    static uint64_t NowUs();

private:
    struct CCell {
        std::atomic<size_t> nSeq{0};
        CRecord rec;
    };
    void Push(EDirection eDir, const uint8_t* pData, size_t nLength) noexcept;

    std::atomic<bool> m_bReading{false};
    std::unique_ptr<CCell[]> m_pCells;  // set before m_bReading is first published
    alignas(64) std::atomic<size_t> m_nEnqueue{0};
    alignas(64) size_t m_nDequeue = 0;  // reader only
    std::atomic<uint64_t> m_nSeen[2] = {};
    std::atomic<uint64_t> m_nDropped[2] = {};
};
