#pragma once
// The command line's side of the device conversation: it owns the device image and the
// two ports like the main window does, queues the reply notifications for the main
// thread and runs the window's 100 ms link watch on demand.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "protocol/DeviceImage.h"
#include "protocol/DeviceOwner.h"
#include "protocol/LinkWatch.h"
#include "protocol/QZ81KTMidiIn.h"
#include "protocol/QZ81KTMidiOut.h"

class CCliSession : public CDeviceOwner {
public:
    enum class EConnect { Ok, InFailed, OutFailed, BothFailed, RequestRefused };
    static constexpr uint32_t kTickMs = CLinkWatch::kTickMs;

    explicit CCliSession(CMidiDriver& driver);
    ~CCliSession() override;

    // Opens and starts both ports and queues the request-all sequence, as Connect does.
    EConnect Connect(uint32_t uInPort, uint32_t uOutPort);
    void Disconnect();

    // Next reply notification, waiting up to dwTimeoutMs.
    bool WaitNotify(int& wParam, int& lParam, uint32_t dwTimeoutMs);
    // One tick of the link watch and polling.
    CLinkWatch::ETick Tick() { return m_linkWatch.Tick(); }

    // Whether a block of the request-all sequence has arrived since the session began.
    bool Received(qz::EBlock eBlock) const;
    // Names of the blocks of the request-all sequence that have not arrived yet.
    std::vector<std::string> MissingBlocks() const;
    // Asks again for each block that has not arrived (a real MIDI server may lose an
    // event now and then, and a fresh JACK client its first cycles); returns how many.
    int RequestMissing();
    bool SystemSeen() const { return m_bSystemSeen.load(); }
    bool StatusSeen() const { return m_bStatusSeen.load(); }
    bool ControlModeSeen() const { return m_bControlModeSeen.load(); }
    // Forget which notifications were seen (to read the device again).
    void ResetSeen() {
        m_bSystemSeen = false;
        m_bStatusSeen = false;
        m_bControlModeSeen = false;
    }

    // CDeviceOwner
    CDeviceImage& Image() override { return m_image; }
    CQZ81KTMidiOut& MidiOut() override { return m_out; }
    void PostReplyNotify(int wParam, int lParam) override;
    void UpdatePresetLine(int) override {}
    void UpdateControlEnable() override {}

private:
    CDeviceImage m_image;
    CQZ81KTMidiOut m_out;  // declared before the input port: the input worker sends on it
    CQZ81KTMidiIn m_in;
    CLinkWatch m_linkWatch{m_image, m_out};
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::pair<int, int>> m_queue;
    std::atomic<bool> m_bSystemSeen{false};
    std::atomic<bool> m_bStatusSeen{false};
    std::atomic<bool> m_bControlModeSeen{false};
};
