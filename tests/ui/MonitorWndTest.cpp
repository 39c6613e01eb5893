// The MIDI Monitor window beside the real main window and the in-process emulator:
// opening, filters, the row cap, copy and the two ways of saving.
#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include "protocol/wire/DeviceFrames.h"
#include "support/WindowHarness.h"
#include "ui/monitor/MidiMonitorWnd.h"

using Bytes = CWindowHarness::Bytes;

namespace {
class CSaveServices : public CTestServices {
public:
    QString SaveFileName(QWidget*, const QString& strFilter, const QString&) override {
        m_filters << strFilter;
        return m_strAnswer;
    }
    QString m_strAnswer;
    QStringList m_filters;
};

QStringList Texts(CTrafficModel& m, int nColumn = CTrafficModel::kColText) {
    QStringList s;
    for (int i = 0; i < m.rowCount(); ++i) s << m.data(m.index(i, nColumn)).toString();
    return s;
}
}  // namespace

class MonitorWndTest : public QObject {
    Q_OBJECT
private slots:
    void opensFromCtrlMAsItsOwnWindow();
    void filtersHidePollsKeepSysExAndChooseDirection();
    void capDropsTheOldestAndCountsThem();
    void savedSysExIsWhatWasReceived();
    void copyAndSaveTextGiveTheShownRows();
};

void MonitorWndTest::opensFromCtrlMAsItsOwnWindow() {
    CWindowHarness h;
    QVERIFY(QTest::qWaitForWindowExposed(&h.Window()));
    QVERIFY(!h.Window().Monitor());
    QTest::keyClick(h.Window().windowHandle(), Qt::Key_M, Qt::ControlModifier);
    CMidiMonitorWnd* pMon = h.Window().Monitor();
    QVERIFY(pMon && pMon->isVisible() && pMon->isWindow());
    QCOMPARE(pMon->windowTitle(), QStringLiteral("MIDI Monitor"));
    QVERIFY(h.Window().TrafficTap().IsReading());
    for (int nId : {IDC_MON_TABLE, IDC_MON_HIDE_POLLS, IDC_MON_SYSEX_ONLY, IDC_MON_SHOW_IN, IDC_MON_SHOW_OUT,
                    IDC_MON_PAUSE, IDC_MON_CLEAR, IDC_MON_COPY, IDC_MON_SAVE_TEXT, IDC_MON_SAVE_SYX, IDC_MON_COUNTERS}) {
        QWidget* w = qz::FindControl(pMon, nId);
        QVERIFY2(w, qPrintable(qz::ControlNames(nId).value(0)));
        QVERIFY(w->focusPolicy() != Qt::NoFocus);
        QVERIFY(!QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name).isEmpty());
    }
    h.ConnectAndWaitImage();
    QTRY_VERIFY((pMon->Poll(), Texts(pMon->Model()).contains("DT1 status (01 00 00, 58 bytes), checksum good")));
    QCOMPARE(Texts(pMon->Model()).first(), QStringLiteral("RQ1 version (7F 00 00, 8), checksum good"));
    pMon->close();
    QVERIFY(!h.Window().TrafficTap().IsReading());
    QCOMPARE(h.Window().ShowMonitor(), pMon);  // one window, shown again
}

void MonitorWndTest::filtersHidePollsKeepSysExAndChooseDirection() {
    CWindowHarness h;
    CMidiMonitorWnd* pMon = h.Window().ShowMonitor();
    h.Emulator().Faults().m_nFloodPerSecond = 2000;  // clocks, notes, foreign SysEx
    h.ConnectAndLink();
    h.Tick(3);
    QTRY_VERIFY((pMon->Poll(), Texts(pMon->Model()).contains("active sensing")));
    QTRY_VERIFY((pMon->Poll(), Texts(pMon->Model()).filter("control mode (7F 08 00").size() >= 2));
    h.Emulator().Faults().m_nFloodPerSecond = 0;
    CTrafficModel& m = pMon->Model();
    auto click = [&](int nId) { qz::FindControl<QCheckBox>(pMon, nId)->click(); };

    click(IDC_MON_HIDE_POLLS);
    QVERIFY(m.rowCount() > 0);
    for (const QString& t : Texts(m)) {
        QVERIFY2(!t.contains("status (01 00 00") && !t.contains("control mode (7F 08 00"), qPrintable(t));
    }
    QVERIFY(Texts(m).contains("DT1 system (00 00 00, 28 bytes), checksum good"));
    click(IDC_MON_SYSEX_ONLY);
    for (int i = 0; i < m.rowCount(); ++i) QCOMPARE(static_cast<uint8_t>(m.Row(i).bytes[0]), uint8_t{0xF0});
    QVERIFY(Texts(m).filter("SysEx manufacturer").size() > 0);  // foreign SysEx stays
    click(IDC_MON_SHOW_IN);
    QVERIFY(m.rowCount() > 0);
    QCOMPARE(Texts(m, CTrafficModel::kColDirection).filter("In").size(), 0);
    click(IDC_MON_SHOW_OUT);
    QCOMPARE(m.rowCount(), 0);
    click(IDC_MON_SHOW_IN);
    click(IDC_MON_HIDE_POLLS);
    click(IDC_MON_SYSEX_ONLY);
    QVERIFY(m.rowCount() > 0);
    QCOMPARE(Texts(m, CTrafficModel::kColDirection).filter("Out").size(), 0);
    click(IDC_MON_SHOW_OUT);
    QCOMPARE(m.rowCount(), static_cast<int>(m.RowsHeld()));  // nothing was lost by filtering
}

void MonitorWndTest::capDropsTheOldestAndCountsThem() {
    CTrafficModel m;
    m.SetCap(100);
    std::vector<CTrafficTap::CRecord> recs(150);
    for (size_t i = 0; i < recs.size(); ++i) {
        recs[i].wLength = 3;
        recs[i].abyData[0] = 0x90;
        recs[i].abyData[1] = static_cast<uint8_t>(i & 0x7F);
        recs[i].abyData[2] = static_cast<uint8_t>(i >> 7);
    }
    m.Append(recs.data(), 60);
    m.Append(recs.data() + 60, 90);
    QCOMPARE(m.rowCount(), 100);
    QCOMPARE(m.RowsDropped(), uint64_t{50});
    QCOMPARE(static_cast<int>(m.Row(0).bytes[1]), 50);  // the oldest kept
    QCOMPARE(static_cast<int>(m.Row(99).bytes[1]), 149 & 0x7F);
    m.Clear();
    QCOMPARE(m.rowCount(), 0);
}

void MonitorWndTest::savedSysExIsWhatWasReceived() {
    CWindowHarness h;
    CSaveServices services;
    QTemporaryDir dir;
    services.m_strAnswer = dir.filePath("traffic.syx");
    CMidiMonitorWnd* pMon = h.Window().ShowMonitor();
    qz::FindControl<QCheckBox>(pMon, IDC_MON_SHOW_OUT)->click();
    h.ConnectAndWaitImage();  // thirteen replies, no ticks: one status reply
    QTRY_COMPARE((pMon->Poll(), pMon->Model().rowCount()), 13);
    Bytes expected;
    for (const qz::CBlockInfo& b : qz::kBlocks) {
        if (!b.bRequestAll) continue;
        Bytes data = h.Block(b.eBlock);
        data.resize(static_cast<size_t>(b.nSize));
        uint8_t frame[qz::kDT1Overhead + qz::kMaxDT1Data];
        size_t n = qz::BuildDT1(frame, sizeof frame, qz::kDefaultDeviceID, b.dwAddress, data.data(), data.size());
        expected.insert(expected.end(), frame, frame + n);
    }
    QTest::mouseClick(qz::FindControl(pMon, IDC_MON_SAVE_SYX), Qt::LeftButton);
    QCOMPARE(services.m_filters, QStringList{"SysEx (*.syx)"});
    QFile f(services.m_strAnswer);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray got = f.readAll();
    QCOMPARE(Bytes(got.begin(), got.end()), expected);
    QVERIFY(services.m_messages.isEmpty());
}

void MonitorWndTest::copyAndSaveTextGiveTheShownRows() {
    CWindowHarness h;
    CSaveServices services;
    QTemporaryDir dir;
    services.m_strAnswer = dir.filePath("traffic.txt");
    CMidiMonitorWnd* pMon = h.Window().ShowMonitor();
    h.ConnectAndWaitImage();
    QTRY_COMPARE((pMon->Poll(), pMon->Model().rowCount()), 26);
    pMon->Table()->selectRow(0);
    QTest::mouseClick(qz::FindControl(pMon, IDC_MON_COPY), Qt::LeftButton);
    const QString strCopied = QApplication::clipboard()->text();
    QVERIFY2(strCopied.endsWith("\tOut\tRQ1 version (7F 00 00, 8), checksum good\tF0 41 7F 00 00 3F 11 7F 00 00 00 00 08 79 F7\n"),
             qPrintable(strCopied));
    QTest::mouseClick(qz::FindControl(pMon, IDC_MON_SAVE_TEXT), Qt::LeftButton);
    QFile f(services.m_strAnswer);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 26);
    QCOMPARE(lines.first() + '\n', strCopied);
    QVERIFY(lines.last().contains("\tIn\tDT1 status (01 00 00, 58 bytes), checksum good\tF0 41 7F 00 00 3F 12 01 00 00"));
    // Pause keeps the table as it is; Clear empties it.
    QTest::mouseClick(qz::FindControl(pMon, IDC_MON_PAUSE), Qt::LeftButton);
    const uint64_t nSeen = h.Window().TrafficTap().Seen(CTrafficTap::kIn);
    h.Tick(2);  // the link comes up, then the first polls go out
    QTRY_VERIFY(h.Window().TrafficTap().Seen(CTrafficTap::kIn) > nSeen);
    pMon->Poll();
    QCOMPARE(pMon->Model().rowCount(), 26);
    QTest::mouseClick(qz::FindControl(pMon, IDC_MON_CLEAR), Qt::LeftButton);
    QCOMPARE(pMon->Model().rowCount(), 0);
}

QTEST_MAIN(MonitorWndTest)
#include "MonitorWndTest.moc"
