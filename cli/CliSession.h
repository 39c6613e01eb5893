#pragma once
// The command line's side of the device conversation: one converter's session (ports,
// image, link watch and command rules), with its changes handed to the main thread as
// the window's reply notification codes, which WaitNotify waits for.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/device/DeviceSession.h"

class CCliSession final : private CSessionListener {
public:
    using EConnect = CDeviceSession::EConnect;
    static constexpr uint32_t kTickMs = CLinkWatch::kTickMs;
    // The bit of a notification code in the set that WaitNotify returns.
    static constexpr uint32_t Bit(int nCode) { return uint32_t{1} << nCode; }

    explicit CCliSession(CMidiDriver& driver) : m_session(driver, this) {}
    ~CCliSession() override { m_session.Disconnect(); }

    // Opens and starts both ports and queues the request-all sequence, as Connect does.
    EConnect Connect(uint32_t uInPort, uint32_t uOutPort) { return m_session.Connect(uInPort, uOutPort); }
    // Connect again on the same ports.
    EConnect Reconnect() { return m_session.Reconnect(); }
    void Disconnect() { m_session.Disconnect(); }
    void PortsGone() { m_session.PortsGone(); }

    // The notification codes posted since the last call (bit n: code n), waiting up to
    // dwTimeoutMs for the first; 0 when none came.
    uint32_t WaitNotify(uint32_t dwTimeoutMs);
    // One tick of the link watch and polling.
    CLinkWatch::ETick Tick() { return m_session.Tick(); }

    // Whether a reply of the block has arrived since the session began (or the image
    // was cleared).
    bool Received(qz::EBlock eBlock) const { return m_session.Image().ReplyStored(eBlock); }
    // Names of the blocks of the request-all sequence that have not arrived yet.
    std::vector<std::string> MissingBlocks() const;
    // Asks again for each block that has not arrived (a real MIDI server may lose an
    // event now and then, and a fresh JACK client its first cycles); returns how many.
    int RequestMissing() { return m_session.RequestMissing(); }

    CDeviceSession& Device() { return m_session; }
    CDeviceImage& Image() { return m_session.Image(); }
    CDeviceOwner& Owner() { return m_session.Owner(); }
    CQZ81KTMidiIn& MidiIn() { return m_session.MidiIn(); }
    CQZ81KTMidiOut& MidiOut() { return m_session.MidiOut(); }
    // A copy of the ports' traffic, once a reader starts it (qz81kt monitor).
    CTrafficTap& Tap() { return m_session.Tap(); }

private:
    // On the input worker or the ticking thread: records, wakes the main thread and
    // returns; the lock it takes is held by the main thread only for a few steps.
    void OnSessionEvent(const CSessionEvent& event) override;

    std::mutex m_mutex;
    std::condition_variable m_cv;
    uint32_t m_dwPending = 0;  // guarded by m_mutex; a fixed set, so nothing grows or allocates
    CDeviceSession m_session;  // last: its ports close before the members it reports to go
};
