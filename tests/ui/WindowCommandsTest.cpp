// The main window's device commands: the system-byte controls (data set, then read-back
// request), the frame-rate rule, the fixed command frames, factory reset, update mode,
// control enabling by the device's mode and the gates of the three dialogs.
#include <QtTest>

#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceFrames.h"
#include "support/WindowHarness.h"

using Bytes = CWindowHarness::Bytes;

namespace {
Bytes Frame(const uint8_t (&f)[13]) { return Bytes(f, f + 13); }
const Bytes kSystemRequest = RequestFrame(qz::kAddrSystem, qz::kSystemSize);
const QString kMustConnect = QStringLiteral("You must do  Connect  at first, and retry...  ");
}  // namespace

class WindowCommandsTest : public QObject {
    Q_OBJECT
private slots:
    void systemByteHandlers_data();
    void systemByteHandlers();
    void syncOperationOnAllZeroSystemBlock();
    void refusedSendKeepsTheImageByte();
    void frameRateLockedSendsOnlyRequestAll();
    void localModeAndControlModeBit();
    void writeToFlash();
    void factoryReset_data();
    void factoryReset();
    void updateMode();
    void gates();
};

void WindowCommandsTest::systemByteHandlers_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("value");  // -1: the check box's new state
    const int rows[][3] = {
        {IDC_DIR_SDI_TO_1394, 1, 0}, {IDC_DIR_1394_TO_SDI, 1, 1}, {IDC_SDI_CH_1_2, 3, 0}, {IDC_SDI_CH_3_4, 3, 1},
        {IDC_SDI_CH_5_6, 3, 2},      {IDC_SDI_CH_7_8, 3, 3},      {IDC_PRESET0, 5, 0},    {IDC_PRESET1, 5, 1},
        {IDC_PRESET2, 5, 2},         {IDC_PRESET3, 5, 3},         {IDC_PRESET4, 5, 4},    {IDC_PRESET5, 5, 5},
        {IDC_PRESET6, 5, 6},         {IDC_PRESET7, 5, 7},         {IDC_UNIT_CAMERA, 9, 0}, {IDC_UNIT_RECORDER, 9, 1},
        {IDC_SYNC_OPERATION, 11, -1}, {IDC_AUDIO_SRC, 13, -1},    {IDC_FAN, 15, -1},      {IDC_SDI_INPUT_REMOTE, 17, -1},
        {IDC_FORMAT_FIX, 23, -1},    {IDC_REMOTE, 7, 1},          {IDC_LOCAL, 7, 0},
    };
    for (const auto& r : rows)
        QTest::newRow(qPrintable(qz::ControlNames(r[0]).value(0))) << r[0] << r[1] << r[2];
}

void WindowCommandsTest::systemByteHandlers() {
    QFETCH(int, id);
    QFETCH(int, offset);
    QFETCH(int, value);
    CWindowHarness h;
    h.ConnectAndLink();
    auto* pButton = h.Control<QAbstractButton>(id);
    QVERIFY(pButton->isEnabled());
    // Twice: clicking the radio that is already checked sends again.
    for (int nClick = 0; nClick < 2; ++nClick) {
        int nExpected = value >= 0 ? value : (pButton->isChecked() ? 0 : 1);
        Bytes expected = h.Block(qz::EBlock::System);
        expected[offset] = static_cast<uint8_t>(nExpected);
        h.ClearSent();
        int nHandled = h.Handled();
        h.Click(id);
        QCOMPARE(h.Block(qz::EBlock::System), expected);  // the image first
        QTRY_COMPARE(h.Tap().Count(), size_t(2));
        QTRY_VERIFY(h.Handled() > nHandled);  // the read-back is shown before the next click
        const std::vector<Bytes> sent = h.Sent();
        uint8_t frame[qz::kDT1Overhead + qz::kSystemSize];
        qz::BuildDT1(frame, sizeof frame, qz::kDefaultDeviceID, qz::kAddrSystem, expected.data(), expected.size());
        QCOMPARE(sent[0], Bytes(frame, frame + sizeof frame));
        QCOMPARE(sent[1], kSystemRequest);
        QCOMPARE(pButton->isChecked(), value >= 0 || nExpected == 1);
    }
}

void WindowCommandsTest::syncOperationOnAllZeroSystemBlock() {
    CWindowHarness h;
    h.Emulator().Faults().m_bSilent = true;  // nothing answers: the system copy stays zero
    h.Click(IDOK);
    QCOMPARE(h.Tap().WaitFor(13), size_t(13));
    h.ClearSent();
    h.Control(IDC_SYNC_OPERATION)->setEnabled(true);
    h.Click(IDC_SYNC_OPERATION);
    QCOMPARE(h.Tap().WaitFor(2), size_t(2));
    Bytes dt1 = {0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x12, 0x00, 0x00, 0x00};
    dt1.resize(10 + qz::kSystemSize, 0);
    dt1[10 + 11] = 0x01;
    dt1.push_back(0x7F);
    dt1.push_back(0xF7);
    QCOMPARE(h.Sent()[0], dt1);
    QCOMPARE(h.Sent()[1], (Bytes{0xF0, 0x41, 0x7F, 0x00, 0x00, 0x3F, 0x11, 0, 0, 0, 0, 0, 0x1C, 0x64, 0xF7}));
}

void WindowCommandsTest::refusedSendKeepsTheImageByte() {
    CWindowHarness h;  // not connected: the output port is closed
    h.Control(IDC_FAN)->setEnabled(true);
    h.Click(IDC_FAN);
    QCOMPARE(h.m_services.m_messages, QStringList{"Error : Please Connect at first"});
    QCOMPARE(h.Block(qz::EBlock::System)[qz::kSysFan], uint8_t(1));
    QCOMPARE(h.Tap().Count(), size_t(0));
    // The frame-rate buttons run the request-all sequence even so, and report its refusal.
    h.m_services.m_messages.clear();
    h.Control(IDC_RATE_50)->setEnabled(true);
    h.Click(IDC_RATE_50);
    QCOMPARE(h.m_services.m_messages,
             (QStringList{"Error : Please Connect at first", "Error : cann't send MIDI request"}));
}

void WindowCommandsTest::frameRateLockedSendsOnlyRequestAll() {
    CWindowHarness h;
    h.ConnectAndLink();
    QCOMPARE(h.Image().m_bRateFromSdi.load(), true);  // the emulator's SDI input fixes the rate
    uint8_t byRate = h.Block(qz::EBlock::System)[qz::kSysFrameRate];
    h.ClearSent();
    h.Control(IDC_RATE_50)->setEnabled(true);
    h.Click(IDC_RATE_50);
    QCOMPARE(h.Tap().WaitFor(13), size_t(13));
    for (const Bytes& f : h.Sent()) QCOMPARE(f[6], qz::kCmdRQ1);
    QCOMPARE(h.Block(qz::EBlock::System)[qz::kSysFrameRate], byRate);
    QVERIFY(h.m_services.m_messages.isEmpty());
}

void WindowCommandsTest::localModeAndControlModeBit() {
    CWindowHarness h;
    h.ConnectAndLink();
    h.Emulator().Faults().m_bSilent = true;
    Bytes system = h.Block(qz::EBlock::System);
    system[qz::kSysRemote] = 0;  // the device is set to Local
    h.InjectReply(qz::kAddrSystem, system);
    for (int nId : {IDC_DIR_SDI_TO_1394, IDC_PRESET0, IDC_FAN, IDC_TC, IDC_RATE_5994})
        QVERIFY(!h.Control(nId)->isEnabled());
    for (int nId : {IDC_WRITE_FLASH, IDC_FACTORY_RESET, IDC_LOCAL, IDC_REMOTE}) QVERIFY(h.Control(nId)->isEnabled());
    // Control mode bit 0 set: "Local" and "Remote" cannot be changed from here.
    h.InjectReply(qz::kAddrControlMode, Bytes{0x01}, 2);
    QCOMPARE(h.Text(IDC_MODE_SW6), QStringLiteral("Remote"));
    QVERIFY(!h.Control(IDC_LOCAL)->isEnabled());
    QVERIFY(!h.Control(IDC_REMOTE)->isEnabled());
    QVERIFY(h.Control(IDC_WRITE_FLASH)->isEnabled());
}

void WindowCommandsTest::writeToFlash() {
    CWindowHarness h;
    h.Control(IDC_WRITE_FLASH)->setEnabled(true);
    h.Click(IDC_WRITE_FLASH);
    QCOMPARE(h.m_services.m_messages, QStringList{kMustConnect});
    h.ConnectAndLink();
    h.ClearSent();
    h.Click(IDC_WRITE_FLASH);
    QCOMPARE(h.Tap().WaitFor(1), size_t(1));
    QCOMPARE(h.Sent()[0], Frame(qz::kWriteFlashFrame));
}

void WindowCommandsTest::factoryReset_data() {
    QTest::addColumn<bool>("yes");
    QTest::newRow("no") << false;
    QTest::newRow("yes") << true;
}

void WindowCommandsTest::factoryReset() {
    QFETCH(bool, yes);
    CWindowHarness h;
    h.ConnectAndLink();
    h.ClearSent();
    h.m_services.m_bAnswerYes = yes;
    // The second the window waits lets the reset frame leave before the ports close.
    h.m_services.m_fnOnPause = [&] { (void)h.Tap().WaitFor(1); };
    h.Click(IDC_FACTORY_RESET);
    QCOMPARE(h.m_services.m_questions, QStringList{"Are you sure?"});
    if (!yes) {
        QVERIFY(h.m_services.m_pauses.empty());
        QVERIFY(h.Window().MidiIn().IsActive() && h.Window().MidiOut().IsActive());
        QCOMPARE(h.Tap().Count(), size_t(0));
        return;
    }
    QCOMPARE(h.m_services.m_pauses, std::vector<int>{1000});
    QCOMPARE(h.m_services.m_nWaitDepthAtPause, 1);
    QCOMPARE(h.m_services.m_nWaitDepth, 0);
    QCOMPARE(h.m_services.m_messages, QStringList{"Please Reboot QZ-81KT ..."});
    QCOMPARE(h.Sent().at(0), Frame(qz::kFactoryResetFrame));
    QVERIFY(!h.Window().MidiIn().IsOpen());
    QVERIFY(!h.Window().MidiOut().IsOpen());
    QVERIFY(h.Image().m_bLinkUp.load());  // until the timer notices the silence
    QCOMPARE(h.Text(IDC_TIMECODE), QStringLiteral(" -"));
    QCOMPARE(h.Lamp(IDC_LINK_LED)->State(), 0);
}

void WindowCommandsTest::updateMode() {
    CWindowHarness h;
    h.Window().EnterUpdateMode();
    QCOMPARE(h.m_services.m_messages, QStringList{kMustConnect});
    h.ConnectAndLink();
    h.ClearSent();
    h.Window().EnterUpdateMode();
    QCOMPARE(h.Tap().WaitFor(1), size_t(1));
    QCOMPARE(h.Sent()[0], Frame(qz::kUpdateModeFrame));
    QVERIFY(!h.Image().m_bLinkUp.load());
    QVERIFY(!h.Control(IDC_WRITE_FLASH)->isEnabled());
    QCOMPARE(h.Text(IDC_VIDEO_FORMAT), QStringLiteral(" -"));
    QVERIFY(h.Window().MidiOut().IsActive());
    h.ClearSent();
    h.Tick(3);  // the emulator went silent: nothing is polled
    QCOMPARE(h.Tap().Count(), size_t(0));
}

void WindowCommandsTest::gates() {
    CWindowHarness h(true);
    CGateWindow& w = h.Window();
    auto press = [&](int nId) {
        auto* pButton = h.Control<QAbstractButton>(nId);
        pButton->setEnabled(true);
        pButton->click();  // "Edit Preset" is hidden until the key sequence
    };
    press(IDC_EDIT_PRESET);
    press(IDC_TC);
    press(IDC_FOR_SERVICE);
    QCOMPARE(h.m_services.m_messages, (QStringList{"No Recieve, Preset parameter yet",
                                                   "No Recieve, Timecode parameter yet", kMustConnect}));
    QCOMPARE(w.m_nPresetEditorRuns + w.m_nTimecodeRuns + w.m_nServiceRuns, 0);

    h.ConnectAndLink();
    h.Emulator().Faults().m_bSilent = true;
    Bytes system = h.Block(qz::EBlock::System);
    system[qz::kSysPreset] = 9;  // beyond the last preset: the editor opens on preset 7
    h.InjectReply(qz::kAddrSystem, system);
    h.m_services.m_messages.clear();
    for (int nId : {IDC_EDIT_PRESET, IDC_TC, IDC_FOR_SERVICE}) press(nId);
    QVERIFY(h.m_services.m_messages.isEmpty());
    QCOMPARE(w.EditPreset(), 7);
    QCOMPARE(w.m_nPresetEditorRuns, 1);
    QCOMPARE(w.m_nTimecodeRuns, 1);
    QCOMPARE(w.m_nServiceRuns, 1);
}

QTEST_MAIN(WindowCommandsTest)
#include "WindowCommandsTest.moc"
