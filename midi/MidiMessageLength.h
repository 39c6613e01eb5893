#pragma once
// The one table of MIDI message lengths by status byte.
#include <cstdint>

namespace qz {
// Bytes of a message, status included, by its status byte: 3 or 2 for channel
// messages, 2 or 3 for the system common F1-F3, 1 for F6 and every real-time byte
// (F8-FF, the undefined F9 and FD too). 0 for data bytes and for bytes that begin no
// fixed-length message: F0 and F7, which frame System Exclusive, and the undefined F4, F5.
constexpr uint32_t MidiMessageLength(uint8_t byStatus) {
    if (byStatus < 0x80) return 0;
    if (byStatus < 0xF0) return (byStatus & 0xE0) == 0xC0 ? 2 : 3;  // Cx, Dx take one data byte
    switch (byStatus) {
        case 0xF1:
        case 0xF3: return 2;
        case 0xF2: return 3;
        case 0xF0:
        case 0xF4:
        case 0xF5:
        case 0xF7: return 0;
        default: return 1;  // F6 and real time
    }
}
}  // namespace qz
