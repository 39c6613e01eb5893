// The preset editor opened through the main window's "Edit Preset", over the emulator.
#include <QAccessible>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <set>

#include "protocol/DeviceFrames.h"
#include "protocol/DeviceImage.h"
#include "protocol/PresetBlock.h"
#include "protocol/PresetFields.h"
#include "support/EditorRig.h"
#include "ui/editors/PresetDlg.h"
#include "ui/main/UtilQZ81KTDlg.h"
#include "ui/widgets/ControlId.h"

using namespace qz;

namespace {

QComboBox* List(QWidget& d, int nId) { return FindControl<QComboBox>(&d, nId); }
QLineEdit* Field(QWidget& d, int nId) { return FindControl<QLineEdit>(&d, nId); }
QTabBar* Tabs(QWidget& d) { return FindControl<QTabBar>(&d, IDC_PRESET_TAB); }
QPushButton* Button(QWidget& d, int nId) { return FindControl<QPushButton>(&d, nId); }

// The editor's lists and fields: its controls but the tabs and Apply.
#define QZ81KT_ID_ROW(name, value) value,
constexpr int kPresetIds[] = {QZ81KT_PRESET_CONTROLS(QZ81KT_ID_ROW)};
#undef QZ81KT_ID_ROW
const QList<int> kFieldIds = [] {
    QList<int> ids;
    for (int nId : kPresetIds)
        if (nId != IDC_APPLY && nId != IDC_PRESET_TAB) ids << nId;
    return ids;
}();

QString ExpectedName(const char* pszGroup, const char* pszLabel) {
    return *pszGroup ? QStringLiteral("%1 %2").arg(pszGroup, pszLabel) : QString::fromLatin1(pszLabel);
}
template <class T>
T* Named(QWidget& d, const QString& strName) {
    for (T* p : d.findChildren<T*>())
        if (p->accessibleName() == strName) return p;
    return nullptr;
}

// As the operator picks an item.
void Choose(QComboBox* pList, const QString& strItem) {
    const int i = pList->findText(strItem);
    QVERIFY2(i >= 0, qPrintable(strItem));
    pList->setCurrentIndex(i);
}
void Type(QLineEdit* pField, const QString& strText) {
    pField->clear();
    QTest::keyClicks(pField, strText);
}

Bytes Preset(CEditorRig& rig, int n) { return rig.ImageBlock(PresetAddress(n)); }

// The eight preset data sets in order, then the system block as the image holds it.
void ExpectAllBlocksSent(CEditorRig& rig) {
    const std::vector<Bytes> frames = rig.TakeFrames();
    QCOMPARE(frames.size(), size_t(9));
    for (int n = 0; n < kPresetCount; ++n) {
        QVERIFY(IsDT1(frames[n]));
        QCOMPARE(FrameAddress(frames[n]), PresetAddress(n));
        QCOMPARE(FrameData(frames[n]), Preset(rig, n));
    }
    QCOMPARE(FrameAddress(frames[8]), kAddrSystem);
    QCOMPARE(FrameData(frames[8]), rig.ImageBlock(kAddrSystem));
}

// The texts every control of the editor shows.
QStringList Shown(CPresetDlg& d) {
    QStringList shown;
    for (QComboBox* p : d.findChildren<QComboBox*>()) shown << p->objectName() + '=' + p->currentText();
    for (QLineEdit* p : d.findChildren<QLineEdit*>()) shown << p->objectName() + '=' + p->text();
    return shown;
}

}  // namespace

class PresetDlgTest : public QObject {
    Q_OBJECT
private slots:
    void opensOnTheCurrentPreset_data();
    void opensOnTheCurrentPreset();
    void shownValuesPacketIdsThenApplyAndCancel();
    void editsOnTwoTabs_data();
    void editsOnTwoTabs();
    void okWithoutChangeSendsEveryBlock();
    void codecDecidesTheEnabledFields_data();
    void codecDecidesTheEnabledFields();
    void valuesNoItemShowsSurviveASave();
    void refusedSendIsToldAndTheEditsStay();
    void keyboardAndAccessibleNames();
    void deviceHoldsWhatTheEditorShowed();
};

void PresetDlgTest::opensOnTheCurrentPreset_data() {
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("shown");
    QTest::newRow("5") << 5 << 5;
    QTest::newRow("9 opens the last") << 9 << 7;
}

void PresetDlgTest::opensOnTheCurrentPreset() {
    QFETCH(int, current);
    QFETCH(int, shown);
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    rig.Window().Image().WriteByte(EBlock::System, 5, uint8_t(current));
    QVERIFY(rig.RunPresetEditor([&](CPresetDlg& d) {
        QCOMPARE(Tabs(d)->currentIndex(), shown);
        QCOMPARE(Tabs(d)->tabText(shown), QStringLiteral("Preset %1").arg(shown));
        const Bytes p = Preset(rig, shown);
        QCOMPARE(List(d, IDC_PRESET_HD)->currentText(), QString::number(Read16(p.data(), kPresetHdBitRate) / 10));
        QVERIFY(!Button(d, IDC_APPLY)->isEnabled());
        Tabs(d)->setCurrentIndex(0);  // a tab change without an edit leaves Apply off
        QVERIFY(!Button(d, IDC_APPLY)->isEnabled());
        d.reject();
    }));
    QVERIFY(rig.TakeFrames().empty());
}

void PresetDlgTest::shownValuesPacketIdsThenApplyAndCancel() {
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    Bytes p = Preset(rig, 3);
    Write16(p.data(), kPresetHdBitRate, 85);
    Write8(p.data(), kPresetGopSize, 16);
    QVERIFY(rig.SetDeviceBlock(PresetAddress(3), p));
    rig.Window().Image().WriteByte(EBlock::System, 5, 3);
    Bytes applied;
    QVERIFY(rig.RunPresetEditor([&](CPresetDlg& d) {
        QCOMPARE(List(d, IDC_PRESET_HD)->currentText(), QStringLiteral("8"));
        QCOMPARE(List(d, IDC_PRESET_GOP)->currentText(), QStringLiteral("16"));
        Type(Field(d, IDC_PRESET_PMT), "1A2B3");
        Type(Field(d, IDC_PRESET_PCR), "xyz");
        Type(Field(d, IDC_PRESET_VIDEO_PID), " 0x1F");
        QVERIFY(Button(d, IDC_APPLY)->isEnabled());
        Button(d, IDC_APPLY)->click();
        QCOMPARE(Field(d, IDC_PRESET_PMT)->text(), QStringLiteral("a2b3"));
        QCOMPARE(Field(d, IDC_PRESET_PCR)->text(), QStringLiteral("0000"));
        QCOMPARE(Field(d, IDC_PRESET_VIDEO_PID)->text(), QStringLiteral("001f"));
        QVERIFY(!Button(d, IDC_APPLY)->isEnabled());
        applied = Preset(rig, 3);
        Choose(List(d, IDC_PRESET_GOP), "9");
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
    QTest::addColumn<bool>("ok");
    QTest::newRow("Cancel") << false;
    QTest::newRow("OK") << true;
}

void PresetDlgTest::editsOnTwoTabs() {
    QFETCH(bool, ok);
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    rig.Window().Image().WriteByte(EBlock::System, 5, 2);
    const Bytes before2 = Preset(rig, 2), before6 = Preset(rig, 6);
    QVERIFY(rig.RunPresetEditor([&](CPresetDlg& d) {
        Choose(List(d, IDC_PRESET_GOP), "12");
        Tabs(d)->setCurrentIndex(6);
        QVERIFY(Button(d, IDC_APPLY)->isEnabled());  // kept across the tab change
        Choose(List(d, IDC_PRESET_HD), "20");
        if (ok)
            Button(d, IDOK)->click();
        else
            Button(d, IDCANCEL)->click();
    }));
    if (!ok) {
        QCOMPARE(Preset(rig, 2), before2);
        QCOMPARE(Preset(rig, 6), before6);
        QVERIFY(rig.TakeFrames().empty());
        return;
    }
    ExpectAllBlocksSent(rig);
    QCOMPARE(rig.DeviceBlock(PresetAddress(6)), Preset(rig, 6));
    QCOMPARE(Read8(rig.DeviceBlock(PresetAddress(2)).data(), kPresetGopSize), 12);
    QCOMPARE(Read16(rig.DeviceBlock(PresetAddress(6)).data(), kPresetHdBitRate), 200);
    QCOMPARE(FindControl<QAbstractButton>(&rig.Window(), IDC_PRESET6)->text(),
             QString::fromStdString(PresetSummaryLine(6, Preset(rig, 6).data())));
}

void PresetDlgTest::okWithoutChangeSendsEveryBlock() {
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    const Bytes before = Preset(rig, 0);
    QVERIFY(rig.RunPresetEditor([&](CPresetDlg& d) { Button(d, IDOK)->click(); }));
    ExpectAllBlocksSent(rig);
    QCOMPARE(Preset(rig, 0), before);
}

void PresetDlgTest::codecDecidesTheEnabledFields_data() {
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QList<int>>("enabled");
    const QList<int> hdvDv = {IDC_PRESET_CODEC, IDC_PRESET_RX_TYPE};
    const QList<int> mpeg2Only = {IDC_PRESET_GOP, IDC_PRESET_BPICT, IDC_PRESET_CLOSED_GOP};
    const QList<int> mpeg2 = hdvDv + QList<int>{IDC_PRESET_HD,          IDC_PRESET_SD,         IDC_PRESET_PMT,
                                                IDC_PRESET_PCR,         IDC_PRESET_VIDEO_PID,  IDC_PRESET_AUDIO_PID,
                                                IDC_PRESET_PROGRAM_TX,  IDC_PRESET_PROGRAM_RX, IDC_PRESET_HSIZE,
                                                IDC_PRESET_AUDIO_RATE,  IDC_PRESET_LPF};
    QTest::newRow("HDV/DV") << "HDV/DV" << hdvDv;
    QTest::newRow("MPEG-2") << "MPEG-2" << mpeg2 + mpeg2Only;
    QTest::newRow("LowLatency") << "LowLatency" << mpeg2;
}

void PresetDlgTest::codecDecidesTheEnabledFields() {
    QFETCH(QString, codec);
    QFETCH(QList<int>, enabled);
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    Bytes p = Preset(rig, 3);
    Write16(p.data(), kPresetHdBitRate, 85);
    QVERIFY(rig.SetDeviceBlock(PresetAddress(3), p));
    rig.Window().Image().WriteByte(EBlock::System, 5, 3);
    QVERIFY(rig.RunPresetEditor([&](CPresetDlg& d) {
        QCOMPARE(List(d, IDC_PRESET_CODEC)->count(), 3);  // the device offers LowLatency
        Choose(List(d, IDC_PRESET_CODEC), codec);
        for (int nId : kFieldIds)
            QVERIFY2(FindControl(&d, nId)->isEnabled() == enabled.contains(nId), qPrintable(FindControl(&d, nId)->objectName()));
        Button(d, IDOK)->click();
    }));
    // Disabled fields are saved with what they show.
    QCOMPARE(Read16(Preset(rig, 3).data(), kPresetHdBitRate), 80);
}

void PresetDlgTest::valuesNoItemShowsSurviveASave() {
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    Bytes p = Preset(rig, 4);
    Write8(p.data(), kPresetCodec, kCodecLowLatency);
    Write16(p.data(), kPresetHdBitRate, 75);
    Write8(p.data(), kPresetGopSize, 31);
    QVERIFY(rig.SetDeviceBlock(PresetAddress(4), p));
    rig.Window().Image().m_bLowLatencyAvail = 0;
    rig.Window().Image().WriteByte(EBlock::System, 5, 4);
    QVERIFY(rig.RunPresetEditor([&](CPresetDlg& d) {
        for (int nId : {IDC_PRESET_CODEC, IDC_PRESET_HD, IDC_PRESET_GOP}) QCOMPARE(List(d, nId)->currentIndex(), -1);
        Tabs(d)->setCurrentIndex(5);
        Choose(List(d, IDC_PRESET_AUDIO_RATE), "128Kbps");
        Button(d, IDOK)->click();
    }));
    ExpectAllBlocksSent(rig);
    QCOMPARE(rig.DeviceBlock(PresetAddress(5)), Preset(rig, 5));
    QCOMPARE(rig.DeviceBlock(PresetAddress(4)), p);
    QCOMPARE(Read8(Preset(rig, 5).data(), kPresetAudioBitRate), 0);
}

void PresetDlgTest::refusedSendIsToldAndTheEditsStay() {
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    int nResult = -1;
    QVERIFY(rig.RunPresetEditor([&](CPresetDlg& d) {
        Choose(List(d, IDC_PRESET_RX_TYPE), "DV");
        rig.Window().MidiOut().Stop();
        rig.Window().MidiOut().Close();
        Button(d, IDOK)->click();
        nResult = d.result();
    }));
    QCOMPARE(nResult, int(QDialog::Accepted));
    QCOMPARE(rig.Services().m_messages, QStringList{"Error : Please Connect at first"});
    QCOMPARE(Read8(Preset(rig, 0).data(), kPresetRxType), 2);
    QVERIFY(rig.TakeFrames().empty());
}

void PresetDlgTest::keyboardAndAccessibleNames() {
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    rig.Window().Image().WriteByte(EBlock::System, 5, 3);  // MPEG-2: every field enabled
    QVERIFY(rig.RunPresetEditor([&](CPresetDlg& d) {
        // Every control's identity for a screen reader: its name, or for a list (whose
        // name is its value) the labels it is related to.
        std::set<QString> identities;
        for (const CPresetList& f : kPresetLists) {
            QComboBox* pList = Named<QComboBox>(d, ExpectedName(f.pszGroup, f.pszLabel));
            QVERIFY2(pList, f.pszLabel);
            QStringList labels;
            for (auto& rel : QAccessible::queryAccessibleInterface(pList)->relations(QAccessible::Label))
                labels << rel.first->text(QAccessible::Name);
            QVERIFY2(labels.contains(QLatin1String(f.pszLabel)), f.pszLabel);
            if (*f.pszGroup) QVERIFY2(labels.contains(QLatin1String(f.pszGroup)), f.pszLabel);
            identities.insert(labels.join('/'));
        }
        for (const CPresetHexField& f : kPresetHexFields) {
            QLineEdit* pField = Named<QLineEdit>(d, ExpectedName(f.pszGroup, f.pszLabel));
            QVERIFY2(pField, f.pszLabel);
            identities.insert(QAccessible::queryAccessibleInterface(pField)->text(QAccessible::Name));
        }
        QCOMPARE(identities.size(), size_t(int(kPresetListCount) + int(kPresetHexCount)));

        // Tab reaches every control; Enter on a list is OK.
        std::set<QString> visited;
        for (int i = 0; i < 40; ++i) {
            visited.insert(d.focusWidget()->objectName());
            QTest::keyClick(d.focusWidget(), Qt::Key_Tab);
        }
        for (int nId : kFieldIds + QList<int>{IDC_PRESET_TAB, IDOK, IDCANCEL})
            QVERIFY2(visited.count(FindControl(&d, nId)->objectName()), qPrintable(FindControl(&d, nId)->objectName()));
        List(d, IDC_PRESET_RX_TYPE)->setFocus();
        QTest::keyClick(List(d, IDC_PRESET_RX_TYPE), Qt::Key_Down);
        QTest::keyClick(List(d, IDC_PRESET_RX_TYPE), Qt::Key_Return);
        QCOMPARE(d.result(), int(QDialog::Accepted));
    }));
    ExpectAllBlocksSent(rig);
}

void PresetDlgTest::deviceHoldsWhatTheEditorShowed() {
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    rig.Window().Image().WriteByte(EBlock::System, 5, 3);
    QStringList shown3, shown4;
    QVERIFY(rig.RunPresetEditor([&](CPresetDlg& d) {
        Choose(List(d, IDC_PRESET_SD), "7");
        Choose(List(d, IDC_PRESET_LPF), "Max");
        Type(Field(d, IDC_PRESET_PROGRAM_RX), "beef");
        Tabs(d)->setCurrentIndex(4);
        Choose(List(d, IDC_PRESET_CLOSED_GOP), "ClosedGOP");
        shown4 = Shown(d);
        Tabs(d)->setCurrentIndex(3);
        shown3 = Shown(d);
        Button(d, IDOK)->click();
    }));
    QVERIFY(rig.Reconnect());
    rig.Window().Image().WriteByte(EBlock::System, 5, 3);
    QVERIFY(rig.RunPresetEditor([&](CPresetDlg& d) {
        QCOMPARE(Shown(d), shown3);
        Tabs(d)->setCurrentIndex(4);
        QCOMPARE(Shown(d), shown4);
        d.reject();
    }));
}

QTEST_MAIN(PresetDlgTest)
#include "PresetDlgTest.moc"
