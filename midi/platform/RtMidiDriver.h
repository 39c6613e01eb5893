#pragma once
// Real MIDI ports through RtMidi (ALSA sequencer or JACK on Linux). The programs reach
// ALSA through it and JACK through CJackMidiDriver; the emulator program publishes its
// ports through it on either.
//
// Every RtMidi object lives on a worker thread of its own and the caller waits for it
// only a bounded time: JACK's sendMessage spins for ever once the server has died,
// and a port whose worker does not answer in time is abandoned (its RtMidi object and
// thread are kept, never destroyed, so nothing can crash or block in them later).
// Input is framed on the port's worker, which RtMidi's callback hands the bytes to
// without a lock, and goes into the queued buffers; output leaves from the port's
// worker, which completes each long message after sending it. Port objects (and so
// the RtMidi clients) are kept and reused for the life of the driver rather than
// destroyed at every close.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/MidiApi.h"
#include "midi/platform/PortListing.h"
#include "midi/platform/SystemMidiDriver.h"

class CRtMidiDriver : public CSystemMidiDriver {
public:
    using EApi = EMidiApi;

    struct COptions {
        EApi m_eApi = EApi::Auto;  // Auto: QZ81KT_MIDI_API=alsa|jack, else ALSA and JACK when ALSA fails
        // Our own clients show up in every port list; the name must not look like the
        // device's ports ("QZ-81KT…", "USB…"), or the preselection would pick them.
        std::string m_strClientName = "qz81kt-dxp";
        bool m_bQuiet = true;             // keep libasound, libjack and RtMidi off stderr
        uint32_t m_nCallTimeoutMs = 2000;  // longest wait for one RtMidi call (open, close, send)
    };

    static constexpr uint32_t kMaxQueuedOut = 128;  // messages waiting per output port
    static constexpr uint32_t kJackMaxMessage = kJackMaxMidiMessage;

    CRtMidiDriver();
    explicit CRtMidiDriver(EApi eApi, const std::string& strClientName = "qz81kt-dxp");
    explicit CRtMidiDriver(const COptions& options);
    ~CRtMidiDriver() override;
    CRtMidiDriver(const CRtMidiDriver&) = delete;
    CRtMidiDriver& operator=(const CRtMidiDriver&) = delete;

    // The API that QZ81KT_MIDI_API asks for (Auto when unset or not understood).
    static EApi ApiFromEnvironment();

    // Whether a backend could start; for JACK, whether the last contact found a server.
    bool IsAvailable() const override;
    std::string ApiName() const override;
    std::string UnavailableReason() const override;
    const std::string& ClientName() const override { return m_options.m_strClientName; }

    // Observations. Lost input: bytes of System Exclusive messages for which no
    // receive buffer was queued (or that arrived while the port was being stopped).
    uint64_t LostInputBytes() const override;
    uint64_t LostInputMessages() const override;
    uint64_t FailedSends() const override;  // sends that RtMidi reported as failed (still completed)
    uint32_t AbandonedPorts() const;  // ports given up because RtMidi did not answer in time

    // Closes the two listing clients until the next enumeration. Each one is a JACK
    // client woken every period, so a long-running program that has chosen its ports
    // drops them (the names of the last enumeration stay valid for opening).
    void ReleaseEnumerators() override;
    // On JACK, through a libjack client of its own that hears the registrations.
    bool FollowPortChanges(CPortWatch& watch) override;

    // Publishes a port of our own named strPortName for other programs to connect to
    // (the emulator program's ports), instead of connecting to an existing one. The
    // handle then works like any other.
    MMRESULT InOpenVirtual(HMIDIPORT* phPort, const std::string& strPortName, MidiCallback pfnCallback,
                           void* pInstance);
    MMRESULT OutOpenVirtual(HMIDIPORT* phPort, const std::string& strPortName, MidiCallback pfnCallback,
                            void* pInstance);

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
    MMRESULT OutLongMsg(HMIDIPORT hPort, MIDIHDR* pHdr) override;
    MMRESULT OutShortMsg(HMIDIPORT hPort, uint32_t dwMsg) override;
    MMRESULT OutClose(HMIDIPORT hPort) override;

    // One RtMidi object with its worker thread; defined in RtMidiPort.h.
    struct Port;
    // Counters shared with the ports, which may outlive the driver once abandoned.
    struct Counters {
        std::atomic<uint64_t> m_nLostBytes{0};
        std::atomic<uint64_t> m_nLostMessages{0};
        std::atomic<uint64_t> m_nFailedSends{0};
        std::atomic<uint32_t> m_nAbandoned{0};
        std::atomic<bool> m_bServerSeen{false};  // JACK: the last contact reached a server
    };
    enum class EKind { EnumIn, EnumOut, In, Out };

private:
    std::shared_ptr<Port> CreatePort(EKind eKind, std::string& strWhy);
    void StartBackend(EApi eApi);
    void Abandon(const std::shared_ptr<Port>& pPort);
    void DestroyPort(const std::shared_ptr<Port>& pPort);
    std::shared_ptr<Port> Find(HMIDIPORT hPort, EKind eKind);
    uint32_t Enumerate(bool bInput);
    MMRESULT DevName(bool bInput, uint32_t uPort, std::string& strName);
    MMRESULT OpenPort(EKind eKind, HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance);
    // Opens a port object on strTarget (empty: port number uPort), or a virtual port.
    MMRESULT OpenOn(EKind eKind, HMIDIPORT* phPort, const std::string& strTarget, uint32_t uPort, bool bVirtual,
                    MidiCallback pfnCallback, void* pInstance);
    void Release(const std::shared_ptr<Port>& pPort);

    const COptions m_options;
    int m_nRtApi = 0;      // RtMidi::Api in use (0: none)
    std::string m_strWhy;  // why no backend started
    std::shared_ptr<Counters> m_pCounters;

    std::mutex m_enumMutex;  // serialises enumeration; guards the enumerators and snapshots
    std::shared_ptr<Port> m_pEnumIn, m_pEnumOut;
    CPortListing m_inNames, m_outNames;

    std::mutex m_listMutex;  // guards m_ports (held only briefly: callbacks look handles up)
    std::vector<std::shared_ptr<Port>> m_ports;  // open or idle, kept for reuse
};
