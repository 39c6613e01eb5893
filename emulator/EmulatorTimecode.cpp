#include "emulator/EmulatorTimecode.h"

#include <algorithm>

namespace {

// Drop-frame at 30 labels/s: two labels dropped each minute except every tenth.
constexpr uint32_t kDropFramesPer10Min = 17982;  // 10 * 60 * 30 - 9 * 2
constexpr uint32_t kDropFramesPerMin = 1798;     // 60 * 30 - 2

}  // namespace

bool CEmulatorTimecode::RateOfFormat(int nCode, CEmulatorFrameRate& rate) {
    switch (nCode) {
    case 0: case 4: case 7: case 12: case 17:                 // 480i, 720/59.94p, 720/29.97p, 1080/59.94i, 1080/29.97p
    case 21: case 22: case 24: case 25: case 27: case 30:    // 480i and 720/59.94p pulldown variants
    case 32: case 35:                                        // 1080/59.94i pulldown variants
        rate = Rate2997();
        return true;
    case 3: case 6: case 11: case 16: case 26: case 29: case 31: case 34:  // 60 and 30 Hz
        rate = Rate30();
        return true;
    case 2: case 5: case 8: case 13: case 18: case 23: case 28: case 33:   // 50 and 25 Hz
        rate = Rate25();
        return true;
    case 9: case 14: case 19:                                // 24p, 24PsF
        rate = Rate24();
        return true;
    case 10: case 15: case 20:                               // 23.98p, 23.98PsF
        rate = Rate2398();
        return true;
    case 1:                                                  // an unnamed 525-line format
        rate = Rate2997();
        return true;
    default:
        return false;
    }
}

bool CEmulatorTimecode::IsSdFormat(int nCode) { return nCode == 0 || nCode == 1 || nCode == 2 || (nCode >= 21 && nCode <= 25); }

bool CEmulatorTimecode::Is720Format(int nCode) { return (nCode >= 3 && nCode <= 10) || (nCode >= 26 && nCode <= 30); }

uint32_t CEmulatorTimecode::FramesPerDay(int nFps, bool bDrop) {
    if (bDrop && nFps == 30) return kDropFramesPer10Min * 6 * 24;
    return static_cast<uint32_t>(nFps) * 86400u;
}

CEmulatorTimecode CEmulatorTimecode::FromFrames(uint64_t nFrames, int nFps, bool bDrop) {
    if (nFps <= 0) nFps = 30;
    bDrop = bDrop && nFps == 30;
    uint64_t n = nFrames % FramesPerDay(nFps, bDrop);
    if (bDrop) {
        // Put the dropped labels back so that the count can be split like a non-drop one.
        uint64_t d = n / kDropFramesPer10Min;
        uint64_t m = n % kDropFramesPer10Min;
        n += 18 * d + (m < 2 ? 0 : 2 * ((m - 2) / kDropFramesPerMin));
    }
    CEmulatorTimecode tc;
    tc.m_nFrames = static_cast<int>(n % nFps);
    uint64_t s = n / nFps;
    tc.m_nSeconds = static_cast<int>(s % 60);
    tc.m_nMinutes = static_cast<int>((s / 60) % 60);
    tc.m_nHours = static_cast<int>((s / 3600) % 24);
    return tc;
}

uint32_t CEmulatorTimecode::ToFrames(const CEmulatorTimecode& tcIn, int nFps, bool bDrop) {
    if (nFps <= 0) nFps = 30;
    bDrop = bDrop && nFps == 30;
    CEmulatorTimecode tc = tcIn;
    tc.m_nHours = std::clamp(tc.m_nHours, 0, 23);
    tc.m_nMinutes = std::clamp(tc.m_nMinutes, 0, 59);
    tc.m_nSeconds = std::clamp(tc.m_nSeconds, 0, 59);
    tc.m_nFrames = std::clamp(tc.m_nFrames, 0, nFps - 1);
    if (bDrop && tc.m_nSeconds == 0 && tc.m_nFrames < 2 && tc.m_nMinutes % 10 != 0) tc.m_nFrames = 2;
    uint32_t nTotalMinutes = static_cast<uint32_t>(tc.m_nHours * 60 + tc.m_nMinutes);
    uint32_t n = (nTotalMinutes * 60 + static_cast<uint32_t>(tc.m_nSeconds)) * static_cast<uint32_t>(nFps) +
                 static_cast<uint32_t>(tc.m_nFrames);
    if (bDrop) n -= 2 * (nTotalMinutes - nTotalMinutes / 10);
    return n;
}

uint64_t CEmulatorTimecode::FramesIn(uint64_t nMs, const CEmulatorFrameRate& rate) {
    if (rate.m_nDen == 0) return 0;
    // Split the product so that it cannot overflow for any plausible uptime.
    uint64_t nDiv = static_cast<uint64_t>(rate.m_nDen) * 1000u;
    uint64_t q = nMs / nDiv, r = nMs % nDiv;
    return q * rate.m_nNum + r * rate.m_nNum / nDiv;
}
