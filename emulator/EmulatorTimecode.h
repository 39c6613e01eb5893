#pragma once
// Timecode arithmetic of the emulated converter: frame rates of the input video
// formats, and frame counts <-> hh:mm:ss:ff labels, with SMPTE drop-frame counting.
#include <cstdint>

// A frame rate as an exact fraction (frames = ms * m_nNum / (m_nDen * 1000)) and the
// nominal frames per second that the labels count (24, 25 or 30).
struct CEmulatorFrameRate {
    int m_nFps = 30;
    uint32_t m_nNum = 30000;
    uint32_t m_nDen = 1001;

    bool IsFractional() const { return m_nDen != 1; }
    bool operator==(const CEmulatorFrameRate&) const = default;
};

class CEmulatorTimecode {
public:
    int m_nHours = 0;
    int m_nMinutes = 0;
    int m_nSeconds = 0;
    int m_nFrames = 0;

    bool operator==(const CEmulatorTimecode&) const = default;

    static CEmulatorFrameRate Rate2997() { return {30, 30000, 1001}; }
    static CEmulatorFrameRate Rate30() { return {30, 30, 1}; }
    static CEmulatorFrameRate Rate25() { return {25, 25, 1}; }
    static CEmulatorFrameRate Rate24() { return {24, 24, 1}; }
    static CEmulatorFrameRate Rate2398() { return {24, 24000, 1001}; }

    // Frame rate of an input video format code; false for "No Signal" and unknown codes.
    static bool RateOfFormat(int nCode, CEmulatorFrameRate& rate);
    // True for the 480i and 576i families (standard definition input).
    static bool IsSdFormat(int nCode);
    // True for the 720p family.
    static bool Is720Format(int nCode);

    // Frames per 24 hours at the nominal rate (drop-frame counts fewer labels).
    static uint32_t FramesPerDay(int nFps, bool bDrop);
    // Frame count since 00:00:00:00 -> label; the count wraps at 24 hours.
    static CEmulatorTimecode FromFrames(uint64_t nFrames, int nFps, bool bDrop);
    // Label -> frame count. Fields out of range are clamped; a drop-frame label that
    // does not exist (frames 00 and 01 of a dropped minute) counts as frame 02.
    static uint32_t ToFrames(const CEmulatorTimecode& tc, int nFps, bool bDrop);
    // Frames elapsed in nMs milliseconds at the given rate.
    static uint64_t FramesIn(uint64_t nMs, const CEmulatorFrameRate& rate);
};
