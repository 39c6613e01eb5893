#pragma once
// The device's input port: every reply of the device arrives through OnOtherSysEx, is
// checked, and is stored into the owner's device image by the handler of its block.
#include <cstdint>

#include "midi/MidiInMsg.h"
#include "midi/MidiInPort.h"

class CDeviceOwner;
class CQZ81KTMidiOut;

class CQZ81KTMidiIn : public CMidiInMsg {
public:
    using CMidiInMsg::CMidiInMsg;
    ~CQZ81KTMidiIn() override;

    void OnOtherSysEx(const uint8_t* pMsg, int nLen) override;

    CDeviceOwner* m_pOwnerWnd = nullptr;  // set before any port is opened
};

namespace qz {
// Queues the thirteen requests of the request-all sequence; 1 when all were queued,
// 0 at the first refusal (the frames already queued stay queued).
int RequestAll(CQZ81KTMidiOut& port, uint8_t byDeviceID);
}  // namespace qz
