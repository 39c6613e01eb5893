#pragma once
// Where the emulated converter's MIDI goes: the loopback driver in-process, or a real
// output port in the standalone program. Called only on the emulator's worker thread.
#include <cstddef>
#include <cstdint>

class CEmulatorOutput {
public:
    virtual ~CEmulatorOutput() = default;
    // One long message (or a piece of one); false when the far end did not take it.
    virtual bool SendLong(const uint8_t* pData, size_t nLength) = 0;
    // One short message, packed as on the platform: status in the low byte.
    virtual bool SendShort(uint32_t dwMsg) = 0;
};
