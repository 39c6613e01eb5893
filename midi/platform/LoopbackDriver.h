#pragma once
// In-process MIDI port pairs. Each pair has a peer on the far end (a test or the
// built-in emulator) that receives what the program sends and can send to the
// program. Every fault the port classes must survive can be switched on per pair.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/platform/MidiDriver.h"

// The far end of a loopback port pair. Called on the thread that completes the send
// (the program's output worker, or whoever releases held completions).
class CLoopbackPeer {
public:
    virtual ~CLoopbackPeer() = default;
    virtual void OnPeerReceive(const uint8_t* pData, size_t nLength) = 0;
    virtual void OnPeerReceiveShort(uint32_t /*dwMsg*/) {}
};

// Fault switches of one port pair; all may be changed while the ports run.
struct CLoopbackFaults {
    std::atomic<bool> m_bFailInOpen{false};
    std::atomic<bool> m_bFailInStart{false};
    std::atomic<bool> m_bFailOutOpen{false};
    std::atomic<bool> m_bNameUnreadable{false};     // name query fails; the port still counts
    std::atomic<bool> m_bEnumerationThrows{false};  // name query raises, as a broken platform might
    std::atomic<int> m_nRefuseAddBuffer{0};         // refuse this many InAddBuffer calls (-1: all)
    std::atomic<bool> m_bFailOutPrepare{false};
    std::atomic<bool> m_bRefuseLongMsg{false};
    std::atomic<bool> m_bHoldCompletions{false};  // completions wait for ReleaseCompletions
    std::atomic<bool> m_bPeerSilent{false};       // the peer neither hears nor answers
};

class CLoopbackDriver : public CMidiDriver {
public:
    static constexpr size_t kMaxQueued = 64;

    CLoopbackDriver();
    ~CLoopbackDriver() override;

    // Adds a port pair (same number on the input and the output list); returns its number.
    uint32_t AddPortPair(const std::string& strName, CLoopbackPeer* pPeer);
    // Replaces the peer of a pair (null detaches it: sent messages are then discarded).
    void SetPeer(uint32_t uPort, CLoopbackPeer* pPeer);
    CLoopbackFaults& Faults(uint32_t uPort);
    // Unplugging: an absent pair leaves both port lists (the listed numbers of the pairs
    // after it move up, as on a real MIDI system) and neither hears nor answers; its
    // open ports stay open. Pair numbers, which the peer-side calls take, never change.
    void SetPresent(uint32_t uPair, bool bPresent);

    // Peer side: delivers bytes to the program's input port. As on a real port, the bytes
    // fill the queued buffers in order and a buffer goes back when it is full or when an
    // F7 (end of System Exclusive) has been written into it; a message sent in pieces
    // therefore continues in the same buffer. Stopping or resetting the port gives the
    // partly filled buffer back. Returns false when not every byte could be delivered
    // (port not started, silent); bytes for which no buffer was queued are lost and counted.
    bool PeerSend(uint32_t uPort, const uint8_t* pData, size_t nLength);
    bool PeerSendShort(uint32_t uPort, uint32_t dwMsg);

    // Held completions: how many wait, and release up to nCount of them in order.
    size_t HeldCompletions(uint32_t uPort);
    size_t ReleaseCompletions(uint32_t uPort, size_t nCount);

    // Observations for tests.
    size_t QueuedInputBuffers(uint32_t uPort);
    uint64_t LostInputBytes(uint32_t uPort);
    bool IsInputStarted(uint32_t uPort);
    bool IsInputOpen(uint32_t uPort);
    bool IsOutputOpen(uint32_t uPort);
    uint64_t SentLongMessages(uint32_t uPort);

    // CMidiDriver
    uint32_t InGetNumDevs() override;
    MMRESULT InGetDevName(uint32_t uPort, std::string& strName) override;
    uint32_t OutGetNumDevs() override;
    MMRESULT OutGetDevName(uint32_t uPort, std::string& strName) override;
    MMRESULT InOpen(HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance) override;
    MMRESULT InAddBuffer(HMIDIPORT hPort, MIDIHDR* pHdr) override;
    MMRESULT InStart(HMIDIPORT hPort) override;
    MMRESULT InStop(HMIDIPORT hPort) override;
    MMRESULT InReset(HMIDIPORT hPort) override;
    MMRESULT InClose(HMIDIPORT hPort) override;
    MMRESULT OutOpen(HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance) override;
    MMRESULT OutPrepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr) override;
    MMRESULT OutLongMsg(HMIDIPORT hPort, MIDIHDR* pHdr) override;
    MMRESULT OutShortMsg(HMIDIPORT hPort, uint32_t dwMsg) override;
    MMRESULT OutClose(HMIDIPORT hPort) override;

private:
    // Fixed ring of header pointers: nothing is allocated per message.
    struct HeaderQueue {
        std::array<MIDIHDR*, kMaxQueued> items{};
        size_t head = 0, count = 0;
        bool Push(MIDIHDR* p);
        MIDIHDR* Pop();
    };
    struct Pair;
    struct Endpoint {
        Pair* pPair = nullptr;
        bool bInput = false;
    };
    struct Pair {
        std::string strName;
        CLoopbackFaults faults;
        std::atomic<bool> bPresent{true};
        std::mutex sendMutex;  // one peer send at a time, so buffers return in order
        std::mutex mutex;      // guards everything below
        std::condition_variable idle;
        CLoopbackPeer* pPeer = nullptr;
        Endpoint inEnd, outEnd;
        // input side
        bool bInOpen = false, bInStarted = false;
        MidiCallback pfnIn = nullptr;
        void* pInInstance = nullptr;
        HeaderQueue inQueue;
        MIDIHDR* pFilling = nullptr;  // taken from the queue, partly filled, not yet returned
        int nDelivering = 0;  // peer sends in progress outside the lock
        uint64_t nLostBytes = 0;
        // output side
        bool bOutOpen = false;
        MidiCallback pfnOut = nullptr;
        void* pOutInstance = nullptr;
        HeaderQueue held;
        int nCompleting = 0;
        uint64_t nSentLong = 0;
    };

    Pair* PairAt(uint32_t uPort);
    Pair* ListedAt(uint32_t uListed);  // the program's port numbers count present pairs only
    static Endpoint* EndpointOf(HMIDIPORT hPort, bool bInput);
    // One completion, captured while the header was taken from the port's state.
    struct Completion {
        MIDIHDR* pHdr = nullptr;
        CLoopbackPeer* pPeer = nullptr;
        MidiCallback pfnCallback = nullptr;
        void* pInstance = nullptr;
    };
    static Completion BeginCompleteLocked(Pair& pair, MIDIHDR* pHdr);
    void Complete(Pair& pair, const Completion& completion);

    std::mutex m_listMutex;
    std::mutex m_completeMutex;  // keeps completions in submission order
    std::vector<std::unique_ptr<Pair>> m_pairs;  // never shrinks: handles stay valid
};
