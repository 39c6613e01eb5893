#pragma once
// Fault switches of the emulated converter. Every field may be changed while it runs;
// the worker reads them afresh for each reply.
#include <atomic>
#include <cstdint>

struct CEmulatorFaults {
    std::atomic<bool> m_bSilent{false};             // hears nothing, answers nothing (state kept)
    std::atomic<uint32_t> m_nDropEveryNth{0};       // drop every Nth reply (0: none, 1: all)
    std::atomic<uint32_t> m_nDelayMs{0};            // hold each reply back this long
    std::atomic<uint32_t> m_nSplitBytes{0};         // send replies in pieces of N bytes (0: whole)
    std::atomic<bool> m_bBadChecksum{false};        // replies carry a wrong checksum
    std::atomic<uint8_t> m_byReplyDeviceID{0x7F};   // device ID put into replies
    std::atomic<int> m_nSizeDelta{0};               // data bytes added (+) to or cut (-) from each reply
    std::atomic<uint32_t> m_nFloodPerSecond{0};     // unrelated MIDI messages per second (0: off)

    // Back to a well-behaved device.
    void Clear() {
        m_bSilent = false;
        m_nDropEveryNth = 0;
        m_nDelayMs = 0;
        m_nSplitBytes = 0;
        m_bBadChecksum = false;
        m_byReplyDeviceID = 0x7F;
        m_nSizeDelta = 0;
        m_nFloodPerSecond = 0;
    }
};
