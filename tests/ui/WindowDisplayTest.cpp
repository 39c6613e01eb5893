// What the main window shows: the identity line, the status lines, the indicator lamps
// and their blinking, and the frame-rate buttons' lock.
#include <QLabel>
#include <QtTest>

#include "protocol/wire/BlockLayout.h"
#include "support/WindowHarness.h"

using Bytes = CWindowHarness::Bytes;

class WindowDisplayTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup() { m_pHarness.reset(); }
    void identityOfEightCharacters();
    void picturesDecodedAsideAreShown();
    void statusLines_data();
    void statusLines();
    void sdStreamTakesTheStoredFormat();
    void slowBlinkAndOnlyChangedLampRedrawn();
    void frameRateButtonsBackOnFifthSystemDisplay();

private:
    std::unique_ptr<CWindowHarness> m_pHarness;
};

// Linked to the emulator, which then stays silent: only injected replies change the display.
void WindowDisplayTest::init() {
    m_pHarness = std::make_unique<CWindowHarness>();
    m_pHarness->ConnectAndLink();
    m_pHarness->Emulator().Faults().m_bSilent = true;
}

void WindowDisplayTest::identityOfEightCharacters() {
    m_pHarness->InjectReply(qz::kAddrVersion, Bytes{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'});
    QVERIFY2(m_pHarness->Text(IDC_IDENTITY).startsWith("ver:ABCDEFGH id:"), qPrintable(m_pHarness->Text(IDC_IDENTITY)));
}

void WindowDisplayTest::picturesDecodedAsideAreShown() {
    CWindowHarness& h = *m_pHarness;
    QVERIFY(!h.Window().windowIcon().isNull());
    QCOMPARE(h.Lamp(IDC_LINK_LED)->size(), QSize(21, 22));  // one frame of the five in the strip
    auto* pPanel = h.Window().findChild<QLabel*>(QStringLiteral("IDC_PANEL_PICTURE"));
    QVERIFY(pPanel && !pPanel->pixmap().isNull());
}

void WindowDisplayTest::statusLines_data() {
    QTest::addColumn<QList<int>>("bytes");  // offset, value, offset, value, ...
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    QTest::newRow("drop frame") << QList<int>{16, 4, 17, 5, 18, 2, 19, 3, 20, 1, 21, 7, 22, 1, 23, 2} << IDC_TIMECODE
                                << " 12:17:23;05";
    QTest::newRow("no timecode") << QList<int>{16, 4, 17, 5, 22, 3, 23, 9} << IDC_TIMECODE << "--:--:--:-.-";
    QTest::newRow("format 1") << QList<int>{32, 0, 33, 1} << IDC_VIDEO_FORMAT << "Format-1";
    QTest::newRow("format 23") << QList<int>{32, 1, 33, 7} << IDC_VIDEO_FORMAT << "576i,2:2";
    QTest::newRow("format 127") << QList<int>{32, 7, 33, 15} << IDC_VIDEO_FORMAT << "No Signal";
    QTest::newRow("format 36") << QList<int>{32, 2, 33, 4} << IDC_VIDEO_FORMAT << " --- ";
    QTest::newRow("battery") << QList<int>{35, 0, 36, 7, 37, 8} << IDC_POWER_STATUS << "Int BATT. / 12.0V";
    QTest::newRow("external") << QList<int>{35, 1, 36, 7, 37, 9} << IDC_POWER_STATUS << "EXT DC IN / 12.1V";
    QTest::newRow("IEEE1394") << QList<int>{48, 0, 49, 0, 50, 15, 51, 10, 52, 0, 53, 2} << IDC_1394_FORMAT
                              << "1440x1080 / 25.0Mbps(MPEG)";
    QTest::newRow("rate 501") << QList<int>{48, 0, 49, 1, 50, 15, 51, 5, 52, 0, 53, 2} << IDC_1394_FORMAT << " ---";
    QTest::newRow("DV") << QList<int>{48, 0, 49, 0, 50, 15, 51, 10, 53, 1, 55, 1} << IDC_1394_FORMAT
                        << "1280x720 / 25.0Mbps(DV)";
}

void WindowDisplayTest::statusLines() {
    QFETCH(QList<int>, bytes);
    QFETCH(int, field);
    QFETCH(QString, text);
    Bytes status(qz::kStatusSize, 0);
    for (int i = 0; i + 1 < bytes.size(); i += 2) status[bytes[i]] = static_cast<uint8_t>(bytes[i + 1]);
    m_pHarness->InjectStatus(status);
    QCOMPARE(m_pHarness->Text(field), text);
    if (field == IDC_VIDEO_FORMAT)  // only a known format fixes the frame rate (direction SDI)
        QCOMPARE(m_pHarness->Image().m_bRateFromSdi.load(), text == "Format-1" || text == "576i,2:2");
}

void WindowDisplayTest::sdStreamTakesTheStoredFormat() {
    Bytes status(qz::kStatusSize, 0);
    status[qz::kStVideoFormat] = 1, status[qz::kStVideoFormat + 1] = 7;  // "576i,2:2"
    m_pHarness->InjectStatus(status);
    // 25.0 Mbit/s, SD, MPEG: only the IEEE1394 group changes.
    status[qz::kSt1394Rate + 2] = 15, status[qz::kSt1394Rate + 3] = 10;
    m_pHarness->InjectStatus(status);
    QCOMPARE(m_pHarness->Text(IDC_1394_FORMAT), QStringLiteral("720x576 / 25.0Mbps(MPEG)"));
}

void WindowDisplayTest::slowBlinkAndOnlyChangedLampRedrawn() {
    CWindowHarness& h = *m_pHarness;
    Bytes status(qz::kStatusSize, 0);
    status[qz::kStIndicator1] = 0x06;  // first colour slow blink, second colour steady
    h.InjectStatus(status);
    QCOMPARE(h.Lamp(IDC_LED1)->State(), 3);
    QList<int> states;
    for (int i = 1; i <= 24; ++i) {
        h.Tick();
        states << h.Lamp(IDC_LED1)->State();
    }
    // The whole lamp alternates between 3 and 0 every 6 ticks (600 ms).
    QList<int> expected;
    for (int i = 1; i <= 24; ++i) expected << (i < 6 || (i / 6) % 2 == 1 ? 3 : 0);  // off at 12, on at 18, off at 24
    QCOMPARE(states, expected);
    QCOMPARE(h.Lamp(IDC_LED1)->State(), 0);
    // A reply that changes only indicator 2 leaves indicator 1 as the blink step set it.
    status[qz::kStIndicator2] = 0x01;
    h.InjectStatus(status);
    QCOMPARE(h.Lamp(IDC_LED2)->State(), 1);
    QCOMPARE(h.Lamp(IDC_LED1)->State(), 0);
}

void WindowDisplayTest::frameRateButtonsBackOnFifthSystemDisplay() {
    CWindowHarness& h = *m_pHarness;
    // The emulator's SDI input is a known format: the buttons follow it and stay disabled.
    QCOMPARE(h.Image().m_bRateFromSdi.load(), true);
    QVERIFY(!h.Control(IDC_RATE_5994)->isEnabled());
    QVERIFY(h.Control(IDC_DIR_SDI_TO_1394)->isEnabled());
    Bytes status = h.Block(qz::EBlock::Status);
    status[qz::kStVideoFormat] = 7, status[qz::kStVideoFormat + 1] = 15;  // "No Signal"
    h.InjectStatus(status);
    QCOMPARE(h.Image().m_bRateFromSdi.load(), false);
    Bytes system = h.Block(qz::EBlock::System);
    for (int n = 1; n <= 5; ++n) {
        QVERIFY(!h.Control(IDC_RATE_5994)->isEnabled());
        h.InjectReply(qz::kAddrSystem, system);
    }
    QVERIFY(h.Control(IDC_RATE_5994)->isEnabled());
    QVERIFY(h.Control(IDC_RATE_50)->isEnabled());
}

QTEST_MAIN(WindowDisplayTest)
#include "WindowDisplayTest.moc"
