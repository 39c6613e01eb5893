// The timecode dialog opened through the main window's "TC", over the emulator.
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <set>

#include "protocol/wire/BlockLayout.h"
#include "protocol/fields/TimecodeBlock.h"
#include "support/EditorRig.h"
#include "ui/editors/TCDlg.h"
#include "ui/main/UtilQZ81KTDlg.h"
#include "ui/widgets/ControlId.h"

using namespace qz;

namespace {

QComboBox* List(QWidget& d, int nId) { return FindControl<QComboBox>(&d, nId); }
QCheckBox* Check(QWidget& d, int nId) { return FindControl<QCheckBox>(&d, nId); }
void Click(QWidget& d, int nId) { FindControl<QPushButton>(&d, nId)->click(); }
void Choose(QWidget& d, int nId, const QString& strItem) { List(d, nId)->setCurrentIndex(List(d, nId)->findText(strItem)); }
Bytes Part(const Bytes& b, int nFrom, int nTo) { return Bytes(b.begin() + nFrom, b.begin() + nTo); }

// One data set of 56 bytes to the timecode block, with the block as the image holds it.
void ExpectBlockSent(CEditorRig& rig) {
    const std::vector<Bytes> frames = rig.TakeFrames();
    QCOMPARE(frames.size(), size_t(1));
    QCOMPARE(frames[0].size(), size_t(56));
    QCOMPARE(DT1Address(frames[0]), kAddrTimecode);
    QCOMPARE(DT1Data(frames[0]), rig.ImageBlock(kAddrTimecode));
}

QStringList Shown(QWidget& d) {
    QStringList shown;
    for (QComboBox* p : d.findChildren<QComboBox*>()) shown << p->currentText();
    for (QCheckBox* p : d.findChildren<QCheckBox*>()) shown << QString::number(p->isChecked());
    return shown;
}

// A list's accessible name is its value; a screen reader names it by its related labels.
QString ListLabels(QComboBox* pList) {
    QStringList labels;
    for (auto& rel : QAccessible::queryAccessibleInterface(pList)->relations(QAccessible::Label))
        labels << rel.first->text(QAccessible::Name);
    return labels.join(" / ");
}

}  // namespace

class TCDlgTest : public QObject {
    Q_OBJECT
private slots:
    void packingOfTimeUserBitsAndLines();
    void bytesNoControlShowsGoBackAsTheyCame();
    void okApplyCancelAndRefusal_data();
    void okApplyCancelAndRefusal();
    void keyboardAndAccessibleNames();
    void deviceHoldsWhatTheDialogShowed();
};

void TCDlgTest::packingOfTimeUserBitsAndLines() {
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    QVERIFY(rig.Run<CTCDlg>(IDC_TC, [&](CTCDlg& d) {
        Choose(d, IDC_TC_PRESET_HOUR, "23");
        Choose(d, IDC_TC_PRESET_MIN, "59");
        Choose(d, IDC_TC_PRESET_SEC, "59");
        Choose(d, IDC_TC_PRESET_FRAME, "29");
        for (int nId : {IDC_TC_S1, IDC_TC_S2, IDC_TC_S3, IDC_TC_S4, IDC_TC_S5, IDC_TC_S6}) Check(d, nId)->setChecked(true);
        const int bg[] = {IDC_TC_BG8, IDC_TC_BG7, IDC_TC_BG6, IDC_TC_BG5, IDC_TC_BG4, IDC_TC_BG3, IDC_TC_BG2, IDC_TC_BG1};
        for (int i = 0; i < 8; ++i) Choose(d, bg[i], QString::number(i + 1));
        Choose(d, IDC_TC_DVITC1_480, "14(277)");
        Choose(d, IDC_TC_DVITC2_576, "22(335)");
        Click(d, IDOK);
    }));
    ExpectBlockSent(rig);
    const Bytes t = rig.DeviceBlock(kAddrTimecode);
    QCOMPARE(Part(t, 0, 8), (Bytes{0x0E, 0x09, 0x0D, 0x09, 0x0D, 0x09, 0x0E, 0x03}));
    QCOMPARE(Part(t, 8, 16), (Bytes{7, 8, 5, 6, 3, 4, 1, 2}));
    QCOMPARE(Part(t, 36, 38), (Bytes{0x00, 0x0E}));
    QCOMPARE(Part(t, 42, 44), (Bytes{0x01, 0x06}));
}

void TCDlgTest::bytesNoControlShowsGoBackAsTheyCame() {
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    Bytes t = rig.ImageBlock(kAddrTimecode);
    for (int k : kTimecodeUninterpreted) t[k] = uint8_t(0x40 + k);
    t[0] = 0x03, t[1] = 0x05;    // frame 35
    t[36] = 0x01, t[37] = 0x09;  // 480i line 25
    t[27] = 0x07;                // no such generate mode
    t[33] = 0x03;                // generated: bit 0 counts
    QVERIFY(rig.SetDeviceBlock(kAddrTimecode, t));
    QVERIFY(rig.Run<CTCDlg>(IDC_TC, [&](CTCDlg& d) {
        for (int nId : {IDC_TC_PRESET_FRAME, IDC_TC_DVITC1_480, IDC_TC_GENERATE}) QCOMPARE(List(d, nId)->currentIndex(), -1);
        QVERIFY(Check(d, IDC_TC_DVITC1_GENERATE)->isChecked());
        QTest::mouseClick(Check(d, IDC_TC_S1), Qt::LeftButton);  // the flag beside the frame count
        QVERIFY(FindControl(&d, IDC_APPLY)->isEnabled());
        Click(d, IDOK);
    }));
    ExpectBlockSent(rig);
    Bytes expected = t;
    expected[0] = 0x07;  // S1 set, the frame count kept
    expected[33] = 0x01;
    QCOMPARE(rig.DeviceBlock(kAddrTimecode), expected);
}

void TCDlgTest::okApplyCancelAndRefusal_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("OK unchanged") << "ok";
    QTest::newRow("Apply then Cancel") << "apply";
    QTest::newRow("OK refused") << "refused";
}

void TCDlgTest::okApplyCancelAndRefusal() {
    QFETCH(QString, how);
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    const Bytes before = rig.ImageBlock(kAddrTimecode);
    Bytes applied;
    QVERIFY(rig.Run<CTCDlg>(IDC_TC, [&](CTCDlg& d) {
        QVERIFY(!FindControl(&d, IDC_APPLY)->isEnabled());
        if (how == "ok") return Click(d, IDOK);
        Choose(d, IDC_TC_GENERATE, "Thru");
        if (how == "refused") {
            rig.Window().MidiOut().Stop();
            rig.Window().MidiOut().Close();
            return Click(d, IDOK);
        }
        Click(d, IDC_APPLY);
        QVERIFY(!FindControl(&d, IDC_APPLY)->isEnabled());
        applied = rig.ImageBlock(kAddrTimecode);
        Choose(d, IDC_TC_GENERATE, "Offset");
        Click(d, IDCANCEL);
    }));
    if (how == "refused") {
        QCOMPARE(rig.Messages(), QStringList{"Error : Please Connect at first"});
        QVERIFY(rig.TakeFrames().empty());
        QCOMPARE(rig.ImageBlock(kAddrTimecode)[kTcGenerateAt], uint8_t(2));  // the edit stays in the image
        return;
    }
    QVERIFY(rig.Messages().isEmpty());
    ExpectBlockSent(rig);
    QCOMPARE(rig.ImageBlock(kAddrTimecode), how == "ok" ? before : applied);
    QCOMPARE(rig.DeviceBlock(kAddrTimecode), rig.ImageBlock(kAddrTimecode));
}

void TCDlgTest::keyboardAndAccessibleNames() {
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    const Bytes before = rig.ImageBlock(kAddrTimecode);
    QVERIFY(rig.Run<CTCDlg>(IDC_TC, [&](CTCDlg& d) {
        QCOMPARE(ListLabels(List(d, IDC_TC_PRESET_HOUR)), QStringLiteral("Hour / Timecode Preset"));
        QCOMPARE(ListLabels(List(d, IDC_TC_OFFSET_HOUR)), QStringLiteral("Hour / Timecode Offset"));
        // Every list and check box is told apart from all others.
        std::set<QString> names;
        for (QComboBox* pList : d.findChildren<QComboBox*>()) names.insert(ListLabels(pList));
        for (QCheckBox* pCheck : d.findChildren<QCheckBox*>())
            names.insert(QAccessible::queryAccessibleInterface(pCheck)->text(QAccessible::Name));
        QCOMPARE(names.size(), size_t(int(kTimecodeListCount) + int(kTimecodeCheckCount)));
        QVERIFY(names.count("SD-SDI DVITC #2 576i Insert Postion / SD-SDI DVITC"));
        // Tab reaches every list and check box; Space checks, Esc cancels.
        std::set<QWidget*> visited;
        for (int i = 0; i < 40; ++i, QTest::keyClick(d.focusWidget(), Qt::Key_Tab)) visited.insert(d.focusWidget());
        for (QWidget* w : d.findChildren<QComboBox*>()) QVERIFY2(visited.count(w), qPrintable(w->objectName()));
        for (QWidget* w : d.findChildren<QCheckBox*>()) QVERIFY2(visited.count(w), qPrintable(w->objectName()));
        Check(d, IDC_TC_S3)->setFocus();
        QTest::keyClick(Check(d, IDC_TC_S3), Qt::Key_Space);
        QVERIFY(Check(d, IDC_TC_S3)->isChecked());
        QTest::keyClick(Check(d, IDC_TC_S3), Qt::Key_Escape);
        QCOMPARE(d.result(), int(QDialog::Rejected));
    }));
    QVERIFY(rig.TakeFrames().empty());
    QCOMPARE(rig.ImageBlock(kAddrTimecode), before);
}

void TCDlgTest::deviceHoldsWhatTheDialogShowed() {
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    QStringList shown;
    QVERIFY(rig.Run<CTCDlg>(IDC_TC, [&](CTCDlg& d) {
        Choose(d, IDC_TC_OFFSET_MIN, "42");
        Choose(d, IDC_TC_BG3, "C");
        Choose(d, IDC_TC_DVITC2_480, "20(283)");
        Choose(d, IDC_TC_DROP_FRAME, "Drop");
        Choose(d, IDC_TC_USERBIT_GENERATE, "Recording Mark");
        Check(d, IDC_TC_S5)->setChecked(true);
        Check(d, IDC_TC_DVITC2_GENERATE)->setChecked(true);
        shown = Shown(d);
        QTest::keyClick(List(d, IDC_TC_DROP_FRAME), Qt::Key_Return);  // Enter is OK
    }));
    ExpectBlockSent(rig);  // and acted on, before Connect stops the port
    QVERIFY(rig.Reconnect());
    QVERIFY(rig.Run<CTCDlg>(IDC_TC, [&](CTCDlg& d) {
        QCOMPARE(Shown(d), shown);
        d.reject();
    }));
}

QTEST_MAIN(TCDlgTest)
#include "TCDlgTest.moc"
