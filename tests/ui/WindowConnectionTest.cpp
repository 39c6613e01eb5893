// The main window from start-up to a watched link: captions and start-up state, port
// preselection, Connect and its failures, the request-all sequence, the 100 ms link watch
// and the hidden key sequence.
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLineEdit>
#include <QtTest>
#include <atomic>
#include <thread>

#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceFrames.h"
#include "support/WindowHarness.h"

namespace {

// Positions move: a client that appears in front of the others after the last Scan.
class CLateClientDriver : public CMidiDriver {
public:
    explicit CLateClientDriver(CMidiDriver& inner) : m_inner(inner) {}
    std::atomic<bool> m_bArrived{false};

    uint32_t InGetNumDevs() override { return m_inner.InGetNumDevs() + Shift(); }
    uint32_t OutGetNumDevs() override { return m_inner.OutGetNumDevs() + Shift(); }
    MMRESULT InGetDevName(uint32_t u, std::string& s) override { return Name(u, s, true); }
    MMRESULT OutGetDevName(uint32_t u, std::string& s) override { return Name(u, s, false); }
    MMRESULT InOpen(HMIDIPORT* ph, uint32_t u, MidiCallback pfn, void* p) override {
        return IsLate(u) ? MMSYSERR_BADDEVICEID : m_inner.InOpen(ph, u - Shift(), pfn, p);
    }
    MMRESULT OutOpen(HMIDIPORT* ph, uint32_t u, MidiCallback pfn, void* p) override {
        return IsLate(u) ? MMSYSERR_BADDEVICEID : m_inner.OutOpen(ph, u - Shift(), pfn, p);
    }
    MMRESULT InPrepareHeader(HMIDIPORT h, MIDIHDR* p) override { return m_inner.InPrepareHeader(h, p); }
    MMRESULT InUnprepareHeader(HMIDIPORT h, MIDIHDR* p) override { return m_inner.InUnprepareHeader(h, p); }
    MMRESULT InAddBuffer(HMIDIPORT h, MIDIHDR* p) override { return m_inner.InAddBuffer(h, p); }
    MMRESULT InStart(HMIDIPORT h) override { return m_inner.InStart(h); }
    MMRESULT InStop(HMIDIPORT h) override { return m_inner.InStop(h); }
    MMRESULT InReset(HMIDIPORT h) override { return m_inner.InReset(h); }
    MMRESULT InClose(HMIDIPORT h) override { return m_inner.InClose(h); }
    MMRESULT OutPrepareHeader(HMIDIPORT h, MIDIHDR* p) override { return m_inner.OutPrepareHeader(h, p); }
    MMRESULT OutUnprepareHeader(HMIDIPORT h, MIDIHDR* p) override { return m_inner.OutUnprepareHeader(h, p); }
    MMRESULT OutLongMsg(HMIDIPORT h, MIDIHDR* p) override { return m_inner.OutLongMsg(h, p); }
    MMRESULT OutShortMsg(HMIDIPORT h, uint32_t m) override { return m_inner.OutShortMsg(h, m); }
    MMRESULT OutClose(HMIDIPORT h) override { return m_inner.OutClose(h); }

private:
    uint32_t Shift() const { return m_bArrived ? 1 : 0; }
    bool IsLate(uint32_t u) const { return m_bArrived && u == 0; }
    MMRESULT Name(uint32_t u, std::string& s, bool bIn) {
        if (IsLate(u)) {
            s = "Late Client";
            return MMSYSERR_NOERROR;
        }
        return bIn ? m_inner.InGetDevName(u - Shift(), s) : m_inner.OutGetDevName(u - Shift(), s);
    }
    CMidiDriver& m_inner;
};

}  // namespace

class WindowConnectionTest : public QObject {
    Q_OBJECT
private slots:
    void startUpState();
    void preselection_data();
    void preselection();
    void connectFailures_data();
    void connectFailures();
    void connectOpensThePortWhoseNameIsShown();
    void linkWatch();
    void connectFromALinkDisablesTheDeviceControls();
    void keyWatcher_data();
    void keyWatcher();
    void workerRequestsRunOnTheWindowThread();
    void closingWhileRepliesArrive();
};

void WindowConnectionTest::startUpState() {
    CWindowHarness h;
    CUtilQZ81KTDlg& w = h.Window();
    QCOMPARE(w.windowTitle(), QStringLiteral("QZ-81KT DXP"));
    QVERIFY(QFontMetrics(w.font()).inFont(QLatin1Char('A')));
    const std::pair<int, const char*> captions[] = {
        {IDOK, "Connect"}, {IDC_SCAN, "Scan"}, {IDCANCEL, "Exit"}, {IDC_TC, "TC"},
        {IDC_WRITE_FLASH, "Write to FlashROM"}, {IDC_FACTORY_RESET, "Factory Reset"},
        {IDC_EDIT_PRESET, "Edit Preset"}, {IDC_FOR_SERVICE, "For Service"},
        {IDC_DIR_SDI_TO_1394, "SDI -> IEEE1394"}, {IDC_DIR_1394_TO_SDI, "IEEE1394 -> SDI"}, {IDC_SDI_CH_7_8, "7-8"},
        {IDC_LOCAL, "Local"}, {IDC_REMOTE, "Remote"}, {IDC_UNIT_CAMERA, "Camera"}, {IDC_UNIT_RECORDER, "Recorder"},
        {IDC_SYNC_OPERATION, "IEEE1394 Sync Operation"}, {IDC_AUDIO_SRC, "IEEE1394 Audio SRC"},
        {IDC_FORMAT_FIX, "IEEE1394 Format Fix"}, {IDC_SDI_INPUT_REMOTE, "SDI Input Remote"}, {IDC_FAN, "FAN"},
        {IDC_RATE_5994, "59.94Hz"}, {IDC_RATE_50, "50Hz"},
    };
    for (const auto& [nId, pszCaption] : captions) QCOMPARE(h.Text(nId), QString::fromLatin1(pszCaption));
    QStringList groups;
    for (QGroupBox* g : w.findChildren<QGroupBox*>()) groups << g->title();
    for (const char* psz : {"QZ-81KT Connection", "Direction", "SDI Audio Channel", "Control Mode", "Preset",
                            "IEEE1394 Unit Type", "Default Frame Rate "})
        QVERIFY2(groups.contains(QString::fromLatin1(psz)), psz);
    QCOMPARE(w.size(), QSize(782, 522));  // 447 x 298 dialog units at 1.75 px

    for (int nId : {IDC_IDENTITY, IDC_TIMECODE, IDC_POWER_STATUS, IDC_VIDEO_FORMAT, IDC_1394_FORMAT, IDC_MODE_SW6})
        QCOMPARE(h.Text(nId), QStringLiteral(" -"));
    for (int i = 0; i < qz::kPresetCount; ++i)
        QCOMPARE(h.Text(CUtilQZ81KTDlg::kPresetIds[i]), QStringLiteral("%1: -").arg(i));
    QVERIFY(h.Control(IDC_EDIT_PRESET)->isHidden());
    QVERIFY(h.Control(IDC_FOR_SERVICE)->isHidden());
    for (int nId : {IDC_DIR_SDI_TO_1394, IDC_PRESET7, IDC_FAN, IDC_RATE_50, IDC_LOCAL, IDC_TC, IDC_WRITE_FLASH,
                    IDC_FACTORY_RESET})
        QVERIFY(!h.Control(nId)->isEnabled());
    for (int nId : {IDC_LED1, IDC_LED2, IDC_LINK_LED}) {
        QCOMPARE(h.Lamp(nId)->State(), 0);
        QCOMPARE(h.Lamp(nId)->size(), QSize(21, 22));
    }
    QCOMPARE(h.Lamp(IDC_LINK_LED)->pos(), QPoint(473, 130));

    CWindowHarness service(true);
    QVERIFY(!service.Control(IDC_FOR_SERVICE)->isHidden());
}

void WindowConnectionTest::preselection_data() {
    QTest::addColumn<QStringList>("ports");
    QTest::addColumn<int>("selected");
    QTest::newRow("model name wins") << QStringList{"USB Audio", "QZ-81KT MIDI", "USB MIDI"} << 1;
    QTest::newRow("last USB") << QStringList{"USB Audio", "USB MIDI"} << 1;
    QTest::newRow("case-sensitive") << QStringList{"qz-81kt midi", "Other"} << 0;
    QTest::newRow("none") << QStringList{} << -1;
}

void WindowConnectionTest::preselection() {
    QFETCH(QStringList, ports);
    QFETCH(int, selected);
    CLoopbackDriver driver;
    for (const QString& s : ports) driver.AddPortPair(s.toStdString(), nullptr);
    CTestServices services;
    CUtilQZ81KTDlg w(&driver, CUtilQZ81KTDlg::COptions{false, false});
    auto* pIn = qz::FindControl<QComboBox>(&w, IDC_COMBO_MIDIIN);
    QCOMPARE(pIn->count(), ports.size());
    QCOMPARE(pIn->currentIndex(), selected);
    QCOMPARE(qz::FindControl<QComboBox>(&w, IDC_COMBO_MIDIOUT)->currentIndex(), selected);
    if (selected < 0) {
        QTest::mouseClick(qz::FindControl(&w, IDOK), Qt::LeftButton);
        QCOMPARE(services.m_messages, QStringList{"Error: No Device"});
    }
}

void WindowConnectionTest::connectFailures_data() {
    QTest::addColumn<bool>("failIn");
    QTest::addColumn<bool>("failOut");
    QTest::addColumn<QString>("message");
    QTest::newRow("both") << true << true << "Error: Open MIDI-In/Out";
    QTest::newRow("output") << false << true << "Error: Open MIDI-Out";
    QTest::newRow("input") << true << false << "Error: Open MIDI-In";
}

void WindowConnectionTest::connectFailures() {
    QFETCH(bool, failIn);
    QFETCH(bool, failOut);
    QFETCH(QString, message);
    CWindowHarness h;
    CLoopbackFaults& faults = h.Driver().Faults(h.EmulatorPort());
    faults.m_bFailInStart = failIn;  // open succeeds, start fails: still an input failure
    faults.m_bFailOutOpen = failOut;
    h.Click(IDOK);
    QCOMPARE(h.m_services.m_messages, QStringList{message});
    // The port that did open stays open and running.
    QCOMPARE(h.Window().MidiIn().IsActive(), !failIn);
    QCOMPARE(h.Window().MidiOut().IsActive(), !failOut);
    QCOMPARE(h.Tap().Count(), size_t(0));
}

void WindowConnectionTest::connectOpensThePortWhoseNameIsShown() {
    CWindowHarness h(false, {"Other Port"});
    CLateClientDriver late(h.Driver());
    h.UseDriver(&late);
    auto* pIn = h.Control<QComboBox>(IDC_COMBO_MIDIIN);
    QCOMPARE(pIn->currentText(), QStringLiteral("QZ-81KT Emulator"));
    QCOMPARE(pIn->currentIndex(), 1);
    late.m_bArrived = true;  // the emulator's pair is now number 2
    h.Click(IDOK);
    QVERIFY(h.m_services.m_messages.isEmpty());
    QCOMPARE(h.Tap().WaitFor(13), size_t(13));

    // A name that has gone since the last Scan cannot be opened.
    h.Driver().Faults(h.EmulatorPort()).m_bNameUnreadable = true;
    h.Click(IDOK);
    QCOMPARE(h.m_services.m_messages, QStringList{"Error: Open MIDI-In/Out"});
}

void WindowConnectionTest::linkWatch() {
    CWindowHarness h;
    CDeviceImage& img = h.Image();
    h.Emulator().Faults().m_bSilent = true;
    h.Click(IDOK);
    QCOMPARE(h.Tap().WaitFor(13), size_t(13));
    std::vector<CWindowHarness::Bytes> expected;
    for (const qz::CBlockInfo& b : qz::kBlocks)
        if (b.bRequestAll) expected.push_back(RequestFrame(b.dwAddress, static_cast<uint32_t>(b.nSize)));
    QCOMPARE(h.Sent(), expected);

    // Nothing is sent while the link is down.
    h.ClearSent();
    h.Tick(10);
    QCOMPARE(h.Tap().Count(), size_t(0));
    QVERIFY(!h.Control(IDC_WRITE_FLASH)->isEnabled());

    // The first tick after a status reply brings the link up, and sends nothing yet.
    CWindowHarness::Bytes status(qz::kStatusSize, 0);
    status[qz::kStVideoFormat + 1] = 12;  // "1080/59.94i"
    h.InjectStatus(status);
    QCOMPARE(h.Text(IDC_VIDEO_FORMAT), QStringLiteral("1080/59.94i"));
    h.Tick();
    QVERIFY(img.m_bLinkUp.load());
    QCOMPARE(h.Lamp(IDC_LINK_LED)->State(), int(CUtilQZ81KTDlg::kLampLink));
    QVERIFY(h.Control(IDC_WRITE_FLASH)->isEnabled());
    QCOMPARE(h.Tap().Count(), size_t(0));

    // Two polls every tick, the system block every 30th; the device stays silent.
    const auto statusPoll = RequestFrame(qz::kAddrStatus, qz::kStatusSize);
    const auto modePoll = RequestFrame(qz::kAddrControlMode, qz::kControlModeSize);
    const auto systemPoll = RequestFrame(qz::kAddrSystem, qz::kSystemSize);
    for (int nTick = 1; nTick <= 49; ++nTick) {
        h.ClearSent();
        h.Tick();
        std::vector<CWindowHarness::Bytes> polls = {statusPoll, modePoll};
        if (nTick == 30) polls.push_back(systemPoll);
        QTRY_COMPARE(h.Tap().Count(), polls.size());
        QCOMPARE(h.Sent(), polls);
    }
    QVERIFY(img.m_bLinkUp.load());
    QCOMPARE(h.Text(IDC_VIDEO_FORMAT), QStringLiteral("1080/59.94i"));
    // The 50th silent tick drops the link: display blanked, lamps off, controls disabled.
    h.Tick();
    QVERIFY(!img.m_bLinkUp.load());
    QCOMPARE(h.Text(IDC_VIDEO_FORMAT), QStringLiteral(" -"));
    QCOMPARE(h.Text(IDC_PRESET3), QStringLiteral("3: -"));
    QCOMPARE(h.Lamp(IDC_LINK_LED)->State(), 0);
    QVERIFY(!h.Control(IDC_WRITE_FLASH)->isEnabled());
    h.ClearSent();
    h.Tick(3);
    QCOMPARE(h.Tap().Count(), size_t(0));
}

void WindowConnectionTest::connectFromALinkDisablesTheDeviceControls() {
    CWindowHarness h;
    h.ConnectAndLink();
    const int controls[] = {IDC_DIR_1394_TO_SDI, IDC_SDI_CH_3_4, IDC_PRESET5, IDC_UNIT_RECORDER, IDC_FAN,
                            IDC_LOCAL,           IDC_TC,         IDC_WRITE_FLASH, IDC_FACTORY_RESET};
    for (int nId : controls) QVERIFY2(h.Control(nId)->isEnabled(), qPrintable(qz::ControlNames(nId).value(0)));
    // A silent device: the new Connect waits, and nothing of the old link may be clicked.
    h.Emulator().Faults().m_bSilent = true;
    h.Click(IDOK);
    for (int nId : controls) QVERIFY2(!h.Control(nId)->isEnabled(), qPrintable(qz::ControlNames(nId).value(0)));
    h.Tick(5);
    for (int nId : controls) QVERIFY(!h.Control(nId)->isEnabled());
}

void WindowConnectionTest::keyWatcher_data() {
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<bool>("afterConnect");
    QTest::newRow("in order") << QList<int>{Qt::Key_K, Qt::Key_T} << true << false;
    QTest::newRow("wrong order") << QList<int>{Qt::Key_T, Qt::Key_K} << false << false;
    QTest::newRow("other key first") << QList<int>{Qt::Key_A, Qt::Key_K, Qt::Key_T} << false << false;
    QTest::newRow("re-armed by Connect") << QList<int>{Qt::Key_T, Qt::Key_K} << false << true;
}

void WindowConnectionTest::keyWatcher() {
    QFETCH(QList<int>, keys);
    QFETCH(bool, shown);
    QFETCH(bool, afterConnect);
    CWindowHarness h;
    QVERIFY(QTest::qWaitForWindowExposed(&h.Window()));
    QWindow* pWindow = h.Window().windowHandle();
    for (int k : keys) QTest::keyClick(pWindow, static_cast<Qt::Key>(k));
    h.Tick();
    QCOMPARE(!h.Control(IDC_EDIT_PRESET)->isHidden(), shown);
    if (afterConnect) {
        h.Emulator().Faults().m_bSilent = true;
        h.Click(IDOK);
        QTest::keyClick(pWindow, Qt::Key_K);
        QTest::keyClick(pWindow, Qt::Key_T);
        h.Tick();
        QVERIFY(!h.Control(IDC_EDIT_PRESET)->isHidden());
    }
}

void WindowConnectionTest::workerRequestsRunOnTheWindowThread() {
    CWindowHarness h;
    h.ConnectAndLink();
    h.Emulator().Faults().m_bSilent = true;
    CWindowHarness::Bytes preset = h.Block(qz::PresetBlock(3));
    preset[32] = 0, preset[33] = 0, preset[46] = 0, preset[47] = 2;  // HDV/DV, Rx DV
    h.Image().Write(qz::PresetBlock(3), preset.data(), preset.size());
    const QString strBefore = h.Text(IDC_PRESET3);
    h.Image().m_bLinkUp = false;
    // As the input worker calls them: nothing changes until the window's thread runs.
    std::thread worker([&] {
        h.Window().UpdatePresetLine(3);
        h.Window().UpdateControlEnable();
    });
    worker.join();
    QCOMPARE(h.Text(IDC_PRESET3), strBefore);
    QVERIFY(h.Control(IDC_WRITE_FLASH)->isEnabled());
    QTRY_COMPARE(h.Text(IDC_PRESET3), QStringLiteral("3: HDV/DV  (IEEE1394 = DV)"));
    QTRY_VERIFY(!h.Control(IDC_WRITE_FLASH)->isEnabled());
}

void WindowConnectionTest::closingWhileRepliesArrive() {
    // The ports stop before any widget goes; the sanitizer builds watch this one.
    CWindowHarness h;
    h.ConnectAndLink();
    std::atomic<bool> bStop{false};
    std::thread device([&] {
        uint8_t status[qz::kStatusSize] = {};
        uint8_t frame[qz::kDT1Overhead + qz::kStatusSize];
        for (uint8_t n = 0; !bStop; ++n) {
            status[qz::kStTimecode + 1] = n % 10;
            status[qz::kStIndicator1] = n % 16;
            size_t len = qz::BuildDT1(frame, sizeof frame, qz::kDefaultDeviceID, qz::kAddrStatus, status, sizeof status);
            h.Driver().PeerSend(h.EmulatorPort(), frame, len);
            uint8_t byMode = n & 0x7F;
            qz::BuildDT1(frame, sizeof frame, qz::kDefaultDeviceID, qz::kAddrControlMode, &byMode, 1);
            h.Driver().PeerSend(h.EmulatorPort(), frame, qz::kDT1Overhead + 1);
        }
    });
    QTRY_VERIFY(h.Image().m_nStatusReplies.load() > 100);
    h.DestroyWindow();
    bStop = true;
    device.join();
}

QTEST_MAIN(WindowConnectionTest)
#include "WindowConnectionTest.moc"
