#include "emulator/EmulatorState.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "protocol/DeviceFrames.h"

namespace {

// Writes nValue as nCount nibbles, most significant first (one per byte).
void PutNibbles(uint8_t* p, uint32_t nValue, int nCount) {
    for (int i = nCount - 1; i >= 0; --i) {
        p[i] = static_cast<uint8_t>(nValue & 0x0F);
        nValue >>= 4;
    }
}

uint32_t GetNibbles(const uint8_t* p, int nCount) {
    uint32_t v = 0;
    for (int i = 0; i < nCount; ++i) v = (v << 4) | (p[i] & 0x0F);
    return v;
}

// Two-digit binary-coded value of the timecode block: the tens digit masked to its width.
int Digits(const uint8_t* p, uint8_t byTensMask) { return (p[0] & byTensMask) * 10 + (p[1] & 0x0F); }

CEmulatorTimecode LabelAt(const uint8_t* t) {
    CEmulatorTimecode tc;
    tc.m_nFrames = Digits(t + 0, 0x03);
    tc.m_nSeconds = Digits(t + 2, 0x07);
    tc.m_nMinutes = Digits(t + 4, 0x07);
    tc.m_nHours = Digits(t + 6, 0x03);
    return tc;
}

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
    s[1] = 0;   // SDI -> IEEE1394
    s[3] = 0;   // audio channels 1-2
    s[5] = 0;   // preset 0
    s[7] = 1;   // Remote, so that the panel's controls work
    s[9] = 0;   // Camera
    s[15] = 1;  // FAN on
    s[21] = 0;  // 59.94 Hz

    uint8_t* t = mem.m_timecode;
    t[27] = kGenFreeRun;      // free run from the preset 00:00:00:00
    t[29] = 1;                // user bits from their preset
    t[33] = 1;                // DVITC #1 generated
    PutNibbles(t + 36, 14, 2);  // 480i lines 14 and 16
    PutNibbles(t + 38, 16, 2);
    PutNibbles(t + 40, 19, 2);  // 576i lines 19 and 21
    PutNibbles(t + 42, 21, 2);

    for (int n = 0; n < qz::kPresetCount; ++n) {
        const CPresetDefault& d = kPresetDefaults[n];
        uint8_t* p = mem.m_preset[n];
        PutNibbles(p + 0, static_cast<uint32_t>(d.nHdRate), 4);
        PutNibbles(p + 4, static_cast<uint32_t>(d.nSdRate), 4);
        PutNibbles(p + 8, 0x0100, 4);   // PMT
        PutNibbles(p + 12, 0x0810, 4);  // PCR rides on the video stream
        PutNibbles(p + 16, 0x0810, 4);  // video
        PutNibbles(p + 20, 0x0814, 4);  // audio
        PutNibbles(p + 24, 0x0001, 4);  // program number Tx
        PutNibbles(p + 28, 0x0000, 4);  // program number Rx: automatic
        PutNibbles(p + 32, static_cast<uint32_t>(d.nCodec), 2);
        PutNibbles(p + 34, static_cast<uint32_t>(d.nHSize), 2);
        PutNibbles(p + 36, static_cast<uint32_t>(d.nGop), 2);
        PutNibbles(p + 38, static_cast<uint32_t>(d.nBPict), 2);
        PutNibbles(p + 40, static_cast<uint32_t>(d.nClosedGop), 2);
        PutNibbles(p + 42, 2, 2);  // 384 kbit/s audio
        PutNibbles(p + 46, static_cast<uint32_t>(d.nRxType), 2);
        PutNibbles(p + 48, 0, 2);  // low-pass filter off
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
    return m_memory.m_system[21] ? 13 : 12;  // 1080/50i or 1080/59.94i
}

bool CEmulatorState::IsRemote() const { return (m_byControlMode & 0x01) || m_memory.m_system[7] != 0; }

// ---- blocks ----

int CEmulatorState::ReadableBlockSize(uint32_t dwAddress) {
    switch (dwAddress) {
    case qz::kAddrVersion: return qz::kVersionSize;
    case qz::kAddrProductID: return qz::kProductIDSize;
    case qz::kAddrControlMode: return qz::kControlModeSize;
    case qz::kAddrSystem: return qz::kSystemSize;
    case qz::kAddrTimecode: return qz::kTimecodeSize;
    case qz::kAddrStatus: return qz::kStatusSize;
    default: break;
    }
    for (int n = 0; n < qz::kPresetCount; ++n)
        if (dwAddress == qz::PresetAddress(n)) return qz::kPresetSize;
    return 0;
}

size_t CEmulatorState::ReadBlock(uint32_t dwAddress, uint64_t nNowMs, uint8_t* pOut, size_t nCapacity) const {
    const int nSize = ReadableBlockSize(dwAddress);
    if (nSize == 0 || !pOut || nCapacity < static_cast<size_t>(nSize)) return 0;
    switch (dwAddress) {
    case qz::kAddrVersion: std::memcpy(pOut, m_version, qz::kVersionSize); break;
    case qz::kAddrProductID: std::memcpy(pOut, m_memory.m_productID, qz::kProductIDSize); break;
    case qz::kAddrControlMode: pOut[0] = m_byControlMode; break;
    case qz::kAddrSystem:
        std::memcpy(pOut, m_memory.m_system, qz::kSystemSize);
        if (m_byControlMode & 0x01) pOut[7] = 1;  // SW6 holds the device in Remote
        break;
    case qz::kAddrTimecode: std::memcpy(pOut, m_memory.m_timecode, qz::kTimecodeSize); break;
    case qz::kAddrStatus: {
        uint8_t status[qz::kStatusSize];
        BuildStatus(nNowMs, status);
        std::memcpy(pOut, status, qz::kStatusSize);
        break;
    }
    default:
        for (int n = 0; n < qz::kPresetCount; ++n)
            if (dwAddress == qz::PresetAddress(n)) std::memcpy(pOut, m_memory.m_preset[n], qz::kPresetSize);
        break;
    }
    return static_cast<size_t>(nSize);
}

CEmulatorState::EWrite CEmulatorState::ApplyWrite(uint32_t dwAddress, const uint8_t* pData, size_t n, uint64_t nNowMs) {
    if (!pData || n == 0) return kWriteIgnored;
    switch (dwAddress) {
    case qz::kAddrSystem:
        if (n != qz::kSystemSize) return kWriteIgnored;
        if (!IsRemote()) {
            // In Local the front panel owns the settings; only the switch to Remote is taken.
            if (pData[7] == m_memory.m_system[7]) return kWriteIgnored;
            m_memory.m_system[7] = pData[7];
        } else {
            std::memcpy(m_memory.m_system, pData, qz::kSystemSize);
        }
        RetimeTimecode(nNowMs);
        return kWriteApplied;
    case qz::kAddrTimecode: {
        if (n != qz::kTimecodeSize || !IsRemote()) return kWriteIgnored;
        uint8_t* t = m_memory.m_timecode;
        const bool bRestart = std::memcmp(t, pData, 8) != 0 || std::memcmp(t + 16, pData + 16, 8) != 0 ||
                              (t[27] & 0x0F) != (pData[27] & 0x0F);
        std::memcpy(t, pData, qz::kTimecodeSize);
        if (bRestart)
            RestartTimecode(nNowMs);
        else
            RetimeTimecode(nNowMs);
        return kWriteApplied;
    }
    case qz::kAddrProductID:
        if (n != qz::kProductIDSize) return kWriteIgnored;
        std::memcpy(m_memory.m_productID, pData, qz::kProductIDSize);
        return kWriteApplied;
    case qz::kAddrTest:
        if (n != 1) return kWriteIgnored;
        m_byTest = pData[0];
        return kWriteApplied;
    case qz::kAddrFactoryReset:
        if (n != 1 || pData[0] != 0x55) return kWriteIgnored;
        m_memory = m_flash = FactoryMemory();
        m_byTest = 0;
        return kWriteFactoryReset;
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
    for (int i = 0; i < qz::kPresetCount; ++i) {
        if (dwAddress != qz::PresetAddress(i)) continue;
        if (n != qz::kPresetSize || !IsRemote()) return kWriteIgnored;
        std::memcpy(m_memory.m_preset[i], pData, qz::kPresetSize);
        return kWriteApplied;
    }
    return kWriteIgnored;
}

// ---- timecode ----

CEmulatorFrameRate CEmulatorState::CurrentRate() const {
    CEmulatorFrameRate rate;
    if (CEmulatorTimecode::RateOfFormat(InputFormat(), rate)) return rate;
    return m_memory.m_system[21] ? CEmulatorTimecode::Rate25() : CEmulatorTimecode::Rate2997();
}

bool CEmulatorState::DropCounting(const CEmulatorFrameRate& rate) const {
    switch (m_memory.m_timecode[31] & 0x0F) {
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
    switch (t[27] & 0x0F) {
    case kGenFreeRun: start = LabelAt(t); break;
    case kGenOffset: start = LabelAt(t + 16); break;
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
    const int nMode = m_memory.m_timecode[27] & 0x0F;
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
    const bool bFrom1394 = s[1] != 0;
    const int nCode = InputFormat();
    CEmulatorFrameRate rate;
    const bool bSignal = CEmulatorTimecode::RateOfFormat(nCode, rate);
    // SDI -> IEEE1394 encodes only what comes in; the other way the computer is assumed
    // to send what the preset expects.
    if (!bFrom1394 && !bSignal) return;  // all zero: no stream
    const bool bSd = !bFrom1394 && CEmulatorTimecode::IsSdFormat(nCode);
    const bool b720 = !bFrom1394 && CEmulatorTimecode::Is720Format(nCode);

    const uint8_t* p = m_memory.m_preset[std::min<int>(s[5], qz::kPresetCount - 1)];
    const uint32_t nCodec = GetNibbles(p + 32, 2);
    const uint32_t nRxType = GetNibbles(p + 46, 2);
    uint32_t nRateTenths, nSize, nStreamCodec;
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
            nRateTenths = GetNibbles(p + 4, 4), nSize = 0;
        } else {
            nRateTenths = GetNibbles(p + 0, 4);
            nSize = b720 ? 1 : (GetNibbles(p + 34, 2) ? 3 : 2);
        }
    }
    PutNibbles(out + 48, nRateTenths, 4);
    PutNibbles(out + 52, nSize, 2);
    PutNibbles(out + 54, nStreamCodec, 2);
}

void CEmulatorState::BuildStatus(uint64_t nNowMs, uint8_t (&out)[qz::kStatusSize]) const {
    std::memset(out, 0, sizeof(out));
    out[13] = m_bLowLatency ? 1 : 0;

    CEmulatorTimecode tc;
    bool bDrop = false;
    if (TimecodeAt(nNowMs, tc, bDrop)) {
        out[16] = static_cast<uint8_t>((tc.m_nFrames / 10) | (bDrop ? 0x04 : 0));
        out[17] = static_cast<uint8_t>(tc.m_nFrames % 10);
        out[18] = static_cast<uint8_t>(tc.m_nSeconds / 10);
        out[19] = static_cast<uint8_t>(tc.m_nSeconds % 10);
        out[20] = static_cast<uint8_t>(tc.m_nMinutes / 10);
        out[21] = static_cast<uint8_t>(tc.m_nMinutes % 10);
        out[22] = static_cast<uint8_t>(tc.m_nHours / 10);
        out[23] = static_cast<uint8_t>(tc.m_nHours % 10);
        if ((m_memory.m_timecode[29] & 0x0F) == 1)  // user bits from their preset
            for (int i = 0; i < 8; ++i) out[24 + i] = m_memory.m_timecode[8 + i] & 0x0F;
    } else {
        out[22] = 0x03;  // no timecode
    }

    const int nCode = InputFormat();
    PutNibbles(out + 32, static_cast<uint32_t>(nCode), 2);
    out[35] = m_bExternalPower ? 1 : 0;
    PutNibbles(out + 36, static_cast<uint32_t>(SupplyTenthsAt(nNowMs)), 2);

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
        byLed2 = m_memory.m_system[1] ? 0x04 : 0x01;     // direction by colour
    }
    out[46] = byLed1;
    out[47] = byLed2;

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
    if (!pszPath || !*pszPath) return false;
    char text[kFlashTextMax];
    const size_t nText = FormatFlashText(text, sizeof(text));
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
