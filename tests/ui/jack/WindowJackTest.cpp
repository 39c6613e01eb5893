// The window on real MIDI ports: our JACK backend over a private JACK dummy server,
// against qz81kt-emu in its own process. Connect, and the display is complete; the
// emulator stops and starts again, and the window follows by itself. A converter behind
// each bridge is preselected as a pair and reached.
#include <QAbstractButton>
#include <QAccessible>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "midi/platform/JackMidiDriver.h"
#include "platform/JackServer.h"
#include "support/TestServices.h"
#include "ui/main/UtilQZ81KTDlg.h"
#include "ui/widgets/BmpButton.h"
#include "ui/widgets/ControlId.h"

namespace {

// qz81kt-emu (or the bridge peer) started through the shell (ThreadSanitizer cannot
// follow QProcess's clone), so it is not our child: its log tells when it is ready and
// when it has stopped.
class CEmulatorProcess {
public:
    explicit CEmulatorProcess(const QString& strLog,
                              const QString& strCommand = QStringLiteral(QZ81KT_EMU_PROGRAM " --api jack"),
                              const char* pszReady = "ready on JACK")
        : m_strLog(strLog), m_strCommand(strCommand), m_pszReady(pszReady) {}
    ~CEmulatorProcess() { Stop(); }

    bool Start() {
        QFile::remove(m_strLog);
        FILE* pPipe = popen(
            qPrintable(QStringLiteral("exec %1 >%2 2>&1 </dev/null & echo $!").arg(m_strCommand, m_strLog)), "r");
        if (!pPipe) return false;
        char achPid[32] = {};
        const bool bRead = fgets(achPid, sizeof achPid, pPipe) != nullptr;
        pclose(pPipe);
        m_pid = bRead ? static_cast<pid_t>(std::atol(achPid)) : 0;
        return m_pid > 0 && QTest::qWaitFor([&] { return Log().contains(m_pszReady) || !Alive(); }, 10000) &&
               Alive();
    }
    // Killed while still a JACK client, it would leave the server unable to unregister
    // it, and JACK's registry has only eight slots: wait for its last line.
    void Stop() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGTERM);
        (void)QTest::qWaitFor([&] { return Log().contains("qz81kt-emu: stopped") || !Alive(); }, 10000);
        kill(m_pid, SIGKILL);  // in case it did not stop
        m_pid = 0;
    }
    QByteArray Log() const {
        QFile f(m_strLog);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    bool Alive() const { return m_pid > 0 && kill(m_pid, 0) == 0; }
    QString m_strLog, m_strCommand;
    const char* m_pszReady;
    pid_t m_pid = 0;
};

bool Complete(CUtilQZ81KTDlg& w) {
    CDeviceImage& img = w.Image();
    return img.m_bAllPresetsRcvd.load() && img.m_bLinkUp.load() &&
           qz::FindControl<QLineEdit>(&w, IDC_TIMECODE)->text() != " -" &&
           qz::FindControl<QLineEdit>(&w, IDC_IDENTITY)->text().startsWith("ver:");
}

// Connect, asked again a few times: a JACK server that cannot keep up (under a
// sanitizer it reports dozens of xruns around the first Connect) loses events, and
// the version is asked for only at Connect.
bool ConnectAndWait(CUtilQZ81KTDlg& w) {
    for (int nTry = 0; nTry < 3 && !Complete(w); ++nTry) {
        QTest::mouseClick(qz::FindControl(&w, IDOK), Qt::LeftButton);
        (void)QTest::qWaitFor([&] { return Complete(w); }, 10000);
    }
    return Complete(w);
}

}  // namespace

class WindowJackTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void connectShowsTheWholeDevice();
    void emulatorStoppedBlanksAtOnceAndStartedAgainReconnects();
    void bridgedConverterIsPreselectedAsAPairAndReached_data();
    void bridgedConverterIsPreselectedAsAPairAndReached();

private:
    std::unique_ptr<CJackServer> m_pServer;
    std::unique_ptr<QTemporaryDir> m_pDir;
};

void WindowJackTest::init() {
    if (!CJackServer::IsInstalled()) QSKIP("jackd is not installed (Debian package jackd2)");
    m_pServer = std::make_unique<CJackServer>();
    QVERIFY2(m_pServer->Start(), m_pServer->Error().c_str());
    m_pDir = std::make_unique<QTemporaryDir>();
}

void WindowJackTest::connectShowsTheWholeDevice() {
    CEmulatorProcess emu(m_pDir->filePath("emu.log"));
    QVERIFY2(emu.Start(), emu.Log().constData());
    CTestServices services;
    CJackMidiDriver driver("qz81kt-dxp-test");
    CUtilQZ81KTDlg w(&driver);  // with its own 100 ms timer
    w.show();
    QVERIFY(qz::FindControl<QComboBox>(&w, IDC_COMBO_MIDIIN)->currentText().startsWith("QZ-81KT"));
    QVERIFY(qz::FindControl<QComboBox>(&w, IDC_COMBO_MIDIOUT)->currentText().startsWith("QZ-81KT"));
    QVERIFY(ConnectAndWait(w));
    QVERIFY(services.m_messages.isEmpty());
    QVERIFY(qz::FindControl<QLineEdit>(&w, IDC_VIDEO_FORMAT)->text() != " -");
    QVERIFY(qz::FindControl<QAbstractButton>(&w, IDC_PRESET7)->text() != "7: -");
    QCOMPARE(qz::FindControl<CBmpButton>(&w, IDC_LINK_LED)->State(), int(CUtilQZ81KTDlg::kLampLink));
    QVERIFY(qz::FindControl(&w, IDC_DIR_SDI_TO_1394)->isEnabled());
}

// The port watch follows our client's registration notices, as in the program.
void WindowJackTest::emulatorStoppedBlanksAtOnceAndStartedAgainReconnects() {
    CEmulatorProcess emu(m_pDir->filePath("emu.log"));
    QVERIFY2(emu.Start(), emu.Log().constData());
    CTestServices services;
    CJackMidiDriver driver("qz81kt-dxp-test");
    CUtilQZ81KTDlg w(&driver);
    QVERIFY(driver.FollowPortChanges(w.PortWatch()));
    w.show();
    QVERIFY(ConnectAndWait(w));

    QElapsedTimer timer;
    timer.start();
    emu.Stop();
    // Well inside the 5 s link time-out: the vanished ports alone blank the display.
    QTRY_VERIFY_WITH_TIMEOUT(!w.Image().m_bLinkUp.load() && qz::FindControl<QLineEdit>(&w, IDC_TIMECODE)->text() == " -",
                             3000);
    const qint64 nBlankMs = timer.restart();
    const int nLateBefore = m_pServer->LateCycles();
    QVERIFY2(emu.Start(), emu.Log().constData());
    // The link and the live status come back by themselves: the status is asked for
    // every 100 ms, so no lost event can keep them away.
    QTRY_VERIFY_WITH_TIMEOUT(
        w.Image().m_bLinkUp.load() && qz::FindControl<QLineEdit>(&w, IDC_TIMECODE)->text() != " -", 10000);
    // The rest is asked for once per Connect. Only a cycle the server dropped may have
    // taken one of those requests or replies with it; then the operator's Connect
    // completes the display.
    if (!QTest::qWaitFor([&] { return Complete(w); }, 5000)) {
        QVERIFY2(m_pServer->LateCycles() > nLateBefore, "incomplete, and the server lost no cycle");
        qInfo("the server dropped cycles: completed by Connect");
        QVERIFY(ConnectAndWait(w));
    }
    qInfo("emulator stopped -> blank %lld ms; started -> complete display %lld ms", nBlankMs, timer.elapsed());
    QVERIFY(services.m_messages.isEmpty());
}

void WindowJackTest::bridgedConverterIsPreselectedAsAPairAndReached_data() {
    QTest::addColumn<QString>("bridge");
    QTest::addColumn<QString>("in");  // the end of the preselected names
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("device");
    // One bridge that names the device, one that leaves it to the aliases (e2e.jack.bridges has all).
    QTest::newRow("a2jmidid") << "a2j" << "a2j:QZ-81KT [24] (capture): QZ-81KT MIDI 1"
                              << "a2j:QZ-81KT [24] (playback): QZ-81KT MIDI 1" << "QZ-81KT MIDI 1";
    QTest::newRow("jackd -X seq") << "seq" << ":midi_capture_2" << ":midi_playback_2" << "QZ-81KT";
}

// The bridge comes after the window: the port watch's lists take the pair, and Scan too.
void WindowJackTest::bridgedConverterIsPreselectedAsAPairAndReached() {
    QFETCH(QString, bridge);
    QFETCH(QString, in);
    QFETCH(QString, out);
    QFETCH(QString, device);
    CTestServices services;
    CJackMidiDriver driver("qz81kt-dxp-test");
    CUtilQZ81KTDlg w(&driver);
    QVERIFY(driver.FollowPortChanges(w.PortWatch()));
    w.show();
    CEmulatorProcess peer(m_pDir->filePath("peer.log"), QStringLiteral(QZ81KT_BRIDGE_PEER " ") + bridge, "ready");
    QVERIFY2(peer.Start(), peer.Log().constData());
    auto* pIn = qz::FindControl<QComboBox>(&w, IDC_COMBO_MIDIIN);
    auto* pOut = qz::FindControl<QComboBox>(&w, IDC_COMBO_MIDIOUT);
    QTRY_VERIFY_WITH_TIMEOUT(pIn->currentText().endsWith(in) && pOut->currentText().endsWith(out), 5000);
    QTest::mouseClick(qz::FindControl(&w, IDC_SCAN), Qt::LeftButton);
    QVERIFY2(pIn->currentText().endsWith(in) && pOut->currentText().endsWith(out), qPrintable(pIn->currentText()));
    // The lists show JACK's names; a screen reader hears the device's.
    QCOMPARE(QAccessible::queryAccessibleInterface(pIn)->text(QAccessible::Description), device);
    QCOMPARE(QAccessible::queryAccessibleInterface(pOut)->text(QAccessible::Description), device);
    QVERIFY(ConnectAndWait(w));
    QVERIFY(services.m_messages.isEmpty());
}

QTEST_MAIN(WindowJackTest)
#include "WindowJackTest.moc"
