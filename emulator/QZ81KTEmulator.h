#pragma once
// The running emulated converter: a worker thread that takes what the panel sends from
// a fixed inbox, frames it by F0…F7, answers RQ1 requests with one DT1 of the block,
// applies DT1 writes and acts on the three fixed command frames, with fault switches
// for testing. Replies leave through a CEmulatorOutput. After Start nothing on the
// receive and reply path allocates: inbox, frame, reply and delay queue are fixed.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "emulator/EmulatorFaults.h"
#include "emulator/EmulatorOutput.h"
#include "emulator/EmulatorState.h"
#include "midi/FixedRing.h"
#include "midi/platform/Event.h"

// A snapshot of the emulator's counters.
struct CEmulatorCounters {
    uint64_t m_nRequestsAnswered = 0;  // replies sent (a reply withheld by a fault is not counted)
    uint64_t m_nWritesApplied = 0;     // block writes stored
    uint64_t m_nCommands = 0;          // fixed command frames acted on
    uint64_t m_nFramesIgnored = 0;     // frames not acted on: foreign, malformed, bad checksum, unknown block, wrong size
    uint64_t m_nIgnoredSilent = 0;     // frames that arrived while off, silent, rebooting or in update mode
    uint64_t m_nInboxDrops = 0;        // incoming messages lost to a full inbox
    uint64_t m_nRepliesDropped = 0;    // replies withheld by the drop fault or lost to a full delay queue
    uint64_t m_nSendFailures = 0;      // sends that the output did not take
    uint64_t m_nFloodMessages = 0;     // unrelated messages sent by the flood
};

class CQZ81KTEmulator {
public:
    static constexpr size_t kInboxBytes = 16384;
    static constexpr size_t kMaxFrame = 256;  // longer System Exclusive messages are not ours
    static constexpr size_t kDelaySlots = 256;
    static constexpr int kMaxExtraBytes = 16;  // largest growth of a reply by the size fault
    static constexpr size_t kMaxReplyFrame = qz::kDT1Overhead + qz::kMaxReplyData + kMaxExtraBytes;
    static constexpr uint32_t kDefaultRebootMs = 1500;

    // pOutput is not owned; null discards replies (they count as send failures).
    explicit CQZ81KTEmulator(CEmulatorOutput* pOutput = nullptr);
    ~CQZ81KTEmulator();
    CQZ81KTEmulator(const CQZ81KTEmulator&) = delete;
    CQZ81KTEmulator& operator=(const CQZ81KTEmulator&) = delete;

    // Set-up, before Start. The clock (milliseconds, any origin) drives the live status
    // (timecode, supply voltage); transport timing (delay, reboot, flood) uses the
    // steady clock.
    void SetOutput(CEmulatorOutput* pOutput);
    void SetClock(std::function<uint64_t()> fnNowMs);

    // Start boots the device (memory from the power-on copy) when its power is on.
    bool Start();
    void Stop();
    bool IsRunning() const { return m_bRunning.load(std::memory_order_acquire); }

    // What the panel sent; any thread. The bytes are copied; a message that does not fit
    // the inbox is dropped whole and counted.
    void Receive(const uint8_t* pData, size_t nLength);
    void ReceiveShort(uint32_t dwMsg);

    // Power switch. PowerOn reloads the memory from the power-on copy, so unflashed
    // changes are lost, and it ends update mode; it does nothing while the power is on.
    void PowerOff();
    void PowerOn();
    void PowerCycle();
    bool IsPowered() const { return m_bPowered.load(std::memory_order_acquire); }
    bool IsInUpdateMode() const { return m_bUpdateMode.load(std::memory_order_acquire); }
    bool IsRebooting() const { return m_bRebooting.load(std::memory_order_acquire); }
    // Powered, not rebooting, not in update mode and not silenced by the fault switch.
    bool IsAnswering() const;

    // Silence after a factory reset before the device answers again.
    void SetRebootMs(uint32_t nMs) { m_nRebootMs.store(nMs, std::memory_order_relaxed); }
    uint32_t RebootMs() const { return m_nRebootMs.load(std::memory_order_relaxed); }

    CEmulatorFaults& Faults() { return m_faults; }

    // Emulator settings and the model; all thread-safe.
    void SetInputFormat(int nCode);  // CEmulatorState::kFormatAuto, 0..127 (127 = "No Signal")
    void SetControlMode(uint8_t byMode);  // the six mode switches, bit 5 = SW1 … bit 0 = SW6
    void SetPower(bool bExternal, int nTenthsOfVolt);
    void SetLowLatencyAvailable(bool bAvailable);
    void SetVersion(const char* pszVersion);
    // See CEmulatorState::SetProductID.
    bool SetProductID(std::string_view strID);
    // A block as the device would send it now; returns its size, 0 for an unknown address.
    size_t ReadBlock(uint32_t dwAddress, uint8_t* pOut, size_t nCapacity) const;
    CEmulatorMemory Memory() const;
    CEmulatorMemory FlashMemory() const;
    uint8_t TestBits() const;

    // Power-on file. Loading replaces the power-on copy (it shows at the next power-on)
    // and leaves everything unchanged when the file is bad. With a flash file set, the
    // power-on copy is saved to it after every write to flash and factory reset.
    bool LoadFlashFile(const std::string& strPath);
    bool SaveFlashFile(const std::string& strPath) const;
    void SetFlashFile(const std::string& strPath);

    CEmulatorCounters Counters() const;
    // Replies held back by the delay fault and not yet sent.
    uint32_t RepliesWaiting() const { return m_nRepliesWaiting.load(std::memory_order_acquire); }

private:
    struct CDelayed {
        uint64_t nDueMs = 0;
        size_t nLength = 0;
        uint8_t byData[kMaxReplyFrame] = {};
    };

    void WorkerMain();
    uint32_t NextWaitMs(uint64_t nTick) const;
    void FinishReboot(uint64_t nTick);
    void DrainInbox();
    void PushInbox(const uint8_t* pData, size_t nLength);
    void FrameByte(uint8_t by);
    void ProcessFrame(const uint8_t* f, size_t nLength);
    void Reply(uint32_t dwAddress, const uint8_t* pData, size_t n);
    void SendReply(const uint8_t* pFrame, size_t nLength);
    void SendDueReplies(uint64_t nTick);
    void RunFlood(uint64_t nTick);
    void SendFloodMessage(uint64_t nSeq);
    // The flash text is taken under m_stateMutex (caller holds it) and written to the
    // file after the lock is released, so that readers never wait for the disk.
    void CaptureFlashIfSet();
    void WriteCapturedFlash();
    uint64_t StatusNow() const;
    uint64_t SteadyMs() const;

    CEmulatorOutput* m_pOutput;
    std::function<uint64_t()> m_fnClock;
    CEmulatorFaults m_faults;

    mutable std::mutex m_stateMutex;  // guards m_state, m_strFlashFile and the power transitions
    CEmulatorState m_state;
    std::string m_strFlashFile;
    std::string m_strFlashPending;                  // worker only: file to write, empty for none
    char m_achFlashText[CEmulatorState::kFlashTextMax] = {};  // worker only
    size_t m_nFlashText = 0;
    std::atomic<bool> m_bPowered{true};
    std::atomic<bool> m_bUpdateMode{false};
    std::atomic<bool> m_bRebooting{false};
    std::atomic<uint64_t> m_nRebootEndMs{0};
    std::atomic<uint32_t> m_nRebootMs{kDefaultRebootMs};
    std::atomic<uint32_t> m_nPowerGen{0};  // bumped by every power change: the framer starts afresh

    // Inbox: a byte ring filled by Receive (from any thread, hence the lock), emptied by the worker.
    std::mutex m_inboxMutex;
    CFixedRing<uint8_t, kInboxBytes> m_inbox;

    CEvent m_stop{true, false};
    CEvent m_wake{false, false, m_stop};
    std::thread m_hThread;
    std::atomic<bool> m_bRunning{false};
    std::chrono::steady_clock::time_point m_epoch;

    // Worker-only state.
    uint8_t m_chunk[1024] = {};
    uint8_t m_frame[kMaxFrame] = {};
    size_t m_nFrameLen = 0;
    bool m_bInFrame = false;
    bool m_bFrameOverflow = false;
    uint32_t m_nSeenPowerGen = 0;
    uint64_t m_nReplySeq = 0;
    uint8_t m_reply[kMaxReplyFrame] = {};
    uint8_t m_block[qz::kMaxReplyData + kMaxExtraBytes] = {};
    CDelayed m_delayed[kDelaySlots];
    size_t m_nDelayHead = 0, m_nDelayCount = 0;
    uint32_t m_nFloodRate = 0;
    uint64_t m_nFloodStartMs = 0, m_nFloodSent = 0, m_nFloodSeq = 0;

    // Counters.
    std::atomic<uint64_t> m_nRequestsAnswered{0};
    std::atomic<uint64_t> m_nWritesApplied{0};
    std::atomic<uint64_t> m_nCommands{0};
    std::atomic<uint64_t> m_nFramesIgnored{0};
    std::atomic<uint64_t> m_nIgnoredSilent{0};
    std::atomic<uint64_t> m_nInboxDrops{0};
    std::atomic<uint64_t> m_nRepliesDropped{0};
    std::atomic<uint64_t> m_nSendFailures{0};
    std::atomic<uint64_t> m_nFloodMessages{0};
    std::atomic<uint32_t> m_nRepliesWaiting{0};
};
