#include <gtest/gtest.h>

#include "emulator/EmulatorTimecode.h"

namespace {

CEmulatorTimecode TC(int h, int m, int s, int f) {
    CEmulatorTimecode tc;
    tc.m_nHours = h;
    tc.m_nMinutes = m;
    tc.m_nSeconds = s;
    tc.m_nFrames = f;
    return tc;
}

}  // namespace

TEST(EmulatorTimecode, DropFrameSkipsTwoLabelsEachMinuteExceptEveryTenth) {
    const uint32_t n1 = CEmulatorTimecode::ToFrames(TC(0, 0, 59, 29), 30, true);
    EXPECT_EQ(n1, 1799u);
    EXPECT_EQ(CEmulatorTimecode::FromFrames(n1 + 1, 30, true), TC(0, 1, 0, 2));

    const uint32_t n10 = CEmulatorTimecode::ToFrames(TC(0, 9, 59, 29), 30, true);
    EXPECT_EQ(n10, 17981u);
    EXPECT_EQ(CEmulatorTimecode::FromFrames(n10 + 1, 30, true), TC(0, 10, 0, 0));
    EXPECT_EQ(CEmulatorTimecode::FromFrames(n10 + 2, 30, true), TC(0, 10, 0, 1));

    // An hour of drop-frame labels is 107892 frames: 29.97 frames a second to the frame.
    EXPECT_EQ(CEmulatorTimecode::ToFrames(TC(1, 0, 0, 0), 30, true), 107892u);
    // A label that does not exist counts as the first one that does.
    EXPECT_EQ(CEmulatorTimecode::ToFrames(TC(0, 1, 0, 0), 30, true),
              CEmulatorTimecode::ToFrames(TC(0, 1, 0, 2), 30, true));

    // Walk a whole day: every label exists once, in order, and converts back.
    const uint32_t nDay = CEmulatorTimecode::FramesPerDay(30, true);
    EXPECT_EQ(nDay, 2589408u);
    CEmulatorTimecode prev = CEmulatorTimecode::FromFrames(0, 30, true);
    for (uint32_t n = 1; n < nDay; ++n) {
        CEmulatorTimecode tc = CEmulatorTimecode::FromFrames(n, 30, true);
        ASSERT_FALSE(tc.m_nSeconds == 0 && tc.m_nFrames < 2 && tc.m_nMinutes % 10 != 0) << n;
        ASSERT_EQ(CEmulatorTimecode::ToFrames(tc, 30, true), n);
        // Labels step by one frame, or jump over the two dropped ones.
        const int nStep = ((tc.m_nHours * 60 + tc.m_nMinutes) * 60 + tc.m_nSeconds) * 30 + tc.m_nFrames -
                          (((prev.m_nHours * 60 + prev.m_nMinutes) * 60 + prev.m_nSeconds) * 30 + prev.m_nFrames);
        ASSERT_TRUE(nStep == 1 || nStep == 3) << n;
        prev = tc;
    }
    EXPECT_EQ(prev, TC(23, 59, 59, 29));
    EXPECT_EQ(CEmulatorTimecode::FromFrames(nDay, 30, true), TC(0, 0, 0, 0));  // wraps at 24 hours
}

TEST(EmulatorTimecode, NonDropCountingAndFrameRates) {
    EXPECT_EQ(CEmulatorTimecode::FromFrames(25 * 3600 + 25 * 61 + 24, 25, false), TC(1, 1, 1, 24));
    EXPECT_EQ(CEmulatorTimecode::ToFrames(TC(1, 1, 1, 24), 25, false), 25u * 3600 + 25 * 61 + 24);
    EXPECT_EQ(CEmulatorTimecode::FromFrames(1800, 30, false), TC(0, 1, 0, 0));  // no drop: nothing skipped
    EXPECT_EQ(CEmulatorTimecode::FromFrames(24 * 86400 + 5, 24, false), TC(0, 0, 0, 5));
    // Drop-frame exists only at 30 labels a second.
    EXPECT_EQ(CEmulatorTimecode::FromFrames(1500, 25, true), TC(0, 1, 0, 0));
    // Out-of-range fields are clamped rather than spilling into the next field.
    EXPECT_EQ(CEmulatorTimecode::ToFrames(TC(29, 70, 99, 40), 25, false), CEmulatorTimecode::ToFrames(TC(23, 59, 59, 24), 25, false));

    EXPECT_EQ(CEmulatorTimecode::FramesIn(1000, CEmulatorTimecode::Rate25()), 25u);
    EXPECT_EQ(CEmulatorTimecode::FramesIn(39, CEmulatorTimecode::Rate25()), 0u);
    EXPECT_EQ(CEmulatorTimecode::FramesIn(1001000, CEmulatorTimecode::Rate2997()), 30000u);
    EXPECT_EQ(CEmulatorTimecode::FramesIn(1000, CEmulatorTimecode::Rate2997()), 29u);
    EXPECT_EQ(CEmulatorTimecode::FramesIn(1001000, CEmulatorTimecode::Rate2398()), 24000u);
    // Years of uptime do not overflow.
    EXPECT_EQ(CEmulatorTimecode::FramesIn(1001ull * 1000 * 1000 * 1000, CEmulatorTimecode::Rate2997()),
              30000ull * 1000 * 1000);

    CEmulatorFrameRate rate;
    ASSERT_TRUE(CEmulatorTimecode::RateOfFormat(12, rate));  // 1080/59.94i
    EXPECT_EQ(rate, CEmulatorTimecode::Rate2997());
    ASSERT_TRUE(CEmulatorTimecode::RateOfFormat(13, rate));  // 1080/50i
    EXPECT_EQ(rate, CEmulatorTimecode::Rate25());
    ASSERT_TRUE(CEmulatorTimecode::RateOfFormat(19, rate));  // 1080/24p
    EXPECT_EQ(rate, CEmulatorTimecode::Rate24());
    ASSERT_TRUE(CEmulatorTimecode::RateOfFormat(20, rate));  // 1080/23.98p
    EXPECT_EQ(rate, CEmulatorTimecode::Rate2398());
    ASSERT_TRUE(CEmulatorTimecode::RateOfFormat(2, rate));   // 576i
    EXPECT_EQ(rate, CEmulatorTimecode::Rate25());
    EXPECT_FALSE(CEmulatorTimecode::RateOfFormat(127, rate));  // No Signal
    EXPECT_FALSE(CEmulatorTimecode::RateOfFormat(36, rate));
    for (int nCode = 0; nCode <= 35; ++nCode) EXPECT_TRUE(CEmulatorTimecode::RateOfFormat(nCode, rate)) << nCode;
}
