// The service dialog opened through the main window's "For Service" in service mode, each
// behaviour asserted on the frames the emulator receives.
#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <set>

#include "protocol/wire/DeviceFrames.h"
#include "support/EditorRig.h"
#include "ui/editors/ServiceDlg.h"
#include "ui/main/UtilQZ81KTDlg.h"
#include "ui/widgets/ControlId.h"

using namespace qz;

namespace {

constexpr int kToggles[] = {IDC_SERVICE_TEST_FAN,  IDC_SERVICE_TEST_POWER, IDC_SERVICE_TEST_LED1,
                            IDC_SERVICE_TEST_LED2, IDC_SERVICE_TEST_LED3,  IDC_SERVICE_TEST_LED4};
constexpr uint8_t kToggleBits[] = {0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

// The test block frame as the device documents it.
Bytes TestFrame(uint8_t v) { return {0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x12, 0x7F, 0x09, 0x00, v, uint8_t((0x78 - v) & 0x7F), 0xF7}; }

Bytes ProductIDFrame(const char* pszID) {
    Bytes f = {0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x12, 0x7F, 0x01, 0x00};
    for (int i = 0; i < 16; ++i) f.push_back(uint8_t(pszID[i]));
    unsigned nSum = 0;
    for (size_t i = 7; i < f.size(); ++i) nSum += f[i];
    f.push_back(uint8_t((0x80 - nSum % 0x80) & 0x7F));
    f.push_back(0xF7);
    return f;
}

Bytes Request(uint32_t dwAddress, uint32_t dwSize) {
    uint8_t f[kRQ1Length];
    BuildRQ1(f, kDefaultDeviceID, dwAddress, dwSize);
    return Bytes(f, f + sizeof f);
}

// What the emulator received, less the system block requests: the window sends those on
// its own when a control mode reply changes the mode, the dialog never does.
std::vector<Bytes> DialogFrames(CEditorRig& rig) {
    std::vector<Bytes> frames = rig.TakeFrames();
    std::erase(frames, Request(kAddrSystem, kSystemSize));
    return frames;
}

// Typing as a keyboard with any layout would: each character as a key press's text
// (QTest::keyClicks takes ASCII only).
void Type(QWidget* pWidget, const QString& str) {
    for (QChar c : str) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(pWidget, &press);
        QApplication::sendEvent(pWidget, &release);
    }
}

QLineEdit* Edit(QWidget& d, int nId) { return FindControl<QLineEdit>(&d, nId); }
QCheckBox* Check(QWidget& d, int nId) { return FindControl<QCheckBox>(&d, nId); }
void Click(QWidget& d, int nId) { QTest::mouseClick(FindControl(&d, nId), Qt::LeftButton); }

}  // namespace

class ServiceDlgTest : public QObject {
    Q_OBJECT
private slots:
    void newIdTakesSixteenPrintableCapitals();
    void writeRefused_data();
    void writeRefused();
    void writeSendsTheIdAndClosesWithoutUpdateMode();
    void enterActsAsGo();
    void checkModeAndTheSixToggles();
    void everyClosingSwitchesTheTestOff_data();
    void everyClosingSwitchesTheTestOff();
    void modeSwitchFieldWaitsForARealValue();
    void namesKeyboardAndTheWindowsFileCommands();
};

void ServiceDlgTest::newIdTakesSixteenPrintableCapitals() {
    CEditorRig rig(true);
    QVERIFY(rig.IsReady());
    const Bytes id = rig.DeviceBlock(kAddrProductID);
    QVERIFY(rig.Run<CServiceDlg>(IDC_FOR_SERVICE, [&](CServiceDlg& d) {
        QCOMPARE(DialogFrames(rig), std::vector<Bytes>{Request(kAddrControlMode, 1)});  // asked at opening
        QCOMPARE(Edit(d, IDC_SERVICE_PRODUCT_ID)->text(),
                 QString::fromLatin1(reinterpret_cast<const char*>(id.data()), qstrnlen(reinterpret_cast<const char*>(id.data()), 16)));
        QLineEdit* pNew = Edit(d, IDC_SERVICE_NEW_ID);
        QTest::keyClicks(pNew, "abcdefghijklmnopq");
        QCOMPARE(pNew->text(), QStringLiteral("ABCDEFGHIJKLMNOP"));
        pNew->clear();
        Type(pNew, QString::fromUtf8("a\u00e9b\u20acc\u00dfd"));
        QCOMPARE(pNew->text(), QStringLiteral("ABCD"));
        struct {
            QString clip;
            QString expected;
        } pastes[] = {{"0123456789abcdefXYZ", "0123456789ABCDEF"}, {QString::fromUtf8("AB\u00c4"), ""}};
        for (auto& p : pastes) {
            pNew->clear();
            QGuiApplication::clipboard()->setText(p.clip);
            QTest::keyClick(pNew, Qt::Key_V, Qt::ControlModifier);
            QCOMPARE(pNew->text(), p.expected);
        }
        d.reject();
    }));
    QCOMPARE(DialogFrames(rig), std::vector<Bytes>{TestFrame(0x00)});
}

void ServiceDlgTest::writeRefused_data() {
    QTest::addColumn<QString>("id");
    QTest::addColumn<bool>("portClosed");
    QTest::addColumn<QString>("message");
    const QString kNeedSixteen = "Please set Model-ID 16 chars !!!";
    QTest::newRow("empty") << "" << false << kNeedSixteen;
    QTest::newRow("15 characters") << "ABCDEFGHIJKLMNO" << false << kNeedSixteen;
    QTest::newRow("non-ASCII set from code") << QString::fromUtf8("ABCDEFGHIJKLMNO\u00e9") << false << kNeedSixteen;
    QTest::newRow("port refuses") << "ABCDEFGHIJKLMNOP" << true << "Write Error!!!";
}

void ServiceDlgTest::writeRefused() {
    QFETCH(QString, id);
    QFETCH(bool, portClosed);
    QFETCH(QString, message);
    CEditorRig rig(true);
    QVERIFY(rig.IsReady());
    QVERIFY(rig.Run<CServiceDlg>(IDC_FOR_SERVICE, [&](CServiceDlg& d) {
        (void)DialogFrames(rig);
        Edit(d, IDC_SERVICE_NEW_ID)->setText(id);
        if (portClosed) rig.Window().MidiOut().Stop();
        Click(d, IDC_SERVICE_WRITE);
        QCOMPARE(rig.Messages(), QStringList{message});
        QVERIFY(d.isVisible());
        QVERIFY(DialogFrames(rig).empty());
    }));
}

void ServiceDlgTest::writeSendsTheIdAndClosesWithoutUpdateMode() {
    CEditorRig rig(true);
    QVERIFY(rig.IsReady());
    int nResult = -1;
    QVERIFY(rig.Run<CServiceDlg>(IDC_FOR_SERVICE, [&](CServiceDlg& d) {
        (void)DialogFrames(rig);
        QTest::keyClicks(Edit(d, IDC_SERVICE_NEW_ID), "qz81kt-0123 45~7");
        Click(d, IDC_SERVICE_WRITE);
        nResult = d.isVisible() ? -1 : d.result();
    }));
    QCOMPARE(nResult, int(QDialog::Accepted));
    QVERIFY(rig.Messages().isEmpty());
    const std::vector<Bytes> frames = DialogFrames(rig);
    QCOMPARE(frames, (std::vector<Bytes>{ProductIDFrame("QZ81KT-0123 45~7"), Request(kAddrProductID, 16), TestFrame(0x00)}));
    QCOMPARE(frames[0].size(), size_t(28));
    QVERIFY(!rig.Emulator().IsInUpdateMode());
    QVERIFY(rig.Window().Image().m_bLinkUp.load());
    const Bytes written(frames[0].begin() + 10, frames[0].begin() + 26);
    QCOMPARE(rig.DeviceBlock(kAddrProductID), written);
    QTRY_COMPARE(rig.ImageBlock(kAddrProductID), written);  // read back
}

void ServiceDlgTest::enterActsAsGo() {
    CEditorRig rig(true);
    QVERIFY(rig.IsReady());
    int nResult = -1;
    QVERIFY(rig.Run<CServiceDlg>(IDC_FOR_SERVICE, [&](CServiceDlg& d) {
        (void)DialogFrames(rig);
        QLineEdit* pNew = Edit(d, IDC_SERVICE_NEW_ID);
        pNew->setFocus();
        QTest::keyClicks(pNew, "abc");
        QTest::keyClick(pNew, Qt::Key_Return);
        nResult = d.isVisible() ? -1 : d.result();
    }));
    QCOMPARE(nResult, int(QDialog::Accepted));
    QCOMPARE(DialogFrames(rig), (std::vector<Bytes>{Bytes(kUpdateModeFrame, kUpdateModeFrame + 13), TestFrame(0x00)}));
    QVERIFY(rig.Emulator().IsInUpdateMode());
    QVERIFY(!rig.Window().Image().m_bLinkUp.load());
}

void ServiceDlgTest::checkModeAndTheSixToggles() {
    CEditorRig rig(true);
    QVERIFY(rig.IsReady());
    QVERIFY(rig.Run<CServiceDlg>(IDC_FOR_SERVICE, [&](CServiceDlg& d) {
        (void)DialogFrames(rig);
        auto expectSent = [&](std::vector<Bytes> expected) { QCOMPARE(DialogFrames(rig), expected); };
        auto expectToggles = [&](bool bEnabled) {
            for (int nId : kToggles) {
                QCOMPARE(Check(d, nId)->isEnabled(), bEnabled);
                QVERIFY(!Check(d, nId)->isChecked());
            }
        };
        expectToggles(false);
        Click(d, IDC_SERVICE_CHECK_MODE);
        expectSent({TestFrame(0x40)});
        expectToggles(true);
        for (int i = 0; i < 6; ++i) {
            Click(d, kToggles[i]);
            Click(d, kToggles[i]);
            expectSent({TestFrame(0x40 | kToggleBits[i]), TestFrame(0x40)});
        }
        Click(d, IDC_SERVICE_TEST_FAN);
        Check(d, IDC_SERVICE_TEST_LED4)->setFocus();
        QTest::keyClick(Check(d, IDC_SERVICE_TEST_LED4), Qt::Key_Space);
        expectSent({TestFrame(0x60), TestFrame(0x61)});
        QCOMPARE(rig.Emulator().TestBits(), uint8_t(0x61));
        Click(d, IDC_SERVICE_CHECK_MODE);  // off: the toggles are cleared with it
        expectSent({TestFrame(0x00)});
        expectToggles(false);
        Click(d, IDC_SERVICE_CHECK_MODE);
        expectSent({TestFrame(0x40)});
        expectToggles(true);
        d.reject();
    }));
    QCOMPARE(DialogFrames(rig), std::vector<Bytes>{TestFrame(0x00)});
}

void ServiceDlgTest::everyClosingSwitchesTheTestOff_data() {
    QTest::addColumn<QString>("how");
    for (const char* how : {"Exit", "Escape", "close box", "destroyed unclosed"}) QTest::newRow(how) << how;
}

void ServiceDlgTest::everyClosingSwitchesTheTestOff() {
    QFETCH(QString, how);
    CEditorRig rig(true);
    QVERIFY(rig.IsReady());
    QVERIFY(rig.Run<CServiceDlg>(IDC_FOR_SERVICE, [&](CServiceDlg& d) {
        Click(d, IDC_SERVICE_CHECK_MODE);
        Click(d, IDC_SERVICE_TEST_POWER);
        (void)DialogFrames(rig);
        if (how == "Exit") Click(d, IDCANCEL);
        if (how == "Escape") QTest::keyClick(&d, Qt::Key_Escape);
        if (how == "close box") d.close();
        QCOMPARE(d.isVisible(), how == "destroyed unclosed");
    }));
    QCOMPARE(DialogFrames(rig), std::vector<Bytes>{TestFrame(0x00)});
    QCOMPARE(rig.Emulator().TestBits(), uint8_t(0));
    QVERIFY(rig.Messages().isEmpty());
}

void ServiceDlgTest::modeSwitchFieldWaitsForARealValue() {
    CEditorRig rig(true);
    QVERIFY(rig.IsReady());
    rig.Emulator().Faults().m_nDropEveryNth = 1;  // no reply to the opening request
    rig.Window().Image().m_byControlMode = CDeviceImage::kNoControlMode;
    rig.Emulator().SetControlMode(0x21);
    QVERIFY(rig.Run<CServiceDlg>(IDC_FOR_SERVICE, [&](CServiceDlg& d) {
        QLineEdit* pField = Edit(d, IDC_SERVICE_MODE_SWITCHES);
        d.OnTimer();
        QCOMPARE(pField->text(), QString());
        rig.Emulator().Faults().m_nDropEveryNth = 0;
        for (auto [byMode, text] : {std::pair<uint8_t, const char*>{0x21, "  ON   OFF  OFF  OFF  OFF  ON"},
                                    {0x02, "  OFF  OFF  OFF  OFF  ON   OFF"}}) {
            rig.Emulator().SetControlMode(byMode);
            rig.Window().OnTimer();  // the window's polling asks for the control mode
            QTRY_COMPARE(rig.Window().Image().m_byControlMode.load(), byMode);
            QCOMPARE(pField->text(), QString());  // until the next refresh
            d.OnTimer();
            QCOMPARE(pField->text(), QString::fromLatin1(text));
            pField->clear();
        }
        d.reject();
    }));
}

void ServiceDlgTest::namesKeyboardAndTheWindowsFileCommands() {
    CEditorRig rig(true);
    QVERIFY(rig.IsReady());
    QVERIFY(rig.Run<CServiceDlg>(IDC_FOR_SERVICE, [&](CServiceDlg& d) {
        std::set<QString> names;
        std::set<QWidget*> controls, visited;
        for (QWidget* w : d.findChildren<QWidget*>()) {
            if (!qobject_cast<QLineEdit*>(w) && !qobject_cast<QAbstractButton*>(w)) continue;
            controls.insert(w);
            const QString strName = QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
            QVERIFY2(!strName.isEmpty() && names.insert(strName).second, qPrintable(w->objectName() + ": " + strName));
            if (qobject_cast<QCheckBox*>(w))  // captions shown whole, not cut at the next box
                QVERIFY2(w->sizeHint().width() <= w->width(), qPrintable(w->objectName()));
        }
        QCOMPARE(controls.size(), size_t(15));
        QVERIFY(names.count("Product ID new") && names.count("Update Mode Go") && names.count("Check Mode (Auto OFF)"));
        Click(d, IDC_SERVICE_CHECK_MODE);  // the toggles take the focus only when enabled
        d.focusWidget()->clearFocus();
        Edit(d, IDC_SERVICE_PRODUCT_ID)->setFocus();
        for (int i = 0; i < 20; ++i, QTest::keyClick(d.focusWidget(), Qt::Key_Tab)) visited.insert(d.focusWidget());
        for (QWidget* w : controls) QVERIFY2(visited.count(w), qPrintable(w->objectName()));

        rig.Services().m_strFileAnswer.clear();  // both file dialogs cancelled
        Click(d, IDC_SERVICE_IMPORT);
        Click(d, IDC_SERVICE_EXPORT);
        QCOMPARE(rig.Services().m_fileDialogs, (QStringList{"open txt (*.txt) txt", "save txt (*.txt) txt"}));
        QVERIFY(d.isVisible());
        d.reject();
    }));
}

QTEST_MAIN(ServiceDlgTest)
#include "ServiceDlgTest.moc"
