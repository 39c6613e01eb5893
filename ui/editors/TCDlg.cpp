#include "ui/editors/TCDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "protocol/device/DeviceImage.h"
#include "protocol/device/DeviceOwner.h"
#include "protocol/wire/QZ81KTMidiOut.h"
#include "ui/editors/EditorControls.h"
#include "ui/main/UiServices.h"
#include "ui_TCDlg.h"

using namespace qz;

CTCDlg::CTCDlg(CDeviceOwner* pMainDlg, QWidget* pParent)
    : QDialog(pParent), m_pMainDlg(pMainDlg), m_pUi(std::make_unique<Ui::CTCDlg>()) {
    m_pUi->setupUi(this);
    Ui::CTCDlg& u = *m_pUi;
    // The controls in the order of the field tables.
    QComboBox* const lists[kTimecodeListCount] = {
        u.IDC_TC_PRESET_HOUR, u.IDC_TC_PRESET_MIN, u.IDC_TC_PRESET_SEC, u.IDC_TC_PRESET_FRAME,
        u.IDC_TC_BG8,         u.IDC_TC_BG7,        u.IDC_TC_BG6,        u.IDC_TC_BG5,
        u.IDC_TC_BG4,         u.IDC_TC_BG3,        u.IDC_TC_BG2,        u.IDC_TC_BG1,
        u.IDC_TC_OFFSET_HOUR, u.IDC_TC_OFFSET_MIN, u.IDC_TC_OFFSET_SEC, u.IDC_TC_OFFSET_FRAME,
        u.IDC_TC_DVITC1_480,  u.IDC_TC_DVITC2_480, u.IDC_TC_DVITC1_576, u.IDC_TC_DVITC2_576,
        u.IDC_TC_INPUT_TYPE,  u.IDC_TC_DROP_FRAME, u.IDC_TC_GENERATE,   u.IDC_TC_USERBIT_GENERATE,
    };
    QCheckBox* const checks[kTimecodeCheckCount] = {
        u.IDC_TC_S6, u.IDC_TC_S5, u.IDC_TC_S4, u.IDC_TC_S3, u.IDC_TC_S2, u.IDC_TC_S1,
        u.IDC_TC_DVITC1_GENERATE, u.IDC_TC_DVITC2_GENERATE,
    };
    std::copy(std::begin(lists), std::end(lists), m_pList);
    std::copy(std::begin(checks), std::end(checks), m_pCheck);
    m_pApply = u.IDC_APPLY;

    for (int e = 0; e < kTimecodeListCount; ++e) {
        const CTimecodeList& f = kTimecodeLists[e];
        FillList(m_pList[e], f.items, f.items.nCount);
        NameControl(m_pList[e], f.pszGroup, f.pszLabel);
        connect(m_pList[e], &QComboBox::currentIndexChanged, this, &CTCDlg::OnChange);
    }
    // The DVITC lists share their row's label with the other column. A list's label is
    // told to screen readers only through a label that names it as its buddy, so each
    // gets an unseen one with its column and row.
    for (ETimecodeList e : {kTcDvitc1Line480, kTcDvitc2Line480, kTcDvitc1Line576, kTcDvitc2Line576}) {
        auto* pLabel = new QLabel(m_pList[e]->accessibleName(), m_pList[e]->parentWidget());
        pLabel->setBuddy(m_pList[e]);
        pLabel->hide();
    }
    for (int e = 0; e < kTimecodeCheckCount; ++e) {
        NameControl(m_pCheck[e], kTimecodeChecks[e].pszGroup, kTimecodeChecks[e].pszLabel);
        // toggled, not clicked: a screen reader's toggle action emits only toggled.
        connect(m_pCheck[e], &QCheckBox::toggled, this, &CTCDlg::OnChange);
    }
    connect(u.IDOK, &QPushButton::clicked, this, &CTCDlg::accept);
    connect(u.IDCANCEL, &QPushButton::clicked, this, &CTCDlg::reject);
    connect(m_pApply, &QPushButton::clicked, this, &CTCDlg::OnApply);

    m_pMainDlg->Image().Read(EBlock::Timecode, m_savedTimecode);
    LoadControls();
    m_pApply->setEnabled(false);
    m_pList[kTcPresetHour]->setFocus();  // the first control in the tab order, as a dialog starts
}

CTCDlg::~CTCDlg() = default;

void CTCDlg::LoadControls() {
    uint8_t t[kTimecodeSize];
    m_pMainDlg->Image().Read(EBlock::Timecode, t);
    const CTimecodeControls c = LoadTimecodeControls(t);
    m_bLoading = true;
    for (int e = 0; e < kTimecodeListCount; ++e) SetListIndex(m_pList[e], c.nList[e]);
    for (int e = 0; e < kTimecodeCheckCount; ++e) m_pCheck[e]->setChecked(c.bCheck[e]);
    m_bLoading = false;
}

void CTCDlg::SaveControls() {
    CTimecodeControls c;
    for (int e = 0; e < kTimecodeListCount; ++e) c.nList[e] = ListIndex(m_pList[e]);
    for (int e = 0; e < kTimecodeCheckCount; ++e) c.bCheck[e] = m_pCheck[e]->isChecked();
    // Read, pack, write: the bytes no control owns stay as the image holds them now.
    CDeviceImage& img = m_pMainDlg->Image();
    uint8_t t[kTimecodeSize];
    img.Read(EBlock::Timecode, t);
    SaveTimecodeControls(c, t);
    img.Write(EBlock::Timecode, t);
}

void CTCDlg::OnChange() {
    if (!m_bLoading) m_pApply->setEnabled(true);
}

bool CTCDlg::SaveAndSend() {
    SaveControls();
    CDeviceImage& img = m_pMainDlg->Image();
    uint8_t t[kTimecodeSize];
    img.Read(EBlock::Timecode, t);
    return SendDT1(m_pMainDlg->MidiOut(), img.m_byDeviceID.load(), kAddrTimecode, t, sizeof t) != 0;
}

// As in the preset editor: a refused send keeps the edits in the image and is told.
void CTCDlg::accept() {
    const bool bSent = SaveAndSend();
    if (!bSent) UiServices().MessageBox(this, RefusedSendText());
    QDialog::accept();
}

void CTCDlg::OnApply() {
    const bool bSent = SaveAndSend();
    m_pApply->setEnabled(false);
    m_pMainDlg->Image().Read(EBlock::Timecode, m_savedTimecode);
    if (!bSent) UiServices().MessageBox(this, RefusedSendText());
}

void CTCDlg::reject() {
    m_pMainDlg->Image().Write(EBlock::Timecode, m_savedTimecode);
    QDialog::reject();
}
