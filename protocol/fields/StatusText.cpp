#include "protocol/fields/StatusText.h"

#include <cstdio>
#include <cstring>

#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceBlocks.h"
#include "protocol/fields/PresetBlock.h"

namespace qz {

namespace {

// The digits of the timecode reading, shown as they come (units unmasked).
constexpr int kFramesTens = kStTimecode;
constexpr int kFramesUnits = kStTimecode + 1;
constexpr int kSecondsTens = kStTimecode + 2;
constexpr int kSecondsUnits = kStTimecode + 3;
constexpr int kMinutesTens = kStTimecode + 4;
constexpr int kMinutesUnits = kStTimecode + 5;
constexpr int kHoursTens = kStTimecode + 6;
constexpr int kHoursUnits = kStTimecode + 7;

constexpr int kKnownVideoFormats = 36;

// Code 1 has no fixed name: it is shown with its number.
const char* const kVideoFormatNames[] = {
    "480i",          nullptr,         "576i",           "(720/60p)",       "720/59.94p",     "720/50p",
    "(720/30p)",     "(720/29.97p)",  "(720/25p)",      "(720/24p)",       "(720/23.98p)",   "(1080/60i)",
    "1080/59.94i",   "1080/50i",      "(1080/24PsF)",   "(1080/23.98PsF)", "(1080/30p)",     "(1080/29.97p)",
    "(1080/25p)",    "(1080/24p)",    "(1080/23.98p)",  "480i,2:2",        "480i,2:2",       "576i,2:2",
    "480i,2:3",      "480i,2:3",      "(720/60p)",      "720/59.94p,2:2",  "720/50p,2:2",    "(720/60p)",
    "720/59.94p,2:3", "(1080/60i)",   "1080/59.94i,2:2", "1080/50i,2:2",   "(1080/60i)",     "1080/59.94i,2:3",
};
static_assert(sizeof kVideoFormatNames / sizeof kVideoFormatNames[0] == kKnownVideoFormats);

// One mask per status byte; bytes 0-15 and 24-31 are not watched.
constexpr uint8_t kStatusMaskTable[] = {
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,     // 0-15
    0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,                                                // 16-23
    0,    0,    0,    0,    0,    0,    0,    0,                                                   // 24-31
    0x02, 0x02,                                                                                    // 32-33
    0x04, 0x04, 0x04, 0x04,                                                                        // 34-37
    0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08,                                                // 38-45
    0x10, 0x10,                                                                                    // 46-47
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20,                                                // 48-55
    0x40, 0x40,                                                                                    // 56-57
};
static_assert(sizeof kStatusMaskTable == kStatusSize);

// Text up to the first zero byte, never past nMax bytes: a block that fills its
// whole size carries no terminator.
std::string BoundedText(const uint8_t* p, size_t nMax) {
    const void* pZero = std::memchr(p, 0, nMax);
    const size_t n = pZero ? static_cast<size_t>(static_cast<const uint8_t*>(pZero) - p) : nMax;
    return std::string(reinterpret_cast<const char*>(p), n);
}

}  // namespace

std::string IdentityLine(bool bVersionRcvd, bool bProductIDRcvd, const uint8_t version[8],
                         const uint8_t productID[24]) {
    if (!bVersionRcvd || !bProductIDRcvd) return " -";
    return "ver:" + BoundedText(version, kVersionSize) + " id:" + BoundedText(productID, kProductIDSize);
}

std::string TimecodeText(const uint8_t* s) {
    if ((s[kHoursTens] & 0x03) == 0x03) return "--:--:--:-.-";
    char sz[64];
    // A drop-frame reading puts ';' before the frames.
    std::snprintf(sz, sizeof sz, (s[kFramesTens] & 0x04) ? " %d%d:%d%d:%d%d;%d%d" : " %d%d:%d%d:%d%d:%d%d",
                  s[kHoursTens] & 0x03, s[kHoursUnits], s[kMinutesTens] & 0x07,
                  s[kMinutesUnits], s[kSecondsTens] & 0x07, s[kSecondsUnits], s[kFramesTens] & 0x03,
                  s[kFramesUnits]);
    return sz;
}

int VideoFormatCode(const uint8_t* pStatus) { return Read8(pStatus, kStVideoFormat); }

bool IsKnownVideoFormat(int nCode) { return nCode >= 0 && nCode < kKnownVideoFormats; }

std::string VideoFormatName(int nCode) {
    if (nCode == kVideoFormatNoSignal) return "No Signal";
    if (!IsKnownVideoFormat(nCode)) return " --- ";
    if (const char* pName = kVideoFormatNames[nCode]) return pName;
    char sz[24];
    std::snprintf(sz, sizeof sz, "Format-%d", nCode);
    return sz;
}

std::string PowerText(const uint8_t* s) {
    const int v = Read8(s, kStVoltage);
    char sz[40];
    std::snprintf(sz, sizeof sz, s[kStPowerSource] ? "EXT DC IN / %d.%dV" : "Int BATT. / %d.%dV", v / 10, v % 10);
    return sz;
}

IEEE1394Format IEEE1394FormatText(const uint8_t* s) {
    static const char* const kSizes[] = {nullptr, "1280x720", "1440x1080", "1920x1080"};
    static const char* const kCodecs[] = {"(MPEG)", "(DV)"};

    const int nRate = Read16(s, kSt1394Rate);
    const int nSize = Read8(s, kSt1394Size);
    const int nCodec = Read8(s, kSt1394Codec);
    if (nRate < 1 || nRate > 500 || nSize > 3 || nCodec > 1) return {" ---", false};

    const char* pSize = kSizes[nSize];
    if (nSize == 0) {
        // An SD stream's line count follows the input video format.
        const int nVideo = VideoFormatCode(s);
        pSize = (nVideo == 2 || nVideo == 23) ? "720x576" : "720x480";
    }
    char sz[48];
    std::snprintf(sz, sizeof sz, "%s / %d.%dMbps%s", pSize, nRate / 10, nRate % 10, kCodecs[nCodec]);
    return {sz, true};
}

int SteadyLampState(uint8_t s) {
    const bool bFirst = (s & 0x03) != 0;
    if (s & 0x0C) return bFirst ? 3 : 2;
    return bFirst ? 1 : 0;
}

bool TakesPartInSlowBlink(uint8_t s) { return (s & 0x0C) == 0x08 || (s & 0x03) == 0x02; }

bool TakesPartInFastBlink(uint8_t s) { return (s & 0x0C) == 0x0C || (s & 0x03) == 0x03; }

std::string ControlModeText(bool bRemote) { return bRemote ? "Remote" : "Local"; }

std::string ModeSwitchText(uint8_t by) {
    std::string str = ModeSwitchOn(by, 1) ? "  ON   " : "  OFF  ";
    for (int nSwitch = 2; nSwitch <= 5; ++nSwitch) str += ModeSwitchOn(by, nSwitch) ? "ON   " : "OFF  ";
    str += ModeSwitchOn(by, 6) ? "ON" : "OFF";
    return str;
}

int StatusChangeMask(const uint8_t* pOld, const uint8_t* pNew) {
    int nMask = 0;
    for (int i = 0; i < kStatusSize; ++i)
        if (pOld[i] != pNew[i]) nMask |= kStatusMaskTable[i];
    return nMask;
}

}  // namespace qz
