#pragma once
// Helpers for the emulator tests: a recording output and frame builders.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "emulator/EmulatorOutput.h"
#include "protocol/DeviceBlocks.h"
#include "protocol/DeviceFrames.h"

using Bytes = std::vector<uint8_t>;

// Records everything the emulator sends.
class CRecordingOutput : public CEmulatorOutput {
public:
    bool SendLong(const uint8_t* pData, size_t nLength) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_long.emplace_back(pData, pData + nLength);
        }
        m_cv.notify_all();
        return true;
    }
    bool SendShort(uint32_t dwMsg) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_short.push_back(dwMsg);
        }
        m_cv.notify_all();
        return true;
    }

    // Waits until at least nCount long messages arrived in all; false on time-out.
    bool WaitLong(size_t nCount, int nTimeoutMs = 5000) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [&] { return m_long.size() >= nCount; });
    }
    bool WaitShort(size_t nCount, int nTimeoutMs = 5000) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [&] { return m_short.size() >= nCount; });
    }
    std::vector<Bytes> Long() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_long;
    }
    std::vector<uint32_t> Short() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_short;
    }
    size_t LongCount() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_long.size();
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_long.clear();
        m_short.clear();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Bytes> m_long;
    std::vector<uint32_t> m_short;
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
