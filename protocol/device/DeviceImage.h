#pragma once
// The program's copy of the device: the last reply of every readable block, a received
// flag per block, and the link state derived from replies.
//
// The input worker stores replies while the interface thread reads the copies and writes
// them (editors, commands, parameter file). Block copies are therefore reached only by
// block, under one short lock, and never past a block's end; a block is copied whole
// before its flag is set (release) or its notification posted. Words shared between the
// threads are atomics.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "protocol/wire/DeviceBlocks.h"

class CDeviceImage {
public:
    using EBlock = qz::EBlock;

    CDeviceImage();

    // Start-up: zero every block but the status copy, clear every received flag.
    void Clear();
    // Connect: reset the link state; block copies and their flags survive. Whoever ticks
    // a link watch on this image resets the watch with it (CLinkWatch::Reset).
    void ResetLinkState();
    // The update mode: the link down and what the status showed forgotten, as in
    // ResetLinkState, but the control mode and the status notification kept.
    void DropLink();

    // Bytes of a block's copy: the block's size, but 24 for the product ID (16 received
    // and 8 that stay 0) and 0 for the control mode, which is kept in m_byControlMode.
    static size_t CopySize(EBlock eBlock);

    // Bytes a Write takes: CopySize, but the 16 received bytes for the product ID.
    static size_t WritableSize(EBlock eBlock);

    // The whole copy of a block. False, and nothing copied, when nBytes is not its
    // CopySize (Read) or WritableSize (Write).
    bool Read(EBlock eBlock, uint8_t* pOut, size_t nBytes) const;
    bool Write(EBlock eBlock, const uint8_t* pIn, size_t nBytes);
    template <size_t N>
    bool Read(EBlock eBlock, uint8_t (&out)[N]) const {
        return Read(eBlock, out, N);
    }
    template <size_t N>
    bool Write(EBlock eBlock, const uint8_t (&in)[N]) {
        return Write(eBlock, in, N);
    }
    // One byte of a block; 0 (and no write) beyond the block.
    uint8_t ReadByte(EBlock eBlock, size_t i) const;
    bool WriteByte(EBlock eBlock, size_t i, uint8_t by);

    // Whether a reply of the block has been stored since construction or Clear. The reply
    // handlers mark every block (the system, status and control mode blocks have no
    // received flag of their own) after its copy and flag, before any notification.
    bool ReplyStored(EBlock eBlock) const;
    void MarkReplyStored(EBlock eBlock);
    // Unmarks one block, so that the next reply of it can be waited for (a read-back);
    // its copy stays.
    void ForgetReply(EBlock eBlock);

    // Stores a status reply and returns the change mask against the previous copy
    // (0xFF while m_bForceStatusNotify is set), in one step under the lock.
    int StoreStatus(const uint8_t (&status)[qz::kStatusSize]);

    std::atomic<bool> m_bServiceMode{false};
    std::atomic<uint8_t> m_byDeviceID{qz::kDefaultDeviceID};

    std::atomic<bool> m_bVersionRcvd{false};
    std::atomic<bool> m_bProductIDRcvd{false};
    std::atomic<bool> m_bTimecodeRcvd{false};
    std::atomic<bool> m_bPresetRcvd[qz::kPresetCount];
    std::atomic<bool> m_bAllPresetsRcvd{false};

    // Link state. m_bLinkUp is written by the link watch (protocol/device/LinkWatch.h) and the
    // link resets, where the watch is ticked; the input worker counts the status replies.
    std::atomic<bool> m_bLinkUp{false};
    std::atomic<int> m_nStatusReplies{0};
    std::atomic<int> m_nDirection{0};
    std::atomic<bool> m_bRateFromSdi{false};
    std::atomic<bool> m_bRateFrom1394{false};
    std::atomic<bool> m_bLowLatencyAvail{false};
    std::atomic<bool> m_bForceStatusNotify{false};
    std::atomic<uint8_t> m_byControlMode{kNoControlMode};
    std::atomic<bool> m_bRemoteSelected{false};
    std::atomic<bool> m_bRemote{false};

    static constexpr uint8_t kNoControlMode = 0x80;  // no 7-bit byte equals it

private:
    // The copy behind a block, or null for a block without one.
    uint8_t* Copy(EBlock eBlock);
    const uint8_t* Copy(EBlock eBlock) const;

    std::atomic<uint32_t> m_dwRepliesStored{0};  // bit n: a reply of EBlock n was stored
    static_assert(qz::kBlockCount <= 32);

    mutable std::mutex m_blockLock;
    // Block copies (raw device bytes), guarded by m_blockLock.
    uint8_t m_system[qz::kSystemSize];
    uint8_t m_timecode[qz::kTimecodeSize];
    uint8_t m_preset[qz::kPresetCount][qz::kPresetSize];
    uint8_t m_status[qz::kStatusSize];
    uint8_t m_version[qz::kVersionSize];
    uint8_t m_productID[qz::kProductIDCopySize];
};
