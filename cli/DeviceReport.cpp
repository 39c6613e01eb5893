#include "cli/DeviceReport.h"

#include <cstdio>
#include <mutex>

#include "protocol/wire/BlockLayout.h"
#include "protocol/device/DeviceImage.h"
#include "protocol/fields/PresetBlock.h"
#include "protocol/fields/StatusText.h"
#include "protocol/fields/SystemSettings.h"
#include "protocol/fields/TimecodeBlock.h"

CImageSnapshot qz::TakeSnapshot(const CDeviceImage& image) {
    CImageSnapshot s;
    using qz::EBlock;
    image.Read(EBlock::System, s.m_system);
    image.Read(EBlock::Timecode, s.m_timecode);
    for (int n = 0; n < qz::kPresetCount; ++n) image.Read(qz::PresetBlock(n), s.m_preset[n]);
    image.Read(EBlock::Status, s.m_status);
    image.Read(EBlock::Version, s.m_version);
    image.Read(EBlock::ProductID, s.m_productID);
    s.m_bVersionRcvd = image.m_bVersionRcvd.load();
    s.m_bProductIDRcvd = image.m_bProductIDRcvd.load();
    uint8_t mode = image.m_byControlMode.load();
    s.m_nControlMode = mode == CDeviceImage::kNoControlMode ? -1 : mode;
    return s;
}

namespace {

std::string Unknown(int n) { return "? (" + std::to_string(n) + ")"; }

// hh:mm:ss:ff of a time in a block.
std::string TimeText(const uint8_t* p) {
    const qz::CBlockTime t = qz::ReadBlockTime(p);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d:%02d", t.nHours, t.nMinutes, t.nSeconds, t.nFrames);
    return buf;
}

}  // namespace

CLabelledLines qz::SystemSettingsText(const uint8_t* s, const uint8_t (*pPresets)[qz::kPresetSize]) {
    CLabelledLines lines;
    for (const qz::CSystemSetting& setting : qz::kSystemSettings) {
        const uint8_t by = s[setting.nOffset];
        std::string text;
        if (setting.captions.nCount == 0)  // the preset in use: its summary line
            text = by < qz::kPresetCount && pPresets ? qz::PresetSummaryLine(by, pPresets[by]) : Unknown(by);
        else if (int i = qz::SettingValueIndex(setting, by); i != qz::kNoSelection)
            text = qz::ItemText(setting.captions, i);
        else
            text = Unknown(by);
        lines.emplace_back(setting.pszCaption, text);
    }
    return lines;
}

CLabelledLines qz::TimecodeSettingsText(const uint8_t* t) {
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

CStatusTexts qz::StatusTexts(const uint8_t* pStatus) {
    CStatusTexts t;
    t.m_strTimecode = qz::TimecodeText(pStatus);
    t.m_strVideoFormat = qz::VideoFormatName(qz::VideoFormatCode(pStatus));
    t.m_strPower = qz::PowerText(pStatus);
    t.m_strIEEE1394 = qz::IEEE1394FormatText(pStatus).text;
    return t;
}
