#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/DeviceReport.h"
#include "cli/JsonReport.h"

namespace {

std::string Value(const CLabelledLines& lines, const std::string& label) {
    for (auto& [l, v] : lines)
        if (l == label) return v;
    return "(missing)";
}

TEST(DeviceReport, TimecodeSettingsReadTheBlockLikeTheDialog) {
    uint8_t t[44] = {};
    // 23:59:59:29 with all six flags, as the dialog stores it.
    const uint8_t preset[8] = {0x0E, 0x09, 0x0D, 0x09, 0x0D, 0x09, 0x0E, 0x03};
    std::copy(preset, preset + 8, t);
    const uint8_t bits[8] = {7, 8, 5, 6, 3, 4, 1, 2};  // BG8 … BG1 = 1 … 8
    std::copy(bits, bits + 8, t + 8);
    t[36] = 0x00, t[37] = 0x0E;  // DVITC #1 480i line 14
    t[42] = 0x01, t[43] = 0x06;  // DVITC #2 576i line 22
    t[33] = 0x03;                // bit 0 counts
    t[31] = 2;
    t[27] = 9;  // no such item
    CLabelledLines lines = qz::TimecodeSettingsText(t);
    EXPECT_EQ(Value(lines, "Timecode Preset"), "23:59:59:29  S6 on  S5 on  S4 on  S3 on  S2 on  S1 on");
    EXPECT_EQ(Value(lines, "Userbit Preset"), "BG8=1 BG7=2 BG6=3 BG5=4 BG4=5 BG3=6 BG2=7 BG1=8");
    EXPECT_NE(Value(lines, "SD-SDI DVITC #1").find("Generate on, 480i Insert Postion 14(277)"), std::string::npos);
    EXPECT_NE(Value(lines, "SD-SDI DVITC #2").find("576i Insert Postion 22(335)"), std::string::npos);
    EXPECT_EQ(Value(lines, "Timecode Drop Frame"), "Drop");
    EXPECT_EQ(Value(lines, "Timecode Generate"), "? (9)");
}

TEST(DeviceReport, SystemSettingsUseTheWindowsCaptions) {
    uint8_t s[28] = {};
    uint8_t presets[8][50] = {};
    s[1] = 1, s[3] = 3, s[5] = 9, s[7] = 1, s[9] = 1, s[21] = 1, s[15] = 1, s[23] = 2;
    CLabelledLines lines = qz::SystemSettingsText(s, presets);
    EXPECT_EQ(Value(lines, "Direction"), "IEEE1394 -> SDI");
    EXPECT_EQ(Value(lines, "SDI Audio Channel"), "7-8");
    EXPECT_EQ(Value(lines, "Preset"), "? (9)");  // out of range is shown, never indexed
    EXPECT_EQ(Value(lines, "Control Mode"), "Remote");
    EXPECT_EQ(Value(lines, "IEEE1394 Unit Type"), "Recorder");
    EXPECT_EQ(Value(lines, "Default Frame Rate"), "50Hz");
    EXPECT_EQ(Value(lines, "FAN"), "on");
    EXPECT_EQ(Value(lines, "IEEE1394 Format Fix"), "? (2)");
    s[5] = 1;
    EXPECT_EQ(Value(qz::SystemSettingsText(s, presets), "Preset"), "1: HDV/DV  (IEEE1394 = HDV1080)");
}

TEST(DeviceReport, JsonPassesUtf8ReplacesInvalidBytesAndEscapesControls) {
    const std::vector<std::string> names = {"Caf\xC3\xA9 MIDI", "Bad\xFF" "Byte", "a\"b\\c\n\x01", "\xE2\x82"};
    std::string text = qz::PortsJson(names, {}, 0, {}, {}, -1);
    EXPECT_NE(text.find("\"Caf\xC3\xA9 MIDI\""), std::string::npos) << text;  // as it is, not \u00c3\u00a9
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(text.find('\x01'), std::string::npos);
    nlohmann::json j = nlohmann::json::parse(text);  // throws on invalid JSON or UTF-8
    EXPECT_EQ(j["in"][0]["name"], names[0]);
    EXPECT_EQ(j["in"][1]["name"], "Bad\xEF\xBF\xBD" "Byte");  // U+FFFD
    EXPECT_EQ(j["in"][2]["name"], names[2]);
    EXPECT_EQ(j["in"][3]["name"], "\xEF\xBF\xBD");  // a sequence cut short
    EXPECT_EQ(j["in"][0]["preselected"], true);
    EXPECT_TRUE(j["out"].is_array() && j["out"].empty());
}

TEST(DeviceReport, JsonControlModeIsNullUntilReceivedThenByteAndSwitches) {
    CImageSnapshot snap;
    for (const std::string& text : {qz::DumpJson(snap), qz::StatusJson(snap)}) {
        nlohmann::json j = nlohmann::json::parse(text);
        EXPECT_TRUE(j["control_mode"].is_null()) << text;
    }
    nlohmann::json dump = nlohmann::json::parse(qz::DumpJson(snap));
    EXPECT_TRUE(dump["control_mode_byte"].is_null());
    EXPECT_TRUE(dump["mode_switches"].is_null());
    snap.m_nControlMode = 0x21;  // SW1 and SW6
    dump = nlohmann::json::parse(qz::DumpJson(snap));
    EXPECT_EQ(dump["control_mode"], "Remote");
    EXPECT_EQ(dump["control_mode_byte"], 0x21);
    EXPECT_EQ(dump["mode_switches"],
              nlohmann::json({{"SW1", true}, {"SW2", false}, {"SW3", false}, {"SW4", false}, {"SW5", false}, {"SW6", true}}));
    EXPECT_EQ(nlohmann::json::parse(qz::StatusJson(snap))["control_mode"], "Remote");
}

}  // namespace
