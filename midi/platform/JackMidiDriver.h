#pragma once
// MIDI ports on JACK through libjack itself: one client carries every port of the
// program, in both directions, and hears JACK's port registrations. RtMidi's JACK
// backend opens one client per port, each woken every period, and tells nothing of
// ports that come and go.
//
// JACK's process thread only copies bytes: arrivals into a fixed lock-free ring per
// port, queued messages out of the owner's buffers into JACK's. A worker thread of the
// client frames the input, fills the queued buffers and completes sent messages, so no
// owner callback ever runs on the realtime thread. When the server goes away, queued
// messages are completed as failed; a later listing opens a new client when a server
// answers again, while ports of the old one stay valid (and silent) until closed.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/platform/PortListing.h"
#include "midi/platform/SystemMidiDriver.h"

class CJackMidiDriver : public CSystemMidiDriver {
public:
    static constexpr uint32_t kMaxPortsPerDirection = 8;
    static constexpr uint32_t kMaxQueuedOut = 128;  // messages waiting per output port
    static constexpr uint32_t kConnectSettleMs = 200;  // longest wait for a new connection to carry

    // Opens the client (a server is never started); the driver is unavailable when
    // no server answers, until a later listing finds one. bQuiet keeps libjack off stderr.
    explicit CJackMidiDriver(const std::string& strClientName = "qz81kt-dxp", bool bQuiet = true);
    ~CJackMidiDriver() override;
    CJackMidiDriver(const CJackMidiDriver&) = delete;
    CJackMidiDriver& operator=(const CJackMidiDriver&) = delete;

    // CSystemMidiDriver
    bool IsAvailable() const override;
    std::string ApiName() const override { return "JACK"; }
    std::string UnavailableReason() const override;
    const std::string& ClientName() const override { return m_strClientName; }
    uint64_t LostInputBytes() const override;
    uint64_t LostInputMessages() const override;
    uint64_t FailedSends() const override;
    bool FollowPortChanges(CPortWatch& watch) override;

    // The name JACK gave our client (it adds a suffix when the name is taken); empty
    // without a server.
    std::string JackClientName() const;

    // CMidiDriver
    uint32_t InGetNumDevs() override;
    MMRESULT InGetDevName(uint32_t uPort, std::string& strName) override;
    uint32_t OutGetNumDevs() override;
    MMRESULT OutGetDevName(uint32_t uPort, std::string& strName) override;
    MMRESULT InGetDevAliases(uint32_t uPort, std::vector<std::string>& aliases) override;
    MMRESULT OutGetDevAliases(uint32_t uPort, std::vector<std::string>& aliases) override;
    MMRESULT InOpen(HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance) override;
    MMRESULT InAddBuffer(HMIDIPORT hPort, MIDIHDR* pHdr) override;
    MMRESULT InStart(HMIDIPORT hPort) override;
    MMRESULT InStop(HMIDIPORT hPort) override;
    MMRESULT InReset(HMIDIPORT hPort) override;
    MMRESULT InClose(HMIDIPORT hPort) override;
    MMRESULT OutOpen(HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance) override;
    MMRESULT OutLongMsg(HMIDIPORT hPort, MIDIHDR* pHdr) override;
    MMRESULT OutShortMsg(HMIDIPORT hPort, uint32_t dwMsg) override;
    MMRESULT OutClose(HMIDIPORT hPort) override;

    // One libjack client with its ports and worker, and one port; in JackMidiSession.h.
    struct Session;
    struct Port;
    struct Counters {
        std::atomic<uint64_t> m_nLostBytes{0}, m_nLostMessages{0}, m_nFailedSends{0};
    };
    // What a port watch's change source shares with the driver, which may go first.
    struct WatchLink;

private:
    Session* CurrentSession();  // m_mutex held; opens a client when there is none alive
    void DropIdleSessions();    // m_mutex held
    Port* Find(HMIDIPORT hPort, bool bInput);
    uint32_t Enumerate(bool bInput);
    MMRESULT DevName(bool bInput, uint32_t uPort, std::string& strName);
    MMRESULT DevAliases(bool bInput, uint32_t uPort, std::vector<std::string>& aliases);
    MMRESULT OpenPort(bool bInput, HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance);
    void Release(Port& port);  // disconnects and frees the port for the next open

    const std::string m_strClientName;
    Counters m_counters;
    std::shared_ptr<WatchLink> m_pWatchLink;

    mutable std::mutex m_mutex;  // sessions, name lists and which ports are in use
    std::vector<std::unique_ptr<Session>> m_sessions;  // the last one is current
    std::string m_strWhy;  // why the last client could not open
    CPortListing m_inNames, m_outNames;  // as last listed, with their aliases
};
