#pragma once
// One converter: its port pair, the device image, the link watch and the command rules
// (write the system block and read it back; Local/Remote; mode switch SW6; the frame-rate
// lock; the preset editor's save). The command line and the network service drive each
// converter through one of these, so every rule is written once. Nothing here waits for
// the device: a write queues its frames and the read-back request, and the reply, when it
// comes, is stored in the image and told to the listener.
//
// Threads:
// - Operations (Connect and its steps, Reconnect, Disconnect, PortsGone, ResetLink,
//   DropLink, Tick, Request*, WriteSettings, SavePreset, WriteFlash, SetListener) may be
//   called from any thread. They run one at a time under one lock, which is never held
//   while the listener runs.
// - Queries (the refusals, Arrived, ReadReceived, ProductID, Version, IsConnected,
//   IsLinkUp) and reads of the image may be called from any thread at any time,
//   the listener included; they take only short locks.
// - The listener is called on the input worker (Block and the reply handlers' hooks), on
//   the thread that calls Tick (LinkUp, LinkLost) and on the thread that calls PortsGone
//   (PortsGone). Like the hooks of protocol/device/DeviceOwner.h it must return at once and
//   never block; it must not call the operations (Disconnect from the input worker would
//   wait for itself).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "midi/MidiInPort.h"
#include "midi/TrafficTap.h"
#include "protocol/wire/DeviceBlocks.h"
#include "protocol/device/DeviceImage.h"
#include "protocol/device/DeviceOwner.h"
#include "protocol/device/LinkWatch.h"
#include "protocol/fields/PresetFields.h"
#include "protocol/wire/QZ81KTMidiIn.h"
#include "protocol/wire/QZ81KTMidiOut.h"
#include "protocol/fields/SystemSettings.h"

struct CSessionEvent {
    enum class EKind {
        Block,      // a reply of eBlock was stored
        LinkUp,     // the first new status reply since the link was down
        LinkLost,   // 50 ticks without a new status reply
        PortsGone,  // the owner saw the ports vanish; they are closed
    };
    EKind eKind = EKind::Block;
    qz::EBlock eBlock = qz::EBlock::Version;  // Block only
    // Block: its bytes differ from the previous reply of the block since Connect (the
    // first one always does).
    bool bChanged = false;
    // Block of the status: the status display's change mask (0xFF for the first reply after
    // Connect, 0 when nothing it shows changed).
    int nStatusMask = 0;
};

class CSessionListener {
public:
    virtual ~CSessionListener() = default;
    // See the thread rules above: never blocks, never calls the session's operations.
    virtual void OnSessionEvent(const CSessionEvent& event) = 0;
    // The reply handlers' hooks (protocol/device/DeviceOwner.h), passed on as they come, before
    // the Block event of the same reply; for a listener that keeps a display of its own.
    // Input worker, like OnSessionEvent.
    virtual void OnReplyNotify(int /*wParam*/, int /*lParam*/) {}
    virtual void OnPresetLine(int /*nPreset*/) {}
    virtual void OnControlEnable() {}
};

class CDeviceSession final {
public:
    enum class EConnect { Ok, InFailed, OutFailed, BothFailed, RequestRefused };
    enum class ESend {
        Sent,         // every frame was queued, the read-back request last
        Refused,      // a rule refused it (the refusal queries say why): nothing was sent
        PortRefused,  // the output port refused a frame (closed, or no free buffer)
    };
    // One refused setting: its position among the choices given, and why.
    struct CRefusal {
        size_t nChoice;
        std::string strReason;
    };

    // driver must outlive the session; pListener (not owned) may be null.
    explicit CDeviceSession(CMidiDriver& driver, CSessionListener* pListener = nullptr);
    // Stops and closes both ports; no listener call follows.
    ~CDeviceSession();
    CDeviceSession(const CDeviceSession&) = delete;
    CDeviceSession& operator=(const CDeviceSession&) = delete;

    // Replaces the listener; once it returns, the old one is not called again.
    void SetListener(CSessionListener* pListener);

    // Closes both ports, resets the link state, opens and starts both with the given
    // port numbers and queues the request-all sequence, as the window's Connect does.
    // What arrived since the last Connect is forgotten; the image keeps its blocks.
    EConnect Connect(uint32_t uInPort, uint32_t uOutPort);
    // Connect in steps, for the window, which shows the reset display before the ports
    // open and looks each port up by name just before opening it: Disconnect, ResetLink,
    // then OpenIn and OpenOut for the ports found (true when the port opened and
    // started), then RequestAllAfterOpen with what they returned.
    bool OpenIn(uint32_t uPort);
    bool OpenOut(uint32_t uPort);
    EConnect RequestAllAfterOpen(bool bIn, bool bOut);
    EConnect Reconnect();
    void Disconnect();
    // The ports have vanished: closes them, drops the link and tells the listener.
    void PortsGone();
    bool IsConnected() const { return m_bConnected.load(std::memory_order_acquire); }
    // The image's link state and the link watch's counts, reset together.
    void ResetLink();
    // The update mode's drop: CDeviceImage::DropLink and the link watch's counts.
    void DropLink();

    // One 100 ms tick of the link watch; tells the listener when the link comes or goes.
    CLinkWatch::ETick Tick();
    bool IsLinkUp() const { return m_image.m_bLinkUp.load(); }

    // The request-all sequence: 1 when all thirteen requests were queued.
    int RequestAll();
    // Asks again for each block of the request-all sequence that the image has not
    // stored; returns how many requests were queued.
    int RequestMissing();
    // One request; 1 when queued.
    int Request(qz::EBlock eBlock);

    // The choice (control-mode=remote while the device is in Local) that must reach the
    // device on its own before the others, which it ignores in Local; -1 for none.
    int RemoteFirst(const std::vector<CSettingChoice>& choices) const;
    // Why the window would not let each choice be clicked now, with the device in Remote
    // first when RemoteFirst finds the switch among them. Empty: all may be written.
    std::vector<CRefusal> SettingRefusals(const std::vector<CSettingChoice>& choices) const;
    // Why the preset editor would not save these fields into preset nPreset now; empty:
    // it would.
    std::vector<std::string> PresetRefusals(int nPreset, const std::vector<CPresetFieldChoice>& fields) const;

    // Writes the choices into the image's system block, sends the whole block in one
    // DT1 and asks for it back. The switch RemoteFirst finds goes first in a write of its
    // own. A frame-rate write then asks for everything again, as the window does.
    ESend WriteSettings(const std::vector<CSettingChoice>& choices);
    // As the preset editor's OK: every field of the preset saved as the editor shows it
    // (bit rates in whole Mbit/s), then the changes; all eight presets and the system
    // block sent; then the preset and the system block asked for. pSent, when given,
    // receives the preset block as sent (kPresetSize bytes).
    ESend SavePreset(int nPreset, const std::vector<CPresetFieldChoice>& fields, uint8_t* pSent = nullptr);
    // Why the write to flash would be refused now (before the system block arrived), or empty.
    std::string FlashRefusal() const;
    // The write-to-flash command. The device does not acknowledge it.
    ESend WriteFlash();

    // Whether a reply of the block arrived since Connect.
    bool Arrived(qz::EBlock eBlock) const;
    // The block's last reply since Connect, exactly as the device sent it (the image
    // also holds what was written and not yet read back). False, and nothing copied,
    // before the first reply or when nBytes is not the block's size.
    bool ReadReceived(qz::EBlock eBlock, uint8_t* pOut, size_t nBytes) const;
    // The product ID and the version as they arrived since Connect (their text up to the
    // first zero byte); empty before.
    std::string ProductID() const;
    std::string Version() const;

    CDeviceImage& Image() { return m_image; }
    const CDeviceImage& Image() const { return m_image; }
    // For the parameter file (protocol/device/ParameterTransfer.h) and the preset operations.
    CDeviceOwner& Owner() { return m_owner; }
    CQZ81KTMidiOut& MidiOut() { return m_out; }
    CQZ81KTMidiIn& MidiIn() { return m_in; }
    // A copy of the ports' traffic, once a reader starts it.
    CTrafficTap& Tap() { return m_tap; }

private:
    // The owner the input port reports to: a member, so the worker never dispatches
    // through a half-destroyed session.
    class COwner : public CDeviceOwner {
    public:
        explicit COwner(CDeviceSession& session) : m_session(session) {}
        CDeviceImage& Image() override { return m_session.m_image; }
        CQZ81KTMidiOut& MidiOut() override { return m_session.m_out; }
        void PostReplyNotify(int wParam, int lParam) override;
        void UpdatePresetLine(int nPreset) override;
        void UpdateControlEnable() override;
        void ReplyStored(qz::EBlock eBlock, const uint8_t* pData, int nSize) override;

    private:
        CDeviceSession& m_session;
        int m_nStatusMask = 0;  // input worker only: the mask posted for the reply being stored
    };

    void DisconnectLocked();
    // The image's link state and the link watch's counts, together.
    void ResetLinkLocked();
    bool OpenInLocked(uint32_t uPort);
    bool OpenOutLocked(uint32_t uPort);
    EConnect RequestAllAfterOpenLocked(bool bIn, bool bOut);
    // Calls fn(listener) under the listener lock, when there is a listener.
    template <typename F>
    void NotifyWith(F fn);
    int RequestLocked(qz::EBlock eBlock);
    void Notify(const CSessionEvent& event);
    // Why nothing may be written before these blocks have arrived, or empty.
    std::string NotReadyReason(std::initializer_list<qz::EBlock> blocks) const;
    std::string SettingRefusal(const CSettingChoice& c, bool bGoesRemote) const;
    // Sends the image's system block and asks for it back; false when a frame was refused.
    bool SendSystemBlockLocked();
    // The preset block as the editor's OK saves it with the fields changed.
    void BuildPreset(int nPreset, const std::vector<CPresetFieldChoice>& fields, uint8_t (&block)[qz::kPresetSize]) const;

    // Locks and listener first: the ports below use them until they close.
    std::mutex m_opMutex;  // one operation at a time
    mutable std::mutex m_listenerMutex;  // held while the listener runs, so SetListener can wait it out
    CSessionListener* m_pListener;
    // The replies since Connect as the device sent them; written on the input worker.
    mutable std::mutex m_receivedMutex;
    std::atomic<uint32_t> m_dwArrived{0};  // bit n: EBlock n
    uint8_t m_received[qz::kBlockCount][qz::kMaxReplyData] = {};
    uint32_t m_uInPort = 0, m_uOutPort = 0;
    std::atomic<bool> m_bConnected{false};

    CDeviceImage m_image;
    CTrafficTap m_tap;  // before the ports: they write to it until they close
    COwner m_owner{*this};
    CQZ81KTMidiOut m_out;  // before the input port: the input worker sends on it
    CMidiInPort<CQZ81KTMidiIn> m_in;
    CLinkWatch m_linkWatch{m_image, m_out};  // ticked and reset under m_opMutex
};
