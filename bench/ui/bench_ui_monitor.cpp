// The window's event-loop latency while the emulator floods the input port, first with
// the MIDI Monitor closed (the peer), then with it open and showing the traffic. A 5 ms
// precise timer measures how late the loop runs it. Prints figures; asserts nothing.
//   bench_ui_monitor [SECONDS [RATE]]     (defaults 5 and 100000 messages/s)
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "emulator/LoopbackEmulator.h"
#include "midi/platform/LoopbackDriver.h"
#include "ui/main/UtilQZ81KTDlg.h"
#include "ui/monitor/MidiMonitorWnd.h"
#include "ui/widgets/ControlId.h"

namespace {
constexpr int kProbeMs = 5;

struct CLateness {
    double median = 0, p99 = 0, max = 0;
    size_t nSamples = 0;
};

// Runs the event loop for nSeconds and returns how late the probe timer fired.
CLateness MeasureLoop(int nSeconds) {
    std::vector<double> late;
    QElapsedTimer clock;
    clock.start();
    qint64 nLastNs = clock.nsecsElapsed();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(kProbeMs);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        late.push_back(std::max(0.0, (now - nLastNs) / 1e6 - kProbeMs));
        nLastNs = now;
    });
    probe.start();
    while (clock.elapsed() < nSeconds * 1000LL) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    probe.stop();
    std::sort(late.begin(), late.end());
    CLateness r;
    r.nSamples = late.size();
    if (late.empty()) return r;
    r.median = late[late.size() / 2];
    r.p99 = late[late.size() * 99 / 100];
    r.max = late.back();
    return r;
}

void Print(const char* pszWhat, const CLateness& l) {
    std::printf("%-34s loop lateness (%zu probes of %d ms): median %.2f ms, p99 %.2f ms, max %.2f ms\n", pszWhat,
                l.nSamples, kProbeMs, l.median, l.p99, l.max);
}
}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", getenv("QT_QPA_PLATFORM") ? getenv("QT_QPA_PLATFORM") : "offscreen", 1);
    QApplication app(argc, argv);
    const int nSeconds = argc > 1 ? std::atoi(argv[1]) : 5;
    const uint32_t nRate = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 100000;
    CLoopbackDriver driver;
    CLoopbackEmulator emulator(driver);
    emulator.Start();

    CUtilQZ81KTDlg w(&driver);  // its own 100 ms timer polls the device throughout
    w.show();
    QTest::mouseClick(qz::FindControl(&w, IDOK), Qt::LeftButton);
    QElapsedTimer t;
    t.start();
    while (!w.Image().m_bLinkUp.load() && t.elapsed() < 5000) QCoreApplication::processEvents();
    if (!w.Image().m_bLinkUp.load()) {
        std::printf("the link did not come up\n");
        return 1;
    }

    emulator.Faults().m_nFloodPerSecond = nRate;
    const uint64_t nFloodBefore = emulator.Emulator().Counters().m_nFloodMessages;
    const int nLost0 = w.MidiIn().m_nDropped.load();
    const CLateness closed = MeasureLoop(nSeconds);
    const uint64_t nFloodClosed = emulator.Emulator().Counters().m_nFloodMessages - nFloodBefore;

    const int nLostClosed = w.MidiIn().m_nDropped.load() - nLost0;
    CMidiMonitorWnd* pMon = w.ShowMonitor();
    const CTrafficTap& tap = w.TrafficTap();
    const uint64_t nSeenBefore = tap.Seen(CTrafficTap::kIn) + tap.Seen(CTrafficTap::kOut);
    const uint64_t nDropBefore = tap.DroppedTotal();
    const uint64_t nFloodOpen0 = emulator.Emulator().Counters().m_nFloodMessages;
    const CLateness open = MeasureLoop(nSeconds);
    const uint64_t nFloodOpen = emulator.Emulator().Counters().m_nFloodMessages - nFloodOpen0;
    emulator.Faults().m_nFloodPerSecond = 0;
    const uint64_t nSeen = tap.Seen(CTrafficTap::kIn) + tap.Seen(CTrafficTap::kOut) - nSeenBefore;
    const uint64_t nDropped = tap.DroppedTotal() - nDropBefore;
    const int nLostOpen = w.MidiIn().m_nDropped.load() - nLost0 - nLostClosed;

    std::printf("flood asked %u msgs/s for %d s each; reached %.0f msgs/s (monitor closed), %.0f msgs/s (open)\n",
                nRate, nSeconds, nFloodClosed / double(nSeconds), nFloodOpen / double(nSeconds));
    Print("monitor closed (peer):", closed);
    Print("monitor open, showing the flood:", open);
    std::printf("monitor: %zu rows held (cap %zu), %llu dropped by the cap; tap saw %llu, dropped %llu (%.2f %%); "
                "input buffers lost %d closed, %d open; link up %s (goal: max lateness <= 50 ms)\n",
                pMon->Model().RowsHeld(), CTrafficModel::kDefaultCap,
                static_cast<unsigned long long>(pMon->Model().RowsDropped()), static_cast<unsigned long long>(nSeen),
                static_cast<unsigned long long>(nDropped), nSeen ? 100.0 * nDropped / nSeen : 0.0,
                nLostClosed, nLostOpen, w.Image().m_bLinkUp.load() ? "yes" : "no");
    emulator.Stop();
    return 0;
}
