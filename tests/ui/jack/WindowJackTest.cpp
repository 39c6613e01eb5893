// The window on real MIDI ports: RtMidi over a private JACK dummy server, against
// qz81kt-emu in its own process. Connect, and the display is complete.
#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QtTest>
#include <memory>

#include "midi/platform/RtMidiDriver.h"
#include "platform/JackServer.h"
#include "support/TestServices.h"
#include "ui/main/UtilQZ81KTDlg.h"
#include "ui/widgets/BmpButton.h"
#include "ui/widgets/ControlId.h"

class WindowJackTest : public QObject {
    Q_OBJECT
private slots:
    void connectShowsTheWholeDevice();
};

void WindowJackTest::connectShowsTheWholeDevice() {
    if (!CJackServer::IsInstalled()) QSKIP("jackd is not installed (Debian package jackd2)");
    CJackServer server;
    QVERIFY2(server.Start(), server.Error().c_str());
    QProcess emu;
    emu.setProcessChannelMode(QProcess::MergedChannels);
    emu.start(QStringLiteral(QZ81KT_EMU_PROGRAM), {"--api", "jack"});
    QByteArray log;
    auto ready = [&] {
        log += emu.readAll();
        return log.contains("ready on JACK") || emu.state() == QProcess::NotRunning;
    };
    QTRY_VERIFY_WITH_TIMEOUT(ready(), 10000);
    QVERIFY2(emu.state() == QProcess::Running, log.constData());
    {
        CTestServices services;
        CRtMidiDriver driver(CRtMidiDriver::EApi::Jack, "qz81kt-dxp-test");
        CUtilQZ81KTDlg w(&driver);  // with its own 100 ms timer
        w.show();
        QVERIFY(FindControl<QComboBox>(&w, IDC_COMBO_MIDIIN)->currentText().startsWith("QZ-81KT"));
        QVERIFY(FindControl<QComboBox>(&w, IDC_COMBO_MIDIOUT)->currentText().startsWith("QZ-81KT"));
        CDeviceImage& img = w.Image();
        // Without realtime priority JACK may lose an event now and then: Connect asks again.
        for (int nTry = 0; nTry < 3 && !img.m_bAllPresetsRcvd.load(); ++nTry) {
            QTest::mouseClick(FindControl(&w, IDOK), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(img.m_bAllPresetsRcvd.load() && img.m_bLinkUp.load(), 5000);
        }
        QVERIFY(services.m_messages.isEmpty());
        QTRY_VERIFY(FindControl<QLineEdit>(&w, IDC_IDENTITY)->text().startsWith("ver:"));
        QTRY_VERIFY(FindControl<QLineEdit>(&w, IDC_TIMECODE)->text() != " -");
        QVERIFY(FindControl<QLineEdit>(&w, IDC_VIDEO_FORMAT)->text() != " -");
        QVERIFY(FindControl<QAbstractButton>(&w, IDC_PRESET7)->text() != "7: -");
        QCOMPARE(FindControl<CBmpButton>(&w, IDC_LINK_LED)->State(), int(CUtilQZ81KTDlg::kLampLink));
        QVERIFY(FindControl(&w, IDC_DIR_SDI_TO_1394)->isEnabled());
    }
    emu.terminate();
    QVERIFY(emu.waitForFinished(10000));
}

QTEST_MAIN(WindowJackTest)
#include "WindowJackTest.moc"
