#pragma once
// The memory and live state of the emulated converter: every block the panel reads
// or writes, the power-on ("flash") copy, and the live status computed from a
// millisecond clock that the caller passes in. Not thread-safe by itself: the running
// emulator guards it with its own lock.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "emulator/EmulatorTimecode.h"
#include "protocol/wire/DeviceBlocks.h"
#include "protocol/fields/StatusText.h"

// The writable memory: what a write to flash keeps and a power-on restores.
struct CEmulatorMemory {
    uint8_t m_productID[qz::kProductIDSize] = {};
    uint8_t m_system[qz::kSystemSize] = {};
    uint8_t m_timecode[qz::kTimecodeSize] = {};
    uint8_t m_preset[qz::kPresetCount][qz::kPresetSize] = {};

    bool operator==(const CEmulatorMemory&) const = default;
};

class CEmulatorState {
public:
    // Result of a data set written to the device.
    enum EWrite {
        kWriteIgnored,       // unknown address, wrong size or refused (Local mode)
        kWriteApplied,       // a block (or, in Local mode, the Local/Remote byte) was stored
        kWriteFactoryReset,  // memory and power-on copy are back at factory defaults
        kWriteFlash,         // the current memory is now the power-on copy
        kWriteUpdateMode,    // the firmware update command; the caller goes silent
    };

    static constexpr int kNoSignal = qz::kVideoFormatNoSignal;
    static constexpr int kFormatAuto = -1;  // input follows the default frame rate (system byte 21)
    static constexpr size_t kFlashTextMax = 2048;
    static constexpr const char* kFlashSection = "[QZ-81KT Emulator Flash]";

    // Factory defaults, powered on at time 0.
    CEmulatorState();

    static CEmulatorMemory FactoryMemory();

    // Power-on: the memory is loaded from the power-on copy, the test outputs go off and
    // the timecode generator restarts.
    void PowerOn(uint64_t nNowMs);

    // Size of the block that an RQ1 for this address reads (the device's block table),
    // 0 when there is none.
    static int ReadableBlockSize(uint32_t dwAddress);
    // Copies the block at dwAddress (as the device would send it at time nNowMs) into
    // pOut; returns its size, or 0 for an unknown address or a too small buffer.
    size_t ReadBlock(uint32_t dwAddress, uint64_t nNowMs, uint8_t* pOut, size_t nCapacity) const;

    // Applies a data set of n bytes written to dwAddress.
    EWrite ApplyWrite(uint32_t dwAddress, const uint8_t* pData, size_t n, uint64_t nNowMs);

    // Live status block (58 bytes) at time nNowMs.
    void BuildStatus(uint64_t nNowMs, uint8_t (&out)[qz::kStatusSize]) const;
    // Timecode reading at nNowMs; false when the device reports no timecode.
    bool TimecodeAt(uint64_t nNowMs, CEmulatorTimecode& tc, bool& bDrop) const;

    // Emulator settings (not device memory).
    void SetInputFormat(int nCode, uint64_t nNowMs);  // kFormatAuto, 0..127
    int InputFormatSetting() const { return m_nInputFormat; }
    int InputFormat() const;  // the code the status block reports
    void SetControlMode(uint8_t byMode) { m_byControlMode = byMode & 0x3F; }
    uint8_t ControlMode() const { return m_byControlMode; }
    void SetPower(bool bExternal, int nTenthsOfVolt);
    void SetLowLatencyAvailable(bool bAvailable) { m_bLowLatency = bAvailable; }
    void SetVersion(const char* pszVersion);  // up to 8 characters
    // The unit's product ID, now and in the power-on copy. False, and nothing changed, for
    // text that ProductIDFromText refuses.
    bool SetProductID(std::string_view strID);
    // The product ID block for a text as the service dialog writes it: 1 to 16 printable
    // ASCII characters (0x20-0x7E), letters as capitals, blanks behind. False for any
    // other text.
    static bool ProductIDFromText(std::string_view strID, uint8_t (&out)[qz::kProductIDSize]);
    uint8_t TestBits() const { return m_byTest; }
    bool IsRemote() const;  // system byte 7, or forced by mode switch SW6

    const CEmulatorMemory& Memory() const { return m_memory; }
    const CEmulatorMemory& FlashMemory() const { return m_flash; }
    void SetFlashMemory(const CEmulatorMemory& mem) { m_flash = mem; }

    // The power-on copy as text; FormatFlashText returns the length written (without
    // the terminating zero), or 0 when the buffer is too small. Allocation-free.
    size_t FormatFlashText(char* pOut, size_t nCapacity) const;
    std::string FlashText() const;
    // Replaces the power-on copy from text; all or nothing: a malformed, truncated or
    // incomplete text leaves the state unchanged and returns false.
    bool ParseFlashText(const char* pText, size_t nLength);
    // File forms of the two above. SaveFlashFile writes a temporary file beside the
    // target and renames it, so an interrupted save never leaves a half file behind.
    bool SaveFlashFile(const char* pszPath) const;
    // Writes text made by FormatFlashText the same way; needs no state, so no lock.
    static bool WriteFlashText(const char* pszPath, const char* text, size_t nText);
    bool LoadFlashFile(const char* pszPath);

private:
    CEmulatorFrameRate CurrentRate() const;
    bool DropCounting(const CEmulatorFrameRate& rate) const;
    void RestartTimecode(uint64_t nNowMs);
    void RetimeTimecode(uint64_t nNowMs);
    uint64_t FramesAt(uint64_t nNowMs) const;
    int SupplyTenthsAt(uint64_t nNowMs) const;
    void BuildStream(uint8_t (&out)[qz::kStatusSize]) const;

    CEmulatorMemory m_memory;
    CEmulatorMemory m_flash;
    uint8_t m_version[qz::kVersionSize] = {};
    uint8_t m_byControlMode = 0;
    uint8_t m_byTest = 0;
    int m_nInputFormat = kFormatAuto;
    bool m_bExternalPower = true;
    int m_nSupplyTenths = 120;
    bool m_bLowLatency = true;

    // Timecode generator: label count m_nTcAnchorFrames at m_nTcAnchorMs, counting at
    // m_tcRate from there.
    uint64_t m_nTcAnchorMs = 0;
    uint64_t m_nTcAnchorFrames = 0;
    CEmulatorFrameRate m_tcRate;
    bool m_bTcDrop = false;
};
