// The application object's command line, the About box and what a screen reader gets.
#include <QAccessible>
#include <QLineEdit>
#include <QtTest>

#include <cstdio>
#include <cstdlib>

#include "app/AboutDlg.h"
#include "app/HugePageHeap.h"
#include "app/StartUpWork.h"
#include "app/UtilQZ81KTApp.h"
#include "support/WindowHarness.h"

class WindowAppTest : public QObject {
    Q_OBJECT
private slots:
    void serviceMode_data();
    void serviceMode();
    void earlyMidiSystemForTheParsedApi_data();
    void earlyMidiSystemForTheParsedApi();
    void loadTimeFontsJoinedOnceByTheNextTaker();
    void heapReserveServesLargeBlocksFromAdvisedHeap();
    void aboutBoxFromF1AndContextMenu();
    void accessibleNames();
};

void WindowAppTest::serviceMode_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("service");
    QTest::addColumn<bool>("emulate");
    QTest::newRow("none") << QStringList{} << false << false;
    QTest::newRow("the code") << QStringList{"-QmK7315"} << true << false;
    QTest::newRow("trailing blank") << QStringList{"-QmK7315 "} << false << false;
    QTest::newRow("other case") << QStringList{"-qmk7315"} << false << false;
    QTest::newRow("further argument") << QStringList{"-QmK7315", "x"} << false << false;
    QTest::newRow("our options first") << QStringList{"--emulate", "--api", "jack", "-QmK7315"} << true << true;
}

void WindowAppTest::serviceMode() {
    QFETCH(QStringList, args);
    QFETCH(bool, service);
    QFETCH(bool, emulate);
    CUtilQZ81KTApp::COptions options;
    QString strError;
    QVERIFY(CUtilQZ81KTApp::ParseArguments(args, options, strError));
    QCOMPARE(options.m_bServiceMode, service);
    QCOMPARE(options.m_bEmulate, emulate);
    QVERIFY(!CUtilQZ81KTApp::ParseArguments({"--api", "oss"}, options, strError));
}

void WindowAppTest::earlyMidiSystemForTheParsedApi_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("begunFor");  // an EMidiApi, or -1: nothing begun
    QTest::newRow("none") << QStringList{} << int(EMidiApi::Auto);
    QTest::newRow("jack") << QStringList{"--api", "jack"} << int(EMidiApi::Jack);
    QTest::newRow("last wins") << QStringList{"--api", "jack", "-platform", "offscreen", "--api", "alsa"}
                               << int(EMidiApi::Alsa);
    QTest::newRow("not an API") << QStringList{"--api", "oss"} << -1;
    QTest::newRow("no value") << QStringList{"--api"} << -1;
}

void WindowAppTest::earlyMidiSystemForTheParsedApi() {
    QFETCH(QStringList, args);
    QFETCH(int, begunFor);
    args.prepend(QStringLiteral("qz81kt-dxp"));
    std::vector<QByteArray> bytes;
    std::vector<char*> argv;
    for (const QString& a : args) bytes.push_back(a.toUtf8());
    for (QByteArray& b : bytes) argv.push_back(b.data());
    for (EMidiApi eParsed : {EMidiApi::Auto, EMidiApi::Alsa, EMidiApi::Jack}) {
        CStartUpWork early(static_cast<int>(argv.size()), argv.data());
        // Taken only by an application that parsed the same API; never twice.
        QCOMPARE(early.TakeMidiSystem(eParsed) != nullptr, int(eParsed) == begunFor);
        QVERIFY(!early.TakeMidiSystem(eParsed));
    }
}

void WindowAppTest::loadTimeFontsJoinedOnceByTheNextTaker() {
    char name[] = "qz81kt-dxp";
    char* argv[] = {name, nullptr};
    CStartUpWork::BeginFontsAtLoad();
    CStartUpWork::BeginFontsAtLoad();  // one parse pending at a time: a thread never left unjoined
    for (int i = 0; i < 2; ++i) {
        // The first takes the pending parse over, the second parses on its own thread;
        // each joins its own once, however often it waits.
        CStartUpWork early(1, argv, false);
        early.WaitForFonts();
        early.WaitForFonts();
    }
}

// A sanitizer brings an allocator of its own (gcc says so with a macro, clang with a feature).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QZ81KT_OWN_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QZ81KT_OWN_ALLOCATOR 1
#endif
#endif

void WindowAppTest::heapReserveServesLargeBlocksFromAdvisedHeap() {
#ifdef QZ81KT_OWN_ALLOCATOR
    QVERIFY(!qz::ReserveHugePageHeap());  // the sanitizer's allocator: left alone
#else
    QVERIFY(qz::ReserveHugePageHeap());
    // A block as large as the window's backing store comes from the advised heap, not
    // from a mapping of its own.
    const std::size_t nSize = qz::kHugePageHeapLargestBlock / 2;
    void* pBlock = std::malloc(nSize);
    const auto at = reinterpret_cast<quintptr>(pBlock) + nSize - 1;
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    QVERIFY(smaps.open(QIODevice::ReadOnly));
    QString strMapping;  // the mapping that holds the block's last byte: its lines
    bool bInside = false;
    for (const QByteArray& line : smaps.readAll().split('\n')) {
        unsigned long long from = 0, to = 0;
        if (std::sscanf(line.constData(), "%llx-%llx ", &from, &to) == 2) bInside = from <= at && at < to;
        if (bInside) strMapping += QString::fromLatin1(line) + QLatin1Char('\n');
    }
    std::free(pBlock);
    QVERIFY2(strMapping.contains(QStringLiteral("[heap]")) && strMapping.contains(QStringLiteral(" hg")),
             qPrintable(strMapping));
#endif
}

void WindowAppTest::aboutBoxFromF1AndContextMenu() {
    CTestServices services;
    QStringList shown;
    services.m_fnOnDialog = [&](QDialog& dlg) {
        if (qobject_cast<CAboutDlg*>(&dlg)) shown << qz::FindControl<QLineEdit>(&dlg, IDC_ABOUT_VERSION)->text();
    };
    CUtilQZ81KTApp::COptions options;
    options.m_bEmulate = true;
    options.m_eApi = EMidiApi::Jack;  // no server here: only the emulator's pair
    CUtilQZ81KTApp app(options);
    CUtilQZ81KTDlg& w = app.MainWindow();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::keyClick(w.windowHandle(), Qt::Key_F1);
    QCOMPARE(shown, QStringList{"Version : 1.0.0.0"});
    QCOMPARE(w.contextMenuPolicy(), Qt::ActionsContextMenu);
    QCOMPARE(w.actions().size(), 3);
    QCOMPARE(w.actions()[0]->text(), QStringLiteral("About QZ-81KT DXP(&A)..."));
    QCOMPARE(w.actions()[1]->text(), QStringLiteral("MIDI &Monitor..."));
    QVERIFY(w.actions()[2]->isCheckable() && w.actions()[2]->isChecked());  // reconnect automatically
    w.actions()[0]->trigger();
    QCOMPARE(shown.size(), 2);
}

void WindowAppTest::accessibleNames() {
    CWindowHarness h;
    auto name = [&](int nId) { return QAccessible::queryAccessibleInterface(h.Control(nId))->text(QAccessible::Name); };
    // On Linux a combo box is named by its current item; its label comes as a relation.
    for (const auto& [nId, psz] : {std::pair{IDC_COMBO_MIDIIN, "In : "}, std::pair{IDC_COMBO_MIDIOUT, "Out : "}}) {
        QCOMPARE(h.Control(nId)->accessibleName(), QString::fromLatin1(psz));
        auto labels = QAccessible::queryAccessibleInterface(h.Control(nId))->relations(QAccessible::Label);
        QVERIFY(!labels.isEmpty());
        QCOMPARE(labels.front().first->text(QAccessible::Name), QString::fromLatin1(psz));
    }
    const std::pair<int, const char*> names[] = {
        {IDC_IDENTITY, "Identity"},
        {IDC_TIMECODE, "Timecode"},         {IDC_VIDEO_FORMAT, "Video Format :"},
        {IDC_1394_FORMAT, "IEEE1394 Format :"}, {IDC_POWER_STATUS, "Power Status :"},
        {IDC_MODE_SW6, "Mode SW6 :"},       {IDC_LED1, "Indicator 1"},   {IDC_LED2, "Indicator 2"},
        {IDC_LINK_LED, "Link"},             {IDOK, "Connect"},
    };
    for (const auto& [nId, psz] : names) QCOMPARE(name(nId), QString::fromLatin1(psz));
    // The lamps tell their state; a screen reader reads the live status from the fields.
    h.ConnectAndLink();
    auto* pLink = QAccessible::queryAccessibleInterface(h.Lamp(IDC_LINK_LED));
    QCOMPARE(pLink->text(QAccessible::Description), QStringLiteral("lit"));
    QVERIFY(QAccessible::queryAccessibleInterface(h.Control(IDC_IDENTITY))->text(QAccessible::Value).startsWith("ver:"));
}

QTEST_MAIN(WindowAppTest)
#include "WindowAppTest.moc"
