#pragma once
// The program's copy of the device: the last reply of every readable block, a received
// flag per block, and the link state derived from replies.
//
// The input worker stores replies while the interface thread reads the copies and writes
// them (editors, commands, parameter file). Block copies are therefore guarded by one
// short lock; a block is copied whole before its flag is set (release) or its
// notification posted. Words shared between the threads are atomics.
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "protocol/DeviceBlocks.h"

class CDeviceImage {
public:
    CDeviceImage();

    // Start-up: zero every block but the status copy, clear every received flag.
    void Clear();
    // Connect: reset the link state; block copies and their flags survive.
    void ResetLinkState();

    // Whole-block access under the block lock (n bytes from the block's start).
    void Read(const uint8_t* pBlock, uint8_t* pOut, size_t n) const {
        std::lock_guard<std::mutex> lock(m_blockLock);
        std::memcpy(pOut, pBlock, n);
    }
    void Write(uint8_t* pBlock, const uint8_t* pIn, size_t n) {
        std::lock_guard<std::mutex> lock(m_blockLock);
        std::memcpy(pBlock, pIn, n);
    }
    uint8_t ReadByte(const uint8_t* pBlock, size_t i) const {
        std::lock_guard<std::mutex> lock(m_blockLock);
        return pBlock[i];
    }
    void WriteByte(uint8_t* pBlock, size_t i, uint8_t by) {
        std::lock_guard<std::mutex> lock(m_blockLock);
        pBlock[i] = by;
    }
    std::mutex& BlockLock() const { return m_blockLock; }

    std::atomic<int> m_bServiceMode{0};
    std::atomic<uint8_t> m_byDeviceID{qz::kDefaultDeviceID};

    // Block copies (raw device bytes). Touch them only under BlockLock().
    uint8_t m_system[qz::kSystemSize];
    uint8_t m_timecode[qz::kTimecodeSize];
    uint8_t m_preset[qz::kPresetCount][qz::kPresetSize];
    uint8_t m_status[qz::kStatusSize];
    uint8_t m_version[qz::kVersionSize];
    uint8_t m_productID[24];  // 16 bytes as received, then 8 that stay 0

    std::atomic<int> m_bVersionRcvd{0};
    std::atomic<int> m_bProductIDRcvd{0};
    std::atomic<int> m_bTimecodeRcvd{0};
    std::atomic<int> m_bPresetRcvd[qz::kPresetCount];
    std::atomic<int> m_bAllPresetsRcvd{0};

    // Link state.
    std::atomic<int> m_bLinkUp{0};
    int m_nSilentTicks = 0;
    std::atomic<int> m_nStatusReplies{0};
    int m_nStatusSeen = 0;
    int m_nPollTicks = 0;
    std::atomic<int> m_nDirection{0};
    std::atomic<int> m_bRateFromSdi{0};
    std::atomic<int> m_bRateFrom1394{0};
    int m_nRateEnableCount = 0;
    std::atomic<int> m_bLowLatencyAvail{0};
    int m_nEditPreset = 0;
    std::atomic<int> m_bForceStatusNotify{0};
    std::atomic<uint8_t> m_byControlMode{kNoControlMode};
    std::atomic<int> m_bRemoteSelected{0};
    std::atomic<int> m_bRemote{0};

    static constexpr uint8_t kNoControlMode = 0x80;  // no 7-bit byte equals it

private:
    mutable std::mutex m_blockLock;
};
