// The window's Export and Import of the parameter file over the emulator, the file
// dialogs answered by the test services.
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceFrames.h"
#include "support/EditorRig.h"
#include "ui/main/UtilQZ81KTDlg.h"

namespace fs = std::filesystem;

namespace {

const QString kMustConnect = QStringLiteral("You must do  Connect  at first, and retry...  ");

std::string ReadText(const QString& strPath) {
    std::ifstream in(strPath.toStdString(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteText(const QString& strPath, const std::string& text) {
    std::ofstream(strPath.toStdString(), std::ios::binary) << text;
}

}  // namespace

class WindowParameterFileTest : public QObject {
    Q_OBJECT
private slots:
    void linkDownOrCancelledDoesNothing();
    void exportThenImportPutsTheSettingsBack();
    void failedExportIsTold_data();
    void failedExportIsTold();
    void unreadableImportIsToldAndSendsNothing_data();
    void unreadableImportIsToldAndSendsNothing();
};

void WindowParameterFileTest::linkDownOrCancelledDoesNothing() {
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    CUtilQZ81KTDlg& w = rig.Window();
    CTestServices& s = rig.Services();
    w.Image().m_bLinkUp = false;
    w.OnParameterExport();
    w.OnParameterImport();
    QCOMPARE(s.m_messages, (QStringList{kMustConnect, kMustConnect}));
    QVERIFY(s.m_fileDialogs.isEmpty());

    w.Image().m_bLinkUp = true;
    s.m_messages.clear();
    w.OnParameterExport();
    w.OnParameterImport();
    QCOMPARE(s.m_fileDialogs, (QStringList{"save txt (*.txt) txt", "open txt (*.txt) txt"}));
    QVERIFY(s.m_messages.isEmpty());
    QCOMPARE(s.m_nWaitCursors, 0);
    QVERIFY(rig.TakeFrames().empty());
}

void WindowParameterFileTest::exportThenImportPutsTheSettingsBack() {
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    QTemporaryDir dir;
    CTestServices& s = rig.Services();
    s.m_strFileAnswer = dir.filePath("settings.txt");
    rig.Window().OnParameterExport();
    QVERIFY(s.m_messages.isEmpty());
    QCOMPARE(s.m_nWaitDepthAtFileDialog, 0);  // the wait cursor comes after the dialog
    QCOMPARE(s.m_nWaitCursors, 1);
    QCOMPARE(s.m_nWaitDepth, 0);
    QVERIFY(ReadText(s.m_strFileAnswer).find("[preset7]\r\ndata=") != std::string::npos);

    const Bytes system = rig.DeviceBlock(qz::kAddrSystem), preset2 = rig.DeviceBlock(qz::PresetAddress(2));
    Bytes changed = preset2;
    changed[10] ^= 1;
    QVERIFY(rig.SetDeviceBlock(qz::PresetAddress(2), changed));
    (void)rig.TakeFrames();

    rig.Window().OnParameterImport();
    QVERIFY(s.m_messages.isEmpty());
    const std::vector<Bytes> frames = rig.TakeFrames();
    std::vector<uint32_t> expected = {qz::kAddrSystem, qz::kAddrSystem, qz::kAddrTimecode};
    for (int n = 0; n < qz::kPresetCount; ++n) expected.push_back(qz::PresetAddress(n));
    if (system[qz::kSysRemote] != 1) expected.push_back(qz::kAddrSystem);  // back to Local
    QCOMPARE(frames.size(), expected.size() + 13);
    for (size_t i = 0; i < expected.size(); ++i) QCOMPARE(DT1Address(frames[i]), expected[i]);
    QCOMPARE(DT1Data(frames[0])[qz::kSysRemote], uint8_t(1));  // written in Remote
    for (size_t i = expected.size(); i < frames.size(); ++i) QCOMPARE(frames[i][6], qz::kCmdRQ1);  // request-all
    QCOMPARE(rig.DeviceBlock(qz::PresetAddress(2)), preset2);
    QCOMPARE(rig.DeviceBlock(qz::kAddrSystem), system);
}

void WindowParameterFileTest::failedExportIsTold_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("read-only target") << "read-only";
    QTest::newRow("blocks not received") << "incomplete";
}

void WindowParameterFileTest::failedExportIsTold() {
    QFETCH(QString, how);
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    QTemporaryDir dir;
    CTestServices& s = rig.Services();
    s.m_strFileAnswer = dir.filePath("settings.txt");
    WriteText(s.m_strFileAnswer, "[mine]\r\nkept=1\r\n");
    if (how == "read-only") {
        fs::permissions(s.m_strFileAnswer.toStdString(), fs::perms::owner_read | fs::perms::group_read);
    } else {
        rig.Window().Image().m_bTimecodeRcvd = false;
        rig.Window().Image().m_bPresetRcvd[3] = false;
    }
    rig.Window().OnParameterExport();
    QCOMPARE(s.m_messages.size(), 1);
    if (how == "read-only") {
        QVERIFY2(s.m_messages[0].startsWith("Cannot write " + s.m_strFileAnswer + ": "), qPrintable(s.m_messages[0]));
        QVERIFY(s.m_messages[0].endsWith(" (the file is unchanged)"));
    } else {
        QCOMPARE(s.m_messages[0], QStringLiteral("Not exported, not received: timecode, preset 3"));
    }
    QCOMPARE(ReadText(s.m_strFileAnswer), std::string("[mine]\r\nkept=1\r\n"));
    QCOMPARE(s.m_nWaitDepth, 0);
}

void WindowParameterFileTest::unreadableImportIsToldAndSendsNothing_data() {
    QTest::addColumn<QString>("name");
    QTest::newRow("gone since the dialog") << "missing.txt";
    QTest::newRow("a folder") << "folder";
}

void WindowParameterFileTest::unreadableImportIsToldAndSendsNothing() {
    QFETCH(QString, name);
    CEditorRig rig;
    QVERIFY(rig.IsReady());
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("folder"));
    CTestServices& s = rig.Services();
    s.m_strFileAnswer = dir.filePath(name);
    rig.Window().OnParameterImport();
    QCOMPARE(s.m_messages.size(), 1);
    QVERIFY2(s.m_messages[0].startsWith("Cannot read " + s.m_strFileAnswer + ": "), qPrintable(s.m_messages[0]));
    QVERIFY(rig.TakeFrames().empty());
}

QTEST_MAIN(WindowParameterFileTest)
#include "WindowParameterFileTest.moc"
