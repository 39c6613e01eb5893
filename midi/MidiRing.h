#pragma once
// The fixed ring that both port classes use: 64 buffer headers over one pool of equal
// slots, and a ring of 512 message words (packed short messages or the long-message
// marker). Nothing in it is allocated after Setup.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "midi/platform/Event.h"
#include "midi/platform/MidiDriver.h"

// A platform header followed by the address of its own slot.
struct CMidiHdr : MIDIHDR {
    uint8_t* m_pSlot = nullptr;
};

struct CMidiRing {
    static constexpr int kHeaders = 64;
    static constexpr int kMessages = 512;
    static constexpr uint32_t kLongMarker = 0xFFFFFFFEu;

    // Header states kept in dwFlags above the platform bits. Output: a header is busy from
    // the moment a sender fills it until the port gives it back (or the worker gives it
    // up); the platform's PREPARED flag covers only the time with the port, which would
    // let a sender overwrite a message still waiting in the ring. Input: a header given
    // back while the ring was full is lost; one given back otherwise is filled until the
    // worker has read it. A header belongs to one direction, so Busy and Lost may share a bit.
    static constexpr uint32_t kHdrBusy = 0x00010000;
    static constexpr uint32_t kHdrLost = 0x00010000;
    static constexpr uint32_t kHdrFilled = 0x00020000;

    CMidiHdr* m_pHdr[kHeaders] = {};
    std::atomic<int32_t> m_nHdrNext{0};
    std::atomic<int32_t> m_nHdrDone{0};
    uint32_t m_dwMsg[kMessages] = {};
    std::atomic<int32_t> m_nMsgWrite{0};
    std::atomic<int32_t> m_nMsgRead{0};
    CEvent* m_hEvent = nullptr;
    void* m_pOwner = nullptr;
    uint8_t* m_pPool = nullptr;
    uint32_t m_nSlotSize = 0;

    CMidiRing() = default;
    CMidiRing(const CMidiRing&) = delete;
    CMidiRing& operator=(const CMidiRing&) = delete;
    ~CMidiRing() { Free(); }

    // Creates the pool (kHeaders slots of nSlotSize bytes, locked in memory where the
    // platform allows) and every missing header; dwBufferLength and dwFlags start as given.
    bool Setup(void* pOwner, CEvent* pEvent, uint32_t nSlotSize, uint32_t dwInitialFlags);
    // Releases the pool and the headers.
    void Free();
    void ResetIndexes();

    bool IsEmpty() const {
        return m_nMsgRead.load(std::memory_order_acquire) == m_nMsgWrite.load(std::memory_order_acquire);
    }
    bool IsFull() const {
        return (m_nMsgWrite.load(std::memory_order_acquire) + 1) % kMessages ==
               m_nMsgRead.load(std::memory_order_acquire);
    }
    // Single producer: stores the word, then publishes the new write index. False when full.
    bool Append(uint32_t dwWord);

    static int32_t NextHdr(int32_t i) { return (i + 1) % kHeaders; }
    static int32_t NextMsg(int32_t i) { return (i + 1) % kMessages; }
};
