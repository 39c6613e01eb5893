#pragma once
// The command line's side of the device conversation: it owns the device image and the
// two ports like the main window does, hands the reply notifications to the main
// thread and runs the window's 100 ms link watch on demand.
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "midi/TrafficTap.h"
#include "protocol/DeviceImage.h"
#include "protocol/DeviceOwner.h"
#include "protocol/LinkWatch.h"
#include "protocol/QZ81KTMidiIn.h"
#include "protocol/QZ81KTMidiOut.h"

class CCliSession : public CDeviceOwner {
public:
    enum class EConnect { Ok, InFailed, OutFailed, BothFailed, RequestRefused };
    static constexpr uint32_t kTickMs = CLinkWatch::kTickMs;
    // The bit of a notification code in the set that WaitNotify returns.
    static constexpr uint32_t Bit(int nCode) { return uint32_t{1} << nCode; }

    explicit CCliSession(CMidiDriver& driver);
    ~CCliSession() override;

    // Opens and starts both ports and queues the request-all sequence, as Connect does.
    EConnect Connect(uint32_t uInPort, uint32_t uOutPort);
    // Connect again on the same ports.
    EConnect Reconnect() { return Connect(m_uInPort, m_uOutPort); }
    void Disconnect();

    // The notification codes posted since the last call (bit n: code n), waiting up to
    // dwTimeoutMs for the first; 0 when none came.
    uint32_t WaitNotify(uint32_t dwTimeoutMs);
    // One tick of the link watch and polling.
    CLinkWatch::ETick Tick() { return m_linkWatch.Tick(); }

    // Whether a reply of the block has arrived since the session began (or the image
    // was cleared).
    bool Received(qz::EBlock eBlock) const { return m_image.ReplyStored(eBlock); }
    // Names of the blocks of the request-all sequence that have not arrived yet.
    std::vector<std::string> MissingBlocks() const;
    // Asks again for each block that has not arrived (a real MIDI server may lose an
    // event now and then, and a fresh JACK client its first cycles); returns how many.
    int RequestMissing();

    // CDeviceOwner. The hooks run on the input worker: they record, wake the main thread
    // and return; the lock they take is held by the main thread only for a few steps.
    CDeviceImage& Image() override { return m_image; }
    CQZ81KTMidiIn& MidiIn() { return m_in; }
    // A copy of the ports' traffic, once a reader starts it (qz81kt monitor).
    CTrafficTap& Tap() { return m_tap; }
    CQZ81KTMidiOut& MidiOut() override { return m_out; }
    void PostReplyNotify(int wParam, int lParam) override;
    void UpdatePresetLine(int) override {}
    void UpdateControlEnable() override {}

private:
    CDeviceImage m_image;
    CTrafficTap m_tap;     // before the ports: they write to it until they close
    CQZ81KTMidiOut m_out;  // declared before the input port: the input worker sends on it
    CMidiInPort<CQZ81KTMidiIn> m_in;
    CLinkWatch m_linkWatch{m_image, m_out};
    std::mutex m_mutex;
    std::condition_variable m_cv;
    uint32_t m_uInPort = 0, m_uOutPort = 0;
    uint32_t m_dwPending = 0;  // guarded by m_mutex; a fixed set, so nothing grows or allocates
};
