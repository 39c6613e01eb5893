#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "protocol/wire/DeviceBlocks.h"
#include "protocol/fields/StatusText.h"

using namespace qz;

namespace {

using Status = std::array<uint8_t, kStatusSize>;

Status StatusWith(int nOffset, std::initializer_list<uint8_t> bytes) {
    Status s{};
    for (uint8_t by : bytes) s[nOffset++] = by;
    return s;
}

}  // namespace

TEST(StatusText, TimecodeReading) {
    Status s = StatusWith(16, {0x04, 0x05, 0x02, 0x03, 0x01, 0x07, 0x01, 0x02});
    EXPECT_EQ(TimecodeText(s.data()), " 12:17:23;05");
    s[16] = 0x02;  // non-drop, frames tens 2
    EXPECT_EQ(TimecodeText(s.data()), " 12:17:23:25");
    // Bits above each tens field are flags, not digits.
    s[16] = 0x0E;
    s[18] = 0x0D;
    s[20] = 0x0B;
    s[22] = 0x06;
    EXPECT_EQ(TimecodeText(s.data()), " 22:37:53;25");
    s[22] = 0x03;
    EXPECT_EQ(TimecodeText(s.data()), "--:--:--:-.-");
    s[22] = 0x07;  // only bits 0-1 decide
    EXPECT_EQ(TimecodeText(s.data()), "--:--:--:-.-");
    EXPECT_EQ(TimecodeText(Status{}.data()), " 00:00:00:00");
}

TEST(StatusText, VideoFormatCodesAndSpecialNames) {
    EXPECT_EQ(VideoFormatCode(StatusWith(32, {0x07, 0x0F}).data()), 127);
    EXPECT_EQ(VideoFormatCode(StatusWith(32, {0x31, 0x47}).data()), 0x17);  // upper bits ignored
    EXPECT_EQ(VideoFormatName(127), "No Signal");
    EXPECT_EQ(VideoFormatName(36), " --- ");
    EXPECT_EQ(VideoFormatName(-1), " --- ");
    EXPECT_EQ(VideoFormatName(1), "Format-1");
    EXPECT_TRUE(IsKnownVideoFormat(0));
    EXPECT_TRUE(IsKnownVideoFormat(35));
    EXPECT_FALSE(IsKnownVideoFormat(36));
    EXPECT_FALSE(IsKnownVideoFormat(127));
    EXPECT_FALSE(IsKnownVideoFormat(-1));
}

TEST(StatusText, AllKnownVideoFormatNames) {
    const char* const expected[36] = {
        "480i",           "Format-1",        "576i",         "(720/60p)",       "720/59.94p",
        "720/50p",        "(720/30p)",       "(720/29.97p)", "(720/25p)",       "(720/24p)",
        "(720/23.98p)",   "(1080/60i)",      "1080/59.94i",  "1080/50i",        "(1080/24PsF)",
        "(1080/23.98PsF)", "(1080/30p)",     "(1080/29.97p)", "(1080/25p)",     "(1080/24p)",
        "(1080/23.98p)",  "480i,2:2",        "480i,2:2",     "576i,2:2",        "480i,2:3",
        "480i,2:3",       "(720/60p)",       "720/59.94p,2:2", "720/50p,2:2",   "(720/60p)",
        "720/59.94p,2:3", "(1080/60i)",      "1080/59.94i,2:2", "1080/50i,2:2", "(1080/60i)",
        "1080/59.94i,2:3"};
    for (int nCode = 0; nCode < 36; ++nCode) EXPECT_EQ(VideoFormatName(nCode), expected[nCode]) << nCode;
}

TEST(StatusText, PowerLine) {
    EXPECT_EQ(PowerText(StatusWith(35, {0x00, 0x07, 0x08}).data()), "Int BATT. / 12.0V");
    EXPECT_EQ(PowerText(StatusWith(35, {0x01, 0x07, 0x0D}).data()), "EXT DC IN / 12.5V");
    EXPECT_EQ(PowerText(StatusWith(35, {0x00, 0x5F, 0x7F}).data()), "Int BATT. / 25.5V");
}

TEST(StatusText, IEEE1394FormatLine) {
    Status s = StatusWith(48, {0x00, 0x00, 0x0F, 0x0A, 0x00, 0x02, 0x00, 0x00});
    IEEE1394Format f = IEEE1394FormatText(s.data());
    EXPECT_EQ(f.text, "1440x1080 / 25.0Mbps(MPEG)");
    EXPECT_TRUE(f.bValid);

    s[49] = 0x01, s[50] = 0x0F, s[51] = 0x05;  // 501
    f = IEEE1394FormatText(s.data());
    EXPECT_EQ(f.text, " ---");
    EXPECT_FALSE(f.bValid);
    s[51] = 0x04;  // 500 is the top of the range
    EXPECT_EQ(IEEE1394FormatText(s.data()).text, "1440x1080 / 50.0Mbps(MPEG)");
    s[49] = s[50] = 0;
    s[51] = 0x01;
    EXPECT_EQ(IEEE1394FormatText(s.data()).text, "1440x1080 / 0.1Mbps(MPEG)");
    s[51] = 0x00;
    EXPECT_FALSE(IEEE1394FormatText(s.data()).bValid);
    s[51] = 0x01;

    s[55] = 0x01;
    s[53] = 0x03;
    EXPECT_EQ(IEEE1394FormatText(s.data()).text, "1920x1080 / 0.1Mbps(DV)");
    s[53] = 0x01;
    EXPECT_EQ(IEEE1394FormatText(s.data()).text, "1280x720 / 0.1Mbps(DV)");
    s[55] = 0x02;
    EXPECT_EQ(IEEE1394FormatText(s.data()).text, " ---");
    s[55] = 0x00;
    s[53] = 0x04;
    EXPECT_EQ(IEEE1394FormatText(s.data()).text, " ---");

    // An SD stream takes its line count from the input video format in the same block.
    s[53] = 0x00;
    s[49] = 0x00, s[50] = 0x01, s[51] = 0x09;  // 2.5 Mbit/s
    for (auto [nCode, pSize] : {std::pair{23, "720x576"}, {2, "720x576"}, {0, "720x480"}, {127, "720x480"}}) {
        s[32] = static_cast<uint8_t>(nCode >> 4);
        s[33] = static_cast<uint8_t>(nCode & 0x0F);
        EXPECT_EQ(IEEE1394FormatText(s.data()).text, std::string(pSize) + " / 2.5Mbps(MPEG)") << nCode;
    }
}

TEST(StatusText, IndicatorLampStates) {
    EXPECT_EQ(SteadyLampState(0x00), 0);
    EXPECT_EQ(SteadyLampState(0x01), 1);
    EXPECT_EQ(SteadyLampState(0x04), 2);
    EXPECT_EQ(SteadyLampState(0x06), 3);
    EXPECT_EQ(SteadyLampState(0x0F), 3);
    EXPECT_EQ(SteadyLampState(0xF0), 0);  // upper bits name no colour

    // 0x06: first colour slow blink, second steady -> the whole lamp blinks slowly.
    EXPECT_TRUE(TakesPartInSlowBlink(0x06));
    EXPECT_FALSE(TakesPartInFastBlink(0x06));
    EXPECT_TRUE(TakesPartInSlowBlink(0x08));
    EXPECT_TRUE(TakesPartInFastBlink(0x0C));
    EXPECT_FALSE(TakesPartInSlowBlink(0x0C));
    EXPECT_TRUE(TakesPartInFastBlink(0x03));
    EXPECT_TRUE(TakesPartInSlowBlink(0x0B));  // one colour each way takes part in both
    EXPECT_TRUE(TakesPartInFastBlink(0x0B));
    EXPECT_FALSE(TakesPartInSlowBlink(0x05));
    EXPECT_FALSE(TakesPartInFastBlink(0x05));
}

TEST(StatusText, IdentityLine) {
    uint8_t version[8] = {'1', '.', '0', '2', 0, 'x', 'y', 'z'};
    uint8_t productID[24] = {};
    std::memcpy(productID, "QZ81KT-000000042", 16);
    EXPECT_EQ(IdentityLine(true, true, version, productID), "ver:1.02 id:QZ81KT-000000042");
    EXPECT_EQ(IdentityLine(true, false, version, productID), " -");
    EXPECT_EQ(IdentityLine(false, true, version, productID), " -");

    // Blocks that fill their whole size have no terminator: read no further than the block.
    struct {
        uint8_t version[8];
        uint8_t after[8];
    } full;
    std::memcpy(full.version, "V1.23abc", 8);
    std::memset(full.after, 'X', sizeof full.after);
    std::memset(productID, 'P', sizeof productID);
    EXPECT_EQ(IdentityLine(true, true, full.version, productID), "ver:V1.23abc id:PPPPPPPPPPPPPPPP");

    const uint8_t empty[24] = {};
    EXPECT_EQ(IdentityLine(true, true, empty, empty), "ver: id:");
}

TEST(StatusText, ControlModeAndSwitches) {
    EXPECT_EQ(ControlModeText(true), "Remote");
    EXPECT_EQ(ControlModeText(false), "Local");
    EXPECT_EQ(ModeSwitchText(0x21), "  ON   OFF  OFF  OFF  OFF  ON");
    EXPECT_EQ(ModeSwitchText(0x00), "  OFF  OFF  OFF  OFF  OFF  OFF");
    EXPECT_EQ(ModeSwitchText(0x10), "  OFF  ON   OFF  OFF  OFF  OFF");  // SW2 follows SW1
    EXPECT_EQ(ModeSwitchText(0x02), "  OFF  OFF  OFF  OFF  ON   OFF");  // SW5 before SW6
    EXPECT_EQ(ModeSwitchText(0x40), "  OFF  OFF  OFF  OFF  OFF  OFF");  // bit 6 is no switch
}

TEST(StatusText, ChangeMaskByGroup) {
    const Status old{};
    Status s{};
    EXPECT_EQ(StatusChangeMask(old.data(), s.data()), 0);
    s[17] = 1;
    s[47] = 1;
    EXPECT_EQ(StatusChangeMask(old.data(), s.data()), 0x11);

    // One changed byte at a time, against the group ranges.
    struct Group {
        int nFirst, nLast, nMask;
    };
    const Group groups[] = {{0, 15, 0},     {16, 23, 0x01}, {24, 31, 0},    {32, 33, 0x02}, {34, 37, 0x04},
                            {38, 45, 0x08}, {46, 47, 0x10}, {48, 55, 0x20}, {56, 57, 0x40}};
    for (const Group& g : groups)
        for (int i = g.nFirst; i <= g.nLast; ++i) {
            s = old;
            s[i] = 0x7F;
            EXPECT_EQ(StatusChangeMask(old.data(), s.data()), g.nMask) << "byte " << i;
            EXPECT_EQ(StatusChangeMask(s.data(), old.data()), g.nMask) << "byte " << i;
        }

    Status all;
    all.fill(0x55);
    EXPECT_EQ(StatusChangeMask(old.data(), all.data()), 0x7F);  // 0x80 only ever comes from a forced refresh
}
