#pragma once
// The device's output port and the two frame senders. Every frame to the device leaves
// through SendLongMsg of this port.
#include <cstddef>
#include <cstdint>

#include "midi/MidiOut.h"

class CQZ81KTMidiOut : public CMidiOut {
public:
    using CMidiOut::CMidiOut;
    ~CQZ81KTMidiOut() override;
};

namespace qz {
// 1 when the 15-byte request was queued, 0 when refused.
int SendRQ1(CQZ81KTMidiOut& port, uint8_t byDeviceID, uint32_t dwAddress, uint32_t dwSize);
// 1 when the 12 + n byte data set was queued, 0 when refused (also for n > 116).
int SendDT1(CQZ81KTMidiOut& port, uint8_t byDeviceID, uint32_t dwAddress, const uint8_t* pData, size_t n);
}  // namespace qz
