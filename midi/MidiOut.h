#pragma once
// One platform MIDI output port. Senders copy a message into one of 64 fixed buffers and
// leave a marker in the ring; a worker hands the buffers to the port in order; the port's
// completion gives each buffer back. A sender never waits for the port.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "midi/MidiRing.h"
#include "midi/TrafficTap.h"
#include "midi/platform/Event.h"
#include "midi/platform/MidiDriver.h"

class CMidiOut {
public:
    static constexpr uint32_t kSlotSize = 128;

    explicit CMidiOut(CMidiDriver* pDriver = nullptr);  // null: DefaultMidiDriver()
    virtual ~CMidiOut();
    CMidiOut(const CMidiOut&) = delete;
    CMidiOut& operator=(const CMidiOut&) = delete;

    int Open();
    int Start();
    void Stop();
    void Close();
    bool IsActive() const;

    // Queues one complete long message of 1..128 bytes; 1 when queued, 0 when refused.
    // The bytes are copied before the call returns.
    int SendLongMsg(const uint8_t* pData, size_t nLength);

    uint32_t m_uDeviceID = 0;  // platform port number to open

    // Observations for tests and tools.
    bool IsOpen() const;
    int Outstanding() const;  // messages queued or with the port, not yet given back
    CMidiDriver& Driver() const { return *m_pDriver; }
    // Each queued message is copied to the tap too (null: none). It must outlive the port.
    void SetTrafficTap(CTrafficTap* pTap) { m_pTap.store(pTap, std::memory_order_release); }

private:
    enum class Step { None, Progress, Wait };

    static void Callback(HMIDIPORT hPort, uint32_t uMsg, void* pInstance, uintptr_t param1, uintptr_t param2);
    void OnDone(HMIDIPORT hPort);
    void WorkerMain();
    Step SendStep();
    void GiveUpHead(CMidiHdr* pHdr);
    void UnprepareHeld();

    void StopLocked();
    void CloseLocked();

    CMidiDriver* m_pDriver;
    // Open/Start/Stop/Close run one at a time (m_csControl, held throughout, also while
    // joining the worker). Whatever a sender reads (handle, active flag, ring, events)
    // changes only under m_csSend, which senders hold for the whole send; the worker
    // never takes it, so a send cannot wait for the port.
    std::mutex m_csControl;
    mutable std::mutex m_csSend;
    HMIDIPORT m_hMidiOut = nullptr;
    CMidiRing m_ring;
    std::thread m_hThread;
    std::unique_ptr<CEvent> m_hDataEvent;
    std::unique_ptr<CEvent> m_hStopEvent;
    std::atomic<bool> m_bActive{false};    // "stop event exists and is not signalled"
    std::atomic<bool> m_bInFlight{false};  // the head message is with the port
    std::atomic<CTrafficTap*> m_pTap{nullptr};
};
