#pragma once
// What the reply handlers need from whoever owns the device image: the main window,
// the command-line tool or a test fake.
#include <cstdint>

class CDeviceImage;
class CQZ81KTMidiOut;

// The reply notification (posted, never sent) and its wParam codes.
constexpr int WM_REPLY_NOTIFY = 0x8001;
enum ReplyCode : int { REPLY_STATUS = 0, REPLY_IDENTITY = 1, REPLY_SYSTEM = 2, REPLY_CONTROL_MODE = 3 };

class CDeviceOwner {
public:
    virtual ~CDeviceOwner() = default;
    virtual CDeviceImage& Image() = 0;
    virtual CQZ81KTMidiOut& MidiOut() = 0;
    // Hands (wParam, lParam) to the owner's own thread; must not block.
    virtual void PostReplyNotify(int wParam, int lParam) = 0;
    // Rebuild the summary line of one preset (called on the input worker thread).
    virtual void UpdatePresetLine(int nPreset) = 0;
    // Re-run the control enabling rule (called on the input worker thread).
    virtual void UpdateControlEnable() = 0;
};
