#pragma once
// The input half that both real-port backends share: arrivals copied on the MIDI
// system's thread (which must never block) into a fixed lock-free ring, then framed
// on the port's worker into the receive buffers the owner queued.
#include <atomic>
#include <cstdint>
#include <mutex>

#include "midi/FixedRing.h"
#include "midi/MidiFramer.h"
#include "midi/platform/MidiDriver.h"

class CFramedInput final : CMidiFramer::ISink {
public:
    static constexpr size_t kRingBytes = 65536;  // four messages of JACK's largest size
    static constexpr uint32_t kMaxQueued = 64;   // receive buffers waiting per port

    // queueMutex guards Queue() (the port's own mutex); the counters take what is lost.
    CFramedInput(std::mutex& queueMutex, std::atomic<uint64_t>& nLostBytes, std::atomic<uint64_t>& nLostMessages)
        : m_queueMutex(queueMutex), m_nLostBytes(nLostBytes), m_nLostMessages(nLostMessages) {}

    // The MIDI system's thread: no lock, no allocation, no wait. What does not fit is
    // counted, and the message it interrupted is cut rather than spliced.
    void Receive(const uint8_t* pData, size_t nLength);
    bool Waiting() const { return !m_bytes.Empty() || m_abOverflow.load(std::memory_order_acquire); }

    // Worker, queue mutex not held, one delivery at a time: frames what waits while
    // bLive stays set, calling pfn for each message and filled buffer.
    void Deliver(HMIDIPORT hPort, MidiCallback pfn, void* pInstance, const std::atomic<bool>& bLive);

    // Queue mutex held, no delivery running.
    void Start();  // forgets what was waiting and any half-framed message
    void Stop();   // what was still waiting is counted as lost
    // A receive buffer joins the queue; MMSYSERR_NOMEM when kMaxQueued are waiting.
    MMRESULT Add(MIDIHDR* pHdr);
    // Takes every queued buffer out (reset: the caller gives them back, empty, outside
    // the lock) or forgets them (close: the owner frees them afterwards).
    size_t TakeQueued(MIDIHDR* (&apOut)[kMaxQueued]);
    void ForgetQueued();
    void ClearQueue() { m_queue.Clear(); }

    // Gives taken buffers back empty through the owner's callback; no lock held.
    static void GiveBack(HMIDIPORT hPort, MidiCallback pfn, void* pInstance, MIDIHDR* const* apHdr, size_t n);

private:
    // CMidiFramer::ISink
    void OnShortMessage(uint32_t dwMsg) override;
    uint8_t* TakeSysExBuffer(uint32_t& nCapacity) override;
    void ReturnSysExBuffer(uint32_t nBytes) override;
    void OnSysExLost(uint32_t nBytes, bool bNewMessage) override;

    std::mutex& m_queueMutex;
    std::atomic<uint64_t>& m_nLostBytes;
    std::atomic<uint64_t>& m_nLostMessages;
    CFixedRing<MIDIHDR*, kMaxQueued> m_queue;
    CFixedRing<uint8_t, kRingBytes> m_bytes;
    std::atomic<bool> m_abOverflow{false};  // nothing more goes in until the ring is empty
    // Touched only by the delivering worker, and under the queue mutex while none runs.
    CMidiFramer m_framer{*this};
    HMIDIPORT m_hPort = nullptr;
    MidiCallback m_pfn = nullptr;
    void* m_pInstance = nullptr;
    MIDIHDR* m_pFill = nullptr;
};
