// The preset editor opened through the main window's "Edit Preset", over the emulator.
#include <QAccessible>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <set>

#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/device/DeviceImage.h"
#include "protocol/fields/PresetBlock.h"
#include "support/EditorRig.h"
#include "ui/editors/PresetDlg.h"
#include "ui/main/UtilQZ81KTDlg.h"
#include "ui/widgets/ControlId.h"

using namespace qz;

namespace {

#define QZ81KT_ID_ROW(name, value) value,
constexpr int kEditorIds[] = {QZ81KT_PRESET_CONTROLS(QZ81KT_ID_ROW) IDOK, IDCANCEL};
#undef QZ81KT_ID_ROW

template <class T = QWidget>
T* Ctl(QWidget& d, int nId) {
    return FindControl<T>(&d, nId);
}
QComboBox* List(QWidget& d, int nId) { return Ctl<QComboBox>(d, nId); }
void Click(QWidget& d, int nId) { Ctl<QPushButton>(d, nId)->click(); }
void Choose(QWidget& d, int nId, const QString& strItem) { List(d, nId)->setCurrentIndex(List(d, nId)->findText(strItem)); }
void Type(QWidget& d, int nId, const QString& strText) {
    Ctl<QLineEdit>(d, nId)->clear();
    QTest::keyClicks(Ctl<QLineEdit>(d, nId), strText);
}
void ShowTab(QWidget& d, int n) { Ctl<QTabBar>(d, IDC_PRESET_TAB)->setCurrentIndex(n); }
bool ApplyOn(QWidget& d) { return Ctl(d, IDC_APPLY)->isEnabled(); }

Bytes Preset(CEditorRig& rig, int n) { return rig.ImageBlock(PresetAddress(n)); }
// Puts values into a preset of the device and so of the image; the editor opens on it.
void SetPreset(CEditorRig& rig, int n, const std::function<void(uint8_t*)>& fnEdit) {
    Bytes p = Preset(rig, n);
    fnEdit(p.data());
    QVERIFY(rig.SetDeviceBlock(PresetAddress(n), p));
    rig.Window().Image().WriteByte(EBlock::System, kSysPreset, uint8_t(n));
}

// The eight presets in order, then the system block, each as the image holds it.
void ExpectAllBlocksSent(CEditorRig& rig) {
    const std::vector<Bytes> frames = rig.TakeFrames();
    QCOMPARE(frames.size(), size_t(9));
    for (int n = 0; n < kPresetCount; ++n) {
        QCOMPARE(DT1Address(frames[n]), PresetAddress(n));
        QCOMPARE(DT1Data(frames[n]), Preset(rig, n));
    }
    QCOMPARE(DT1Address(frames[8]), kAddrSystem);
    QCOMPARE(DT1Data(frames[8]), rig.ImageBlock(kAddrSystem));
}

QStringList Shown(QWidget& d) {
    QStringList shown;
    for (QComboBox* p : d.findChildren<QComboBox*>()) shown << p->currentText();
    for (QLineEdit* p : d.findChildren<QLineEdit*>()) shown << p->text();
    return shown;
}

}  // namespace

class PresetDlgTest : public QObject {
    Q_OBJECT
private slots:
    void opensOnTheCurrentPresetAndOkSendsEverything_data();
    void opensOnTheCurrentPresetAndOkSendsEverything();
    void shownValuesPacketIdsThenApplyAndCancel();
    void editsOnTwoTabs_data();
    void editsOnTwoTabs();
    void codecDecidesTheEnabledFields_data();
    void codecDecidesTheEnabledFields();
    void valuesNoItemShowsSurviveASave();
    void keyboardAndAccessibleNames();
    void deviceHoldsWhatTheEditorShowed();
};

void PresetDlgTest::opensOnTheCurrentPresetAndOkSendsEverything_data() {
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("shown");
    QTest::newRow("5") << 5 << 5;
    QTest::newRow("9 opens the last") << 9 << 7;
}

void PresetDlgTest::opensOnTheCurrentPresetAndOkSendsEverything() {
    QFETCH(int, current);
    QFETCH(int, shown);
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    rig.Window().Image().WriteByte(EBlock::System, kSysPreset, uint8_t(current));
    const Bytes before = Preset(rig, shown);
    QVERIFY(rig.Run<CPresetDlg>(IDC_EDIT_PRESET, [&](CPresetDlg& d) {
        QCOMPARE(Ctl<QTabBar>(d, IDC_PRESET_TAB)->tabText(Ctl<QTabBar>(d, IDC_PRESET_TAB)->currentIndex()),
                 QStringLiteral("Preset %1").arg(shown));
        QCOMPARE(List(d, IDC_PRESET_HD)->currentText(), QString::number(Read16(before.data(), kPresetHdBitRate) / 10));
        ShowTab(d, 0);  // tab changes without an edit leave Apply off
        ShowTab(d, shown);
        QVERIFY(!ApplyOn(d));
        Click(d, IDOK);
    }));
    ExpectAllBlocksSent(rig);
    QCOMPARE(Preset(rig, shown), before);
}

void PresetDlgTest::shownValuesPacketIdsThenApplyAndCancel() {
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    SetPreset(rig, 3, [](uint8_t* p) {
        Write16(p, kPresetHdBitRate, 85);
        Write8(p, kPresetGopSize, 16);
    });
    Bytes applied;
    QVERIFY(rig.Run<CPresetDlg>(IDC_EDIT_PRESET, [&](CPresetDlg& d) {
        QCOMPARE(List(d, IDC_PRESET_HD)->currentText(), QStringLiteral("8"));
        QCOMPARE(List(d, IDC_PRESET_GOP)->currentText(), QStringLiteral("16"));
        Type(d, IDC_PRESET_PMT, "1A2B3");
        Type(d, IDC_PRESET_PCR, "xyz");
        Type(d, IDC_PRESET_VIDEO_PID, " 0x1F");
        QVERIFY(ApplyOn(d));
        Click(d, IDC_APPLY);
        for (auto [nId, strShown] : {std::pair{IDC_PRESET_PMT, "a2b3"}, {IDC_PRESET_PCR, "0000"}, {IDC_PRESET_VIDEO_PID, "001f"}})
            QCOMPARE(Ctl<QLineEdit>(d, nId)->text(), QString(strShown));
        QVERIFY(!ApplyOn(d));
        applied = Preset(rig, 3);
        Choose(d, IDC_PRESET_GOP, "9");
        d.reject();  // back to the snapshot of the Apply
    }));
    ExpectAllBlocksSent(rig);
    QCOMPARE(Preset(rig, 3), applied);
    const Bytes held = rig.DeviceBlock(PresetAddress(3));
    QCOMPARE(Read16(held.data(), kPresetHdBitRate), 80);
    QCOMPARE(Read8(held.data(), kPresetGopSize), 16);
    QCOMPARE(Read16(held.data(), kPresetPmtPid), 0xA2B3);
    QCOMPARE(Read16(held.data(), kPresetPcrPid), 0);
    QCOMPARE(Read16(held.data(), kPresetVideoPid), 0x1F);
}

void PresetDlgTest::editsOnTwoTabs_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel") << "cancel";
    QTest::newRow("OK") << "ok";
    QTest::newRow("OK refused by a closed port") << "refused";
}

void PresetDlgTest::editsOnTwoTabs() {
    QFETCH(QString, how);
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    rig.Window().Image().WriteByte(EBlock::System, kSysPreset, 2);
    const Bytes before2 = Preset(rig, 2), before6 = Preset(rig, 6);
    QVERIFY(rig.Run<CPresetDlg>(IDC_EDIT_PRESET, [&](CPresetDlg& d) {
        Choose(d, IDC_PRESET_GOP, "12");
        ShowTab(d, 6);
        QVERIFY(ApplyOn(d));  // kept across the tab change
        Choose(d, IDC_PRESET_HD, "20");
        if (how == "refused") {
            rig.Window().MidiOut().Stop();
            rig.Window().MidiOut().Close();
        }
        Click(d, how == "cancel" ? IDCANCEL : IDOK);
        QCOMPARE(d.result(), int(how == "cancel" ? QDialog::Rejected : QDialog::Accepted));
    }));
    if (how != "ok") {
        // Cancel restores both presets; a refused OK is told and keeps both edits.
        QCOMPARE(Preset(rig, 2) == before2, how == "cancel");
        QCOMPARE(Preset(rig, 6) == before6, how == "cancel");
        QCOMPARE(rig.Messages().size(), how == "refused" ? 1 : 0);
        if (how == "refused") QCOMPARE(rig.Messages()[0], QStringLiteral("Error : Please Connect at first"));
        QVERIFY(rig.TakeFrames().empty());
        return;
    }
    ExpectAllBlocksSent(rig);
    QVERIFY(rig.Messages().isEmpty());
    QCOMPARE(Read8(rig.DeviceBlock(PresetAddress(2)).data(), kPresetGopSize), 12);
    QCOMPARE(Read16(rig.DeviceBlock(PresetAddress(6)).data(), kPresetHdBitRate), 200);
    QCOMPARE(rig.Window().Control(IDC_PRESET6)->property("text").toString(),
             QString::fromStdString(PresetSummaryLine(6, Preset(rig, 6).data())));
}

void PresetDlgTest::codecDecidesTheEnabledFields_data() {
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QList<int>>("disabled");
    const QList<int> gop = {IDC_PRESET_GOP, IDC_PRESET_BPICT, IDC_PRESET_CLOSED_GOP};
    QList<int> mpeg2 = {IDC_PRESET_HD,        IDC_PRESET_SD,         IDC_PRESET_PMT,        IDC_PRESET_PCR,
                        IDC_PRESET_VIDEO_PID, IDC_PRESET_AUDIO_PID,  IDC_PRESET_PROGRAM_TX, IDC_PRESET_PROGRAM_RX,
                        IDC_PRESET_HSIZE,     IDC_PRESET_AUDIO_RATE, IDC_PRESET_LPF};
    QTest::newRow("HDV/DV") << "HDV/DV" << mpeg2 + gop;
    QTest::newRow("MPEG-2") << "MPEG-2" << QList<int>{};
    QTest::newRow("LowLatency") << "LowLatency" << gop;
}

void PresetDlgTest::codecDecidesTheEnabledFields() {
    QFETCH(QString, codec);
    QFETCH(QList<int>, disabled);
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    SetPreset(rig, 3, [](uint8_t* p) { Write16(p, kPresetHdBitRate, 85); });
    QVERIFY(rig.Run<CPresetDlg>(IDC_EDIT_PRESET, [&](CPresetDlg& d) {
        Choose(d, IDC_PRESET_CODEC, codec);  // the emulator offers LowLatency
        for (int nId : kEditorIds)
            if (nId != IDC_APPLY) QVERIFY2(Ctl(d, nId)->isEnabled() != disabled.contains(nId), qPrintable(Ctl(d, nId)->objectName()));
        Click(d, IDOK);
    }));
    QCOMPARE(Read16(Preset(rig, 3).data(), kPresetHdBitRate), 80);  // disabled or not, saved as shown
}

void PresetDlgTest::valuesNoItemShowsSurviveASave() {
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    rig.Window().Image().m_bLowLatencyAvail = false;
    SetPreset(rig, 4, [](uint8_t* p) {
        Write8(p, kPresetCodec, kCodecLowLatency);
        Write16(p, kPresetHdBitRate, 75);
        Write8(p, kPresetGopSize, 31);
    });
    const Bytes before = Preset(rig, 4);
    QVERIFY(rig.Run<CPresetDlg>(IDC_EDIT_PRESET, [&](CPresetDlg& d) {
        for (int nId : {IDC_PRESET_CODEC, IDC_PRESET_HD, IDC_PRESET_GOP}) QCOMPARE(List(d, nId)->currentIndex(), -1);
        ShowTab(d, 5);
        Choose(d, IDC_PRESET_AUDIO_RATE, "128Kbps");
        Click(d, IDOK);
    }));
    ExpectAllBlocksSent(rig);
    QCOMPARE(rig.DeviceBlock(PresetAddress(4)), before);
    QCOMPARE(Read8(rig.DeviceBlock(PresetAddress(5)).data(), kPresetAudioBitRate), 0);
}

void PresetDlgTest::keyboardAndAccessibleNames() {
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    rig.Window().Image().WriteByte(EBlock::System, kSysPreset, 3);  // MPEG-2: every field enabled
    QVERIFY(rig.Run<CPresetDlg>(IDC_EDIT_PRESET, [&](CPresetDlg& d) {
        // A list's name is its value; a screen reader names it by its related labels.
        QStringList labels;
        for (auto& rel : QAccessible::queryAccessibleInterface(List(d, IDC_PRESET_HD))->relations(QAccessible::Label))
            labels << rel.first->text(QAccessible::Name);
        QCOMPARE(labels, (QStringList{"HD", "MPEG-2 Bit Rate"}));
        QCOMPARE(QAccessible::queryAccessibleInterface(Ctl(d, IDC_PRESET_PROGRAM_RX))->text(QAccessible::Name),
                 QStringLiteral("MPEG-2 Program Number Rx"));
        // Tab reaches every control but the disabled Apply; Enter on a list is OK.
        std::set<QWidget*> visited;
        for (int i = 0; i < 40; ++i, QTest::keyClick(d.focusWidget(), Qt::Key_Tab)) visited.insert(d.focusWidget());
        for (int nId : kEditorIds)
            if (nId != IDC_APPLY) QVERIFY2(visited.count(Ctl(d, nId)), qPrintable(Ctl(d, nId)->objectName()));
        List(d, IDC_PRESET_RX_TYPE)->setFocus();
        QTest::keyClick(List(d, IDC_PRESET_RX_TYPE), Qt::Key_Down);
        QTest::keyClick(List(d, IDC_PRESET_RX_TYPE), Qt::Key_Return);
        QCOMPARE(d.result(), int(QDialog::Accepted));
    }));
    ExpectAllBlocksSent(rig);
    QCOMPARE(Read8(rig.DeviceBlock(PresetAddress(3)).data(), kPresetRxType), 2);
}

void PresetDlgTest::deviceHoldsWhatTheEditorShowed() {
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    rig.Window().Image().WriteByte(EBlock::System, kSysPreset, 3);
    QStringList shown3, shown4;
    QVERIFY(rig.Run<CPresetDlg>(IDC_EDIT_PRESET, [&](CPresetDlg& d) {
        Choose(d, IDC_PRESET_SD, "7");
        Choose(d, IDC_PRESET_LPF, "Max");
        Type(d, IDC_PRESET_PROGRAM_RX, "beef");
        ShowTab(d, 4);
        Choose(d, IDC_PRESET_CLOSED_GOP, "ClosedGOP");
        shown4 = Shown(d);
        ShowTab(d, 3);
        shown3 = Shown(d);
        Click(d, IDOK);
    }));
    ExpectAllBlocksSent(rig);  // and acted on, before Connect stops the port
    QVERIFY(rig.Reconnect());
    rig.Window().Image().WriteByte(EBlock::System, kSysPreset, 3);
    QVERIFY(rig.Run<CPresetDlg>(IDC_EDIT_PRESET, [&](CPresetDlg& d) {
        QCOMPARE(Shown(d), shown3);
        ShowTab(d, 4);
        QCOMPARE(Shown(d), shown4);
        d.reject();
    }));
}

QTEST_MAIN(PresetDlgTest)
#include "PresetDlgTest.moc"
