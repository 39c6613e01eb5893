#include "protocol/fields/SystemSettings.h"

#include "protocol/wire/BlockLayout.h"
#include "protocol/fields/StatusText.h"

namespace qz {

namespace {

const char* const kDirectionNames[] = {"sdi-ieee1394", "ieee1394-sdi"};
const char* const kDirectionCaptions[] = {"SDI -> IEEE1394", "IEEE1394 -> SDI"};
const char* const kAudioWords[] = {"1-2", "3-4", "5-6", "7-8"};
const char* const kControlNames[] = {"local", "remote"};
const char* const kControlCaptions[] = {"Local", "Remote"};
const char* const kUnitNames[] = {"camera", "recorder"};
const char* const kUnitCaptions[] = {"Camera", "Recorder"};
const char* const kRateNames[] = {"59.94", "50"};
const char* const kRateCaptions[] = {"59.94Hz", "50Hz"};
const char* const kOnOff[] = {"off", "on"};

constexpr CItemList Words(const char* const* ppWords, int nCount) {
    return {.eStyle = EItemStyle::Words, .nCount = nCount, .ppWords = ppWords};
}
constexpr CItemList kNoCaptions = {.eStyle = EItemStyle::Words, .nCount = 0};
constexpr CItemList kOnOffList = Words(kOnOff, 2);

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

// In the order in which the reports list them.
const CSystemSetting kSystemSettings[kSystemSettingCount] = {
    {"direction", "Direction", kSysDirection, Words(kDirectionNames, 2), Words(kDirectionCaptions, 2),
     ESettingRule::Ready, ESettingRead::Pair},
    {"audio", "SDI Audio Channel", kSysAudioChannels, Words(kAudioWords, 4), Words(kAudioWords, 4),
     ESettingRule::Ready, ESettingRead::Index},
    {"preset", "Preset", kSysPreset, {.eStyle = EItemStyle::Decimal, .nCount = kPresetCount, .nFirst = 0},
     kNoCaptions, ESettingRule::Ready, ESettingRead::Index},
    {"control-mode", "Control Mode", kSysRemote, Words(kControlNames, 2), Words(kControlCaptions, 2),
     ESettingRule::ControlMode, ESettingRead::Pair},
    {"unit", "IEEE1394 Unit Type", kSysUnitType, Words(kUnitNames, 2), Words(kUnitCaptions, 2),
     ESettingRule::Ready, ESettingRead::Pair},
    {"frame-rate", "Default Frame Rate", kSysFrameRate, Words(kRateNames, 2), Words(kRateCaptions, 2),
     ESettingRule::FrameRate, ESettingRead::Pair},
    {"sync", "IEEE1394 Sync Operation", kSysSyncOperation, kOnOffList, kOnOffList, ESettingRule::Ready,
     ESettingRead::Index},
    {"audio-src", "IEEE1394 Audio SRC", kSysAudioSrc, kOnOffList, kOnOffList, ESettingRule::Ready,
     ESettingRead::Index},
    {"format-fix", "IEEE1394 Format Fix", kSysFormatFix, kOnOffList, kOnOffList, ESettingRule::Ready,
     ESettingRead::Index},
    {"sdi-remote", "SDI Input Remote", kSysSdiInputRemote, kOnOffList, kOnOffList, ESettingRule::Ready,
     ESettingRead::Index},
    {"fan", "FAN", kSysFan, kOnOffList, kOnOffList, ESettingRule::Ready, ESettingRead::Index},
};

const CSystemSetting* FindSystemSetting(std::string_view strName) {
    for (const CSystemSetting& s : kSystemSettings)
        if (strName == s.pszName) return &s;
    return nullptr;
}

const CSystemSetting* SystemSettingAt(int nOffset) {
    for (const CSystemSetting& s : kSystemSettings)
        if (s.nOffset == nOffset) return &s;
    return nullptr;
}

bool SettingClickable(ESettingRule eRule, bool bLinkUp, bool bRemoteSelected, bool bSwitchRemote) {
    switch (eRule) {
        case ESettingRule::Ready:
        case ESettingRule::FrameRate: return bLinkUp && bRemoteSelected;
        case ESettingRule::ControlMode: return bLinkUp && !bSwitchRemote;
    }
    return false;
}

int SettingValueIndex(const CSystemSetting& setting, uint8_t byValue) {
    if (setting.eRead == ESettingRead::Pair) return byValue ? 1 : 0;
    return byValue < setting.names.nCount ? byValue : kNoSelection;
}

int FindSettingValue(const CSystemSetting& setting, std::string_view strValue) {
    for (int i = 0; i < setting.names.nCount; ++i)
        if (SameLetters(ItemText(setting.names, i), strValue)) return i;
    return kNoSelection;
}

std::string SettingValueList(const CSystemSetting& setting, const char* pszSeparator) {
    std::string s;
    for (int i = 0; i < setting.names.nCount; ++i) s += (i ? pszSeparator : "") + ItemText(setting.names, i);
    return s;
}

ERateLock FrameRateLock(const uint8_t (&system)[kSystemSize], const uint8_t (&status)[kStatusSize]) {
    const uint8_t byDirection = system[kSysDirection];
    if (byDirection == 0 && IsKnownVideoFormat(VideoFormatCode(status))) return ERateLock::Sdi;
    if (byDirection == 1 && IEEE1394FormatText(status).bValid) return ERateLock::IEEE1394;
    return ERateLock::None;
}

}  // namespace qz
