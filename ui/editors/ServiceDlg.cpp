#include "ui/editors/ServiceDlg.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <algorithm>
#include <cstring>

#include "protocol/wire/DeviceFrames.h"
#include "protocol/device/DeviceImage.h"
#include "protocol/wire/QZ81KTMidiOut.h"
#include "protocol/fields/StatusText.h"
#include "ui/editors/EditorControls.h"
#include "ui/editors/ProductIDValidator.h"
#include "ui/main/UiServices.h"
#include "ui/main/UtilQZ81KTDlg.h"
#include "ui/widgets/ControlId.h"
#include "ui_ServiceDlg.h"

using namespace qz;

namespace {

// The dialog's own frames carry the device ID as a constant, as the device expects.
constexpr uint8_t kServiceDeviceID = 0x7F;

// Test block bits: check mode, then one per toggle in the order of CServiceDlg's toggles.
constexpr uint8_t kTestCheckMode = 0x40;
constexpr uint8_t kTestToggleBits[CServiceDlg::kTestToggleCount] = {0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

const QString kWriteError = QStringLiteral("Write Error!!!");
const QString kNeedSixteen = QStringLiteral("Please set Model-ID 16 chars !!!");

// Screen-reader names: the group's caption before the control's own label.
struct CServiceName {
    int nId;
    const char* pszGroup;
    const char* pszLabel;
};
constexpr CServiceName kServiceNames[] = {
    {IDC_SERVICE_PRODUCT_ID, "Product ID", "now"},
    {IDC_SERVICE_NEW_ID, "Product ID", "new"},
    {IDC_SERVICE_WRITE, "Product ID", "Write"},
    {IDOK, "Update Mode", "Go"},
    {IDC_SERVICE_IMPORT, "Parameter File", "Import"},
    {IDC_SERVICE_EXPORT, "Parameter File", "Export"},
    {IDC_SERVICE_MODE_SWITCHES, "", "SW123456"},
};

}  // namespace

CServiceDlg::CServiceDlg(CUtilQZ81KTDlg* pMainDlg, QWidget* pParent, bool bStartTimer)
    : QDialog(pParent), m_pMainDlg(pMainDlg), m_pUi(std::make_unique<Ui::CServiceDlg>()),
      m_byShownSwitches(CDeviceImage::kNoControlMode) {
    m_pUi->setupUi(this);
    Ui::CServiceDlg& u = *m_pUi;
    m_pNewID = u.IDC_SERVICE_NEW_ID;
    m_pCheckMode = u.IDC_SERVICE_CHECK_MODE;
    QCheckBox* const toggles[kTestToggleCount] = {u.IDC_SERVICE_TEST_FAN,  u.IDC_SERVICE_TEST_POWER,
                                                  u.IDC_SERVICE_TEST_LED1, u.IDC_SERVICE_TEST_LED2,
                                                  u.IDC_SERVICE_TEST_LED3, u.IDC_SERVICE_TEST_LED4};
    std::copy(std::begin(toggles), std::end(toggles), m_pToggle);
    NameControls();

    m_pNewID->setMaxLength(kProductIDSize);
    m_pNewID->setValidator(new CProductIDValidator(m_pNewID));

    // toggled, not clicked: a screen reader's toggle action emits only toggled.
    connect(m_pCheckMode, &QCheckBox::toggled, this, &CServiceDlg::OnCheckMode);
    for (QCheckBox* p : m_pToggle) connect(p, &QCheckBox::toggled, this, &CServiceDlg::OnTestToggle);
    connect(u.IDC_SERVICE_WRITE, &QPushButton::clicked, this, &CServiceDlg::OnWrite);
    connect(u.IDOK, &QPushButton::clicked, this, &CServiceDlg::OnGo);
    connect(u.IDCANCEL, &QPushButton::clicked, this, &CServiceDlg::reject);
    connect(u.IDC_SERVICE_IMPORT, &QPushButton::clicked, m_pMainDlg, &CUtilQZ81KTDlg::OnParameterImport);
    connect(u.IDC_SERVICE_EXPORT, &QPushButton::clicked, m_pMainDlg, &CUtilQZ81KTDlg::OnParameterExport);

    uint8_t productID[kProductIDCopySize];
    m_pMainDlg->Image().Read(EBlock::ProductID, productID);
    const char* psz = reinterpret_cast<const char*>(productID);
    u.IDC_SERVICE_PRODUCT_ID->setText(QString::fromLatin1(psz, qstrnlen(psz, kProductIDSize)));

    m_timer.setInterval(kRefreshMs);
    connect(&m_timer, &QTimer::timeout, this, &CServiceDlg::OnTimer);
    if (bStartTimer) m_timer.start();
    // The switches are shown once this is answered (the main window's polling also asks).
    SendRQ1(m_pMainDlg->MidiOut(), kServiceDeviceID, kAddrControlMode, kControlModeSize);
}

CServiceDlg::~CServiceDlg() { SwitchTestOff(m_pMainDlg); }

void CServiceDlg::NameControls() {
    for (const CServiceName& n : kServiceNames)
        if (QWidget* p = FindControl(this, n.nId)) NameControl(p, n.pszGroup, n.pszLabel);
}

void CServiceDlg::done(int nResult) {
    SwitchTestOff(this);
    QDialog::done(nResult);
}

void CServiceDlg::OnTimer() {
    const uint8_t by = m_pMainDlg->Image().m_byControlMode.load(std::memory_order_acquire);
    if (by == m_byShownSwitches) return;
    m_byShownSwitches = by;
    m_pUi->IDC_SERVICE_MODE_SWITCHES->setText(QString::fromStdString(ModeSwitchText(by)));
}

void CServiceDlg::OnWrite() {
    const QString strID = m_pNewID->text();
    // The field's rule holds for typing and pasting; the text is checked again here since
    // a text set from code passes no validator.
    const bool bPrintable = std::all_of(strID.begin(), strID.end(), CProductIDValidator::IsAllowed);
    if (strID.size() != kProductIDSize || !bPrintable) return UiServices().MessageBox(this, kNeedSixteen);
    const QByteArray id = strID.toLatin1();
    uint8_t frame[kDT1Overhead + kProductIDSize];
    const size_t n = BuildDT1(frame, sizeof frame, kServiceDeviceID, kAddrProductID,
                              reinterpret_cast<const uint8_t*>(id.constData()), kProductIDSize);
    CQZ81KTMidiOut& out = m_pMainDlg->MidiOut();
    if (!out.SendLongMsg(frame, n)) return UiServices().MessageBox(this, kWriteError);
    SendRQ1(out, kServiceDeviceID, kAddrProductID, kProductIDSize);
    accept();
}

void CServiceDlg::OnGo() {
    // The dialog closes even when the main window refused because the link is down.
    m_pMainDlg->EnterUpdateMode();
    accept();
}

void CServiceDlg::OnCheckMode() {
    const bool bOn = m_pCheckMode->isChecked();
    for (QCheckBox* p : m_pToggle) {
        const QSignalBlocker block(p);
        p->setChecked(false);
        p->setEnabled(bOn);
    }
    SendTestBits(bOn ? kTestCheckMode : 0x00, this);
}

void CServiceDlg::OnTestToggle() {
    uint8_t by = kTestCheckMode;  // the toggles are enabled only in check mode
    for (int i = 0; i < kTestToggleCount; ++i)
        if (m_pToggle[i]->isChecked()) by |= kTestToggleBits[i];
    SendTestBits(by, this);
}

void CServiceDlg::SendTestBits(uint8_t byValue, QWidget* pMessageParent) {
    uint8_t frame[kDT1Overhead + 1];
    const size_t n = BuildDT1(frame, sizeof frame, kServiceDeviceID, kAddrTest, &byValue, 1);
    if (!m_pMainDlg->MidiOut().SendLongMsg(frame, n)) UiServices().MessageBox(pMessageParent, kWriteError);
}

void CServiceDlg::SwitchTestOff(QWidget* pMessageParent) {
    if (m_bTestSwitchedOff) return;
    m_bTestSwitchedOff = true;
    m_timer.stop();
    SendTestBits(0x00, pMessageParent);
}
