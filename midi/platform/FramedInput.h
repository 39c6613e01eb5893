#pragma once
// The input half that both real-port backends share: arrivals copied on the MIDI
// system's thread (which must never block) into a fixed lock-free ring, then framed
// on the port's worker into the receive buffers the owner queued. The gate between
// the two (started or not, callbacks in flight, the delivery running) lives here too,
// so that each backend only hands over bytes and says when its worker should deliver.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "midi/FixedRing.h"
#include "midi/MidiFramer.h"
#include "midi/platform/MidiDriver.h"

class CFramedInput final : CMidiFramer::ISink {
public:
    static constexpr size_t kRingBytes = 65536;  // four messages of JACK's largest size
    static constexpr uint32_t kMaxQueued = 64;   // receive buffers waiting per port

    // portMutex is the port's own mutex: it guards the queue and the started state,
    // and every lock passed in below is on it. The counters take what is lost.
    CFramedInput(std::mutex& portMutex, std::atomic<uint64_t>& nLostBytes, std::atomic<uint64_t>& nLostMessages)
        : m_portMutex(portMutex), m_nLostBytes(nLostBytes), m_nLostMessages(nLostMessages) {}

    // The MIDI system's thread, around one hand-over of bytes: no lock, no allocation,
    // no wait. Bytes go in only while the input is started; what does not fit is
    // counted, and the message it interrupted is cut rather than spliced.
    class CArrival {
    public:
        explicit CArrival(CFramedInput& input);
        ~CArrival() { m_input.m_nArriving.fetch_sub(1); }
        CArrival(const CArrival&) = delete;
        CArrival& operator=(const CArrival&) = delete;
        explicit operator bool() const { return m_bStarted; }  // false: drop the bytes
        void Put(const uint8_t* pData, size_t nLength) { m_input.Receive(pData, nLength); }

    private:
        CFramedInput& m_input;
        bool m_bStarted;
    };

    // Port mutex held. Start waits for a delivery still running, then forgets what
    // was waiting and any half-framed message. Stop returns once no arrival is in
    // flight and no delivery runs, so no owner callback comes afterwards; what was
    // still waiting is counted as lost.
    void Start(std::unique_lock<std::mutex>& lock);
    void Stop(std::unique_lock<std::mutex>& lock);
    // Port mutex held, on a port that is not started (just opened), or given up (its
    // callbacks may never end, so nothing is waited for).
    void ResetForOpen();
    void Abandon();

    // Worker, port mutex held: whether Deliver has anything to do.
    bool ReadyToDeliver() const { return m_bStarted && Waiting(); }
    // Worker, port mutex held on entry and on return, released meanwhile; one delivery
    // at a time. Frames what waits while the input stays started, calling pfn for each
    // message and filled buffer.
    void Deliver(std::unique_lock<std::mutex>& lock, HMIDIPORT hPort, MidiCallback pfn, void* pInstance);

    // A receive buffer joins the queue; MMSYSERR_NOMEM when kMaxQueued are waiting.
    // Port mutex held.
    MMRESULT Add(MIDIHDR* pHdr);
    // Takes every queued buffer out (reset: the caller gives them back, empty, outside
    // the lock) or forgets them (close: the owner frees them afterwards). Port mutex held.
    size_t TakeQueued(MIDIHDR* (&apOut)[kMaxQueued]);
    void ForgetQueued();

    // Gives taken buffers back empty through the owner's callback; no lock held.
    static void GiveBack(HMIDIPORT hPort, MidiCallback pfn, void* pInstance, MIDIHDR* const* apHdr, size_t n);

    // A real backend's input reset and close, the same for each: TPort has m_mutex (which
    // guards the rest), m_input, m_bOpen, m_pfn and m_pInstance. Reset stops the input and
    // gives every queued buffer back empty, outside the lock, as the callback may queue
    // them again; close stops it and forgets them (the owner frees them afterwards).
    template <class TPort>
    static void ResetPort(HMIDIPORT hPort, TPort& port) {
        MIDIHDR* apReturned[kMaxQueued];
        size_t n;
        MidiCallback pfn;
        void* pInstance;
        {
            std::unique_lock<std::mutex> lock(port.m_mutex);
            port.m_input.Stop(lock);
            n = port.m_input.TakeQueued(apReturned);
            pfn = port.m_pfn;
            pInstance = port.m_pInstance;
        }
        GiveBack(hPort, pfn, pInstance, apReturned, n);
    }
    template <class TPort>
    static void ClosePort(TPort& port) {
        std::unique_lock<std::mutex> lock(port.m_mutex);
        port.m_input.Stop(lock);
        port.m_input.ForgetQueued();
        port.m_bOpen = false;
        port.m_pfn = nullptr;
        port.m_pInstance = nullptr;
    }

private:
    void Receive(const uint8_t* pData, size_t nLength);  // inside a CArrival
    bool Waiting() const { return !m_bytes.Empty() || m_abOverflow.load(std::memory_order_acquire); }
    void Frame();  // the delivery itself, port mutex not held

    // CMidiFramer::ISink
    void OnShortMessage(uint32_t dwMsg) override;
    uint8_t* TakeSysExBuffer(uint32_t& nCapacity) override;
    void ReturnSysExBuffer(uint32_t nBytes) override;
    void OnSysExLost(uint32_t nBytes, bool bNewMessage) override;

    std::mutex& m_portMutex;
    std::atomic<uint64_t>& m_nLostBytes;
    std::atomic<uint64_t>& m_nLostMessages;
    CFixedRing<MIDIHDR*, kMaxQueued> m_queue;
    CFixedRing<uint8_t, kRingBytes> m_bytes;
    std::atomic<bool> m_abOverflow{false};  // nothing more goes in until the ring is empty

    // The started state: m_bStarted under the port mutex, m_abStarted the same for the
    // MIDI system's thread and the delivery. m_abStarted and m_nArriving are
    // sequentially consistent, so that Stop, which clears the flag and then waits for
    // the count to reach zero, knows that no byte goes into the ring after it returns.
    bool m_bStarted = false;
    std::atomic<bool> m_abStarted{false};
    std::atomic<int> m_nArriving{0};  // CArrivals alive
    int m_nDelivering = 0;            // under the port mutex
    std::condition_variable m_cvDelivered;

    // Touched only by the delivering worker, and under the port mutex while none runs.
    CMidiFramer m_framer{*this};
    HMIDIPORT m_hPort = nullptr;
    MidiCallback m_pfn = nullptr;
    void* m_pInstance = nullptr;
    MIDIHDR* m_pFill = nullptr;
};
