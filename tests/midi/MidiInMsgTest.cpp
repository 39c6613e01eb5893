#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "midi/platform/LoopbackDriver.h"
#include "midi/RecordingParser.h"

namespace {

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes v;
    for (const auto& p : parts) v.insert(v.end(), p.begin(), p.end());
    return v;
}

// A System Exclusive message of exactly nTotal bytes (F0 and F7 included) with a
// foreign manufacturer ID.
Bytes SysExOfLength(size_t nTotal) {
    Bytes v(nTotal, 0x55);
    v.front() = 0xF0;
    v[1] = 0x43;
    v.back() = 0xF7;
    return v;
}

// A device reply: a DT1 frame of the status block from device 0x10.
Bytes DeviceReply() {
    Bytes v = Hex("F0 41 10 00 00 3F 12 01 00 00");
    for (int i = 0; i < 58; ++i) v.push_back(static_cast<uint8_t>(i));
    v.push_back(0x11);
    v.push_back(0xF7);
    return v;
}

// ---------------------------------------------------------------------------------
// Inputs fed in order to a fresh parser, and the handler calls they give

// One thing handed to the parser: a long buffer (hex text or bytes) or a short message.
struct Input {
    Input(const char* pszHex) : m_bytes(Hex(pszHex)) {}
    Input(Bytes bytes) : m_bytes(std::move(bytes)) {}
    Input(uint32_t dwShort) : m_bShort(true), m_dwShort(dwShort) {}

    Bytes m_bytes;
    bool m_bShort = false;
    uint32_t m_dwShort = 0;
};

struct Case {
    const char* m_pszName;
    std::vector<Input> m_inputs;
    Events m_expected;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.m_pszName; }

Bytes Ascii(const std::string& str) { return Bytes(str.begin(), str.end()); }

// Quarter frames of 01:23:45:12 at 25 frames per second, pieces in the given order.
Bytes QuarterFrames(std::initializer_list<int> pieces) {
    const uint8_t nibbles[8] = {0x0C, 0x0, 0xD, 0x2, 0x7, 0x1, 0x1, 0x2};
    Bytes v;
    for (int p : pieces) {
        v.push_back(0xF1);
        v.push_back(static_cast<uint8_t>(p << 4 | nibbles[p]));
    }
    return v;
}
const Bytes kQuarterFramesRising = QuarterFrames({0, 1, 2, 3, 4, 5, 6, 7});
const char* const kMtcRising = "MtcTime 1 01:23:45:12 +1";

const Case kCases[] = {
    // System Exclusive assembly
    {"SysExSplitRightAfterF0AndRightBeforeF7", {"F0", "41 10 42", "F7"}, {"OtherSysEx [F0 41 10 42 F7]"}},
    {"TimingClockInsideSysExLeavesItWhole",
     {"F0 41 10 F8 00 00 3F", "F8 12 FE 01 F7"},
     {"Clock", "Clock", "ActiveSensing", "OtherSysEx [F0 41 10 00 00 3F 12 01 F7]"}},
    // The F7 closes nothing (the SysEx is gone) and clears running status.
    {"ChannelStatusAbandonsSysExAndIsParsedNormally", {"F0 41 10 00 00 90 3C 40 F7 3C 00"}, {"NoteOn 0 3C 40"}},
    {"NewF0AbandonsAnUnterminatedSysEx",
     {"F0 41 10 01 02 F0 7E 7F 06 01 F7"},
     {"UniversalNonRealTime [F0 7E 7F 06 01 F7]"}},
    {"AbandonedSysExThatFitIsNotCounted", {"F0 41 10 01 02 F0 41 10 03 F7"}, {"OtherSysEx [F0 41 10 03 F7]"}},

    // Channel messages and running status
    {"RunningStatusNoteOn", {"90 3C 40 3C 00"}, {"NoteOn 0 3C 40", "NoteOn 0 3C 00"}},
    {"RunningStatusProgramChangeKeepsTheChannel", {"C5 10 20"}, {"ProgramChange 5 10", "ProgramChange 5 20"}},
    {"RunningStatusCarriesAcrossBuffersAndRealTime",
     {"9F 3C", "40 3D", "F8 41"},
     {"NoteOn 15 3C 40", "Clock", "NoteOn 15 3D 41"}},
    {"SystemCommonStatusClearsRunningStatus",
     {"90 3C 40 F3 05 3C 00 F6 3C 00"},
     {"NoteOn 0 3C 40", "SongSelect 05", "TuneRequest"}},
    {"StrayDataBytesWithoutStatusAreIgnored", {"01 02 03 7F"}, {}},
    {"ChannelRoutingOfEveryKind",
     {"81 3C 40 92 3D 41 A3 3E 42 B4 07 64 C5 11 D6 22 E7 00 40"},
     {"NoteOff 1 3C 40", "NoteOn 2 3D 41", "PolyKeyPressure 3 3E 42", "ControlChange 4 07 64", "ProgramChange 5 11",
      "ChannelPressure 6 22", "PitchBend 7 00 40"}},
    {"SystemCommonAndRealTimeRouting",
     {"F2 10 20 F3 07 F6 FA FB FC FE FF"},
     {"SongPosition 10 20", "SongSelect 07", "TuneRequest", "Transport FA", "Transport FB", "Transport FC",
      "ActiveSensing", "SystemReset"}},

    // Short messages: the status in the lowest byte
    {"ShortClockCallsOnlyTheRealTimeHandler", {0x000000F8u}, {"Clock"}},
    {"ShortNoteOnStatusInLowestByte", {0x00644590u}, {"NoteOn 0 45 64"}},
    // The F0 after the completed message is never looked at.
    {"ShortTwoByteMessageIgnoresTheThirdByte", {0x00F013C2u}, {"ProgramChange 2 13"}},
    {"ShortMessagesGetNoRunningStatus", {0x00644590u, 0x00004046u}, {"NoteOn 0 45 64"}},
    {"ShortF0DropsTheMessageInProgress", {"90 3C", 0xF0u, "40"}, {}},
    {"ShortF4DropsTheMessageInProgress", {"90 3C", 0xF4u, "40"}, {}},
    {"ShortF5DropsTheMessageInProgress", {"90 3C", 0xF5u, "40"}, {}},
    {"ShortF7DropsTheMessageInProgress", {"90 3C", 0xF7u, "40"}, {}},
    {"ShortSystemCommonMessages",
     {0x000000F6u, 0x00000BF3u, 0x002010F2u, 0x000023F1u},
     {"TuneRequest", "SongSelect 0B", "SongPosition 10 20"}},
    {"ShortSystemCommonClearsRunningStatusForLongBuffers",
     {"90 3C 40", 0x000005F3u, "3C 00"},
     {"NoteOn 0 3C 40", "SongSelect 05"}},

    // MIDI Time Code quarter frames
    {"QuarterFramesRisingGiveDirectionPlusOne", {kQuarterFramesRising}, {kMtcRising}},
    {"QuarterFramesFallingGiveDirectionMinusOne",
     {QuarterFrames({7, 6, 5, 4, 3, 2, 1, 0})},
     {"MtcTime 1 01:23:45:12 -1"}},
    {"QuarterFramesTwoSequencesTwoCalls", {kQuarterFramesRising, kQuarterFramesRising}, {kMtcRising, kMtcRising}},
    {"QuarterFramesRepeatedPieceRestarts", {QuarterFrames({0, 1, 2, 3, 3, 4, 5, 6, 7})}, {}},
    // 23:59:58:29 at 30 fps (rate 3): frames 0x1D, seconds 0x3A, minutes 0x3B, hours 0x17.
    {"QuarterFrameFieldDecoding",
     {"F1 0D F1 11 F1 2A F1 33 F1 4B F1 53 F1 67 F1 77"},
     {"MtcTime 3 23:59:58:29 +1"}},

    // Universal Real-Time: MIDI Time Code and MIDI Machine Control. The last quarter
    // frames would complete the sequence if the full message did not clear it.
    {"MtcFullMessageIsDecodedAndClearsQuarterFrames",
     {QuarterFrames({0, 1, 2, 3}), "F0 7F 7F 01 01 61 02 03 04 F7", QuarterFrames({4, 5, 6, 7})},
     {"MtcFull 7F 3 01:02:03:04"}},
    {"MtcMessageOfElevenBytesIsOther",
     {"F0 7F 7F 01 01 61 02 03 04 05 F7", "F0 7F 10 01 02 11 22 F7"},
     {"MtcOther 7F [61 02 03 04 05]", "MtcOther 10 [11 22]"}},
    {"MmcPlay", {"F0 7F 10 06 02 F7"}, {"MmcPlay 10"}},
    {"MmcLocate", {"F0 7F 7F 06 44 06 01 61 02 03 04 05 F7"}, {"MmcLocate 7F 01:02:03:04.05"}},
    // Locate without subframes, locate cut short, write, command 00.
    {"MmcShortOrOtherCommandsAreOther",
     {"F0 7F 7F 06 44 06 01 61 02 03 04 F7", "F0 7F 7F 06 44 06 F7", "F0 7F 7F 06 40 01 02 F7", "F0 7F 7F 06 00 F7"},
     {"MmcOther 7F [44 06 01 61 02 03 04]", "MmcOther 7F [44 06]", "MmcOther 7F [40 01 02]", "MmcOther 7F [00]"}},
    // Master volume, too short for machine control, nothing after the ID.
    {"UniversalRealTimeOthers",
     {"F0 7F 7F 04 01 00 7F F7", "F0 7F 7F 06 F7", "F0 7F F7"},
     {"UniversalRealTimeOther [F0 7F 7F 04 01 00 7F F7]", "UniversalRealTimeOther [F0 7F 7F 06 F7]",
      "UniversalRealTimeOther [F0 7F F7]"}},
    {"UniversalNonRealTime", {"F0 7E 7F 06 01 F7"}, {"UniversalNonRealTime [F0 7E 7F 06 01 F7]"}},
    {"ShortSysExAndOtherIdsAreForeign",
     {"F0 F7", "F0 43 10 4C F7", "F0 00 20 33 F7"},
     {"ForeignSysEx [F0 F7]", "ForeignSysEx [F0 43 10 4C F7]", "ForeignSysEx [F0 00 20 33 F7]"}},

    // Manufacturer 0x41 messages
    {"DeviceReplyReachesOtherSysEx",
     {"F0 41 10 00 00 3F 12 01 00 00 05 6A F7"},
     {"OtherSysEx [F0 41 10 00 00 3F 12 01 00 00 05 6A F7]"}},
    // Model bytes, but fewer than 12 bytes.
    {"ShortMakerMessageReachesOtherSysEx",
     {"F0 41 10 00 51 12 10 00 00 F7", "F0 41 F7"},
     {"OtherSysEx [F0 41 10 00 51 12 10 00 00 F7]", "OtherSysEx [F0 41 F7]"}},
    // The third has an RQ1-like command byte: not a data set.
    {"ModelDataSetRoutes",
     {"F0 41 10 00 51 12 10 00 00 01 02 03 6A F7", "F0 41 11 00 51 12 01 02 03 7F 00 F7",
      "F0 41 10 00 51 11 10 00 00 01 02 03 6A F7"},
     {"ModelBlockData 10 [01 02 03]", "ModelDataSet 11 010203 [7F]",
      "OtherSysEx [F0 41 10 00 51 11 10 00 00 01 02 03 6A F7]"}},
    // The last has no zero: "AB", C is the checksum.
    {"ModelNameStopsAtZeroSixteenCharactersOrTheChecksum",
     {Concat({Hex("F0 41 10 00 51 12 10 71 00"), Ascii("QZ-81KT"), Hex("00 41 42 55 F7")}),
      Concat({Hex("F0 41 10 00 51 12 10 71 00"), Ascii("ABCDEFGHIJKLMNOPQRST"), Hex("55 F7")}),
      "F0 41 10 00 51 12 10 71 00 41 42 43 F7"},
     {"ModelName 10 \"QZ-81KT\"", "ModelName 10 \"ABCDEFGHIJKLMNOP\"", "ModelName 10 \"AB\""}},
};

class MidiInMsgInput : public ::testing::TestWithParam<Case> {};

TEST_P(MidiInMsgInput, GivesTheExpectedCalls) {
    CRecorder r;
    for (const Input& in : GetParam().m_inputs) {
        if (in.m_bShort) {
            r.Short(in.m_dwShort);
        } else {
            r.Long(in.m_bytes);
        }
    }
    EXPECT_EQ(r.m_events, GetParam().m_expected);
    // Every row ends between messages, and none of them overflows the buffer.
    EXPECT_EQ(r.Status(), 0);
    EXPECT_EQ(r.m_nSysExDropped.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(MidiInMsg, MidiInMsgInput, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.m_pszName; });

// ---------------------------------------------------------------------------------
// Sequences checked part-way through

TEST(MidiInMsg, SysExSplitOverThreeBuffersArrivesOnceWhole) {
    CRecorder r;
    const Bytes reply = DeviceReply();
    r.Long(Bytes(reply.begin(), reply.begin() + 5));
    r.Long(Bytes(reply.begin() + 5, reply.begin() + 40));
    EXPECT_TRUE(r.m_events.empty());
    r.Long(Bytes(reply.begin() + 40, reply.end()));
    ASSERT_EQ(r.m_events, Events{"OtherSysEx 70 bytes"});
    EXPECT_EQ(r.m_sysex.at(0), reply);
}

TEST(MidiInMsg, F7OutsideSysExOnlyClearsState) {
    CRecorder r;
    r.Long("F7");
    EXPECT_TRUE(r.m_events.empty());
    r.Long("90 3C 40 F7 3C 00");
    EXPECT_EQ(r.m_events, Events{"NoteOn 0 3C 40"});
    // F7 in the middle of a channel message drops it.
    r.m_events.clear();
    r.Long("B2 07 F7 22");
    EXPECT_TRUE(r.m_events.empty());
    EXPECT_EQ(r.Status(), 0);
    EXPECT_EQ(r.Running(), 0);
}

TEST(MidiInMsg, UndefinedStatusesAreDropped) {
    CRecorder r;
    r.Long("F4 01 F5 02 F9 FD");
    EXPECT_TRUE(r.m_events.empty());
    // F4 and F5 drop the message in progress and clear running status.
    r.Long("90 3C 40 3C F4 40 3C 00");
    EXPECT_EQ(r.m_events, Events{"NoteOn 0 3C 40"});
    // F9 and FD are real-time bytes: they disturb nothing.
    r.m_events.clear();
    r.Long("F0 41 10 F9 42 FD F7 90 3C FD 40");
    EXPECT_EQ(r.m_events, (Events{"OtherSysEx [F0 41 10 42 F7]", "NoteOn 0 3C 40"}));
}

TEST(MidiInMsg, ShortMessageIncompleteAfterThreeBytesStaysOpen) {
    CRecorder r;
    r.Short(0x00B04590);  // 90 45 then B0: the note is dropped, the controller stays open
    EXPECT_TRUE(r.m_events.empty());
    r.Short(0x00002207);
    EXPECT_EQ(r.m_events, Events{"ControlChange 0 07 22"});
}

TEST(MidiInMsg, QuarterFramesMissingPieceGiveNoCall) {
    CRecorder r;
    r.Long(QuarterFrames({0, 1, 2, 4, 5, 6, 7}));
    EXPECT_TRUE(r.m_events.empty());
    // The collection was cleared: the next full sequence is reported.
    r.Long(kQuarterFramesRising);
    EXPECT_EQ(r.m_events, Events{kMtcRising});
}

TEST(MidiInMsg, QuarterFramesDirectionChangeRestarts) {
    CRecorder r;
    r.Long(QuarterFrames({7, 0, 1, 2, 3, 4, 5, 6, 7}));  // 7 -> 0 falls, 0 -> 1 rises: restart at 1
    EXPECT_TRUE(r.m_events.empty());
    r.Long(kQuarterFramesRising);
    EXPECT_EQ(r.m_events, Events{kMtcRising});
}

TEST(MidiInMsg, ResetQuarterFrameRestartsTheCollection) {
    CRecorder r;
    r.Long(QuarterFrames({0, 1, 2, 3}));
    r.ResetQuarterFrame();
    r.Long(QuarterFrames({4, 5, 6, 7}));
    EXPECT_TRUE(r.m_events.empty());
}

TEST(MidiInMsg, MmcEveryCommandReachesItsHandler) {
    CRecorder r;
    for (int c = 1; c <= 0x0B; ++c) {
        r.Long(Bytes{0xF0, 0x7F, 0x05, 0x06, static_cast<uint8_t>(c), 0xF7});
    }
    EXPECT_EQ(r.m_events, (Events{"MmcStop 05", "MmcPlay 05", "MmcDeferredPlay 05", "MmcFastForward 05",
                                  "MmcRewind 05", "MmcRecordStrobe 05", "MmcRecordExit 05", "MmcRecordPause 05",
                                  "MmcPause 05", "MmcEject 05", "MmcChase 05"}));
}

TEST(MidiInMsg, DirectCallsWithShortMessagesReadNothingPastThem) {
    // Routers reached directly (as a derived class may) with messages too short for them.
    CRecorder r;
    const Bytes m = Hex("F0 41 F7");
    r.DispatchModelDataSet(m.data(), 3);
    r.DispatchMtcSysEx(m.data(), 3);
    r.DispatchMmc(m.data(), 3);
    r.DispatchChannelMsg(Hex("90 3C").data(), 2);
    r.DispatchSystemCommon(Hex("F2 01").data(), 2);
    EXPECT_EQ(r.m_events, (Events{"OtherSysEx [F0 41 F7]", "UniversalRealTimeOther [F0 41 F7]",
                                  "UniversalRealTimeOther [F0 41 F7]"}));
}

// ---------------------------------------------------------------------------------
// Oversize System Exclusive

TEST(MidiInMsg, SysExOfExactlyBufferSizeIsDelivered) {
    CRecorder r;
    const Bytes m = SysExOfLength(CMidiInMsg::kBufSize);
    r.Long(m);
    ASSERT_EQ(r.m_sysex.size(), 1u);
    EXPECT_EQ(r.m_sysex[0], m);
    EXPECT_EQ(r.m_nSysExDropped.load(), 0);
}

TEST(MidiInMsg, SysExOneByteTooLongIsDroppedWholeAndCounted) {
    CRecorder r;
    r.Long(SysExOfLength(CMidiInMsg::kBufSize + 1));
    EXPECT_TRUE(r.m_events.empty());
    EXPECT_EQ(r.m_nSysExDropped.load(), 1);
    // The parser is ready for the next message.
    r.Long("F0 41 10 42 F7 90 3C 40");
    EXPECT_EQ(r.m_events, (Events{"OtherSysEx [F0 41 10 42 F7]", "NoteOn 0 3C 40"}));
    EXPECT_EQ(r.m_nSysExDropped.load(), 1);
}

TEST(MidiInMsg, OversizeSysExInSmallBuffersWithRealTimeInside) {
    CRecorder r;
    Bytes m = SysExOfLength(2000);
    m[700] = 0xF8;
    for (size_t i = 0; i < m.size(); i += 256) {
        r.Long(Bytes(m.begin() + static_cast<long>(i), m.begin() + static_cast<long>(std::min(m.size(), i + 256))));
    }
    EXPECT_EQ(r.m_events, Events{"Clock"});
    EXPECT_EQ(r.m_nSysExDropped.load(), 1);
}

TEST(MidiInMsg, OversizeSysExAbandonedByStatusIsCountedOnce) {
    CRecorder r;
    Bytes m = SysExOfLength(600);
    m.back() = 0x90;  // a channel status instead of F7
    r.Long(Concat({m, Hex("3C 40 F7")}));
    EXPECT_EQ(r.m_events, Events{"NoteOn 0 3C 40"});
    EXPECT_EQ(r.m_nSysExDropped.load(), 1);  // the stray F7 counts nothing more

    Bytes m2 = SysExOfLength(600);
    m2.pop_back();
    r.Long(m2);
    r.Short(0x000000F7);  // a short status drops it as well
    EXPECT_EQ(r.m_nSysExDropped.load(), 2);
}

TEST(MidiInMsg, SysExBytesAreCopiedWhateverTheBufferSplit) {
    // Every split of one message into two buffers gives the same single delivery.
    const Bytes m = DeviceReply();
    for (size_t cut = 0; cut <= m.size(); ++cut) {
        CRecorder r;
        r.Long(Bytes(m.begin(), m.begin() + static_cast<long>(cut)));
        r.Long(Bytes(m.begin() + static_cast<long>(cut), m.end()));
        ASSERT_EQ(r.m_sysex.size(), 1u) << cut;
        EXPECT_EQ(r.m_sysex[0], m) << cut;
    }
}

// ---------------------------------------------------------------------------------
// Clock timing

uint32_t g_dwFakeNow = 0;
uint32_t FakeClock() { return g_dwFakeNow; }

TEST(MidiInMsg, ClockTimingFirstAfterTwentyFiveThenEveryTwentyFour) {
    CRecorder r;
    r.SetClock(&FakeClock);
    auto quarterNotes = [&] {
        Events v;
        for (const auto& e : r.m_events) {
            if (e != "Clock") v.push_back(e);
        }
        return v;
    };
    g_dwFakeNow = 1000;
    for (int i = 1; i <= 24; ++i) {  // clocks 1..24 at 1000, 1010, ... 1230
        r.Long("F8");
        g_dwFakeNow += 10;
    }
    EXPECT_TRUE(quarterNotes().empty());
    r.Long("F8");  // clock 25 at 1240: 24 intervals since clock 1
    EXPECT_EQ(quarterNotes(), Events{"QuarterNote 240"});

    r.m_events.clear();
    for (int i = 0; i < 23; ++i) {  // clocks 26..48, 20 ms apart
        g_dwFakeNow += 20;
        r.Short(0xF8);
    }
    EXPECT_TRUE(quarterNotes().empty());
    g_dwFakeNow += 20;
    r.Short(0xF8);  // clock 49
    EXPECT_EQ(quarterNotes(), Events{"QuarterNote 480"});
}

TEST(MidiInMsg, ClockTimingSurvivesClockWrapAndReset) {
    CRecorder r;
    r.SetClock(&FakeClock);
    g_dwFakeNow = 0xFFFFFF00u;
    for (int i = 0; i < 25; ++i) {
        r.Long("F8");
        g_dwFakeNow += 21;  // passes zero on the way
    }
    EXPECT_EQ(r.m_events.back(), "QuarterNote 504");

    r.m_events.clear();
    r.Long("F8 F8 F8");
    r.ResetClockTiming();
    for (int i = 0; i < 24; ++i) r.Long("F8");
    EXPECT_EQ(r.m_events.size(), 27u);  // no report: the reset started a new measurement
    r.SetClock(nullptr);                // back to the steady clock
    r.Long("F8");
    EXPECT_EQ(r.m_events.size(), 29u);
}

// ---------------------------------------------------------------------------------
// Construction

TEST(MidiInMsg, ConstructsOnADriverWithoutOpeningAPort) {
    CLoopbackDriver driver;
    CRecorder r;
    CMidiInPort<CMidiInMsg> parser(&driver);
    EXPECT_FALSE(parser.IsOpen());
    EXPECT_EQ(parser.m_nSysExDropped.load(), 0);
    parser.OnLongData(nullptr, 10);  // tolerated
    parser.OnData(nullptr);
    EXPECT_EQ(r.Len(), 0);
    EXPECT_EQ(r.Status(), 0);
    EXPECT_EQ(r.Running(), 0);
}

// Through a real input port: the worker hands the buffers of one long System Exclusive
// message to the parser, which joins them.
class CSysExCollector : public CMidiInMsg {
public:
    explicit CSysExCollector(CMidiDriver* pDriver) : CMidiInMsg(pDriver) {}

    void OnOtherSysEx(const uint8_t* p, int n) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_received.emplace_back(p, p + n);
        m_cv.notify_all();
    }
    // A note-on holds the worker until Release, so that arrivals pile up in the ring.
    void OnNoteOn(int, int, int) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_bHeld = true;
        m_cv.notify_all();
        m_cv.wait(lock, [&] { return !m_bHeld; });
    }
    bool WaitHeld() {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(5), [&] { return m_bHeld; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bHeld = false;
        m_cv.notify_all();
    }
    void OnActiveSensing() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nSensed;
        m_cv.notify_all();
    }
    bool WaitSensed(int nCount) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(5), [&] { return m_nSensed >= nCount; });
    }
    bool WaitFor(size_t nCount) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(5), [&] { return m_received.size() >= nCount; });
    }
    std::vector<Bytes> Received() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Bytes> m_received;
    bool m_bHeld = false;
    int m_nSensed = 0;
};

TEST(MidiInMsg, JoinsSysExSpreadOverPortBuffers) {
    CLoopbackDriver driver;
    const uint32_t uPort = driver.AddPortPair("QZ-81KT Test", nullptr);
    CMidiInPort<CSysExCollector> in(&driver);
    in.m_uDeviceID = uPort;
    ASSERT_EQ(in.Open(), 1);
    ASSERT_EQ(in.Start(), 1);

    Bytes big = SysExOfLength(500);  // two 256-byte port buffers
    big[1] = 0x41;
    const Bytes reply = DeviceReply();
    ASSERT_TRUE(driver.PeerSend(uPort, big.data(), big.size()));
    ASSERT_TRUE(driver.PeerSend(uPort, reply.data(), reply.size()));
    ASSERT_TRUE(in.WaitFor(2));
    EXPECT_EQ(in.Received(), (std::vector<Bytes>{big, reply}));
    // Destroyed while running: the worker ends before the parser goes away.
}

// A buffer lost in the middle of a System Exclusive message: the halves around the gap
// must not be delivered as one message that merely looks complete.
TEST(MidiInMsg, SysExWithALostMiddleBufferIsDroppedAndCounted) {
    CLoopbackDriver driver;
    const uint32_t uPort = driver.AddPortPair("QZ-81KT Test", nullptr);
    CMidiInPort<CSysExCollector> in(&driver);
    in.m_uDeviceID = uPort;
    ASSERT_EQ(in.Open(), 1);
    ASSERT_EQ(in.Start(), 1);
    ASSERT_TRUE(driver.PeerSendShort(uPort, 0x403C90));
    ASSERT_TRUE(in.WaitHeld());
    // The ring has 511 free words while the worker is held; 510 leave room for one marker.
    for (int i = 0; i < 510; ++i) ASSERT_TRUE(driver.PeerSendShort(uPort, 0xFE));
    Bytes big = SysExOfLength(600);
    big[1] = 0x41;
    const uint32_t kBuf = CMidiIn::kSlotSize;
    ASSERT_TRUE(driver.PeerSend(uPort, big.data(), kBuf));         // queued
    ASSERT_TRUE(driver.PeerSend(uPort, big.data() + kBuf, kBuf));  // lost: the ring is full
    EXPECT_EQ(in.m_nDropped.load(), 1);
    in.Release();
    ASSERT_TRUE(in.WaitSensed(510));  // the ring has room again
    ASSERT_TRUE(driver.PeerSend(uPort, big.data() + 2 * kBuf, big.size() - 2 * kBuf));
    const Bytes reply = DeviceReply();
    ASSERT_TRUE(driver.PeerSend(uPort, reply.data(), reply.size()));
    ASSERT_TRUE(in.WaitFor(1));
    in.Close();
    EXPECT_EQ(in.Received(), (std::vector<Bytes>{reply}));
    EXPECT_EQ(in.m_nCutByLoss.load(), 1);
}

}  // namespace
