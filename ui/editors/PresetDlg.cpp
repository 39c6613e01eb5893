#include "ui/editors/PresetDlg.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <algorithm>

#include "protocol/device/DeviceImage.h"
#include "protocol/device/DeviceOwner.h"
#include "protocol/fields/PresetBlock.h"
#include "protocol/device/PresetOperations.h"
#include "protocol/wire/QZ81KTMidiOut.h"
#include "ui/editors/EditorControls.h"
#include "ui/main/UiServices.h"
#include "ui_PresetDlg.h"

using namespace qz;

CPresetDlg::CPresetDlg(CDeviceOwner* pMainDlg, int nEditPreset, QWidget* pParent)
    : QDialog(pParent), m_pMainDlg(pMainDlg), m_nEditPreset(nEditPreset), m_pUi(std::make_unique<Ui::CPresetDlg>()) {
    m_pUi->setupUi(this);
    // The controls in the order of the field tables.
    QComboBox* const lists[kPresetListCount] = {
        m_pUi->IDC_PRESET_CODEC, m_pUi->IDC_PRESET_RX_TYPE,    m_pUi->IDC_PRESET_HD,         m_pUi->IDC_PRESET_SD,
        m_pUi->IDC_PRESET_GOP,   m_pUi->IDC_PRESET_BPICT,      m_pUi->IDC_PRESET_CLOSED_GOP, m_pUi->IDC_PRESET_HSIZE,
        m_pUi->IDC_PRESET_AUDIO_RATE, m_pUi->IDC_PRESET_LPF,
    };
    QLineEdit* const fields[kPresetHexCount] = {
        m_pUi->IDC_PRESET_PMT,        m_pUi->IDC_PRESET_PCR,        m_pUi->IDC_PRESET_VIDEO_PID,
        m_pUi->IDC_PRESET_AUDIO_PID,  m_pUi->IDC_PRESET_PROGRAM_TX, m_pUi->IDC_PRESET_PROGRAM_RX,
    };
    std::copy(std::begin(lists), std::end(lists), m_pList);
    std::copy(std::begin(fields), std::end(fields), m_pHex);
    m_pTab = m_pUi->IDC_PRESET_TAB;
    m_pApply = m_pUi->IDC_APPLY;

    for (int e = 0; e < kPresetListCount; ++e) {
        const CPresetList& f = kPresetLists[e];
        // "LowLatency" is appended at the dialog start, and only when the device offers it.
        FillList(m_pList[e], f.items, PresetListItemCount(EPresetList(e), false));
        NameControl(m_pList[e], f.pszGroup, f.pszLabel, f.pszUnit);
        connect(m_pList[e], &QComboBox::currentIndexChanged, this, &CPresetDlg::OnChange);
    }
    for (int e = 0; e < kPresetHexCount; ++e) {
        const CPresetHexField& f = kPresetHexFields[e];
        NameControl(m_pHex[e], f.pszGroup, f.pszLabel, f.pszNote);
        connect(m_pHex[e], &QLineEdit::textChanged, this, &CPresetDlg::OnChange);
    }
    connect(m_pList[kListCodec], &QComboBox::currentIndexChanged, this, &CPresetDlg::UpdateEnables);
    connect(m_pUi->IDOK, &QPushButton::clicked, this, &CPresetDlg::accept);
    connect(m_pUi->IDCANCEL, &QPushButton::clicked, this, &CPresetDlg::reject);
    connect(m_pApply, &QPushButton::clicked, this, &CPresetDlg::OnApply);
    OnInitDialog();
}

CPresetDlg::~CPresetDlg() = default;

void CPresetDlg::OnInitDialog() {
    CDeviceImage& img = m_pMainDlg->Image();
    for (int n = 0; n < kPresetCount; ++n) img.Read(PresetBlock(n), m_savedPresets[n]);
    for (int n = 0; n < kPresetCount; ++n) m_pTab->addTab(QString::fromStdString(PresetName(n)));
    m_nEditPreset = std::clamp(m_nEditPreset, 0, kPresetCount - 1);
    m_pTab->setCurrentIndex(m_nEditPreset);
    connect(m_pTab, &QTabBar::currentChanged, this, &CPresetDlg::OnTabChange);
    if (img.m_bLowLatencyAvail.load())
        m_pList[kListCodec]->addItem(QString::fromStdString(ItemText(kPresetLists[kListCodec].items, kCodecLowLatency)));
    LoadControls();
    UpdateEnables();
    m_pApply->setEnabled(false);
    m_pTab->setFocus();  // the first control in the tab order, as a dialog starts
}

void CPresetDlg::LoadControls() {
    uint8_t p[kPresetSize];
    m_pMainDlg->Image().Read(PresetBlock(m_nEditPreset), p);
    m_bLoading = true;
    for (int e = 0; e < kPresetListCount; ++e)
        SetListIndex(m_pList[e], PresetListIndex(EPresetList(e), p, m_pList[e]->count()));
    m_bLoading = false;
    RefreshPacketIds();
}

void CPresetDlg::RefreshPacketIds() {
    uint8_t p[kPresetSize];
    m_pMainDlg->Image().Read(PresetBlock(m_nEditPreset), p);
    m_bLoading = true;
    for (int e = 0; e < kPresetHexCount; ++e)
        m_pHex[e]->setText(QString::fromStdString(FormatHex16(PresetHexValue(EPresetHex(e), p))));
    m_bLoading = false;
}

void CPresetDlg::SaveControls() {
    CDeviceImage& img = m_pMainDlg->Image();
    const EBlock eBlock = PresetBlock(m_nEditPreset);
    uint8_t p[kPresetSize];
    img.Read(eBlock, p);
    // Every field is saved, enabled or not; a list showing nothing keeps its stored value.
    for (int e = 0; e < kPresetListCount; ++e) SavePresetList(EPresetList(e), ListIndex(m_pList[e]), p);
    for (int e = 0; e < kPresetHexCount; ++e) SavePresetHex(EPresetHex(e), m_pHex[e]->text().toStdString(), p);
    img.Write(eBlock, p);
}

void CPresetDlg::UpdateEnables() {
    const int c = std::max(ListIndex(m_pList[kListCodec]), 0);
    for (int e = 0; e < kPresetListCount; ++e) m_pList[e]->setEnabled(PresetListEnabled(EPresetList(e), c));
    for (QLineEdit* pField : m_pHex) pField->setEnabled(PresetHexEnabled(c));
}

void CPresetDlg::OnChange() {
    if (!m_bLoading) m_pApply->setEnabled(true);
}

void CPresetDlg::OnTabChange(int nTab) {
    SaveControls();
    m_nEditPreset = std::clamp(nTab, 0, kPresetCount - 1);
    const bool bApply = m_pApply->isEnabled();
    LoadControls();
    UpdateEnables();
    m_pApply->setEnabled(bApply);
}

bool CPresetDlg::SaveAndSend() {
    SaveControls();
    CDeviceImage& img = m_pMainDlg->Image();
    int bSent = SendAllPresets(*m_pMainDlg);
    uint8_t sys[kSystemSize];
    img.Read(EBlock::System, sys);
    bSent &= SendDT1(m_pMainDlg->MidiOut(), img.m_byDeviceID.load(), kAddrSystem, sys, sizeof sys);
    for (int n = 0; n < kPresetCount; ++n) m_pMainDlg->UpdatePresetLine(n);
    return bSent != 0;
}

// A refused send leaves the edits in the image, as a sent one does; the operator is told
// that the device did not get them.
void CPresetDlg::accept() {
    const bool bSent = SaveAndSend();
    if (!bSent) UiServices().MessageBox(this, RefusedSendText());
    QDialog::accept();
}

void CPresetDlg::OnApply() {
    const bool bSent = SaveAndSend();
    CDeviceImage& img = m_pMainDlg->Image();
    for (int n = 0; n < kPresetCount; ++n) img.Read(PresetBlock(n), m_savedPresets[n]);
    RefreshPacketIds();
    m_pApply->setEnabled(false);
    if (!bSent) UiServices().MessageBox(this, RefusedSendText());
}

void CPresetDlg::reject() {
    CDeviceImage& img = m_pMainDlg->Image();
    for (int n = 0; n < kPresetCount; ++n) img.Write(PresetBlock(n), m_savedPresets[n]);
    QDialog::reject();
}
