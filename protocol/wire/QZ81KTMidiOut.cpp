#include "protocol/wire/QZ81KTMidiOut.h"

#include "protocol/wire/DeviceFrames.h"

CQZ81KTMidiOut::~CQZ81KTMidiOut() { Close(); }

int qz::SendRQ1(CQZ81KTMidiOut& port, uint8_t byDeviceID, uint32_t dwAddress, uint32_t dwSize) {
    uint8_t frame[qz::kRQ1Length];
    size_t n = qz::BuildRQ1(frame, byDeviceID, dwAddress, dwSize);
    return port.SendLongMsg(frame, n);
}

int qz::SendDT1(CQZ81KTMidiOut& port, uint8_t byDeviceID, uint32_t dwAddress, const uint8_t* pData, size_t n) {
    uint8_t frame[256];
    size_t len = qz::BuildDT1(frame, sizeof frame, byDeviceID, dwAddress, pData, n);
    if (len == 0) return 0;
    return port.SendLongMsg(frame, len);
}
