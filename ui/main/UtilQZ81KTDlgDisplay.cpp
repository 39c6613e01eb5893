// Main window: the status display (identity, system settings, live status, control
// mode) and the indicator lamps with their blink step.
#include <QAbstractButton>
#include <QThread>
#include <QLineEdit>
#include <QSignalBlocker>
#include <iterator>

#include "protocol/wire/BlockLayout.h"
#include "protocol/fields/PresetBlock.h"
#include "protocol/fields/StatusText.h"
#include "ui/main/UtilQZ81KTDlg.h"
#include "ui/main/WindowEvent.h"
#include "ui/widgets/BmpButton.h"
#include "ui/widgets/ControlId.h"

namespace {

using qz::kSysAudioChannels, qz::kSysDirection, qz::kSysFrameRate, qz::kSysPreset, qz::kSysRemote, qz::kSysUnitType;

// Radio groups, in value order.
constexpr int kDirection[] = {IDC_DIR_SDI_TO_1394, IDC_DIR_1394_TO_SDI};
constexpr int kAudioChannel[] = {IDC_SDI_CH_1_2, IDC_SDI_CH_3_4, IDC_SDI_CH_5_6, IDC_SDI_CH_7_8};
constexpr int kControlMode[] = {IDC_LOCAL, IDC_REMOTE};
constexpr int kUnitType[] = {IDC_UNIT_CAMERA, IDC_UNIT_RECORDER};
constexpr int kFrameRate[] = {IDC_RATE_5994, IDC_RATE_50};

struct CSystemCheck {
    int nOffset;
    int nId;
};
constexpr CSystemCheck kSystemChecks[] = {
    {qz::kSysSyncOperation, IDC_SYNC_OPERATION}, {qz::kSysAudioSrc, IDC_AUDIO_SRC}, {qz::kSysFan, IDC_FAN},
    {qz::kSysSdiInputRemote, IDC_SDI_INPUT_REMOTE}, {qz::kSysFormatFix, IDC_FORMAT_FIX},
};

constexpr int kRateEnableDisplays = 5;  // system displays in a row without a lock

// What a screen reader says about a lamp.
QString LampDescription(int nState) {
    const bool bKnown = nState >= 0 && nState < static_cast<int>(std::size(qz::kLampStateWords));
    return QString::fromLatin1(qz::kLampStateWords[bKnown ? nState : 0]);
}

}  // namespace

void CUtilQZ81KTDlg::OnReplyNotify(int wParam, int lParam) {
    switch (wParam) {
        case REPLY_STATUS: ShowStatus(lParam); break;
        case REPLY_IDENTITY: ShowIdentity(); break;
        case REPLY_SYSTEM: ShowSystem(); break;
        case REPLY_CONTROL_MODE: ShowControlMode(); break;
        default: break;
    }
}

void CUtilQZ81KTDlg::SetText(int nId, const QString& str) {
    // Most polls bring the same texts; an unchanged field is neither laid out nor painted
    // again, and keeps a selection the operator made in it.
    auto* pEdit = qobject_cast<QLineEdit*>(Control(nId));
    if (pEdit && pEdit->text() != str) pEdit->setText(str);
}

void CUtilQZ81KTDlg::BlankDisplay() {
    for (int nId : {IDC_IDENTITY, IDC_TIMECODE, IDC_POWER_STATUS, IDC_VIDEO_FORMAT, IDC_1394_FORMAT, IDC_MODE_SW6})
        SetText(nId, QStringLiteral(" -"));
    ClearPresetLines();
}

void CUtilQZ81KTDlg::ShowIdentity() {
    uint8_t version[qz::kVersionSize];
    uint8_t productID[qz::kProductIDCopySize];
    m_session.Image().Read(qz::EBlock::Version, version);
    m_session.Image().Read(qz::EBlock::ProductID, productID);
    SetText(IDC_IDENTITY, QString::fromStdString(qz::IdentityLine(m_session.Image().m_bVersionRcvd.load(),
                                                                   m_session.Image().m_bProductIDRcvd.load(), version,
                                                                   productID)));
}

void CUtilQZ81KTDlg::SetRadioGroup(std::span<const int> ids, int nSelected) {
    // Auto-exclusive buttons cannot all be cleared; a value outside the group clears all.
    int i = 0;
    for (int nId : ids) {
        QAbstractButton* pButton = Button(nId);
        QSignalBlocker block(pButton);
        pButton->setAutoExclusive(false);
        pButton->setChecked(i++ == nSelected);
        pButton->setAutoExclusive(true);
    }
}

void CUtilQZ81KTDlg::SetCheck(int nId, int nState) {
    QAbstractButton* pButton = Button(nId);
    QSignalBlocker block(pButton);
    pButton->setChecked(nState != 0);
}

bool CUtilQZ81KTDlg::RateButtonsEnabled() const { return Control(IDC_RATE_5994)->isEnabled(); }

void CUtilQZ81KTDlg::EnableRateButtons(bool bEnable) {
    Enable(IDC_RATE_5994, bEnable);
    Enable(IDC_RATE_50, bEnable);
}

void CUtilQZ81KTDlg::ShowSystem() {
    uint8_t sys[qz::kSystemSize];
    m_session.Image().Read(qz::EBlock::System, sys);
    m_session.Image().m_nDirection = sys[kSysDirection];
    SetRadioGroup(kDirection, sys[kSysDirection] ? 1 : 0);
    SetRadioGroup(kAudioChannel, sys[kSysAudioChannels]);
    SetRadioGroup(kPresetIds, sys[kSysPreset]);
    SetRadioGroup(kControlMode, sys[kSysRemote] ? 1 : 0);
    m_session.Image().m_bRemoteSelected = sys[kSysRemote] != 0;
    UpdateControlEnable();
    SetRadioGroup(kUnitType, sys[kSysUnitType] ? 1 : 0);

    // The frame-rate buttons come back after five system displays in a row without a lock;
    // a display that sees a lock starts the count again.
    bool bLocked = m_session.Image().m_bRateFromSdi.load() || m_session.Image().m_bRateFrom1394.load();
    if (!RateButtonsEnabled()) {
        if (bLocked)
            m_nRateEnableCount = 0;
        else if (++m_nRateEnableCount >= kRateEnableDisplays)
            EnableRateButtons(true);
    } else if (bLocked) {
        EnableRateButtons(false);
        m_nRateEnableCount = 0;
    }
    SetRadioGroup(kFrameRate, sys[kSysFrameRate] ? 1 : 0);
    for (const CSystemCheck& c : kSystemChecks) SetCheck(c.nId, sys[c.nOffset]);
}

void CUtilQZ81KTDlg::ShowStatus(int nMask) {
    uint8_t st[qz::kStatusSize];
    m_session.Image().Read(qz::EBlock::Status, st);
    // A lock disables the frame-rate buttons and starts their count of system displays
    // without a lock again, also while they are disabled already.
    auto lockRate = [this](bool bLocked) {
        if (!bLocked) return;
        if (RateButtonsEnabled()) EnableRateButtons(false);
        m_nRateEnableCount = 0;
    };
    if (nMask & qz::kStatusMaskTimecode) SetText(IDC_TIMECODE, QString::fromStdString(qz::TimecodeText(st)));
    if (nMask & qz::kStatusMaskVideoFormat) {
        int nCode = qz::VideoFormatCode(st);
        SetText(IDC_VIDEO_FORMAT, QString::fromStdString(qz::VideoFormatName(nCode)));
        bool bSdi = qz::IsKnownVideoFormat(nCode) && m_session.Image().m_nDirection.load() == 0;
        m_session.Image().m_bRateFromSdi = bSdi;
        lockRate(bSdi);
    }
    if (nMask & qz::kStatusMaskPower) SetText(IDC_POWER_STATUS, QString::fromStdString(qz::PowerText(st)));
    if (nMask & qz::kStatusMaskIndicators) {
        // An unchanged indicator is left alone: the blink step may be showing it.
        if (st[qz::kStIndicator1] != m_nLed1State) {
            m_nLed1State = st[qz::kStIndicator1];
            SetLamp(m_pLed1, qz::SteadyLampState(static_cast<uint8_t>(m_nLed1State)));
        }
        if (st[qz::kStIndicator2] != m_nLed2State) {
            m_nLed2State = st[qz::kStIndicator2];
            SetLamp(m_pLed2, qz::SteadyLampState(static_cast<uint8_t>(m_nLed2State)));
        }
    }
    if (nMask & qz::kStatusMask1394) {
        qz::IEEE1394Format format = qz::IEEE1394FormatText(st);
        bool b1394 = format.bValid && m_session.Image().m_nDirection.load() == 1;
        m_session.Image().m_bRateFrom1394 = b1394;
        SetText(IDC_1394_FORMAT, QString::fromStdString(format.text));
        lockRate(b1394);
    }
}

void CUtilQZ81KTDlg::ShowControlMode() {
    SetText(IDC_MODE_SW6, QString::fromStdString(qz::ControlModeText(m_session.Image().m_bRemote.load())));
}

void CUtilQZ81KTDlg::BlinkStep() {
    struct CLamp {
        CBmpButton* pLamp;
        int nState;
    };
    const CLamp lamps[] = {{m_pLed1, m_nLed1State}, {m_pLed2, m_nLed2State}};  // indicator 1 first
    auto toggle = [&](bool& bPhaseOn, bool (*takesPart)(uint8_t)) {
        bool bWasOn = bPhaseOn;
        bPhaseOn = !bPhaseOn;
        for (const CLamp& l : lamps) {
            uint8_t s = static_cast<uint8_t>(l.nState);
            if (takesPart(s)) SetLamp(l.pLamp, bWasOn ? kLampOff : qz::SteadyLampState(s));
        }
    };
    if (++m_nBlinkTicks > 5) {
        m_nBlinkTicks = 0;
        toggle(m_bSlowBlinkOn, &qz::TakesPartInSlowBlink);
    }
    if (m_nBlinkTicks > 2) toggle(m_bFastBlinkOn, &qz::TakesPartInFastBlink);
}

void CUtilQZ81KTDlg::SetLamp(CBmpButton* pLamp, int nState) {
    pLamp->SetState(nState);
    pLamp->setAccessibleDescription(LampDescription(pLamp->State()));
}

void CUtilQZ81KTDlg::ResetLamps() {
    for (CBmpButton* pLamp : {m_pLinkLed, m_pLed2, m_pLed1}) SetLamp(pLamp, kLampOff);
    m_nLed1State = 0;
    m_nLed2State = 0;
    m_nBlinkTicks = 0;
    m_bSlowBlinkOn = false;
    m_bFastBlinkOn = false;
}

void CUtilQZ81KTDlg::UpdatePresetLine(int nPreset) {
    if (QThread::currentThread() != thread()) return Post(CWindowEvent::kPresetLine, nPreset, 0);
    if (nPreset < 0 || nPreset >= qz::kPresetCount) return;
    uint8_t block[qz::kPresetSize];
    if (!m_session.Image().Read(qz::PresetBlock(nPreset), block)) return;
    Button(kPresetIds[nPreset])->setText(QString::fromStdString(qz::PresetSummaryLine(nPreset, block)));
}

void CUtilQZ81KTDlg::ClearPresetLines() {
    for (int i = 0; i < qz::kPresetCount; ++i)
        Button(kPresetIds[i])->setText(QString::fromStdString(qz::ClearedPresetLine(i)));
}
