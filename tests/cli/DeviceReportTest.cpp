#include <gtest/gtest.h>

#include "cli/DeviceReport.h"
#include "cli/JsonWriter.h"

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
    CLabelledLines lines = TimecodeSettingsText(t);
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
    CLabelledLines lines = SystemSettingsText(s, presets);
    EXPECT_EQ(Value(lines, "Direction"), "IEEE1394 -> SDI");
    EXPECT_EQ(Value(lines, "SDI Audio Channel"), "7-8");
    EXPECT_EQ(Value(lines, "Preset"), "? (9)");  // out of range is shown, never indexed
    EXPECT_EQ(Value(lines, "Control Mode"), "Remote");
    EXPECT_EQ(Value(lines, "IEEE1394 Unit Type"), "Recorder");
    EXPECT_EQ(Value(lines, "Default Frame Rate"), "50Hz");
    EXPECT_EQ(Value(lines, "FAN"), "on");
    EXPECT_EQ(Value(lines, "IEEE1394 Format Fix"), "? (2)");
    s[5] = 1;
    EXPECT_EQ(Value(SystemSettingsText(s, presets), "Preset"), "1: HDV/DV  (IEEE1394 = HDV1080)");
}

TEST(DeviceReport, JsonEscapesDeviceTextSafely) {
    EXPECT_EQ(CJsonWriter::Escape("a\"b\\c\n"), "\"a\\\"b\\\\c\\n\"");
    EXPECT_EQ(CJsonWriter::Escape(std::string("x\x01\x7f", 3)), "\"x\\u0001\\u007f\"");
    CJsonWriter j;
    j.BeginObject();
    j.Key("a");
    uint8_t b[] = {1, 2};
    j.Bytes(b, 2);
    j.Key("b");
    j.BeginArray();
    j.String("x");
    j.Number(-3);
    j.Bool(true);
    j.EndArray();
    j.EndObject();
    EXPECT_EQ(j.Text(), "{\"a\":[1,2],\"b\":[\"x\",-3,true]}");
}

}  // namespace
