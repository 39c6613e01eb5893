// Main window: the device commands (one system byte each, the default frame rate, the
// fixed command frames, update mode) and the gates of the three secondary dialogs.
#include <QAbstractButton>
#include <QPushButton>
#include <algorithm>

#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/fields/OperatorMessages.h"
#include "ui/editors/EditorControls.h"
#include "ui/editors/PresetDlg.h"
#include "ui/editors/ServiceDlg.h"
#include "ui/editors/TCDlg.h"
#include "ui/main/UiServices.h"
#include "ui/main/SystemByteControls.h"
#include "ui/main/UtilQZ81KTDlg.h"
#include "ui/widgets/BmpButton.h"
#include "ui/widgets/ButtonCommand.h"
#include "ui/widgets/ControlId.h"

namespace {

using qz::kSysFrameRate, qz::kSysPreset;

const QString kMustConnect = QString::fromLatin1(qz::kMustConnectText);
const QString kCannotRequest = QString::fromLatin1(qz::kRequestRefusedText);

constexpr int kFactoryResetPauseMs = 1000;

}  // namespace

void CUtilQZ81KTDlg::ConnectCommands() {
    for (const CSystemByteCommand& c : kSystemByteCommands) {
        QAbstractButton* pButton = Button(c.nId);
        qz::ConnectButtonCommand(pButton, [this, c, pButton] {
            OnSystemByte(c.nOffset, c.nValue == kCheckState ? (pButton->isChecked() ? 1 : 0) : c.nValue);
        });
    }
    qz::ConnectButtonCommand(Button(IDC_RATE_5994), [this] { OnFrameRate(0); });
    qz::ConnectButtonCommand(Button(IDC_RATE_50), [this] { OnFrameRate(1); });
    auto onClick = [this](int nId, void (CUtilQZ81KTDlg::*pfn)()) {
        connect(Button(nId), &QAbstractButton::clicked, this, pfn);
    };
    onClick(IDC_WRITE_FLASH, &CUtilQZ81KTDlg::OnWriteFlash);
    onClick(IDC_FACTORY_RESET, &CUtilQZ81KTDlg::OnFactoryReset);
    onClick(IDC_EDIT_PRESET, &CUtilQZ81KTDlg::OnEditPreset);
    onClick(IDC_TC, &CUtilQZ81KTDlg::OnTimecode);
    onClick(IDC_FOR_SERVICE, &CUtilQZ81KTDlg::OnForService);
}

void CUtilQZ81KTDlg::OnSystemByte(int nOffset, int nValue) {
    // The image keeps the new value whatever the send does; the read-back corrects it.
    m_session.Image().WriteByte(qz::EBlock::System, static_cast<size_t>(nOffset), static_cast<uint8_t>(nValue));
    SendSystemBlock();
}

int CUtilQZ81KTDlg::SendSystemBlock() {
    uint8_t sys[qz::kSystemSize];
    m_session.Image().Read(qz::EBlock::System, sys);
    uint8_t id = m_session.Image().m_byDeviceID.load();
    int nResult = qz::SendDT1(m_session.MidiOut(), id, qz::kAddrSystem, sys, sizeof sys);
    if (nResult) nResult = qz::SendRQ1(m_session.MidiOut(), id, qz::kAddrSystem, qz::kSystemSize);
    if (!nResult) ShowMessage(qz::RefusedSendText());
    return nResult;
}

void CUtilQZ81KTDlg::OnFrameRate(int nValue) {
    // While an input fixes the frame rate the byte is left alone; everything is read again.
    const CDeviceImage& img = m_session.Image();
    if (!img.m_bRateFromSdi.load() && !img.m_bRateFrom1394.load()) OnSystemByte(kSysFrameRate, nValue);
    if (!qz::RequestAll(m_session.MidiOut(), img.m_byDeviceID.load())) ShowMessage(kCannotRequest);
}

bool CUtilQZ81KTDlg::CheckLinkUp() {
    if (m_session.Image().m_bLinkUp.load()) return true;
    ShowMessage(kMustConnect);
    return false;
}

void CUtilQZ81KTDlg::OnWriteFlash() {
    if (!CheckLinkUp()) return;
    m_session.MidiOut().SendLongMsg(qz::kWriteFlashFrame, sizeof qz::kWriteFlashFrame);
}

void CUtilQZ81KTDlg::OnFactoryReset() {
    if (!CheckLinkUp()) return;
    if (!qz::UiServices().AskYesNo(this, QStringLiteral("Are you sure?"))) return;
    CWaitCursor wait;
    m_session.MidiOut().SendLongMsg(qz::kFactoryResetFrame, sizeof qz::kFactoryResetFrame);
    qz::UiServices().Pause(kFactoryResetPauseMs);
    if (!qz::RequestAll(m_session.MidiOut(), m_session.Image().m_byDeviceID.load())) ShowMessage(kCannotRequest);
    BlankDisplay();
    for (CBmpButton* pLamp : {m_pLinkLed, m_pLed2, m_pLed1}) SetLamp(pLamp, kLampOff);
    // The link stays up until the timer notices the silence.
    StopPorts();
    ShowMessage(QStringLiteral("Please Reboot QZ-81KT ..."));
}

void CUtilQZ81KTDlg::EnterUpdateMode() {
    if (!CheckLinkUp()) return;
    m_session.DropLink();
    BlankDisplay();
    ResetLamps();
    m_session.MidiOut().SendLongMsg(qz::kUpdateModeFrame, sizeof qz::kUpdateModeFrame);
    UpdateControlEnable();
}

void CUtilQZ81KTDlg::OnEditPreset() {
    const CDeviceImage& img = m_session.Image();
    if (!img.m_bAllPresetsRcvd.load()) return ShowMessage(QStringLiteral("No Recieve, Preset parameter yet"));
    m_nEditPreset = std::min<int>(img.ReadByte(qz::EBlock::System, kSysPreset), qz::kPresetCount - 1);
    RunPresetEditor();
}

void CUtilQZ81KTDlg::OnTimecode() {
    if (!m_session.Image().m_bTimecodeRcvd.load())
        return ShowMessage(QStringLiteral("No Recieve, Timecode parameter yet"));
    RunTimecodeDialog();
}

void CUtilQZ81KTDlg::OnForService() {
    if (!CheckLinkUp()) return;
    RunServiceDialog();
}

// The editors run modally through UiServices().ExecDialog; their result is not used.
void CUtilQZ81KTDlg::RunPresetEditor() {
    CPresetDlg dlg(this, m_nEditPreset, this);
    qz::UiServices().ExecDialog(dlg);
}

void CUtilQZ81KTDlg::RunTimecodeDialog() {
    CTCDlg dlg(this, this);
    qz::UiServices().ExecDialog(dlg);
}

// Its 500 ms refresh runs only when the window's own timer does.
void CUtilQZ81KTDlg::RunServiceDialog() {
    CServiceDlg dlg(this, this, m_bStartTimer);
    qz::UiServices().ExecDialog(dlg);
}
