#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "emulator/EmulatorState.h"
#include "protocol/wire/BlockLayout.h"
#include "tests/emulator/EmulatorTestSupport.h"

namespace {

Bytes Read(const CEmulatorState& state, uint32_t dwAddress, uint64_t nNowMs = 0) {
    uint8_t buf[64];
    size_t n = state.ReadBlock(dwAddress, nNowMs, buf, sizeof(buf));
    return Bytes(buf, buf + n);
}

CEmulatorState::EWrite Write(CEmulatorState& state, uint32_t dwAddress, const Bytes& data, uint64_t nNowMs = 0) {
    return state.ApplyWrite(dwAddress, data.data(), data.size(), nNowMs);
}

struct Status {
    uint8_t b[qz::kStatusSize];
};

Status StatusAt(const CEmulatorState& state, uint64_t nNowMs) {
    Status s;
    state.BuildStatus(nNowMs, s.b);
    return s;
}

// "hh:mm:ss:ff" from status bytes 16-23, as the panel reads them.
std::string TimecodeText(const Status& s) {
    char text[40];
    std::snprintf(text, sizeof(text), "%d%d:%d%d:%d%d%c%d%d", s.b[22] & 3, s.b[23], s.b[20] & 7, s.b[21], s.b[18] & 7,
                  s.b[19], (s.b[16] & 4) ? ';' : ':', s.b[16] & 3, s.b[17]);
    return text;
}

// A timecode block that free-runs from the given preset.
Bytes FreeRunFrom(const CEmulatorState& state, int h, int m, int s, int f, int nDropMode = 0) {
    Bytes t(state.Memory().m_timecode, state.Memory().m_timecode + qz::kTimecodeSize);
    const int v[4] = {f, s, m, h};
    for (int i = 0; i < 4; ++i) {
        t[2 * i] = static_cast<uint8_t>(v[i] / 10);
        t[2 * i + 1] = static_cast<uint8_t>(v[i] % 10);
    }
    t[27] = 1;  // free run
    t[31] = static_cast<uint8_t>(nDropMode);
    return t;
}

Bytes SystemWith(const CEmulatorState& state, int nOffset, uint8_t byValue) {
    Bytes s(state.Memory().m_system, state.Memory().m_system + qz::kSystemSize);
    s[static_cast<size_t>(nOffset)] = byValue;
    return s;
}

}  // namespace

TEST(EmulatorState, EveryReadableBlockHasItsSizeAndOthersNone) {
    CEmulatorState state;
    EXPECT_EQ(Read(state, qz::kAddrVersion).size(), 8u);
    EXPECT_EQ(Read(state, qz::kAddrProductID).size(), 16u);
    EXPECT_EQ(Read(state, qz::kAddrControlMode).size(), 1u);
    EXPECT_EQ(Read(state, qz::kAddrSystem).size(), 28u);
    EXPECT_EQ(Read(state, qz::kAddrTimecode).size(), 44u);
    EXPECT_EQ(Read(state, qz::kAddrStatus).size(), 58u);
    for (int n = 0; n < qz::kPresetCount; ++n) EXPECT_EQ(Read(state, qz::PresetAddress(n)).size(), 50u) << n;
    // Write-only and unknown addresses read nothing; neither does a short buffer.
    EXPECT_TRUE(Read(state, qz::kAddrTest).empty());
    EXPECT_TRUE(Read(state, qz::kAddrFactoryReset).empty());
    EXPECT_TRUE(Read(state, 0x000201).empty());
    EXPECT_TRUE(Read(state, 0x000600).empty());
    uint8_t small[27];
    EXPECT_EQ(state.ReadBlock(qz::kAddrSystem, 0, small, sizeof(small)), 0u);
    EXPECT_EQ(state.ReadBlock(qz::kAddrSystem, 0, nullptr, 64), 0u);
}

TEST(EmulatorState, FactoryDefaultsMatchThePanelCaptions) {
    CEmulatorState state;
    const CEmulatorMemory& mem = state.Memory();
    struct Expect {
        uint32_t nCodec, nHdRate, nGop, nHSize, nRxType;
    };
    // "0 : HDV/DV (HDV with PC)", "1 : HDV/DV (DV with PC)", "2 : MPEG-2 35M LongGOP 1440",
    // "3 : MPEG-2 50M LongGOP 1440", "4 : MPEG-2  8M LongGOP 1440", "5 : MPEG-2 35M LongGOP 1920",
    // "6 : MPEG-2 50M LongGOP 1920", "7 : MPEG-2 50M I-Only 1440"
    const Expect expect[8] = {{0, 250, 15, 0, 0},  {0, 250, 15, 0, 2},  {1, 350, 15, 0, 1}, {1, 500, 15, 0, 1},
                              {1, 80, 15, 0, 1},   {1, 350, 15, 1, 1},  {1, 500, 15, 1, 1}, {1, 500, 1, 0, 1}};
    for (int n = 0; n < 8; ++n) {
        const uint8_t* p = mem.m_preset[n];
        EXPECT_EQ(Nibbles(p + 32, 2), expect[n].nCodec) << n;
        EXPECT_EQ(Nibbles(p + 46, 2), expect[n].nRxType) << n;
        EXPECT_EQ(Nibbles(p + 36, 2), expect[n].nGop) << n;
        EXPECT_EQ(Nibbles(p + 34, 2), expect[n].nHSize) << n;
        if (expect[n].nCodec != 0) {
            EXPECT_EQ(Nibbles(p + 0, 4), expect[n].nHdRate) << n;
        }
        for (int i = 0; i < qz::kPresetSize; ++i) EXPECT_LE(p[i], 0x0F) << n << ":" << i;  // one nibble a byte
    }
    EXPECT_EQ(mem.m_system[qz::kSysRemote], 1);     // Remote
    EXPECT_EQ(mem.m_system[qz::kSysFrameRate], 0);  // 59.94 Hz
    EXPECT_EQ(state.ControlMode() & 0x01, 0);  // SW6 off: Local/Remote can be chosen
    EXPECT_EQ(Read(state, qz::kAddrVersion), (Bytes{'1', '.', '0', '3', 0, 0, 0, 0}));
    Bytes id = Read(state, qz::kAddrProductID);
    for (uint8_t c : id) EXPECT_TRUE(c >= 0x21 && c <= 0x7E);
    EXPECT_EQ(state.Memory(), state.FlashMemory());
    EXPECT_EQ(state.Memory(), CEmulatorState::FactoryMemory());
}

TEST(EmulatorState, WritesAreStoredAsWrittenAndBadOnesIgnored) {
    CEmulatorState state;
    Bytes sys = SystemWith(state, qz::kSysAudioChannels, 2);
    sys[27] = 0x7F;  // bits the panel does not interpret stay as written
    sys[0] = 0x55;
    EXPECT_EQ(Write(state, qz::kAddrSystem, sys), CEmulatorState::kWriteApplied);
    EXPECT_EQ(Read(state, qz::kAddrSystem), sys);

    Bytes preset(50, 0x3A);
    EXPECT_EQ(Write(state, qz::PresetAddress(6), preset), CEmulatorState::kWriteApplied);
    EXPECT_EQ(Read(state, qz::PresetAddress(6)), preset);
    EXPECT_NE(Read(state, qz::PresetAddress(5)), preset);

    Bytes tc = FreeRunFrom(state, 1, 2, 3, 4);
    tc[24] = 0x7E;
    EXPECT_EQ(Write(state, qz::kAddrTimecode, tc), CEmulatorState::kWriteApplied);
    EXPECT_EQ(Read(state, qz::kAddrTimecode), tc);

    const Bytes id{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P'};
    EXPECT_EQ(Write(state, qz::kAddrProductID, id), CEmulatorState::kWriteApplied);
    EXPECT_EQ(Read(state, qz::kAddrProductID), id);
    EXPECT_EQ(Write(state, qz::kAddrTest, {0x61}), CEmulatorState::kWriteApplied);
    EXPECT_EQ(state.TestBits(), 0x61);

    // Wrong sizes, read-only and unknown blocks, and damaged commands change nothing.
    const CEmulatorMemory before = state.Memory();
    EXPECT_EQ(Write(state, qz::kAddrSystem, Bytes(27, 1)), CEmulatorState::kWriteIgnored);
    EXPECT_EQ(Write(state, qz::kAddrSystem, Bytes(29, 1)), CEmulatorState::kWriteIgnored);
    EXPECT_EQ(Write(state, qz::PresetAddress(0), Bytes(49, 1)), CEmulatorState::kWriteIgnored);
    EXPECT_EQ(Write(state, qz::kAddrTimecode, Bytes(45, 1)), CEmulatorState::kWriteIgnored);
    EXPECT_EQ(Write(state, qz::kAddrProductID, Bytes(15, 'A')), CEmulatorState::kWriteIgnored);
    EXPECT_EQ(Write(state, qz::kAddrVersion, Bytes(8, '9')), CEmulatorState::kWriteIgnored);
    EXPECT_EQ(Write(state, qz::kAddrControlMode, {0x01}), CEmulatorState::kWriteIgnored);
    EXPECT_EQ(Write(state, qz::kAddrStatus, Bytes(58, 0)), CEmulatorState::kWriteIgnored);
    EXPECT_EQ(Write(state, 0x000210, Bytes(50, 0)), CEmulatorState::kWriteIgnored);
    EXPECT_EQ(Write(state, qz::kAddrFactoryReset, {0x54}), CEmulatorState::kWriteIgnored);
    EXPECT_EQ(Write(state, qz::kAddrWriteFlash, {0x2A, 0x2A}), CEmulatorState::kWriteIgnored);
    EXPECT_EQ(Write(state, qz::kAddrTest, {}), CEmulatorState::kWriteIgnored);
    EXPECT_EQ(state.ApplyWrite(qz::kAddrSystem, nullptr, 28, 0), CEmulatorState::kWriteIgnored);
    EXPECT_EQ(state.Memory(), before);
    EXPECT_EQ(Read(state, qz::kAddrControlMode), Bytes{0x00});
    EXPECT_EQ(Read(state, qz::kAddrVersion)[0], '1');
}

TEST(EmulatorState, LocalTakesOnlyTheSwitchToRemoteAndSW6HoldsRemote) {
    CEmulatorState state;
    ASSERT_EQ(Write(state, qz::kAddrSystem, SystemWith(state, qz::kSysRemote, 0)), CEmulatorState::kWriteApplied);
    EXPECT_FALSE(state.IsRemote());

    // In Local the settings belong to the front panel.
    Bytes sys = SystemWith(state, qz::kSysAudioChannels, 3);
    EXPECT_EQ(Write(state, qz::kAddrSystem, sys), CEmulatorState::kWriteIgnored);
    EXPECT_EQ(Write(state, qz::PresetAddress(0), Bytes(50, 1)), CEmulatorState::kWriteIgnored);
    EXPECT_EQ(Write(state, qz::kAddrTimecode, Bytes(44, 0)), CEmulatorState::kWriteIgnored);
    EXPECT_EQ(state.Memory().m_system[qz::kSysAudioChannels], 0);

    // The panel's import writes the block twice: the first write switches to Remote only,
    // the second is then taken whole.
    sys[qz::kSysRemote] = 1;
    EXPECT_EQ(Write(state, qz::kAddrSystem, sys), CEmulatorState::kWriteApplied);
    EXPECT_EQ(state.Memory().m_system[qz::kSysAudioChannels], 0);
    EXPECT_EQ(Write(state, qz::kAddrSystem, sys), CEmulatorState::kWriteApplied);
    EXPECT_EQ(state.Memory().m_system[qz::kSysAudioChannels], 3);

    // SW6 on: the unit is in Remote whatever byte 7 says, and reports it so.
    ASSERT_EQ(Write(state, qz::kAddrSystem, SystemWith(state, qz::kSysRemote, 0)), CEmulatorState::kWriteApplied);
    state.SetControlMode(0x21);
    EXPECT_EQ(Read(state, qz::kAddrControlMode), Bytes{0x21});
    EXPECT_TRUE(state.IsRemote());
    EXPECT_EQ(Read(state, qz::kAddrSystem)[qz::kSysRemote], 1);
    EXPECT_EQ(Write(state, qz::PresetAddress(1), Bytes(50, 2)), CEmulatorState::kWriteApplied);
    state.SetControlMode(0x00);
    EXPECT_EQ(Read(state, qz::kAddrSystem)[qz::kSysRemote], 0);
}

TEST(EmulatorState, FlashKeepsThePowerOnStateAndFactoryResetRestoresDefaults) {
    CEmulatorState state;
    ASSERT_EQ(Write(state, qz::kAddrSystem, SystemWith(state, qz::kSysPreset, 4)), CEmulatorState::kWriteApplied);
    EXPECT_EQ(Write(state, qz::kAddrWriteFlash, {0x2A}), CEmulatorState::kWriteFlash);
    ASSERT_EQ(Write(state, qz::kAddrSystem, SystemWith(state, qz::kSysPreset, 6)), CEmulatorState::kWriteApplied);
    ASSERT_EQ(Write(state, qz::kAddrTest, {0x40}), CEmulatorState::kWriteApplied);

    state.PowerOn(1000);
    EXPECT_EQ(state.Memory().m_system[qz::kSysPreset], 4);  // flashed change kept, later one lost
    EXPECT_EQ(state.TestBits(), 0);           // test outputs do not survive a power-on
    EXPECT_EQ(Write(state, qz::kAddrUpdateMode, {0x55}), CEmulatorState::kWriteUpdateMode);

    EXPECT_EQ(Write(state, qz::kAddrFactoryReset, {0x55}), CEmulatorState::kWriteFactoryReset);
    EXPECT_EQ(state.Memory(), CEmulatorState::FactoryMemory());
    EXPECT_EQ(state.FlashMemory(), CEmulatorState::FactoryMemory());
    state.PowerOn(2000);
    EXPECT_EQ(state.Memory(), CEmulatorState::FactoryMemory());
}

TEST(EmulatorState, ProductIdIsPrintableCapitalsPaddedAndSurvivesAFactoryReset) {
    struct Case {
        std::string strText;
        const char* pszBlock;  // null: refused
    };
    for (const Case& c : std::vector<Case>{{"unit b", "UNIT B          "},
                                           {"QZ-81KT-0123456X", "QZ-81KT-0123456X"},
                                           {"", nullptr},
                                           {"QZ-81KT-0123456XY", nullptr},
                                           {"caf\xc3\xa9", nullptr},
                                           {std::string("A\0B", 3), nullptr}}) {
        CEmulatorState state;
        EXPECT_EQ(state.SetProductID(c.strText), c.pszBlock != nullptr) << c.strText;
        const char* pszExpected = c.pszBlock ? c.pszBlock : "QZ-81KT-EMU00001";
        EXPECT_EQ(Read(state, qz::kAddrProductID), Bytes(pszExpected, pszExpected + qz::kProductIDSize)) << c.strText;
    }
    CEmulatorState state;
    ASSERT_TRUE(state.SetProductID("RACK-7"));
    EXPECT_EQ(Write(state, qz::kAddrFactoryReset, {0x55}), CEmulatorState::kWriteFactoryReset);
    state.PowerOn(1000);
    EXPECT_EQ(Read(state, qz::kAddrProductID)[0], 'R');
}

TEST(EmulatorState, TimecodeCountsAtTheInputFrameRate) {
    CEmulatorState state;
    state.SetInputFormat(13, 0);  // 1080/50i: 25 frames
    ASSERT_EQ(Write(state, qz::kAddrTimecode, FreeRunFrom(state, 1, 2, 3, 4), 10000), CEmulatorState::kWriteApplied);
    EXPECT_EQ(TimecodeText(StatusAt(state, 10000)), "01:02:03:04");
    EXPECT_EQ(TimecodeText(StatusAt(state, 10039)), "01:02:03:04");
    EXPECT_EQ(TimecodeText(StatusAt(state, 10040)), "01:02:03:05");
    EXPECT_EQ(TimecodeText(StatusAt(state, 10000 + 840)), "01:02:04:00");
    EXPECT_EQ(TimecodeText(StatusAt(state, 10000 + 3600 * 1000)), "02:02:03:04");

    // 1080/59.94i with automatic drop frame: flag set, two labels skipped at the minute.
    state.SetInputFormat(12, 20000);
    ASSERT_EQ(Write(state, qz::kAddrTimecode, FreeRunFrom(state, 0, 0, 59, 29), 20000), CEmulatorState::kWriteApplied);
    Status s = StatusAt(state, 20000);
    EXPECT_EQ(TimecodeText(s), "00:00:59;29");
    EXPECT_TRUE(s.b[qz::kStTimecode] & 0x04);
    EXPECT_EQ(TimecodeText(StatusAt(state, 20034)), "00:01:00;02");  // one frame is 33.4 ms
    // 1001 s hold exactly 30000 frames; drop-frame labels keep up with the clock.
    EXPECT_EQ(TimecodeText(StatusAt(state, 20000 + 1001000)), "00:17:41;01");

    // Non-drop chosen at 29.97: labels run on without skipping and the flag is clear.
    ASSERT_EQ(Write(state, qz::kAddrTimecode, FreeRunFrom(state, 0, 0, 59, 28, 1), 30000), CEmulatorState::kWriteApplied);
    EXPECT_EQ(TimecodeText(StatusAt(state, 30034)), "00:00:59:29");
    s = StatusAt(state, 30067);
    EXPECT_EQ(TimecodeText(s), "00:01:00:00");
    EXPECT_FALSE(s.b[qz::kStTimecode] & 0x04);

    // Rewriting the block with the same preset and mode does not restart the generator.
    ASSERT_EQ(Write(state, qz::kAddrTimecode, FreeRunFrom(state, 0, 0, 59, 28, 1), 30500), CEmulatorState::kWriteApplied);
    EXPECT_EQ(TimecodeText(StatusAt(state, 30500)), "00:01:00:12");

    // A rate change carries the label on (29 frames after 59:28 is 00:01:00:27; at 25
    // frames a second the nearest label is 00:01:00:24).
    state.SetInputFormat(13, 31000);
    EXPECT_EQ(TimecodeText(StatusAt(state, 31000)), "00:01:00:24");
    EXPECT_EQ(TimecodeText(StatusAt(state, 32000)), "00:01:01:24");

    // Generate off, and thru without an input signal, report no timecode.
    Bytes tc = FreeRunFrom(state, 0, 0, 0, 0);
    tc[qz::kTcGenerateAt] = 0;
    ASSERT_EQ(Write(state, qz::kAddrTimecode, tc, 40000), CEmulatorState::kWriteApplied);
    EXPECT_EQ(StatusAt(state, 41000).b[qz::kStTimecode + 6] & 3, 3);
    tc[qz::kTcGenerateAt] = 2;  // thru
    ASSERT_EQ(Write(state, qz::kAddrTimecode, tc, 40000), CEmulatorState::kWriteApplied);
    EXPECT_EQ(TimecodeText(StatusAt(state, 41000)), "00:00:01:00");
    state.SetInputFormat(CEmulatorState::kNoSignal, 41000);
    EXPECT_EQ(StatusAt(state, 42000).b[qz::kStTimecode + 6] & 3, 3);
}

TEST(EmulatorState, StatusFollowsInputPresetAndDirection) {
    CEmulatorState state;
    Status s = StatusAt(state, 0);
    EXPECT_EQ(Nibbles(s.b + qz::kStVideoFormat, 2), 12u);  // 1080/59.94i at 59.94 Hz default rate
    EXPECT_EQ(s.b[qz::kStLowLatency] & 1, 1);              // low latency offered
    EXPECT_NE(s.b[qz::kStPowerSource], 0);                 // external DC
    for (uint64_t t = 0; t < 60000; t += 500) {
        const uint32_t v = Nibbles(StatusAt(state, t).b + qz::kStVoltage, 2);
        EXPECT_TRUE(v >= 119 && v <= 121) << v;
    }
    EXPECT_EQ(s.b[qz::kStIndicator1], 0x01);  // signal: indicator 1 steady
    EXPECT_EQ(s.b[qz::kStIndicator2], 0x01);
    for (int i = 0; i < 16; ++i) {
        if (i == 13) continue;
        EXPECT_EQ(s.b[i], 0) << i;
    }
    EXPECT_EQ(std::memcmp(StatusAt(state, 1234).b, StatusAt(state, 1234).b, qz::kStatusSize), 0);

    struct Stream {
        uint32_t nRate, nSize, nCodec;
    };
    auto stream = [&](const Status& st) {
        return Stream{Nibbles(st.b + qz::kSt1394Rate, 4), Nibbles(st.b + qz::kSt1394Size, 2),
                      Nibbles(st.b + qz::kSt1394Codec, 2)};
    };
    auto usePreset = [&](int n) {
        ASSERT_EQ(Write(state, qz::kAddrSystem, SystemWith(state, qz::kSysPreset, static_cast<uint8_t>(n))),
                  CEmulatorState::kWriteApplied);
    };
    usePreset(0);
    Stream st = stream(StatusAt(state, 0));
    EXPECT_EQ(st.nRate, 250u);  // HDV 1440x1080 (MPEG)
    EXPECT_EQ(st.nSize, 2u);
    EXPECT_EQ(st.nCodec, 0u);
    usePreset(1);
    st = stream(StatusAt(state, 0));
    EXPECT_EQ(st.nRate, 250u);  // DV, SD size
    EXPECT_EQ(st.nSize, 0u);
    EXPECT_EQ(st.nCodec, 1u);
    usePreset(5);
    st = stream(StatusAt(state, 0));
    EXPECT_EQ(st.nRate, 350u);
    EXPECT_EQ(st.nSize, 3u);
    EXPECT_EQ(st.nCodec, 0u);
    usePreset(4);
    st = stream(StatusAt(state, 0));
    EXPECT_EQ(st.nRate, 80u);
    EXPECT_EQ(st.nSize, 2u);

    // An SD input is encoded at the preset's SD rate.
    state.SetInputFormat(0, 0);
    st = stream(StatusAt(state, 0));
    EXPECT_EQ(st.nRate, 40u);
    EXPECT_EQ(st.nSize, 0u);

    // No input: nothing to encode, indicator 1 blinks slowly; the other way round the
    // stream comes from the computer and indicator 2 changes colour.
    state.SetInputFormat(CEmulatorState::kNoSignal, 0);
    s = StatusAt(state, 0);
    EXPECT_EQ(Nibbles(s.b + qz::kStVideoFormat, 2), 127u);
    EXPECT_EQ(s.b[qz::kStIndicator1], 0x02);
    EXPECT_EQ(stream(s).nRate, 0u);
    ASSERT_EQ(Write(state, qz::kAddrSystem, SystemWith(state, qz::kSysDirection, 1)), CEmulatorState::kWriteApplied);
    s = StatusAt(state, 0);
    EXPECT_EQ(stream(s).nRate, 80u);
    EXPECT_EQ(s.b[qz::kStIndicator2], 0x04);

    // Automatic input format follows the default frame rate.
    state.SetInputFormat(CEmulatorState::kFormatAuto, 0);
    ASSERT_EQ(Write(state, qz::kAddrSystem, SystemWith(state, qz::kSysFrameRate, 1)), CEmulatorState::kWriteApplied);
    EXPECT_EQ(Nibbles(StatusAt(state, 0).b + qz::kStVideoFormat, 2), 13u);

    state.SetPower(false, 74);
    state.SetLowLatencyAvailable(false);
    s = StatusAt(state, 0);
    EXPECT_EQ(s.b[qz::kStPowerSource], 0);
    EXPECT_EQ(Nibbles(s.b + qz::kStVoltage, 2), 74u);
    EXPECT_EQ(s.b[qz::kStLowLatency] & 1, 0);
}

TEST(EmulatorState, TestBlockDrivesTheIndicators) {
    CEmulatorState state;
    ASSERT_EQ(Write(state, qz::kAddrTest, {0x40}), CEmulatorState::kWriteApplied);
    Status s = StatusAt(state, 0);
    EXPECT_EQ(s.b[qz::kStIndicator1] & 0x03, 0x03);  // check mode: fast blink
    EXPECT_EQ(s.b[qz::kStIndicator2] & 0x0C, 0x0C);
    ASSERT_EQ(Write(state, qz::kAddrTest, {0x4D}), CEmulatorState::kWriteApplied);  // LED1, LED2, LED4
    s = StatusAt(state, 0);
    EXPECT_EQ(s.b[qz::kStIndicator1], 0x05);
    EXPECT_EQ(s.b[qz::kStIndicator2], 0x04);
    ASSERT_EQ(Write(state, qz::kAddrTest, {0x00}), CEmulatorState::kWriteApplied);
    EXPECT_EQ(StatusAt(state, 0).b[qz::kStIndicator1], 0x01);
}

TEST(EmulatorState, PowerOnFileRoundTripsAndDamageIsRejected) {
    CEmulatorState source;
    Bytes sys = SystemWith(source, qz::kSysPreset, 3);
    sys[26] = 0x7F;
    ASSERT_EQ(Write(source, qz::kAddrSystem, sys), CEmulatorState::kWriteApplied);
    ASSERT_EQ(Write(source, qz::PresetAddress(7), Bytes(50, 0x7E)), CEmulatorState::kWriteApplied);
    ASSERT_EQ(Write(source, qz::kAddrWriteFlash, {0x2A}), CEmulatorState::kWriteFlash);
    const std::string text = source.FlashText();
    ASSERT_FALSE(text.empty());

    CEmulatorState target;
    ASSERT_TRUE(target.ParseFlashText(text.data(), text.size()));
    EXPECT_EQ(target.FlashMemory(), source.FlashMemory());
    EXPECT_EQ(target.Memory(), CEmulatorState::FactoryMemory());  // shows at the next power-on
    target.PowerOn(0);
    EXPECT_EQ(target.Memory(), source.FlashMemory());

    // Line ends, blanks and comments of an edited file are fine.
    std::string edited = "# saved by hand\r\n\r\n";
    for (char c : text) edited += (c == '\n') ? std::string("  \r\n") : std::string(1, c);
    CEmulatorState crlf;
    EXPECT_TRUE(crlf.ParseFlashText(edited.data(), edited.size()));
    EXPECT_EQ(crlf.FlashMemory(), source.FlashMemory());

    auto rejected = [&](const std::string& bad) {
        CEmulatorState s;
        const bool bParsed = s.ParseFlashText(bad.data(), bad.size());
        return !bParsed && s.FlashMemory() == CEmulatorState::FactoryMemory();
    };
    std::string digit = text;
    digit[digit.find("system=") + 9] ^= 0x01;  // one digit off: the checksum no longer matches
    EXPECT_TRUE(rejected(digit));
    EXPECT_TRUE(rejected(text.substr(0, text.size() - 10)));            // cut in the last line
    EXPECT_TRUE(rejected(text.substr(0, text.find("preset7="))));       // last line missing
    EXPECT_TRUE(rejected(text.substr(text.find('\n') + 1)));            // no section line
    EXPECT_TRUE(rejected(text + "preset7=" + text.substr(text.find("preset7=") + 8)));  // repeated
    EXPECT_TRUE(rejected(text + "volume=00\n"));                         // unknown key
    EXPECT_TRUE(rejected(std::string()));
    EXPECT_TRUE(rejected(std::string(4096, 'A')));
    // A byte above 0x7F cannot be device memory, even with a matching checksum.
    std::string high = text;
    const size_t nId = high.find("productid=") + 10;
    const std::string hex = high.substr(nId, 2);  // first product ID byte, e.g. "51"
    const unsigned v = static_cast<unsigned>(std::stoul(hex, nullptr, 16));
    char buf[16];
    std::snprintf(buf, sizeof(buf), "%02X", v | 0x80);
    high.replace(nId, 2, buf);
    const size_t nSum = high.find('\n', nId) - 2;
    const unsigned sum = static_cast<unsigned>(std::stoul(high.substr(nSum, 2), nullptr, 16));
    std::snprintf(buf, sizeof(buf), "%02X", (sum + 0x80) & 0xFF);
    high.replace(nSum, 2, buf);
    EXPECT_TRUE(rejected(high));

    // Through a file; a missing or damaged file changes nothing.
    const auto dir = std::filesystem::temp_directory_path() / ("qz81kt_emu_flash_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "flash.txt").string();
    ASSERT_TRUE(source.SaveFlashFile(path.c_str()));
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    CEmulatorState loaded;
    ASSERT_TRUE(loaded.LoadFlashFile(path.c_str()));
    EXPECT_EQ(loaded.FlashMemory(), source.FlashMemory());
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text.substr(0, text.size() / 2);
    }
    CEmulatorState truncated;
    EXPECT_FALSE(truncated.LoadFlashFile(path.c_str()));
    EXPECT_EQ(truncated.FlashMemory(), CEmulatorState::FactoryMemory());
    EXPECT_FALSE(truncated.LoadFlashFile((dir / "missing.txt").string().c_str()));
    EXPECT_FALSE(source.SaveFlashFile((dir / "no" / "such" / "dir.txt").string().c_str()));
    char tiny[64];
    EXPECT_EQ(source.FormatFlashText(tiny, sizeof(tiny)), 0u);
    std::filesystem::remove_all(dir);
}
