#pragma once
// Helpers for the emulator tests: a recording output and frame builders.
#include <chrono>
#include <cstdint>
#include <vector>

#include "emulator/EmulatorOutput.h"
#include "protocol/wire/DeviceBlocks.h"
#include "protocol/wire/DeviceFrames.h"
#include "support/EventRecorder.h"

using Bytes = std::vector<uint8_t>;

// Records everything the emulator sends.
class CRecordingOutput : public CEmulatorOutput {
public:
    bool SendLong(const uint8_t* pData, size_t nLength) override {
        m_long.Record(Bytes(pData, pData + nLength));
        return true;
    }
    bool SendShort(uint32_t dwMsg) override {
        m_short.Record(dwMsg);
        return true;
    }

    // Waits until at least nCount long messages arrived in all; false on time-out.
    bool WaitLong(size_t nCount, int nTimeoutMs = 5000) {
        return m_long.WaitCount(nCount, std::chrono::milliseconds(nTimeoutMs));
    }
    bool WaitShort(size_t nCount, int nTimeoutMs = 5000) {
        return m_short.WaitCount(nCount, std::chrono::milliseconds(nTimeoutMs));
    }
    std::vector<Bytes> Long() { return m_long.Events(); }
    std::vector<uint32_t> Short() { return m_short.Events(); }
    size_t LongCount() { return m_long.Count(); }
    void Clear() {
        m_long.Clear();
        m_short.Clear();
    }

private:
    CEventRecorder<Bytes> m_long;
    CEventRecorder<uint32_t> m_short;
};

inline Bytes RQ1(uint32_t dwAddress, uint32_t dwSize, uint8_t byDeviceID = 0x7F) {
    uint8_t f[qz::kRQ1Length];
    qz::BuildRQ1(f, byDeviceID, dwAddress, dwSize);
    return Bytes(f, f + sizeof(f));
}

inline Bytes DT1(uint32_t dwAddress, const Bytes& data) {
    Bytes f(data.size() + qz::kDT1Overhead);
    f.resize(qz::BuildDT1(f.data(), f.size(), 0x7F, dwAddress, data.data(), data.size()));
    return f;
}

inline Bytes DT1(uint32_t dwAddress, const uint8_t* pData, size_t n) { return DT1(dwAddress, Bytes(pData, pData + n)); }

// The data bytes of a DT1 frame (between the address and the checksum).
inline Bytes DataOf(const Bytes& frame) {
    if (frame.size() < static_cast<size_t>(qz::kDT1Overhead)) return {};
    return Bytes(frame.begin() + 10, frame.end() - 2);
}

inline uint32_t AddressOf(const Bytes& frame) {
    return frame.size() < 10 ? 0xFFFFFFFF : (uint32_t{frame[7]} << 16) | (uint32_t{frame[8]} << 8) | frame[9];
}

// The checksum rule: address, data and checksum add up to a multiple of 128.
inline bool ChecksumOK(const Bytes& frame) {
    if (frame.size() < static_cast<size_t>(qz::kDT1Overhead)) return false;
    return qz::FrameChecksum(frame.data() + 7, frame.size() - 9) == frame[frame.size() - 2];
}

// Value of nCount nibbles, most significant first.
inline uint32_t Nibbles(const uint8_t* p, int nCount) {
    uint32_t v = 0;
    for (int i = 0; i < nCount; ++i) v = (v << 4) | (p[i] & 0x0F);
    return v;
}
