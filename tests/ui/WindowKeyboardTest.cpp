// The window and its dialogs under the keyboard: each caption's radio buttons form a
// group of their own (arrow keys and clicks stay inside it), Tab visits every control in
// the template's order with one stop per group, and every stop has a name for a screen
// reader.
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QPushButton>
#include <QtTest>

#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceFrames.h"
#include "support/EditorRig.h"
#include "ui/editors/PresetDlg.h"
#include "ui/editors/ServiceDlg.h"
#include "ui/editors/TCDlg.h"

using Bytes = CWindowHarness::Bytes;

namespace {

struct CRadioGroup {
    const char* pszCaption;
    std::vector<int> ids;  // in value order
    int nOffset;           // system block byte
};
const CRadioGroup kRadioGroups[] = {
    {"Direction", {IDC_DIR_SDI_TO_1394, IDC_DIR_1394_TO_SDI}, qz::kSysDirection},
    {"SDI Audio Channel", {IDC_SDI_CH_1_2, IDC_SDI_CH_3_4, IDC_SDI_CH_5_6, IDC_SDI_CH_7_8}, qz::kSysAudioChannels},
    {"Control Mode", {IDC_LOCAL, IDC_REMOTE}, qz::kSysRemote},
    {"Preset",
     {IDC_PRESET0, IDC_PRESET1, IDC_PRESET2, IDC_PRESET3, IDC_PRESET4, IDC_PRESET5, IDC_PRESET6, IDC_PRESET7},
     qz::kSysPreset},
    {"IEEE1394 Unit Type", {IDC_UNIT_CAMERA, IDC_UNIT_RECORDER}, qz::kSysUnitType},
    {"Default Frame Rate ", {IDC_RATE_5994, IDC_RATE_50}, qz::kSysFrameRate},
};

QString Name(const QWidget* w) { return w ? w->objectName() : QStringLiteral("(none)"); }

// The position of a control in the group, or -1.
int IndexIn(const CRadioGroup& g, const QWidget* w) {
    for (size_t i = 0; i < g.ids.size(); ++i)
        if (qz::ControlNames(g.ids[i]).contains(Name(w))) return static_cast<int>(i);
    return -1;
}

// Which radio of each group is checked, by group.
std::vector<int> CheckedPerGroup(CWindowHarness& h) {
    std::vector<int> checked;
    for (const CRadioGroup& g : kRadioGroups) {
        int nChecked = -1;
        for (size_t i = 0; i < g.ids.size(); ++i)
            if (h.Control<QAbstractButton>(g.ids[i])->isChecked()) nChecked = static_cast<int>(i);
        checked.push_back(nChecked);
    }
    return checked;
}

// Keys go to the focus window (a dialog shares "active" with its parent, so
// qWaitForWindowActive would not wait for it).
void Activate(QWidget& w) {
    w.show();
    w.activateWindow();
    QTRY_VERIFY(QGuiApplication::focusWindow() == w.windowHandle());
}

// The focus stops met by pressing Tab from the first one until it comes back.
QStringList TabStops(QWidget* pFirst) {
    pFirst->setFocus(Qt::TabFocusReason);
    QStringList stops;
    for (int i = 0; i < 200; ++i) {
        QWidget* pFocus = QApplication::focusWidget();
        if (i > 0 && pFocus == pFirst) break;
        stops << Name(pFocus);
        QTest::keyClick(pFocus, Qt::Key_Tab);
    }
    return stops;
}

// Every focus stop has a name of its own or a label that names it.
void ExpectNamed(QWidget& dialog, const QStringList& stops) {
    for (const QString& strStop : stops) {
        auto* w = dialog.findChild<QWidget*>(strStop);
        QVERIFY2(w, qPrintable(strStop));
        QAccessibleInterface* pAcc = QAccessible::queryAccessibleInterface(w);
        const bool bNamed = !pAcc->text(QAccessible::Name).trimmed().isEmpty() &&
                            (!qobject_cast<QComboBox*>(w) || !w->accessibleName().isEmpty() ||
                             !pAcc->relations(QAccessible::Label).isEmpty());
        QVERIFY2(bNamed, qPrintable(strStop + " has no name"));
    }
}

}  // namespace

class WindowKeyboardTest : public QObject {
    Q_OBJECT
private slots:
    void arrowKeysStayInTheirGroup_data();
    void arrowKeysStayInTheirGroup();
    void clickChangesNothingOutsideItsGroup_data() { arrowKeysStayInTheirGroup_data(); }
    void clickChangesNothingOutsideItsGroup();
    void windowTabOrderAndKeys();
    void dialogsUnderTheKeyboard();
};

void WindowKeyboardTest::arrowKeysStayInTheirGroup_data() {
    QTest::addColumn<int>("group");
    for (int i = 0; i < int(std::size(kRadioGroups)); ++i) QTest::newRow(kRadioGroups[i].pszCaption) << i;
}

void WindowKeyboardTest::arrowKeysStayInTheirGroup() {
    QFETCH(int, group);
    const CRadioGroup& g = kRadioGroups[group];
    CWindowHarness h;
    h.ConnectAndLink();
    h.Emulator().Faults().m_bSilent = true;  // no read-back: the image changes only by the keys
    Activate(h.Window());
    for (int nId : g.ids) h.Control(nId)->setEnabled(true);  // the frame rate may be locked
    // The group box holds its radios, and its caption names the group for a screen reader.
    auto* pBox = qobject_cast<QGroupBox*>(h.Control(g.ids[0])->parentWidget());
    QVERIFY(pBox);
    QCOMPARE(QAccessible::queryAccessibleInterface(pBox)->text(QAccessible::Name), QString::fromLatin1(g.pszCaption));
    for (int nFrom : g.ids) {
        for (int nKey : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Left, Qt::Key_Right}) {
            auto* pFrom = h.Control<QAbstractButton>(nFrom);
            {
                QSignalBlocker quiet(pFrom);  // as the display sets it: no command
                pFrom->setChecked(true);
            }
            pFrom->setFocus();
            const std::vector<int> checkedBefore = CheckedPerGroup(h);
            const Bytes systemBefore = h.Block(qz::EBlock::System);
            h.ClearSent();
            QTest::keyClick(pFrom, Qt::Key(nKey));
            QWidget* pTo = QApplication::focusWidget();
            const QString strWhere = Name(pFrom) + " key " + QString::number(nKey) + " -> " + Name(pTo);
            QVERIFY2(IndexIn(g, pTo) >= 0, qPrintable(strWhere));
            std::vector<int> checkedAfter = CheckedPerGroup(h);
            for (size_t i = 0; i < checkedAfter.size(); ++i)
                if (int(i) != group) QVERIFY2(checkedAfter[i] == checkedBefore[i], qPrintable(strWhere));
            if (pTo == pFrom) continue;
            // The key selected its target, which wrote its own byte and nothing else (a
            // locked frame rate asks for everything instead).
            QVERIFY(qobject_cast<QAbstractButton*>(pTo)->isChecked());
            const bool bRateLocked = g.nOffset == qz::kSysFrameRate && h.Image().m_bRateFromSdi.load();
            QTRY_COMPARE(h.Tap().Count(), size_t(bRateLocked ? 13 : 2));
            for (const Bytes& f : h.Sent()) {
                if (f[6] != qz::kCmdDT1) continue;
                Bytes expected = systemBefore;
                expected[size_t(g.nOffset)] = uint8_t(IndexIn(g, pTo));
                QCOMPARE(DT1Data(f), expected);
            }
        }
    }
}

void WindowKeyboardTest::clickChangesNothingOutsideItsGroup() {
    QFETCH(int, group);
    CWindowHarness h;  // not connected: every send is refused
    for (const CRadioGroup& g : kRadioGroups) {
        QSignalBlocker quiet(h.Control(g.ids.back()));
        h.Control<QAbstractButton>(g.ids.back())->setChecked(true);
        for (int nId : g.ids) h.Control(nId)->setEnabled(true);
    }
    const std::vector<int> before = CheckedPerGroup(h);
    auto* pRadio = h.Control(kRadioGroups[group].ids.front());
    QTest::mouseClick(pRadio, Qt::LeftButton, {}, QPoint(4, pRadio->height() / 2));  // on its circle
    QVERIFY(!h.m_services.m_messages.isEmpty());  // refused, and said so
    const std::vector<int> after = CheckedPerGroup(h);
    for (size_t i = 0; i < after.size(); ++i)
        if (int(i) != group) QCOMPARE(after[i], before[i]);
}

void WindowKeyboardTest::windowTabOrderAndKeys() {
    CWindowHarness h;
    h.ConnectAndLink();
    Activate(h.Window());
    // Linked in Remote: every control enabled; each group stops at its checked radio.
    QStringList expected = {"IDC_COMBO_MIDIIN", "IDC_COMBO_MIDIOUT", "IDOK", "IDC_SCAN", "IDC_IDENTITY",
                            "IDC_TIMECODE", "IDC_VIDEO_FORMAT", "IDC_1394_FORMAT"};
    const std::vector<int> checked = CheckedPerGroup(h);
    auto group = [&](int i) {
        if (h.Control(kRadioGroups[i].ids[0])->isEnabled())
            expected << qz::ControlNames(kRadioGroups[i].ids[size_t(checked[size_t(i)])]).value(0);
    };
    group(0);
    group(1);
    group(2);
    expected << "IDC_MODE_SW6" << "IDC_POWER_STATUS";
    group(3);
    group(4);
    group(5);
    expected << "IDC_SYNC_OPERATION" << "IDC_AUDIO_SRC" << "IDC_FORMAT_FIX" << "IDC_SDI_INPUT_REMOTE" << "IDC_FAN"
             << "IDC_TC" << "IDC_WRITE_FLASH" << "IDC_FACTORY_RESET" << "IDCANCEL";
    const QStringList stops = TabStops(h.Control(IDC_COMBO_MIDIIN));
    QCOMPARE(stops, expected);
    ExpectNamed(h.Window(), stops);
    // Shift+Tab into a group lands on its checked radio too.
    h.Control(IDC_MODE_SW6)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    QCOMPARE(Name(QApplication::focusWidget()), qz::ControlNames(kRadioGroups[2].ids[size_t(checked[2])]).value(0));

    // Enter runs Connect (the default button) wherever the focus is; Escape ends the window.
    h.ClearSent();
    h.Control(IDC_TIMECODE)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(h.Tap().WaitFor(13), size_t(13));  // the request-all sequence
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QTRY_VERIFY(!h.Window().isVisible());
    QCOMPARE(h.Window().result(), int(QDialog::Rejected));
}

void WindowKeyboardTest::dialogsUnderTheKeyboard() {
    CEditorRig rig(true);
    QVERIFY(rig.IsReady());
    auto walk = [](QDialog& d) {
        Activate(d);
        // Every enabled control that takes focus is met once, in the template's order.
        QStringList focusable;
        for (QWidget* w : d.findChildren<QWidget*>())
            if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy() &&
                w->objectName().startsWith("ID"))
                focusable << w->objectName();
        QVERIFY(!focusable.isEmpty());
        const QStringList stops = TabStops(d.findChild<QWidget*>(focusable.front()));
        QCOMPARE(stops, focusable);
        ExpectNamed(d, stops);
        auto* pDefault = d.findChild<QPushButton*>(QStringLiteral("IDOK"));
        if (!pDefault) pDefault = d.findChild<QPushButton*>(QStringLiteral("IDC_SERVICE_WRITE"));
        QVERIFY(pDefault && pDefault->isDefault());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QTRY_VERIFY(!d.isVisible());
        QCOMPARE(d.result(), int(QDialog::Rejected));
    };
    QVERIFY(rig.Run<CPresetDlg>(IDC_EDIT_PRESET, [&](CPresetDlg& d) {
        d.findChild<QComboBox*>(QStringLiteral("IDC_PRESET_CODEC"))->setCurrentIndex(1);  // MPEG-2: every field on
        walk(d);
    }));
    QVERIFY(rig.Run<CTCDlg>(IDC_TC, [&](CTCDlg& d) { walk(d); }));
    QVERIFY(rig.Run<CServiceDlg>(IDC_FOR_SERVICE, [&](CServiceDlg& d) { walk(d); }));
}

QTEST_MAIN(WindowKeyboardTest)
#include "WindowKeyboardTest.moc"
