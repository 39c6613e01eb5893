#pragma once
// Where the fields lie inside the system, status and timecode blocks: read by the
// display texts and the command line, written by the emulator. (The preset block's
// fields are in PresetBlock.h.)
#include <cstdint>

namespace qz {

// System block (28 bytes): one setting per byte; the bytes not named here are sent
// back exactly as received.
constexpr int kSysDirection = 1;       // 0 = SDI -> IEEE1394, else IEEE1394 -> SDI
constexpr int kSysAudioChannels = 3;   // 0..3 = 1-2, 3-4, 5-6, 7-8
constexpr int kSysPreset = 5;          // current preset 0..7
constexpr int kSysRemote = 7;          // 0 = Local, else Remote
constexpr int kSysUnitType = 9;        // 0 = Camera, else Recorder
constexpr int kSysSyncOperation = 11;  // 0 / 1
constexpr int kSysAudioSrc = 13;       // 0 / 1
constexpr int kSysFan = 15;            // 0 / 1
constexpr int kSysSdiInputRemote = 17; // 0 / 1
constexpr int kSysFrameRate = 21;      // 0 = 59.94Hz, else 50Hz
constexpr int kSysFormatFix = 23;      // 0 / 1

// Status block (58 bytes). Multi-byte values are nibbles, most significant first.
constexpr int kStLowLatency = 13;      // bit 0: the low-latency mode is offered
constexpr int kStTimecode = 16;        // a time (below); frames tens bit 2 = drop frame,
                                       // hours tens 3 = no timecode
constexpr int kStVideoFormat = 32;     // two nibbles
constexpr int kStPowerSource = 35;     // 0 = internal battery, else external DC
constexpr int kStVoltage = 36;         // two nibbles, tenths of a volt
constexpr int kStIndicator1 = 46;      // indicator state bytes
constexpr int kStIndicator2 = 47;
constexpr int kSt1394Rate = 48;        // four nibbles, tenths of Mbit/s
constexpr int kSt1394Size = 52;        // two nibbles: 0 SD, 1 1280x720, 2 1440x1080, 3 1920x1080
constexpr int kSt1394Codec = 54;       // two nibbles: 0 MPEG, 1 DV

// Timecode block (44 bytes).
constexpr int kTcPresetAt = 0;           // a time; flags S1 (byte 0 bit 2), S2 (0.3), S3 (2.3),
                                       // S4 (4.3), S5 (6.2), S6 (6.3)
constexpr int kTcUserBitsAt = 8;         // eight nibbles: BG2 BG1 BG4 BG3 BG6 BG5 BG8 BG7
constexpr int kTcOffsetAt = 16;          // a time
constexpr int kTcInputTypeAt = 25;       // 0 auto, 1 RP188 VITC, 2 RP188 LTC, 3 266M
constexpr int kTcGenerateAt = 27;        // 0 off, 1 free run, 2 thru, 3 offset
constexpr int kTcUserBitGenerateAt = 29; // 0 off, 1 preset, 2 thru, 3 recording mark
constexpr int kTcDropFrameAt = 31;       // 0 auto, 1 non-drop, 2 drop
constexpr int kTcDvitcGenerateAt = 33;   // bit 0; DVITC #2 two bytes on
constexpr int kTcDvitcLine480At = 36;    // two nibbles; DVITC #2 two bytes on
constexpr int kTcDvitcLine576At = 40;    // two nibbles; DVITC #2 two bytes on

// A time in eight bytes: frames, seconds, minutes, hours, each a tens digit (masked to
// its width, flag bits above it) followed by a units digit.
struct CBlockTime {
    int nFrames = 0, nSeconds = 0, nMinutes = 0, nHours = 0;
};
constexpr uint8_t kTensMask[4] = {0x03, 0x07, 0x07, 0x03};  // frames, seconds, minutes, hours

constexpr CBlockTime ReadBlockTime(const uint8_t* p) {
    auto two = [p](int i) { return (p[2 * i] & kTensMask[i]) * 10 + (p[2 * i + 1] & 0x0F); };
    return {two(0), two(1), two(2), two(3)};
}

// Writes the digits of t; byFramesFlags goes above the frames tens digit.
constexpr void WriteBlockTime(uint8_t* p, const CBlockTime& t, uint8_t byFramesFlags = 0) {
    const int v[4] = {t.nFrames, t.nSeconds, t.nMinutes, t.nHours};
    for (int i = 0; i < 4; ++i) {
        p[2 * i] = static_cast<uint8_t>((v[i] / 10) & kTensMask[i]);
        p[2 * i + 1] = static_cast<uint8_t>(v[i] % 10);
    }
    p[0] = static_cast<uint8_t>(p[0] | byFramesFlags);
}

}  // namespace qz
