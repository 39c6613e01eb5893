// Ports that come and go on the loopback driver: the lists follow and keep the chosen
// names; unplugging the linked device drops the link at once and replugging brings it
// back by itself (unless the operator turned that off).
#include <QAction>
#include <QComboBox>
#include <QtTest>

#include "support/WindowHarness.h"

class WindowPortsTest : public QObject {
    Q_OBJECT
private slots:
    void listsFollowThePortsAndKeepTheChosenNames();
    void unplugDropsTheLinkAtOnceAndReplugReconnects();
    void noReconnectWhenTurnedOff();
};

namespace {
QStringList Items(QComboBox* c) {
    QStringList s;
    for (int i = 0; i < c->count(); ++i) s << c->itemText(i);
    return s;
}
QAction* ReconnectAction(QWidget& w) {
    for (QAction* a : w.actions())
        if (a->text() == QStringLiteral("&Reconnect automatically")) return a;
    return nullptr;
}
}  // namespace

void WindowPortsTest::listsFollowThePortsAndKeepTheChosenNames() {
    CWindowHarness h(false, {"USB A", "Other B"});
    auto* pIn = h.Control<QComboBox>(IDC_COMBO_MIDIIN);
    auto* pOut = h.Control<QComboBox>(IDC_COMBO_MIDIOUT);
    QCOMPARE(pIn->currentText(), QStringLiteral("QZ-81KT Emulator"));
    pIn->setFocus();
    QTest::keyClick(pIn, Qt::Key_Up);  // the operator picks "Other B"
    QCOMPARE(pIn->currentText(), QStringLiteral("Other B"));
    h.Window().CheckPorts();

    h.Driver().SetPresent(0, false);  // "USB A" unplugged
    h.Window().CheckPorts();
    QCOMPARE(Items(pIn), (QStringList{"Other B", "QZ-81KT Emulator"}));
    QCOMPARE(pIn->currentText(), QStringLiteral("Other B"));
    QCOMPARE(pOut->currentText(), QStringLiteral("QZ-81KT Emulator"));

    h.Driver().SetPresent(1, false);  // the chosen one goes: the preselection stands in
    h.Window().CheckPorts();
    QCOMPARE(pIn->currentText(), QStringLiteral("QZ-81KT Emulator"));
    h.Driver().SetPresent(0, true);
    h.Driver().SetPresent(1, true);  // and back: the operator's choice again
    h.Window().CheckPorts();
    QCOMPARE(Items(pIn), (QStringList{"USB A", "Other B", "QZ-81KT Emulator"}));
    QCOMPARE(pIn->currentText(), QStringLiteral("Other B"));
    QCOMPARE(pOut->currentText(), QStringLiteral("QZ-81KT Emulator"));
}

void WindowPortsTest::unplugDropsTheLinkAtOnceAndReplugReconnects() {
    CWindowHarness h(false, {"USB A"});
    h.ConnectAndLink();
    QVERIFY(h.Text(IDC_TIMECODE) != " -");
    QVERIFY(h.Control(IDC_WRITE_FLASH)->isEnabled());

    h.Driver().SetPresent(h.EmulatorPort(), false);
    h.Window().CheckPorts();  // no tick: at once
    QCOMPARE(h.Image().m_bLinkUp.load(), false);
    QCOMPARE(h.Text(IDC_TIMECODE), QStringLiteral(" -"));  // as after a link time-out
    QVERIFY(!h.Control(IDC_WRITE_FLASH)->isEnabled());
    QVERIFY(!h.Driver().IsInputOpen(h.EmulatorPort()) && !h.Driver().IsOutputOpen(h.EmulatorPort()));

    h.ClearSent();
    h.Driver().SetPresent(h.EmulatorPort(), true);
    h.Window().CheckPorts();
    QTRY_VERIFY(h.Sent().size() >= 13);  // request-all on the ports of the same names
    QTRY_VERIFY(h.Image().m_nStatusReplies.load() > 0);
    h.Tick();
    QCOMPARE(h.Image().m_bLinkUp.load(), true);
    QTRY_VERIFY(h.Text(IDC_TIMECODE) != " -");
    QVERIFY(h.m_services.m_messages.isEmpty());
}

void WindowPortsTest::noReconnectWhenTurnedOff() {
    CWindowHarness h;
    h.ConnectAndLink();
    ReconnectAction(h.Window())->trigger();
    QVERIFY(!h.Window().ReconnectsAutomatically());
    h.Driver().SetPresent(h.EmulatorPort(), false);
    h.Window().CheckPorts();
    QCOMPARE(h.Image().m_bLinkUp.load(), false);
    h.Driver().SetPresent(h.EmulatorPort(), true);
    h.ClearSent();
    h.Window().CheckPorts();
    QVERIFY(h.Sent().empty());
    QVERIFY(!h.Driver().IsInputOpen(h.EmulatorPort()));
}

QTEST_MAIN(WindowPortsTest)
#include "WindowPortsTest.moc"
