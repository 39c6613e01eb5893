#pragma once
// What the reply handlers need from whoever owns the device image: the device session
// (behind the window, the command line and the network service), the window for its
// editors, or a test fake.
#include <cstdint>

#include "protocol/wire/DeviceBlocks.h"

class CDeviceImage;
class CQZ81KTMidiOut;

// The reply notification (posted, never sent) and its wParam codes.
constexpr int WM_REPLY_NOTIFY = 0x8001;
enum ReplyCode : int { REPLY_STATUS = 0, REPLY_IDENTITY = 1, REPLY_SYSTEM = 2, REPLY_CONTROL_MODE = 3 };

// PostReplyNotify, UpdatePresetLine and UpdateControlEnable all run on the input
// worker thread. None may block or wait for another thread: the interface thread stops
// that worker, and Stop gives up after CMidiIn::kStopTimeoutMs and reports it. An owner
// with a window posts the work to its own thread and returns.
class CDeviceOwner {
public:
    virtual ~CDeviceOwner() = default;
    virtual CDeviceImage& Image() = 0;
    virtual CQZ81KTMidiOut& MidiOut() = 0;
    // Hands (wParam, lParam) to the owner's own thread. Input worker; must not block.
    virtual void PostReplyNotify(int wParam, int lParam) = 0;
    // Rebuild the summary line of one preset. Input worker; must not block.
    virtual void UpdatePresetLine(int nPreset) = 0;
    // Re-run the control enabling rule. Input worker; must not block.
    virtual void UpdateControlEnable() = 0;
    // Every reply, after its handler has stored it and posted its notification, and
    // before the image marks it stored (CDeviceImage::ReplyStored): the block and its
    // nSize data bytes as received. Input worker; must not block.
    virtual void ReplyStored(qz::EBlock /*eBlock*/, const uint8_t* /*pData*/, int /*nSize*/) {}
};
