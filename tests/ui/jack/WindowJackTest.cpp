// The window on real MIDI ports: RtMidi over a private JACK dummy server, against
// qz81kt-emu in its own process. Connect, and the display is complete.
#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/wait.h>

#include "midi/platform/JackMidiDriver.h"
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
    // Started through the shell: ThreadSanitizer cannot follow QProcess's clone.
    QTemporaryDir dir;
    const QString strLog = dir.filePath("emu.log");
    FILE* pPipe = popen(qPrintable(QStringLiteral("exec %1 --api jack >%2 2>&1 </dev/null & echo $!")
                                       .arg(QStringLiteral(QZ81KT_EMU_PROGRAM), strLog)),
                        "r");
    QVERIFY(pPipe);
    char achPid[32] = {};
    QVERIFY(fgets(achPid, sizeof achPid, pPipe));
    pclose(pPipe);
    const pid_t pid = static_cast<pid_t>(std::atol(achPid));
    auto log = [&] {
        QFile f(strLog);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    QTRY_VERIFY_WITH_TIMEOUT(log().contains("ready on JACK") || kill(pid, 0) != 0, 10000);
    QVERIFY2(kill(pid, 0) == 0, log().constData());
    {
        CTestServices services;
        CJackMidiDriver driver("qz81kt-dxp-test");  // the window's JACK backend
        CUtilQZ81KTDlg w(&driver);  // with its own 100 ms timer
        w.show();
        QVERIFY(FindControl<QComboBox>(&w, IDC_COMBO_MIDIIN)->currentText().startsWith("QZ-81KT"));
        QVERIFY(FindControl<QComboBox>(&w, IDC_COMBO_MIDIOUT)->currentText().startsWith("QZ-81KT"));
        CDeviceImage& img = w.Image();
        // Without realtime priority JACK may lose an event now and then: Connect asks again.
        for (int nTry = 0; nTry < 3 && !img.m_bAllPresetsRcvd.load(); ++nTry) {
            QTest::mouseClick(FindControl(&w, IDOK), Qt::LeftButton);
            (void)QTest::qWaitFor([&] { return img.m_bAllPresetsRcvd.load() && img.m_bLinkUp.load(); }, 10000);
        }
        QVERIFY(img.m_bAllPresetsRcvd.load() && img.m_bLinkUp.load());
        QVERIFY(services.m_messages.isEmpty());
        QTRY_VERIFY(FindControl<QLineEdit>(&w, IDC_IDENTITY)->text().startsWith("ver:"));
        QTRY_VERIFY(FindControl<QLineEdit>(&w, IDC_TIMECODE)->text() != " -");
        QVERIFY(FindControl<QLineEdit>(&w, IDC_VIDEO_FORMAT)->text() != " -");
        QVERIFY(FindControl<QAbstractButton>(&w, IDC_PRESET7)->text() != "7: -");
        QCOMPARE(FindControl<CBmpButton>(&w, IDC_LINK_LED)->State(), int(CUtilQZ81KTDlg::kLampLink));
        QVERIFY(FindControl(&w, IDC_DIR_SDI_TO_1394)->isEnabled());
    }
    // The emulator is not our child (the shell started it), so waitpid cannot tell when it
    // ended: its last line can. Killed while still a JACK client, it leaves the server
    // unable to unregister, and JACK's registry has only eight slots.
    kill(pid, SIGTERM);
    QTRY_VERIFY_WITH_TIMEOUT(log().contains("qz81kt-emu: stopped") || kill(pid, 0) != 0, 10000);
    kill(pid, SIGKILL);  // in case it did not stop
}

QTEST_MAIN(WindowJackTest)
#include "WindowJackTest.moc"
