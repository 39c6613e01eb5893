// Main window: start-up, port lists, Connect, the 100 ms link watch, control enabling
// and shutdown.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <algorithm>
#include <QThread>
#include <QTimer>

#include "midi/PortSelection.h"
#include "midi/platform/MidiDriver.h"
#include "protocol/fields/StatusText.h"
#include "protocol/fields/SystemSettings.h"
#include "ui/main/SystemByteControls.h"
#include "ui/main/TsanHandOver.h"
#include "ui/main/UiServices.h"
#include "ui/main/UtilQZ81KTDlg.h"
#include "ui/main/WindowEvent.h"
#include "ui/monitor/MidiMonitorWnd.h"
#include "ui/widgets/BackingStoreWarmUp.h"
#include "ui/widgets/BmpBtnBase.h"
#include "ui/widgets/BmpButton.h"
#include "ui/widgets/CachedPrimitiveStyle.h"
#include "ui/widgets/ControlId.h"
#include "ui/widgets/RadioGroupFocus.h"
#include "ui_UtilQZ81KTDlg.h"
#include "ProgramVersion.h"

namespace {

struct CLampPlace {
    int nId;
    int x, y;  // client position in pixels
    const char* pszName;
};
constexpr CLampPlace kLampPlaces[] = {
    {IDC_LED1, 69, 30, "Indicator 1"},
    {IDC_LED2, 277, 30, "Indicator 2"},
    {IDC_LINK_LED, 473, 130, "Link"},
};

// Shrinks a field's font until the sample fits its width (the template's Arial is
// narrower than the sans fonts a Linux desktop substitutes for it). Every size measured
// loads a font of its own, so widths are measured once at the format fields' size (which
// they load anyway) and scaled; the size chosen is checked, as hinting may round it a
// point too wide.
void FitFont(QLineEdit* pEdit, const QString& strFamily, int nPointSize, const QString& strSample) {
    constexpr int kSmallest = 8;
    constexpr int kMeasuredAt = 14;
    const int nRoom = pEdit->width() - 8;
    QFont font(strFamily, kMeasuredAt);
    // Plain Latin digits and signs need no shaping, and the timecode is laid out anew on
    // every poll.
    font.setStyleStrategy(QFont::PreferNoShaping);
    const int nWidth = std::max(1, QFontMetrics(font).horizontalAdvance(strSample));
    font.setPointSize(std::clamp(kMeasuredAt * nRoom / nWidth, kSmallest, nPointSize));
    while (font.pointSize() > kSmallest && QFontMetrics(font).horizontalAdvance(strSample) > nRoom)
        font.setPointSize(font.pointSize() - 1);
    pEdit->setFont(font);
}

}  // namespace

CUtilQZ81KTDlg::CUtilQZ81KTDlg(CMidiDriver* pDriver, const COptions& options, QWidget* pParent)
    : QDialog(pParent),
      m_session(pDriver ? *pDriver : qz::DefaultMidiDriver(), &m_sessionHooks),
      m_inPorts(pDriver),
      m_outPorts(pDriver),
      m_portWatch(pDriver),
      m_art(std::async(std::launch::async,
                       [] {
                           CArt art;
                           art.panel = QImage(QStringLiteral(":/qz81kt/panel.png"))
                                           .convertToFormat(QImage::Format_ARGB32_Premultiplied);
                           art.lamps = QImage(QString::fromLatin1(CBmpBase::kLampStrip));
                           art.icon = QImage(QStringLiteral(":/qz81kt/icon.png"));
                           return art;
                       })),
      m_pUi(std::make_unique<Ui::CUtilQZ81KTDlg>()),
      m_bStartTimer(options.m_bStartTimer) {
    m_session.Image().m_bServiceMode = options.m_bServiceMode;
    m_session.Image().m_byControlMode = CDeviceImage::kNoControlMode;
    OnInitDialog();
}

CUtilQZ81KTDlg::~CUtilQZ81KTDlg() {
    // Ports first: once their workers have ended nothing posts to or reads this window.
    m_portWatch.Stop();
    StopPorts();
    m_session.SetListener(nullptr);
    delete m_pMonitor;  // it reads the tap, a member that goes before the child widgets do
    if (m_pTimer) m_pTimer->stop();
    QCoreApplication::instance()->removeEventFilter(&m_keyWatcher);
}

void CUtilQZ81KTDlg::OnInitDialog() {
    m_pUi->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    CRadioGroupFocus::Install(this);
    // The About entry: X11 and Wayland have no window menu, so a context menu and F1.
    m_pAboutAction = new QAction(QStringLiteral("About QZ-81KT DXP(&A)..."), this);
    m_pAboutAction->setShortcut(QKeySequence(Qt::Key_F1));
    m_pAboutAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_pAboutAction, &QAction::triggered, this, [this] { emit AboutRequested(AboutText()); });
    addAction(m_pAboutAction);
    auto* pMonitorAction = new QAction(QStringLiteral("MIDI &Monitor..."), this);
    pMonitorAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    pMonitorAction->setShortcutContext(Qt::WindowShortcut);
    connect(pMonitorAction, &QAction::triggered, this, &CUtilQZ81KTDlg::ShowMonitor);
    addAction(pMonitorAction);
    m_pReconnectAction = new QAction(QStringLiteral("&Reconnect automatically"), this);
    m_pReconnectAction->setCheckable(true);
    m_pReconnectAction->setChecked(true);
    addAction(m_pReconnectAction);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    const CArt art = m_art.get();
    setWindowIcon(QIcon(QPixmap::fromImage(art.icon)));
    for (int i = 0; i < qz::kPresetCount; ++i) m_presetRadio[i] = Control(kPresetIds[i]);
    m_strFileVersion = QStringLiteral(QZ81KT_VERSION);
    m_session.Image().Clear();
    m_session.Image().m_byDeviceID = qz::kDefaultDeviceID;

    // Lamps before the first display, so BlankDisplay and ShowIdentity find everything.
    m_ledBitmap = std::make_unique<CBmpBtnBase>();
    m_ledBitmap->m_nHighestState = kLampLink;
    m_ledBitmap->Load(art.lamps);
    CBmpButton** lamps[] = {&m_pLed1, &m_pLed2, &m_pLinkLed};
    for (int i = 0; i < 3; ++i) {
        const CLampPlace& place = kLampPlaces[i];
        auto* pLamp = new CBmpButton(this);
        pLamp->setObjectName(qz::ControlNames(place.nId).value(0));
        pLamp->m_pStrip = m_ledBitmap.get();
        pLamp->setGeometry(QRect(QPoint(place.x, place.y), m_ledBitmap->GetSize()));
        pLamp->m_bInputOff = true;
        pLamp->setAccessibleName(QString::fromLatin1(place.pszName));
        pLamp->show();
        *lamps[i] = pLamp;
    }
    ResetLamps();
    // The drawing and the picture ahead of the first port listing, which waits for a
    // MIDI system that may still be opening.
    SetUpDrawing();
    m_pUi->IDC_PANEL_PICTURE->setPixmap(QPixmap::fromImage(art.panel));

    BlankDisplay();
    ShowIdentity();
    m_pTimer = new QTimer(this);
    m_pTimer->setInterval(static_cast<int>(CLinkWatch::kTickMs));
    connect(m_pTimer, &QTimer::timeout, this, &CUtilQZ81KTDlg::OnTimer);
    if (m_bStartTimer) m_pTimer->start();
    connect(m_pUi->IDC_COMBO_MIDIIN, &QComboBox::activated, this,
            [this] { m_strWantedIn = m_pUi->IDC_COMBO_MIDIIN->currentText(); });
    connect(m_pUi->IDC_COMBO_MIDIOUT, &QComboBox::activated, this,
            [this] { m_strWantedOut = m_pUi->IDC_COMBO_MIDIOUT->currentText(); });
    for (QComboBox* pCombo : {m_pUi->IDC_COMBO_MIDIIN, m_pUi->IDC_COMBO_MIDIOUT})
        connect(pCombo, &QComboBox::currentIndexChanged, this, [this, pCombo] { DescribeCurrentPort(pCombo); });
    if (!IsServiceMode()) Control(IDC_FOR_SERVICE)->hide();
    Control(IDC_EDIT_PRESET)->hide();

    m_session.Image().m_bForceStatusNotify = true;

    connect(m_pUi->IDOK, &QPushButton::clicked, this, &CUtilQZ81KTDlg::OnConnect);
    connect(m_pUi->IDC_SCAN, &QPushButton::clicked, this, &CUtilQZ81KTDlg::OnScan);
    connect(m_pUi->IDCANCEL, &QPushButton::clicked, this, &QDialog::reject);
    ConnectCommands();

    QCoreApplication::instance()->installEventFilter(&m_keyWatcher);
    // The ports last: the MIDI system may still be opening on its own thread.
    FillPortLists();
    m_strWantedIn = m_pUi->IDC_COMBO_MIDIIN->currentText();
    m_strWantedOut = m_pUi->IDC_COMBO_MIDIOUT->currentText();
    if (m_bStartTimer) m_portWatch.Start();
    m_pUi->IDOK->setFocus();
}

void CUtilQZ81KTDlg::SetUpDrawing() {
    auto* pCachedStyle = new CCachedPrimitiveStyle(this);  // after the controls: deleted after them
    for (QWidget* pControl : findChildren<QWidget*>()) {
        auto* pField = qobject_cast<QLineEdit*>(pControl);
        const bool bCached = (pField && pField->isReadOnly()) || qobject_cast<QRadioButton*>(pControl) ||
                             qobject_cast<QCheckBox*>(pControl) || qobject_cast<QGroupBox*>(pControl);
        if (bCached) pControl->setStyle(pCachedStyle);
    }
    // Rewritten on every poll and on the window's plain background: its panel covers it,
    // so the window beneath is not painted again each time.
    m_pUi->IDC_TIMECODE->setAttribute(Qt::WA_OpaquePaintEvent);
    FitFont(m_pUi->IDC_TIMECODE, QStringLiteral("Arial"), 28, QStringLiteral(" 00:00:00;00"));
    FitFont(m_pUi->IDC_VIDEO_FORMAT, QStringLiteral("Arial"), 14, QStringLiteral("(1080/23.98PsF)"));
    FitFont(m_pUi->IDC_1394_FORMAT, QStringLiteral("Arial"), 14, QStringLiteral("1920x1080 / 25.0Mbps(MPEG)"));
}

CMidiMonitorWnd* CUtilQZ81KTDlg::ShowMonitor() {
    if (!m_pMonitor) m_pMonitor = new CMidiMonitorWnd(m_session.Tap(), m_session.MidiIn(), this, m_bStartTimer);
    m_pMonitor->show();
    m_pMonitor->raise();
    m_pMonitor->activateWindow();
    return m_pMonitor;
}

QWidget* CUtilQZ81KTDlg::Control(int nId) const {
    // The display and the enabling rule reach dozens of controls on every poll: look each
    // one up by name once.
    auto it = m_controls.constFind(nId);
    if (it != m_controls.constEnd()) return *it;
    QWidget* w = qz::FindControl(this, nId);
    if (w) m_controls.insert(nId, w);
    return w;
}

QString CUtilQZ81KTDlg::AboutText() const { return QStringLiteral("Version : ") + m_strFileVersion; }

// Both lists are read before either is shown: the converter's pair is chosen across them.
void CUtilQZ81KTDlg::FillPortLists() {
    m_inPorts.Refresh();
    m_outPorts.Refresh();
    const qz::CPortPair choice = qz::PreselectPorts(m_inPorts.Devices(), m_outPorts.Devices());
    ShowPortList(m_pUi->IDC_COMBO_MIDIIN, m_inPorts, m_inPorts.Devices(), choice.m_nIn);
    ShowPortList(m_pUi->IDC_COMBO_MIDIOUT, m_outPorts, m_outPorts.Devices(), choice.m_nOut);
}

// The items are the ports' full names, by which Connect and a replug find them again.
// Where a bridge's name hides the device, the device's name is the item's tooltip and
// the list's accessible description, so that a screen reader says which device it is.
void CUtilQZ81KTDlg::ShowPortList(QComboBox* pCombo, const std::vector<std::string>& names,
                                  const std::vector<qz::CPortDevice>& devices, int nSelect) {
    QSignalBlocker block(pCombo);
    pCombo->clear();
    for (size_t i = 0; i < names.size(); ++i) {
        pCombo->addItem(QString::fromStdString(names[i]));
        if (i < devices.size() && devices[i].m_strName != names[i]) {
            const QString strDevice = QString::fromStdString(devices[i].m_strName);
            pCombo->setItemData(static_cast<int>(i), strDevice, Qt::ToolTipRole);
            pCombo->setItemData(static_cast<int>(i), strDevice, Qt::AccessibleDescriptionRole);
        }
    }
    pCombo->setCurrentIndex(nSelect);
    DescribeCurrentPort(pCombo);
}

void CUtilQZ81KTDlg::DescribeCurrentPort(QComboBox* pCombo) {
    pCombo->setAccessibleDescription(pCombo->currentData(Qt::AccessibleDescriptionRole).toString());
    pCombo->setToolTip(pCombo->currentData(Qt::ToolTipRole).toString());
}

void CUtilQZ81KTDlg::OnScan() {
    m_pUi->IDC_COMBO_MIDIIN->clear();
    m_pUi->IDC_COMBO_MIDIOUT->clear();
    FillPortLists();
}

namespace {
// The port number that carries the name shown now. Positions move when clients come and
// go after the last Scan, so the list is read again; -1 when the name is gone.
int ResolveShownPort(CMidiDevListBase& list, int nShown, const QString& strShown) {
    list.Refresh();
    std::string strName = strShown.toStdString();
    if (nShown < list.GetSize() && list.GetAt(nShown) == strName) return nShown;
    for (int i = 0; i < list.GetSize(); ++i)
        if (list.GetAt(i) == strName) return i;
    return -1;
}
}  // namespace

void CUtilQZ81KTDlg::OnConnect() {
    m_keyWatcher.Rearm();
    QComboBox* pIn = m_pUi->IDC_COMBO_MIDIIN;
    QComboBox* pOut = m_pUi->IDC_COMBO_MIDIOUT;
    if (pIn->currentIndex() < 0 || pOut->currentIndex() < 0) return ShowMessage(QStringLiteral("Error: No Device"));

    // The old ports stop before the link state is reset, so a late reply of the old
    // connection cannot count for the new one.
    StopPorts();
    ResetLink();
    BlankDisplay();
    ResetLamps();
    // Waiting for the first status reply: the old link's controls must not keep sending.
    UpdateControlEnable();

    // A port whose name is gone is not opened.
    const int nIn = ResolveShownPort(m_inPorts, pIn->currentIndex(), pIn->currentText());
    const bool bIn = nIn >= 0 && m_session.OpenIn(static_cast<uint32_t>(nIn));
    const int nOut = ResolveShownPort(m_outPorts, pOut->currentIndex(), pOut->currentText());
    const bool bOut = nOut >= 0 && m_session.OpenOut(static_cast<uint32_t>(nOut));
    const CDeviceSession::EConnect eConnect = m_session.RequestAllAfterOpen(bIn, bOut);
    switch (eConnect) {
        case CDeviceSession::EConnect::BothFailed: return ShowMessage(QStringLiteral("Error: Open MIDI-In/Out"));
        case CDeviceSession::EConnect::OutFailed: return ShowMessage(QStringLiteral("Error: Open MIDI-Out"));
        case CDeviceSession::EConnect::InFailed: return ShowMessage(QStringLiteral("Error: Open MIDI-In"));
        case CDeviceSession::EConnect::Ok:
        case CDeviceSession::EConnect::RequestRefused: break;
    }
    m_strLinkedIn = m_strWantedIn = pIn->currentText();
    m_strLinkedOut = m_strWantedOut = pOut->currentText();
    m_bLinkedGone = false;
    if (eConnect == CDeviceSession::EConnect::RequestRefused) {
        // The session has closed the output port and reset the link; the reset is made
        // again after the message, whose event loop may have run the tick meanwhile.
        ShowMessage(QStringLiteral("Error : cann't send request"));
        ResetLink();
        UpdateControlEnable();
    }
}

void CUtilQZ81KTDlg::ResetLink() {
    m_session.ResetLink();
    m_nRateEnableCount = 0;
}

void CUtilQZ81KTDlg::StopPorts() { m_session.Disconnect(); }

void CUtilQZ81KTDlg::OnTimer() {
    if (m_portWatch.Generation() != m_nPortGeneration) OnPortListsChanged();
    if (m_keyWatcher.IsSequenceOK()) Control(IDC_EDIT_PRESET)->show();
    switch (m_session.Tick()) {
        case CLinkWatch::kTickIdle: break;
        case CLinkWatch::kTickLinkUp:
            SetLamp(m_pLinkLed, kLampLink);
            UpdateControlEnable();
            break;
        case CLinkWatch::kTickPolled: BlinkStep(); break;
        case CLinkWatch::kTickLinkLost:
            BlinkStep();
            DropLinkDisplay();
            UpdateControlEnable();
            break;
    }
}

bool CUtilQZ81KTDlg::ReconnectsAutomatically() const { return m_pReconnectAction->isChecked(); }

void CUtilQZ81KTDlg::CheckPorts() {
    m_portWatch.CheckNow();
    if (m_portWatch.Generation() != m_nPortGeneration) OnPortListsChanged();
}

void CUtilQZ81KTDlg::OnPortListsChanged() {
    m_nPortGeneration = m_portWatch.Generation();
    const CPortLists lists = m_portWatch.Lists();
    const std::vector<std::string>& ins = lists.m_ins;
    const std::vector<std::string>& outs = lists.m_outs;
    // Each list keeps the name the operator chose; where it is gone, the preselection.
    const qz::CPortPair choice = qz::PreselectPorts(lists.m_inDevices, lists.m_outDevices);
    auto wanted = [](const std::vector<std::string>& names, const QString& strWanted, int nPreselected) {
        auto it = std::find(names.begin(), names.end(), strWanted.toStdString());
        return it != names.end() ? static_cast<int>(it - names.begin()) : nPreselected;
    };
    ShowPortList(m_pUi->IDC_COMBO_MIDIIN, ins, lists.m_inDevices, wanted(ins, m_strWantedIn, choice.m_nIn));
    ShowPortList(m_pUi->IDC_COMBO_MIDIOUT, outs, lists.m_outDevices, wanted(outs, m_strWantedOut, choice.m_nOut));
    if (m_strLinkedIn.isEmpty()) return;  // never connected
    auto listed = [](const std::vector<std::string>& names, const QString& str) {
        return std::find(names.begin(), names.end(), str.toStdString()) != names.end();
    };
    const bool bPresent = listed(ins, m_strLinkedIn) && listed(outs, m_strLinkedOut);
    if (!bPresent && !m_bLinkedGone) {
        // Unplugged: the same display as a link time-out, without waiting 5 s for it.
        m_bLinkedGone = true;
        StopPorts();
        ResetLink();
        DropLinkDisplay();
        UpdateControlEnable();
    } else if (bPresent && m_bLinkedGone && m_pReconnectAction->isChecked()) {
        m_pUi->IDC_COMBO_MIDIIN->setCurrentText(m_strLinkedIn);
        m_pUi->IDC_COMBO_MIDIOUT->setCurrentText(m_strLinkedOut);
        OnConnect();
    }
}

void CUtilQZ81KTDlg::DropLinkDisplay() {
    BlankDisplay();
    ResetLamps();
}

void CUtilQZ81KTDlg::PostReplyNotify(int wParam, int lParam) { Post(CWindowEvent::kReplyNotify, wParam, lParam); }

void CUtilQZ81KTDlg::Post(CWindowEvent::EKind eKind, int wParam, int lParam) {
    auto* pEvent = new CWindowEvent(eKind, wParam, lParam);
    qz::TsanRelease(pEvent);
    QCoreApplication::postEvent(this, pEvent);
}

void CUtilQZ81KTDlg::UpdateControlEnable() {
    if (QThread::currentThread() != thread()) return Post(CWindowEvent::kControlEnable, 0, 0);
    ApplyControlEnable();
}

void CUtilQZ81KTDlg::ApplyControlEnable() {
    const CDeviceImage& img = m_session.Image();
    // Read once: the input worker writes the switch's state meanwhile.
    const bool bLinkUp = img.m_bLinkUp.load();
    const bool bRemoteSelected = img.m_bRemoteSelected.load();
    const bool bSwitchRemote = img.m_bRemote.load();
    auto clickable = [&](qz::ESettingRule eRule) {
        return qz::SettingClickable(eRule, bLinkUp, bRemoteSelected, bSwitchRemote);
    };
    const bool bReady = clickable(qz::ESettingRule::Ready);
    if (!bReady) {
        EnableRateButtons(false);
        m_nRateEnableCount = 0;
    }
    for (const CSystemByteCommand& c : kSystemByteCommands)
        if (const qz::CSystemSetting* pSetting = qz::SystemSettingAt(c.nOffset))
            Enable(c.nId, clickable(pSetting->eRule));
    if (IsServiceMode()) Enable(IDC_FOR_SERVICE, bLinkUp);
    Enable(IDC_EDIT_PRESET, bReady);
    Enable(IDC_TC, bReady);
    Enable(IDC_WRITE_FLASH, bLinkUp);
    Enable(IDC_FACTORY_RESET, bLinkUp);
}

bool CUtilQZ81KTDlg::event(QEvent* pEvent) {
    if (qz::HandedOverType(pEvent) != CWindowEvent::EventType()) return QDialog::event(pEvent);
    auto* pWork = static_cast<CWindowEvent*>(pEvent);
    switch (pWork->m_eKind) {
        case CWindowEvent::kReplyNotify: OnReplyNotify(pWork->m_wParam, pWork->m_lParam); break;
        case CWindowEvent::kPresetLine: UpdatePresetLine(pWork->m_wParam); break;
        case CWindowEvent::kControlEnable: ApplyControlEnable(); break;
    }
    return true;
}

void CUtilQZ81KTDlg::showEvent(QShowEvent* pEvent) {
    qz::WarmUpBackingStore(this);
    QDialog::showEvent(pEvent);
}

void CUtilQZ81KTDlg::Enable(int nId, bool bEnable) {
    if (QWidget* w = Control(nId)) w->setEnabled(bEnable);
}

QAbstractButton* CUtilQZ81KTDlg::Button(int nId) const { return qobject_cast<QAbstractButton*>(Control(nId)); }

void CUtilQZ81KTDlg::ShowMessage(const QString& strText) { qz::UiServices().MessageBox(this, strText); }
