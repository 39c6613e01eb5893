#include "emulator/EmulatorState.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/fields/PresetBlock.h"

namespace {

using qz::Read16;
using qz::Read8;
using qz::Write16;
using qz::Write8;

CEmulatorTimecode LabelAt(const uint8_t* p) {
    const qz::CBlockTime t = qz::ReadBlockTime(p);
    CEmulatorTimecode tc;
    tc.m_nFrames = t.nFrames;
    tc.m_nSeconds = t.nSeconds;
    tc.m_nMinutes = t.nMinutes;
    tc.m_nHours = t.nHours;
    return tc;
}

// The status bytes 24-31, which the panel does not read, carry the user bits.
constexpr int kStatusUserBits = 24;

// Timecode generate modes (timecode block byte 27).
constexpr int kGenOff = 0;
constexpr int kGenFreeRun = 1;
constexpr int kGenOffset = 3;

struct CPresetDefault {
    int nCodec, nRxType, nHdRate, nSdRate, nHSize, nGop, nBPict, nClosedGop;
};

// One line per caption of the preset radios: "0 : HDV/DV (HDV with PC)" … "7 : MPEG-2 50M I-Only 1440".
constexpr CPresetDefault kPresetDefaults[qz::kPresetCount] = {
    {0, 0, 250, 80, 0, 15, 2, 0},   // HDV/DV, HDV to the PC
    {0, 2, 250, 80, 0, 15, 2, 0},   // HDV/DV, DV to the PC
    {1, 1, 350, 80, 0, 15, 2, 0},   // MPEG-2 35M LongGOP 1440
    {1, 1, 500, 150, 0, 15, 2, 0},  // MPEG-2 50M LongGOP 1440
    {1, 1, 80, 40, 0, 15, 2, 0},    // MPEG-2  8M LongGOP 1440
    {1, 1, 350, 80, 1, 15, 2, 0},   // MPEG-2 35M LongGOP 1920
    {1, 1, 500, 150, 1, 15, 2, 0},  // MPEG-2 50M LongGOP 1920
    {1, 1, 500, 150, 0, 1, 0, 1},   // MPEG-2 50M I-Only 1440
};

struct CFlashKey {
    const char* pszKey;
    size_t nOffset;  // into CEmulatorMemory
    size_t nSize;
};

constexpr size_t PresetOffset(int n) { return offsetof(CEmulatorMemory, m_preset) + static_cast<size_t>(n) * qz::kPresetSize; }

constexpr CFlashKey kFlashKeys[] = {
    {"productid", offsetof(CEmulatorMemory, m_productID), qz::kProductIDSize},
    {"system", offsetof(CEmulatorMemory, m_system), qz::kSystemSize},
    {"timecode", offsetof(CEmulatorMemory, m_timecode), qz::kTimecodeSize},
    {"preset0", PresetOffset(0), qz::kPresetSize},
    {"preset1", PresetOffset(1), qz::kPresetSize},
    {"preset2", PresetOffset(2), qz::kPresetSize},
    {"preset3", PresetOffset(3), qz::kPresetSize},
    {"preset4", PresetOffset(4), qz::kPresetSize},
    {"preset5", PresetOffset(5), qz::kPresetSize},
    {"preset6", PresetOffset(6), qz::kPresetSize},
    {"preset7", PresetOffset(7), qz::kPresetSize},
};
constexpr size_t kFlashKeyCount = sizeof(kFlashKeys) / sizeof(kFlashKeys[0]);

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Decodes 2n hexadecimal digits and two digits of their 8-bit sum; every byte must be 7-bit.
bool DecodeBlock(const char* p, size_t nLen, uint8_t* pOut, size_t n) {
    if (nLen != 2 * n + 2) return false;
    unsigned nSum = 0;
    for (size_t i = 0; i <= n; ++i) {
        int hi = HexValue(p[2 * i]), lo = HexValue(p[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        unsigned v = static_cast<unsigned>(hi * 16 + lo);
        if (i == n) return v == (nSum & 0xFF);
        if (v > 0x7F) return false;
        pOut[i] = static_cast<uint8_t>(v);
        nSum += v;
    }
    return false;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

}  // namespace

CEmulatorState::CEmulatorState() {
    m_flash = FactoryMemory();
    SetVersion("1.03");
    PowerOn(0);
}

CEmulatorMemory CEmulatorState::FactoryMemory() {
    CEmulatorMemory mem;
    std::memcpy(mem.m_productID, "QZ-81KT-EMU00001", qz::kProductIDSize);

    uint8_t* s = mem.m_system;
    s[qz::kSysDirection] = 0;      // SDI -> IEEE1394
    s[qz::kSysAudioChannels] = 0;  // 1-2
    s[qz::kSysPreset] = 0;
    s[qz::kSysRemote] = 1;  // Remote, so that the panel's controls work
    s[qz::kSysUnitType] = 0;  // Camera
    s[qz::kSysFan] = 1;
    s[qz::kSysFrameRate] = 0;  // 59.94 Hz

    uint8_t* t = mem.m_timecode;
    t[qz::kTcGenerateAt] = kGenFreeRun;  // free run from the preset 00:00:00:00
    t[qz::kTcUserBitGenerateAt] = 1;     // user bits from their preset
    t[qz::kTcDvitcGenerateAt] = 1;       // DVITC #1 generated
    Write8(t, qz::kTcDvitcLine480At, 14);  // 480i lines 14 and 16
    Write8(t, qz::kTcDvitcLine480At + 2, 16);
    Write8(t, qz::kTcDvitcLine576At, 19);  // 576i lines 19 and 21
    Write8(t, qz::kTcDvitcLine576At + 2, 21);

    for (int n = 0; n < qz::kPresetCount; ++n) {
        const CPresetDefault& d = kPresetDefaults[n];
        uint8_t* p = mem.m_preset[n];
        Write16(p, qz::kPresetHdBitRate, d.nHdRate);
        Write16(p, qz::kPresetSdBitRate, d.nSdRate);
        Write16(p, qz::kPresetPmtPid, 0x0100);
        Write16(p, qz::kPresetPcrPid, 0x0810);  // PCR rides on the video stream
        Write16(p, qz::kPresetVideoPid, 0x0810);
        Write16(p, qz::kPresetAudioPid, 0x0814);
        Write16(p, qz::kPresetProgramTx, 0x0001);
        Write16(p, qz::kPresetProgramRx, 0x0000);  // automatic
        Write8(p, qz::kPresetCodec, d.nCodec);
        Write8(p, qz::kPresetHorizontalSize, d.nHSize);
        Write8(p, qz::kPresetGopSize, d.nGop);
        Write8(p, qz::kPresetBPictures, d.nBPict);
        Write8(p, qz::kPresetClosedGop, d.nClosedGop);
        Write8(p, qz::kPresetAudioBitRate, 2);  // 384 kbit/s
        Write8(p, qz::kPresetRxType, d.nRxType);
        Write8(p, qz::kPresetLowPass, 0);  // off
    }
    return mem;
}

void CEmulatorState::PowerOn(uint64_t nNowMs) {
    m_memory = m_flash;
    m_byTest = 0;
    RestartTimecode(nNowMs);
}

void CEmulatorState::SetVersion(const char* pszVersion) {
    std::memset(m_version, 0, sizeof(m_version));
    if (pszVersion) std::memcpy(m_version, pszVersion, std::min(std::strlen(pszVersion), sizeof(m_version)));
}

bool CEmulatorState::ProductIDFromText(std::string_view strID, uint8_t (&out)[qz::kProductIDSize]) {
    if (strID.empty() || strID.size() > sizeof out) return false;
    for (size_t i = 0; i < sizeof out; ++i) {
        char c = i < strID.size() ? strID[i] : ' ';
        if (c < 0x20 || c > 0x7E) return false;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        out[i] = static_cast<uint8_t>(c);
    }
    return true;
}

bool CEmulatorState::SetProductID(std::string_view strID) {
    uint8_t id[qz::kProductIDSize];
    if (!ProductIDFromText(strID, id)) return false;
    std::memcpy(m_memory.m_productID, id, sizeof id);
    std::memcpy(m_flash.m_productID, id, sizeof id);
    return true;
}

void CEmulatorState::SetPower(bool bExternal, int nTenthsOfVolt) {
    m_bExternalPower = bExternal;
    m_nSupplyTenths = std::clamp(nTenthsOfVolt, 0, 255);
}

void CEmulatorState::SetInputFormat(int nCode, uint64_t nNowMs) {
    m_nInputFormat = (nCode < 0 || nCode > 127) ? kFormatAuto : nCode;
    RetimeTimecode(nNowMs);
}

int CEmulatorState::InputFormat() const {
    if (m_nInputFormat != kFormatAuto) return m_nInputFormat;
    return m_memory.m_system[qz::kSysFrameRate] ? 13 : 12;  // 1080/50i or 1080/59.94i
}

bool CEmulatorState::IsRemote() const { return (m_byControlMode & 0x01) || m_memory.m_system[qz::kSysRemote] != 0; }

// ---- blocks ----

int CEmulatorState::ReadableBlockSize(uint32_t dwAddress) {
    const qz::CBlockInfo* pBlock = qz::FindBlockByAddress(dwAddress);
    return pBlock ? pBlock->nSize : 0;
}

size_t CEmulatorState::ReadBlock(uint32_t dwAddress, uint64_t nNowMs, uint8_t* pOut, size_t nCapacity) const {
    const qz::CBlockInfo* pBlock = qz::FindBlockByAddress(dwAddress);
    if (!pBlock || !pOut || nCapacity < static_cast<size_t>(pBlock->nSize)) return 0;
    using qz::EBlock;
    switch (pBlock->eBlock) {
    case EBlock::Version: std::memcpy(pOut, m_version, qz::kVersionSize); break;
    case EBlock::ProductID: std::memcpy(pOut, m_memory.m_productID, qz::kProductIDSize); break;
    case EBlock::ControlMode: pOut[0] = m_byControlMode; break;
    case EBlock::System:
        std::memcpy(pOut, m_memory.m_system, qz::kSystemSize);
        if (m_byControlMode & 0x01) pOut[qz::kSysRemote] = 1;  // SW6 holds the device in Remote
        break;
    case EBlock::Timecode: std::memcpy(pOut, m_memory.m_timecode, qz::kTimecodeSize); break;
    case EBlock::Status: {
        uint8_t status[qz::kStatusSize];
        BuildStatus(nNowMs, status);
        std::memcpy(pOut, status, qz::kStatusSize);
        break;
    }
    default: std::memcpy(pOut, m_memory.m_preset[qz::PresetIndex(pBlock->eBlock)], qz::kPresetSize); break;
    }
    return static_cast<size_t>(pBlock->nSize);
}

CEmulatorState::EWrite CEmulatorState::ApplyWrite(uint32_t dwAddress, const uint8_t* pData, size_t n, uint64_t nNowMs) {
    if (!pData || n == 0) return kWriteIgnored;
    switch (dwAddress) {  // the written-only addresses, one byte each
    case qz::kAddrTest:
        if (n != 1) return kWriteIgnored;
        m_byTest = pData[0];
        return kWriteApplied;
    case qz::kAddrFactoryReset: {
        if (n != 1 || pData[0] != 0x55) return kWriteIgnored;
        // The settings go back to the factory's; the unit keeps its product ID, by which
        // a rack knows it.
        uint8_t id[qz::kProductIDSize];
        std::memcpy(id, m_memory.m_productID, sizeof id);
        m_memory = m_flash = FactoryMemory();
        std::memcpy(m_memory.m_productID, id, sizeof id);
        std::memcpy(m_flash.m_productID, id, sizeof id);
        m_byTest = 0;
        return kWriteFactoryReset;
    }
    case qz::kAddrWriteFlash:
        if (n != 1 || pData[0] != 0x2A) return kWriteIgnored;
        m_flash = m_memory;
        return kWriteFlash;
    case qz::kAddrUpdateMode:
        if (n != 1 || pData[0] != 0x55) return kWriteIgnored;
        return kWriteUpdateMode;
    default:
        break;
    }
    const qz::CBlockInfo* pBlock = qz::FindBlockByAddress(dwAddress);
    if (!pBlock || n != static_cast<size_t>(pBlock->nSize)) return kWriteIgnored;
    using qz::EBlock;
    switch (pBlock->eBlock) {
    case EBlock::System:
        if (!IsRemote()) {
            // In Local the front panel owns the settings; only the switch to Remote is taken.
            if (pData[qz::kSysRemote] == m_memory.m_system[qz::kSysRemote]) return kWriteIgnored;
            m_memory.m_system[qz::kSysRemote] = pData[qz::kSysRemote];
        } else {
            std::memcpy(m_memory.m_system, pData, qz::kSystemSize);
        }
        RetimeTimecode(nNowMs);
        return kWriteApplied;
    case EBlock::Timecode: {
        if (!IsRemote()) return kWriteIgnored;
        uint8_t* t = m_memory.m_timecode;
        const bool bRestart = std::memcmp(t + qz::kTcPresetAt, pData + qz::kTcPresetAt, 8) != 0 ||
                              std::memcmp(t + qz::kTcOffsetAt, pData + qz::kTcOffsetAt, 8) != 0 ||
                              (t[qz::kTcGenerateAt] & 0x0F) != (pData[qz::kTcGenerateAt] & 0x0F);
        std::memcpy(t, pData, qz::kTimecodeSize);
        if (bRestart)
            RestartTimecode(nNowMs);
        else
            RetimeTimecode(nNowMs);
        return kWriteApplied;
    }
    case EBlock::ProductID:
        std::memcpy(m_memory.m_productID, pData, qz::kProductIDSize);
        return kWriteApplied;
    case EBlock::Version:
    case EBlock::ControlMode:
    case EBlock::Status:
        return kWriteIgnored;  // read only
    default:
        if (!IsRemote()) return kWriteIgnored;
        std::memcpy(m_memory.m_preset[qz::PresetIndex(pBlock->eBlock)], pData, qz::kPresetSize);
        return kWriteApplied;
    }
}

// ---- timecode ----

CEmulatorFrameRate CEmulatorState::CurrentRate() const {
    CEmulatorFrameRate rate;
    if (CEmulatorTimecode::RateOfFormat(InputFormat(), rate)) return rate;
    return m_memory.m_system[qz::kSysFrameRate] ? CEmulatorTimecode::Rate25() : CEmulatorTimecode::Rate2997();
}

bool CEmulatorState::DropCounting(const CEmulatorFrameRate& rate) const {
    switch (m_memory.m_timecode[qz::kTcDropFrameAt] & 0x0F) {
    case 0: return rate.m_nFps == 30 && rate.IsFractional();  // auto: drop at 29.97
    case 2: return rate.m_nFps == 30;                         // forced drop, where it exists
    default: return false;
    }
}

void CEmulatorState::RestartTimecode(uint64_t nNowMs) {
    m_tcRate = CurrentRate();
    m_bTcDrop = DropCounting(m_tcRate);
    CEmulatorTimecode start;
    const uint8_t* t = m_memory.m_timecode;
    switch (t[qz::kTcGenerateAt] & 0x0F) {
    case kGenFreeRun: start = LabelAt(t + qz::kTcPresetAt); break;
    case kGenOffset: start = LabelAt(t + qz::kTcOffsetAt); break;
    default: break;  // thru follows a source that started at power-on
    }
    m_nTcAnchorMs = nNowMs;
    m_nTcAnchorFrames = CEmulatorTimecode::ToFrames(start, m_tcRate.m_nFps, m_bTcDrop);
}

void CEmulatorState::RetimeTimecode(uint64_t nNowMs) {
    CEmulatorFrameRate rate = CurrentRate();
    bool bDrop = DropCounting(rate);
    if (rate == m_tcRate && bDrop == m_bTcDrop) return;
    // Keep the label running on: re-anchor at the label reached so far.
    CEmulatorTimecode now = CEmulatorTimecode::FromFrames(FramesAt(nNowMs), m_tcRate.m_nFps, m_bTcDrop);
    m_tcRate = rate;
    m_bTcDrop = bDrop;
    m_nTcAnchorMs = nNowMs;
    m_nTcAnchorFrames = CEmulatorTimecode::ToFrames(now, rate.m_nFps, bDrop);
}

uint64_t CEmulatorState::FramesAt(uint64_t nNowMs) const {
    uint64_t nElapsed = nNowMs > m_nTcAnchorMs ? nNowMs - m_nTcAnchorMs : 0;
    return m_nTcAnchorFrames + CEmulatorTimecode::FramesIn(nElapsed, m_tcRate);
}

bool CEmulatorState::TimecodeAt(uint64_t nNowMs, CEmulatorTimecode& tc, bool& bDrop) const {
    const int nMode = m_memory.m_timecode[qz::kTcGenerateAt] & 0x0F;
    bDrop = m_bTcDrop;
    if (nMode == kGenOff) return false;
    // Thru and offset need a timecode on the input.
    if (nMode != kGenFreeRun && InputFormat() == kNoSignal) return false;
    tc = CEmulatorTimecode::FromFrames(FramesAt(nNowMs), m_tcRate.m_nFps, m_bTcDrop);
    return true;
}

// ---- live status ----

int CEmulatorState::SupplyTenthsAt(uint64_t nNowMs) const {
    // A tenth up and down every 7.5 s: alive, yet hardly ever changing.
    static constexpr int kWobble[4] = {0, 1, 0, -1};
    return std::clamp(m_nSupplyTenths + kWobble[(nNowMs / 7500) % 4], 0, 255);
}

void CEmulatorState::BuildStream(uint8_t (&out)[qz::kStatusSize]) const {
    const uint8_t* s = m_memory.m_system;
    const bool bFrom1394 = s[qz::kSysDirection] != 0;
    const int nCode = InputFormat();
    CEmulatorFrameRate rate;
    const bool bSignal = CEmulatorTimecode::RateOfFormat(nCode, rate);
    // SDI -> IEEE1394 encodes only what comes in; the other way the computer is assumed
    // to send what the preset expects.
    if (!bFrom1394 && !bSignal) return;  // all zero: no stream
    const bool bSd = !bFrom1394 && CEmulatorTimecode::IsSdFormat(nCode);
    const bool b720 = !bFrom1394 && CEmulatorTimecode::Is720Format(nCode);

    const uint8_t* p = m_memory.m_preset[std::min<int>(s[qz::kSysPreset], qz::kPresetCount - 1)];
    const int nCodec = Read8(p, qz::kPresetCodec);
    const int nRxType = Read8(p, qz::kPresetRxType);
    int nRateTenths, nSize, nStreamCodec;
    if (nCodec == 0) {  // HDV/DV
        if (nRxType == 2 || bSd) {
            nRateTenths = 250, nSize = 0, nStreamCodec = 1;  // DV
        } else if (nRxType == 1 || b720) {
            nRateTenths = 197, nSize = 1, nStreamCodec = 0;  // HDV 720p
        } else {
            nRateTenths = 250, nSize = 2, nStreamCodec = 0;  // HDV 1080i
        }
    } else {  // MPEG-2, LowLatency
        nStreamCodec = 0;
        if (bSd) {
            nRateTenths = Read16(p, qz::kPresetSdBitRate), nSize = 0;
        } else {
            nRateTenths = Read16(p, qz::kPresetHdBitRate);
            nSize = b720 ? 1 : (Read8(p, qz::kPresetHorizontalSize) ? 3 : 2);
        }
    }
    Write16(out, qz::kSt1394Rate, nRateTenths);
    Write8(out, qz::kSt1394Size, nSize);
    Write8(out, qz::kSt1394Codec, nStreamCodec);
}

void CEmulatorState::BuildStatus(uint64_t nNowMs, uint8_t (&out)[qz::kStatusSize]) const {
    std::memset(out, 0, sizeof(out));
    out[qz::kStLowLatency] = m_bLowLatency ? 1 : 0;

    CEmulatorTimecode tc;
    bool bDrop = false;
    if (TimecodeAt(nNowMs, tc, bDrop)) {
        qz::WriteBlockTime(out + qz::kStTimecode, {tc.m_nFrames, tc.m_nSeconds, tc.m_nMinutes, tc.m_nHours},
                           bDrop ? 0x04 : 0);
        if ((m_memory.m_timecode[qz::kTcUserBitGenerateAt] & 0x0F) == 1)  // user bits from their preset
            for (int i = 0; i < 8; ++i) out[kStatusUserBits + i] = m_memory.m_timecode[qz::kTcUserBitsAt + i] & 0x0F;
    } else {
        out[qz::kStTimecode + 6] = 0x03;  // hours tens 3: no timecode
    }

    const int nCode = InputFormat();
    Write8(out, qz::kStVideoFormat, nCode);
    out[qz::kStPowerSource] = m_bExternalPower ? 1 : 0;
    Write8(out, qz::kStVoltage, SupplyTenthsAt(nNowMs));

    // Indicator state: bits 0-1 first colour, bits 2-3 second colour (0 off, 1 steady,
    // 2 slow blink, 3 fast blink).
    uint8_t byLed1, byLed2;
    if (m_byTest & 0x40) {
        // Check mode: LED1/LED2 and LED3/LED4 light the two colours of each indicator;
        // an indicator with nothing switched on blinks fast to show the mode.
        byLed1 = static_cast<uint8_t>(((m_byTest & 0x08) ? 0x01 : 0) | ((m_byTest & 0x04) ? 0x04 : 0));
        byLed2 = static_cast<uint8_t>(((m_byTest & 0x02) ? 0x01 : 0) | ((m_byTest & 0x01) ? 0x04 : 0));
        if (!byLed1) byLed1 = 0x03;
        if (!byLed2) byLed2 = 0x0C;
    } else {
        byLed1 = nCode == kNoSignal ? 0x02 : 0x01;      // signal: steady; none: slow blink
        byLed2 = m_memory.m_system[qz::kSysDirection] ? 0x04 : 0x01;  // direction by colour
    }
    out[qz::kStIndicator1] = byLed1;
    out[qz::kStIndicator2] = byLed2;

    BuildStream(out);
}

// ---- power-on file ----

size_t CEmulatorState::FormatFlashText(char* pOut, size_t nCapacity) const {
    if (!pOut || nCapacity == 0) return 0;
    static const char kHex[] = "0123456789ABCDEF";
    size_t nPos = 0;
    auto put = [&](const char* psz) {
        size_t n = std::strlen(psz);
        if (nPos + n >= nCapacity) return false;
        std::memcpy(pOut + nPos, psz, n);
        nPos += n;
        return true;
    };
    auto putByte = [&](unsigned v) {
        if (nPos + 2 >= nCapacity) return false;
        pOut[nPos++] = kHex[(v >> 4) & 0x0F];
        pOut[nPos++] = kHex[v & 0x0F];
        return true;
    };
    bool bOK = put(kFlashSection) && put("\n");
    const auto* pMem = reinterpret_cast<const uint8_t*>(&m_flash);
    for (size_t k = 0; bOK && k < kFlashKeyCount; ++k) {
        bOK = put(kFlashKeys[k].pszKey) && put("=");
        unsigned nSum = 0;
        for (size_t i = 0; bOK && i < kFlashKeys[k].nSize; ++i) {
            unsigned v = pMem[kFlashKeys[k].nOffset + i];
            nSum += v;
            bOK = putByte(v);
        }
        bOK = bOK && putByte(nSum & 0xFF) && put("\n");
    }
    if (!bOK) {
        pOut[0] = '\0';
        return 0;
    }
    pOut[nPos] = '\0';
    return nPos;
}

std::string CEmulatorState::FlashText() const {
    char text[kFlashTextMax];
    size_t n = FormatFlashText(text, sizeof(text));
    return std::string(text, n);
}

bool CEmulatorState::ParseFlashText(const char* pText, size_t nLength) {
    if (!pText) return false;
    CEmulatorMemory mem;
    auto* pMem = reinterpret_cast<uint8_t*>(&mem);
    bool bSeen[kFlashKeyCount] = {};
    bool bHeader = false;
    size_t nPos = 0;
    while (nPos < nLength) {
        size_t nEnd = nPos;
        while (nEnd < nLength && pText[nEnd] != '\n') ++nEnd;
        size_t b = nPos, e = nEnd;
        nPos = nEnd + 1;
        while (b < e && IsBlank(pText[b])) ++b;
        while (e > b && IsBlank(pText[e - 1])) --e;
        if (b == e || pText[b] == '#' || pText[b] == ';') continue;
        const char* pLine = pText + b;
        const size_t nLine = e - b;
        if (!bHeader) {
            if (nLine != std::strlen(kFlashSection) || std::memcmp(pLine, kFlashSection, nLine) != 0) return false;
            bHeader = true;
            continue;
        }
        const char* pEq = static_cast<const char*>(std::memchr(pLine, '=', nLine));
        if (!pEq) return false;
        const size_t nKey = static_cast<size_t>(pEq - pLine);
        size_t k = 0;
        while (k < kFlashKeyCount &&
               !(std::strlen(kFlashKeys[k].pszKey) == nKey && std::memcmp(kFlashKeys[k].pszKey, pLine, nKey) == 0))
            ++k;
        if (k == kFlashKeyCount || bSeen[k]) return false;  // unknown or repeated key
        if (!DecodeBlock(pEq + 1, nLine - nKey - 1, pMem + kFlashKeys[k].nOffset, kFlashKeys[k].nSize)) return false;
        bSeen[k] = true;
    }
    if (!bHeader) return false;
    for (bool b : bSeen)
        if (!b) return false;  // a truncated file misses its last keys
    m_flash = mem;
    return true;
}

bool CEmulatorState::SaveFlashFile(const char* pszPath) const {
    char text[kFlashTextMax];
    return WriteFlashText(pszPath, text, FormatFlashText(text, sizeof(text)));
}

bool CEmulatorState::WriteFlashText(const char* pszPath, const char* text, size_t nText) {
    if (!pszPath || !*pszPath) return false;
    char tmp[4096];
    const int nTmp = std::snprintf(tmp, sizeof(tmp), "%s.tmp", pszPath);
    if (nText == 0 || nTmp <= 0 || static_cast<size_t>(nTmp) >= sizeof(tmp)) return false;
    std::FILE* f = std::fopen(tmp, "wb");
    if (!f) return false;
    bool bOK = std::fwrite(text, 1, nText, f) == nText;
    bOK = (std::fclose(f) == 0) && bOK;
    if (bOK) bOK = std::rename(tmp, pszPath) == 0;
    if (!bOK) std::remove(tmp);
    return bOK;
}

bool CEmulatorState::LoadFlashFile(const char* pszPath) {
    if (!pszPath) return false;
    std::FILE* f = std::fopen(pszPath, "rb");
    if (!f) return false;
    // A real file is about 1.2 KB; anything far bigger is not ours.
    static constexpr size_t kMaxFile = 16 * 1024;
    std::string text(kMaxFile + 1, '\0');
    const size_t n = std::fread(text.data(), 1, text.size(), f);
    std::fclose(f);
    if (n > kMaxFile) return false;
    return ParseFlashText(text.data(), n);
}
