#pragma once
// The inside of CJackMidiDriver: one libjack client (a session) with its ports, its
// process callback and its worker thread.
#include <jack/jack.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "midi/platform/FramedInput.h"
#include "midi/platform/JackMidiDriver.h"

struct CJackMidiDriver::WatchLink {
    std::mutex m_mutex;
    CPortWatch* m_pWatch = nullptr;   // null once the watch's source has gone
    std::atomic<bool> m_bAlive{false};  // the current session hears registrations
    void Notify();
};

struct CJackMidiDriver::Port {
    struct OutEntry {
        MIDIHDR* m_pHdr = nullptr;  // long message, or null for the short message below
        uint32_t m_dwMsg = 0;
        bool m_bFailed = false;     // set by whoever sent it, before the sent count moves
    };
    Port(Session& session, bool bInput, jack_port_t* pJack);
    HMIDIPORT Handle() { return reinterpret_cast<HMIDIPORT>(this); }

    // Process thread.
    void Process(jack_nframes_t nFrames);
    // Worker: delivers waiting input and completes sent messages.
    void Service();
    // Worker, once the server has gone: every queued message counts as sent, and failed.
    void FailQueued();

    void ResetForOpen();  // m_mutex held

    Session& m_session;
    const bool m_bInput;
    jack_port_t* const m_pJack;

    std::mutex m_mutex;  // guards what follows, and the input's queue
    std::condition_variable m_cv;
    bool m_bInUse = false;  // handed out by an open (guarded by the driver's mutex)
    bool m_bOpen = false;
    MidiCallback m_pfn = nullptr;
    void* m_pInstance = nullptr;

    // Output: the process thread sends only while this is set (open and not closing).
    std::atomic<bool> m_abLive{false};

    // Input: started and stopped under m_mutex (CFramedInput's Start and Stop); the
    // process thread hands bytes over only while it is started.
    CFramedInput m_input;

    // Output: entries [done, sent) are sent and await completion, [sent, queued) wait
    // for the process thread. queued moves under m_mutex, sent on the process thread
    // (or the worker once the server has gone), done on the worker.
    std::array<OutEntry, kMaxQueuedOut> m_out{};
    std::atomic<uint64_t> m_nQueued{0}, m_nSent{0};
    uint64_t m_nDone = 0;
    bool m_bClosing = false;
    int m_nCompleting = 0;

private:
    void SendQueued(void* pJackBuffer);                  // process thread
    void CompleteSent(std::unique_lock<std::mutex>& lock);
};

struct CJackMidiDriver::Session {
    static constexpr uint32_t kMaxPorts = 2 * kMaxPortsPerDirection;

    // Opens and activates a client; null (with a reason) when no server answers.
    static std::unique_ptr<Session> Open(const std::string& strName, Counters& counters,
                                         std::shared_ptr<WatchLink> pWatchLink, std::string& strWhy);
    ~Session();  // closes the client: no callback runs afterwards
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool IsAlive() const { return m_bAlive.load(std::memory_order_acquire); }
    // A free port of that direction, registered on first need; null when all are taken.
    Port* TakePort(bool bInput);
    bool HasPortInUse() const;  // driver's mutex held
    void CollectOpen(std::vector<std::pair<HMIDIPORT, bool>>& open);  // (handle, input), driver's mutex held
    Port* Find(HMIDIPORT hPort, bool bInput);
    void WakeWorker();  // lock-free: safe on the process thread
    // Returns once the process callback is not running (it may start again, and then
    // sees the outputs' live flags as they are now).
    void WaitProcessIdle() const;
    // Returns after nCycles whole process cycles have run (false after nTimeoutMs, or
    // when the server went away). A connection made just before may not yet be in the
    // graph of the cycle that is running: what that cycle sends on it is lost.
    bool WaitCycles(uint32_t nCycles, uint32_t nTimeoutMs) const;

    // Closes the client of a server that went away (driver's mutex held). Done before
    // another client opens: libjack crashes closing a dead client once a new one is up.
    // The ports stay valid handles; nothing of them reaches JACK any more.
    void CloseDeadClient();

    jack_client_t* m_pClient;  // null once closed; used under the driver's mutex
    const std::string m_strName;  // the name JACK gave the client
    Counters& m_counters;

private:
    Session(jack_client_t* pClient, Counters& counters, std::shared_ptr<WatchLink> pWatchLink);
    static int OnProcess(jack_nframes_t nFrames, void* pArg);
    static void OnShutdown(void* pArg);
    static void OnPortRegistration(jack_port_id_t, int, void* pArg);
    static void OnPortRename(jack_port_id_t, const char*, const char*, void* pArg);
    void WorkerMain();

    const std::shared_ptr<WatchLink> m_pWatchLink;
    std::atomic<bool> m_bAlive{true};
    std::atomic<int> m_nInProcess{0};
    std::atomic<uint64_t> m_nCycles{0};  // process cycles completed
    std::array<std::unique_ptr<Port>, kMaxPorts> m_ports;
    std::atomic<uint32_t> m_nPorts{0};  // published after the port is in place
    uint32_t m_anPerDirection[2] = {0, 0};
    std::atomic<uint32_t> m_aWake{0};
    std::atomic<bool> m_bQuit{false};
    std::thread m_worker;
};
