#pragma once
// One RtMidi object with its worker thread, used only on that thread (besides
// RtMidi's input callback). Callers post one command at a time and wait a bounded time.
//
// Input: RtMidi's callback runs on JACK's realtime process thread, which must never
// block, so it only copies the bytes into a fixed lock-free ring and wakes the worker;
// the worker frames them and fills the queued buffers.
#include <RtMidi.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "midi/FixedRing.h"
#include "midi/platform/FramedInput.h"
#include "midi/platform/RtMidiDriver.h"

struct CRtMidiDriver::Port {
    enum class ECmd { None, Create, List, Open, Close, Destroy };
    struct OutEntry {
        MIDIHDR* m_pHdr = nullptr;  // long message, or null for the short message below
        uint32_t m_dwMsg = 0;
    };
    Port(EKind eKind, int nApi, const COptions& options, std::shared_ptr<Counters> pCounters);

    bool IsInput() const { return m_eKind == EKind::In || m_eKind == EKind::EnumIn; }
    HMIDIPORT Handle() { return reinterpret_cast<HMIDIPORT>(this); }

    // Runs a command on the worker; false when it did not finish within the timeout
    // (the caller then abandons the port). Results are left in the members.
    bool Call(ECmd eCmd, uint32_t nTimeoutMs);
    // Wakes the worker after a change made under m_mutex (and everyone waiting on m_cv).
    void Notify();
    void Run();

    // ---- state ----
    const EKind m_eKind;
    const int m_nApi;
    const std::string m_strClientName;
    const std::shared_ptr<Counters> m_pCounters;

    std::mutex m_mutex;  // guards everything down to the input hand-over
    std::condition_variable m_cv;
    std::thread m_worker;
    ECmd m_eCmd = ECmd::None;
    uint64_t m_nPosted = 0, m_nDone = 0;
    MMRESULT m_mmrCmd = MMSYSERR_NOERROR;
    bool m_bQuit = false;       // the worker has ended after Destroy
    bool m_bAbandoned = false;  // given up: nothing may use this port again
    bool m_bInUse = false;      // handed out by an open (guarded by the driver's list mutex)
    std::string m_strTarget;    // Open: port name to connect to, or to publish
    bool m_bVirtual = false;
    uint32_t m_uTargetIndex = 0;
    CPortListing m_list;        // List: result

    // Both directions.
    bool m_bOpen = false;
    MidiCallback m_pfn = nullptr;
    void* m_pInstance = nullptr;

    // Input: started and stopped under m_mutex (CFramedInput's Start and Stop).
    CFramedInput m_input{m_mutex, m_pCounters->m_nLostBytes, m_pCounters->m_nLostMessages};

    // Output.
    bool m_bClosing = false;
    bool m_bSending = false;
    int m_nCompleting = 0;
    CFixedRing<OutEntry, kMaxQueuedOut> m_out;
    std::vector<uint8_t> m_abySend;  // the message being sent (worker only)

private:
    MMRESULT Execute(ECmd eCmd);
    MMRESULT Create();
    MMRESULT List();
    MMRESULT Open();
    RtMidi& Midi() { return m_pIn ? static_cast<RtMidi&>(*m_pIn) : static_cast<RtMidi&>(*m_pOut); }
    uint32_t Stage(const OutEntry& entry);
    bool Send(uint32_t nBytes);
    void SendNext(std::unique_lock<std::mutex>& lock);
    bool HasWork() const;
    void WaitForWork(std::unique_lock<std::mutex>& lock);

    // RtMidi's callbacks.
    static void OnRtError(RtMidiError::Type eType, const std::string& strText, void* pUser);
    static void OnRtMessage(double, std::vector<unsigned char>* pMessage, void* pUser);
    void Receive(const uint8_t* pData, size_t nLength);  // JACK's or ALSA's thread
    void WakeWorker();                                     // lock-free: safe on that thread
    void NoteError(int eType, const std::string& strText);

    std::atomic<uint32_t> m_aWake{0};  // set to wake the worker

public:
    // RtMidi's reports.
    std::atomic<uint32_t> m_nErrors{0}, m_nWarnings{0}, m_nNoServer{0};
    std::mutex m_errorMutex;
    std::string m_strLastError;

private:
    // Destroyed first: RtMidi's threads stop before the state they call into goes.
    std::unique_ptr<RtMidiIn> m_pIn;
    std::unique_ptr<RtMidiOut> m_pOut;
};
