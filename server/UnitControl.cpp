#include "server/UnitControl.h"

#include <limits>

#include "protocol/device/DeviceSession.h"
#include "protocol/fields/OperatorMessages.h"
#include "protocol/fields/StatusText.h"
#include "protocol/fields/SystemSettings.h"

namespace {

const char* const kLinkDown = "the unit's link is down";

bool FitsInt(int64_t n) { return n >= std::numeric_limits<int>::min() && n <= std::numeric_limits<int>::max(); }

std::string Joined(const std::vector<std::string>& reasons) {
    std::string why;
    for (const std::string& r : reasons) why += (why.empty() ? "" : "; ") + r;
    return why;
}

// What to answer for a write that did not go out: the port's refusal is the window's message.
std::string Unsent(CDeviceSession::ESend eSend, const std::string& strRuleNow) {
    if (eSend == CDeviceSession::ESend::Sent) return {};
    // Refused: the device changed between the check and the write.
    return eSend == CDeviceSession::ESend::Refused && !strRuleNow.empty() ? strRuleNow
                                                                          : std::string(qz::kRefusedSendText);
}

}  // namespace

std::string CUnitControl::Refusal(const CDeviceSession& session, const CUnitWrite& w) {
    if (!session.IsLinkUp()) return kLinkDown;
    if (!FitsInt(w.nValue)) return "no such value: " + std::to_string(w.nValue);
    const int nValue = static_cast<int>(w.nValue);
    if (w.eKind == CUnitWrite::EKind::Setting) {
        if (w.nField < 0 || w.nField >= qz::kSystemSettingCount) return "no such setting";
        const auto refusals = session.SettingRefusals({{&qz::kSystemSettings[w.nField], nValue}});
        return refusals.empty() ? std::string() : refusals.front().strReason;
    }
    return Joined(session.PresetRefusals(w.nPreset, {{w.eKind == CUnitWrite::EKind::PresetHex, w.nField, nValue}}));
}

bool CUnitControl::SettingEnabled(const CDeviceSession& session, int nSetting) {
    const qz::CSystemSetting& s = qz::kSystemSettings[nSetting];
    for (int v = 0; v < s.names.nCount; ++v)
        if (!Refusal(session, {CUnitWrite::EKind::Setting, 0, nSetting, v}).empty()) return false;
    return true;
}

bool CUnitControl::PresetEditable(const CDeviceSession& session, std::string* pWhy) {
    std::string why = session.IsLinkUp() ? std::string() : kLinkDown;
    if (why.empty()) why = Joined(session.PresetRefusals(0, {}));
    if (pWhy) *pWhy = why;
    return why.empty();
}

std::string CUnitControl::Write(CDeviceSession& session, const CUnitWrite& w, qz::EBlock& eReadBack) {
    if (std::string why = Refusal(session, w); !why.empty()) return why;
    if (w.eKind != CUnitWrite::EKind::Setting)
        return SavePreset(session, w.nPreset,
                          {{w.eKind == CUnitWrite::EKind::PresetHex, w.nField, static_cast<int>(w.nValue)}}, eReadBack);
    eReadBack = qz::EBlock::System;
    session.Image().ForgetReply(eReadBack);
    const auto eSend = session.WriteSettings({{&qz::kSystemSettings[w.nField], static_cast<int>(w.nValue)}});
    return eSend == CDeviceSession::ESend::Sent ? std::string() : Unsent(eSend, Refusal(session, w));
}

std::string CUnitControl::SavePreset(CDeviceSession& session, int nPreset, const std::vector<CPresetFieldChoice>& fields,
                                     qz::EBlock& eReadBack) {
    if (!session.IsLinkUp()) return kLinkDown;
    if (std::string why = Joined(session.PresetRefusals(nPreset, fields)); !why.empty()) return why;
    eReadBack = qz::PresetBlock(nPreset);
    session.Image().ForgetReply(eReadBack);
    const auto eSend = session.SavePreset(nPreset, fields);
    return eSend == CDeviceSession::ESend::Sent ? std::string()
                                                : Unsent(eSend, Joined(session.PresetRefusals(nPreset, fields)));
}

std::string CUnitControl::WriteFlash(CDeviceSession& session) {
    if (!session.IsLinkUp()) return qz::kMustConnectText;
    if (std::string why = session.FlashRefusal(); !why.empty()) return why;
    return session.WriteFlash() == CDeviceSession::ESend::Sent ? std::string() : std::string(qz::kRefusedSendText);
}

std::string CUnitControl::WriteLogLine(const std::string& strClient, const std::string& strUnit,
                                      const std::string& strName, const std::string& strValue, bool bReadBack) {
    return "qz81kt: " + strClient + " wrote " + strUnit + " " + strName +
           (bReadBack ? " = " + strValue + " (read back)" : ": no read-back; answered " + strValue);
}

std::string CUnitControl::RefusedLogLine(const std::string& strClient, const std::string& strUnit,
                                        const std::string& strName, const std::string& strWhy) {
    return "qz81kt: " + strClient + " refused " + strUnit + " " + strName + ": " + strWhy;
}

std::string CUnitControl::FlashLogLine(const std::string& strClient, const std::string& strUnit, bool bSent) {
    return "qz81kt: " + strClient + (bSent ? " wrote " : " could not write ") + strUnit + " to flash";
}

std::string CUnitControl::FoundLogLine(const std::string& strUnit, const std::string& strProductID,
                                      const std::string& strInPort) {
    return "qz81kt: " + strUnit + " found: " + strProductID + " on " + strInPort;
}

std::string CUnitControl::OnlineLogLine(const std::string& strUnit, bool bOnline, const std::string& strInPort) {
    return "qz81kt: " + strUnit + (bOnline ? " online on " + strInPort : std::string(" offline"));
}

CUnitStatus CUnitControl::Status(const CDeviceSession& session) {
    CUnitStatus s;
    s.bLink = session.IsLinkUp();
    uint8_t st[qz::kStatusSize];
    if (session.ReadReceived(qz::EBlock::Status, st, sizeof st)) {
        s.bStatus = true;
        s.strTimecode = qz::TimecodeText(st);
        s.strVideoFormat = qz::VideoFormatName(qz::VideoFormatCode(st));
        s.strIEEE1394 = qz::IEEE1394FormatText(st).text;
        s.strPower = qz::PowerText(st);
        s.nIndicator1 = qz::SteadyLampState(st[46]);
        s.nIndicator2 = qz::SteadyLampState(st[47]);
    }
    uint8_t byMode = 0;
    if (session.ReadReceived(qz::EBlock::ControlMode, &byMode, 1)) {
        s.bMode = true;
        s.bRemote = (byMode & 1) != 0;
        s.strControlMode = qz::ControlModeText(s.bRemote);
        s.strModeSwitches = qz::ModeSwitchText(byMode);
    }
    return s;
}

std::optional<int> CUnitControl::SettingValue(const CDeviceSession& session, int nSetting) {
    uint8_t sys[qz::kSystemSize];
    if (!session.ReadReceived(qz::EBlock::System, sys, sizeof sys)) return std::nullopt;
    const qz::CSystemSetting& s = qz::kSystemSettings[nSetting];
    const int n = qz::SettingValueIndex(s, sys[s.nOffset]);
    if (n == qz::kNoSelection) return std::nullopt;
    return n;
}
