#pragma once
// One platform MIDI input port. The platform callback only records arrivals in the
// ring (short messages as packed words, filled long buffers as markers) and wakes a
// worker thread, which hands each entry in order to OnData / OnLongData.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "midi/MidiRing.h"
#include "midi/platform/Event.h"
#include "midi/platform/MidiDriver.h"

class CMidiIn {
public:
    static constexpr uint32_t kSlotSize = 256;
    static constexpr int kQueuedBuffers = 8;
    static constexpr uint32_t kRetryMs = 100;       // pace of re-offering refused buffers
    static constexpr uint32_t kStopTimeoutMs = 5000;  // longest Stop waits for the worker

    explicit CMidiIn(CMidiDriver* pDriver = nullptr);  // null: DefaultMidiDriver()
    virtual ~CMidiIn();
    CMidiIn(const CMidiIn&) = delete;
    CMidiIn& operator=(const CMidiIn&) = delete;

    int Open();
    int Start();
    // False (and reported on stderr) when the worker did not end within the timeout: a
    // handler on it is blocked. The port then stays as it is; call Stop again later.
    bool Stop(uint32_t dwTimeoutMs = kStopTimeoutMs);
    // False when the worker did not end: nothing was freed.
    bool Close();
    bool IsActive() const;

    // Called on the worker thread; the data are valid only during the call.
    virtual void OnData(const uint32_t* /*pdwMsg*/) {}
    virtual void OnLongData(const uint8_t* /*pData*/, uint32_t /*nBytes*/) {}
    // Called on the worker, in stream order, where a long buffer was lost to a full ring:
    // the bytes before and after the gap do not belong together.
    virtual void OnInputLost() {}

    uint32_t m_uDeviceID = 0;           // platform port number to open
    std::atomic<int32_t> m_nDropped{0};  // arrivals lost to a full ring; cleared by Start

    // Ends the program with the reason: a port destroyed while its worker still runs in
    // a handler would hand freed memory to that worker.
    [[noreturn]] static void WorkerDidNotEnd();

    // Observations for tests and tools.
    int BuffersAtPort() const { return m_nAtPort.load(std::memory_order_acquire); }
    bool IsOpen() const { return m_hMidiIn != nullptr; }
    CMidiDriver& Driver() const { return *m_pDriver; }

protected:
    // Runs the worker's delivery until the ring is empty (used by the worker only).
    void DeliverAll();

private:
    // Only CMidiInPort (midi/MidiInPort.h) implements this, which makes it the most
    // derived class of every port object.
    virtual void StoppedByMostDerived() = 0;

    static void Callback(HMIDIPORT hPort, uint32_t uMsg, void* pInstance, uintptr_t param1, uintptr_t param2);
    void OnCallback(uint32_t uMsg, uintptr_t param1);
    void WorkerMain();
    int RequeueOne();
    void TopUp();
    void UnprepareAll();

    CMidiDriver* m_pDriver;
    HMIDIPORT m_hMidiIn = nullptr;
    CMidiRing m_ring;
    std::thread m_hThread;
    std::unique_ptr<CEvent> m_hDataEvent;
    std::unique_ptr<CEvent> m_hStopEvent;
    CEvent m_hEndedEvent{true, true};      // set by the worker as its last act
    std::atomic<bool> m_bActive{false};    // mirrors "stop event exists and is not signalled"
    std::atomic<int32_t> m_nAtPort{0};     // buffers waiting at the port
    int32_t m_nHdrBack = 0;                // callback only: next header the port gives back
    std::mutex m_requeueLock;              // callback and worker both top the port up
};
