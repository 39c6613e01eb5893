#pragma once
// Stands between the program and an emulator on a loopback pair: records what the
// program sends and hands it on, except what a test tells it to lose.
#include <atomic>
#include <cstdint>

#include "emulator/QZ81KTEmulator.h"
#include "protocol/wire/DeviceBlocks.h"
#include "support/RecordingPeer.h"

class CForwardingPeer : public CRecordingPeer {
public:
    static constexpr uint32_t kNone = 0xFFFFFFFF;

    explicit CForwardingPeer(CQZ81KTEmulator& emulator) : m_emulator(emulator) {}
    void OnPeerReceive(const uint8_t* p, size_t n) override {
        CRecordingPeer::OnPeerReceive(p, n);
        if (n > 9 && p[6] == qz::kCmdDT1 && m_bLoseWrites) return;
        if (n > 9 && p[6] == qz::kCmdRQ1 && Address(p) == m_dwLoseRequestsOf) return;
        m_emulator.Receive(p, n);
    }
    static uint32_t Address(const uint8_t* pFrame) {
        return (uint32_t(pFrame[7]) << 16) | (uint32_t(pFrame[8]) << 8) | pFrame[9];
    }

    std::atomic<bool> m_bLoseWrites{false};              // as if the device refused every write
    std::atomic<uint32_t> m_dwLoseRequestsOf{kNone};     // requests for this block address are lost

private:
    CQZ81KTEmulator& m_emulator;
};
