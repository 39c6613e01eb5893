#include "cli/DeviceReport.h"

#include <cstdio>
#include <mutex>

#include "protocol/DeviceImage.h"
#include "protocol/PresetBlock.h"
#include "protocol/StatusText.h"
#include "protocol/TimecodeBlock.h"

CImageSnapshot TakeSnapshot(const CDeviceImage& image) {
    CImageSnapshot s;
    using qz::EBlock;
    image.Read(EBlock::System, s.m_system);
    image.Read(EBlock::Timecode, s.m_timecode);
    for (int n = 0; n < qz::kPresetCount; ++n) image.Read(qz::PresetBlock(n), s.m_preset[n]);
    image.Read(EBlock::Status, s.m_status);
    image.Read(EBlock::Version, s.m_version);
    image.Read(EBlock::ProductID, s.m_productID);
    s.m_bVersionRcvd = image.m_bVersionRcvd.load() != 0;
    s.m_bProductIDRcvd = image.m_bProductIDRcvd.load() != 0;
    uint8_t mode = image.m_byControlMode.load();
    s.m_nControlMode = mode == CDeviceImage::kNoControlMode ? -1 : mode;
    return s;
}

namespace {

const char* Pair(uint8_t by, const char* pszZero, const char* pszOther) { return by ? pszOther : pszZero; }

std::string OnOff(uint8_t by) { return by == 0 ? "off" : by == 1 ? "on" : "? (" + std::to_string(by) + ")"; }

std::string Item(const char* const* items, int nCount, int i) {
    return i >= 0 && i < nCount ? items[i] : "? (" + std::to_string(i) + ")";
}

std::string TwoDigits(int tens, int units) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", tens * 10 + units);
    return buf;
}

}  // namespace

CLabelledLines SystemSettingsText(const uint8_t* s, const uint8_t (*pPresets)[qz::kPresetSize]) {
    static const char* const kAudio[] = {"1-2", "3-4", "5-6", "7-8"};
    CLabelledLines lines;
    lines.emplace_back("Direction", Pair(s[1], "SDI -> IEEE1394", "IEEE1394 -> SDI"));
    lines.emplace_back("SDI Audio Channel", Item(kAudio, 4, s[3]));
    std::string preset = s[5] < qz::kPresetCount && pPresets ? qz::PresetSummaryLine(s[5], pPresets[s[5]])
                                                             : "? (" + std::to_string(s[5]) + ")";
    lines.emplace_back("Preset", preset);
    lines.emplace_back("Control Mode", Pair(s[7], "Local", "Remote"));
    lines.emplace_back("IEEE1394 Unit Type", Pair(s[9], "Camera", "Recorder"));
    lines.emplace_back("Default Frame Rate", Pair(s[21], "59.94Hz", "50Hz"));
    lines.emplace_back("IEEE1394 Sync Operation", OnOff(s[11]));
    lines.emplace_back("IEEE1394 Audio SRC", OnOff(s[13]));
    lines.emplace_back("IEEE1394 Format Fix", OnOff(s[23]));
    lines.emplace_back("SDI Input Remote", OnOff(s[17]));
    lines.emplace_back("FAN", OnOff(s[15]));
    return lines;
}

CLabelledLines TimecodeSettingsText(const uint8_t* t) {
    CLabelledLines lines;
    std::string preset = TwoDigits(t[6] & 3, t[7] & 0xF) + ":" + TwoDigits(t[4] & 7, t[5] & 0xF) + ":" +
                         TwoDigits(t[2] & 7, t[3] & 0xF) + ":" + TwoDigits(t[0] & 3, t[1] & 0xF);
    struct Flag {
        const char* name;
        int byte, bit;
    };
    const Flag flags[] = {{"S6", 6, 3}, {"S5", 6, 2}, {"S4", 4, 3}, {"S3", 2, 3}, {"S2", 0, 3}, {"S1", 0, 2}};
    for (const Flag& f : flags) preset += std::string("  ") + f.name + (t[f.byte] >> f.bit & 1 ? " on" : " off");
    lines.emplace_back("Timecode Preset", preset);
    // BG8 … BG1 from left to right, as the dialog shows them.
    const int ub[] = {14, 15, 12, 13, 10, 11, 8, 9};
    std::string bits;
    for (int i = 0; i < 8; ++i) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%sBG%d=%X", i ? " " : "", 8 - i, t[ub[i]] & 0xF);
        bits += buf;
    }
    lines.emplace_back("Userbit Preset", bits);
    lines.emplace_back("Timecode Offset", TwoDigits(t[22] & 3, t[23] & 0xF) + ":" + TwoDigits(t[20] & 7, t[21] & 0xF) +
                                              ":" + TwoDigits(t[18] & 7, t[19] & 0xF) + ":" +
                                              TwoDigits(t[16] & 3, t[17] & 0xF));
    for (int n = 0; n < 2; ++n) {
        int line480 = (t[36 + 2 * n] & 0xF) * 16 + (t[37 + 2 * n] & 0xF);
        int line576 = (t[40 + 2 * n] & 0xF) * 16 + (t[41 + 2 * n] & 0xF);
        char buf[96];
        std::snprintf(buf, sizeof buf, "Generate %s, 480i Insert Postion %d(%d), 576i Insert Postion %d(%d)",
                      t[33 + 2 * n] & 1 ? "on" : "off", line480, line480 + 263, line576, line576 + 313);
        lines.emplace_back(n == 0 ? "SD-SDI DVITC #1" : "SD-SDI DVITC #2", buf);
    }
    // The four mode lists, with the dialog's labels and items.
    for (qz::ETimecodeList e : {qz::kTcInputType, qz::kTcDropFrame, qz::kTcGenerate, qz::kTcUserbitGenerate}) {
        const qz::CTimecodeList& f = qz::kTimecodeLists[e];
        const int i = t[f.nOffset] & 0xF;
        const std::string strItem = qz::ItemText(f.items, i);
        lines.emplace_back(f.pszLabel, strItem.empty() ? "? (" + std::to_string(i) + ")" : strItem);
    }
    return lines;
}

CStatusTexts StatusTexts(const uint8_t* pStatus) {
    CStatusTexts t;
    t.m_strTimecode = qz::TimecodeText(pStatus);
    t.m_strVideoFormat = qz::VideoFormatName(qz::VideoFormatCode(pStatus));
    t.m_strPower = qz::PowerText(pStatus);
    t.m_strIEEE1394 = qz::IEEE1394FormatText(pStatus).text;
    return t;
}
