#include "cli/DeviceReport.h"

#include <cstdio>
#include <mutex>

#include "protocol/BlockLayout.h"
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

// hh:mm:ss:ff of a time in a block.
std::string TimeText(const uint8_t* p) {
    const qz::CBlockTime t = qz::ReadBlockTime(p);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d:%02d", t.nHours, t.nMinutes, t.nSeconds, t.nFrames);
    return buf;
}

}  // namespace

CLabelledLines SystemSettingsText(const uint8_t* s, const uint8_t (*pPresets)[qz::kPresetSize]) {
    static const char* const kAudio[] = {"1-2", "3-4", "5-6", "7-8"};
    CLabelledLines lines;
    using namespace qz;
    lines.emplace_back("Direction", Pair(s[kSysDirection], "SDI -> IEEE1394", "IEEE1394 -> SDI"));
    lines.emplace_back("SDI Audio Channel", Item(kAudio, 4, s[kSysAudioChannels]));
    const uint8_t byPreset = s[kSysPreset];
    std::string preset = byPreset < kPresetCount && pPresets ? PresetSummaryLine(byPreset, pPresets[byPreset])
                                                             : "? (" + std::to_string(byPreset) + ")";
    lines.emplace_back("Preset", preset);
    lines.emplace_back("Control Mode", Pair(s[kSysRemote], "Local", "Remote"));
    lines.emplace_back("IEEE1394 Unit Type", Pair(s[kSysUnitType], "Camera", "Recorder"));
    lines.emplace_back("Default Frame Rate", Pair(s[kSysFrameRate], "59.94Hz", "50Hz"));
    lines.emplace_back("IEEE1394 Sync Operation", OnOff(s[kSysSyncOperation]));
    lines.emplace_back("IEEE1394 Audio SRC", OnOff(s[kSysAudioSrc]));
    lines.emplace_back("IEEE1394 Format Fix", OnOff(s[kSysFormatFix]));
    lines.emplace_back("SDI Input Remote", OnOff(s[kSysSdiInputRemote]));
    lines.emplace_back("FAN", OnOff(s[kSysFan]));
    return lines;
}

CLabelledLines TimecodeSettingsText(const uint8_t* t) {
    using namespace qz;
    CLabelledLines lines;
    std::string preset = TimeText(t + kTcPresetAt);
    struct Flag {
        const char* name;
        int byte, bit;
    };
    const Flag flags[] = {{"S6", 6, 3}, {"S5", 6, 2}, {"S4", 4, 3}, {"S3", 2, 3}, {"S2", 0, 3}, {"S1", 0, 2}};
    for (const Flag& f : flags)
        preset += std::string("  ") + f.name + (t[kTcPresetAt + f.byte] >> f.bit & 1 ? " on" : " off");
    lines.emplace_back("Timecode Preset", preset);
    // BG8 … BG1 from left to right, as the dialog shows them.
    const int ub[] = {6, 7, 4, 5, 2, 3, 0, 1};
    std::string bits;
    for (int i = 0; i < 8; ++i) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%sBG%d=%X", i ? " " : "", 8 - i, t[kTcUserBitsAt + ub[i]] & 0xF);
        bits += buf;
    }
    lines.emplace_back("Userbit Preset", bits);
    lines.emplace_back("Timecode Offset", TimeText(t + kTcOffsetAt));
    for (int n = 0; n < 2; ++n) {
        int line480 = Read8(t, kTcDvitcLine480At + 2 * n);
        int line576 = Read8(t, kTcDvitcLine576At + 2 * n);
        char buf[96];
        std::snprintf(buf, sizeof buf, "Generate %s, 480i Insert Postion %d(%d), 576i Insert Postion %d(%d)",
                      t[kTcDvitcGenerateAt + 2 * n] & 1 ? "on" : "off", line480, line480 + 263, line576, line576 + 313);
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
