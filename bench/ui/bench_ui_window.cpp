// The window over the in-process emulator: Connect to a complete display (the link
// comes up on the first tick after the first status reply); the device's ports
// unplugged to the blanked display and plugged back to a complete display again (the
// window's own port watch and reconnect); and a stored status reply to its field
// updated. Prints figures; asserts nothing.
//   bench_ui_window [CONNECTS [REPLIES]]     (defaults 10 and 200; CONNECTS/2 replugs)
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QtTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "emulator/LoopbackEmulator.h"
#include "midi/platform/LoopbackDriver.h"
#include "protocol/wire/DeviceFrames.h"
#include "ui/main/UtilQZ81KTDlg.h"
#include "ui/widgets/BmpButton.h"
#include "ui/widgets/ControlId.h"

namespace {
struct CStats {
    double median, p90, max;
};
CStats Stats(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[v.size() * 9 / 10], v.back()};
}
template <class Pred>
bool SpinUntil(Pred pred, int nTimeoutMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > nTimeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", getenv("QT_QPA_PLATFORM") ? getenv("QT_QPA_PLATFORM") : "offscreen", 1);
    QApplication app(argc, argv);
    int nConnects = argc > 1 ? std::atoi(argv[1]) : 10;
    int nReplies = argc > 2 ? std::atoi(argv[2]) : 200;
    CLoopbackDriver driver;
    CLoopbackEmulator emulator(driver);
    emulator.Start();

    std::vector<double> connects, unplugs, replugs;
    {
        CUtilQZ81KTDlg w(&driver);  // its own 100 ms timer runs
        w.show();
        auto text = [&](int nId) { return qz::FindControl<QLineEdit>(&w, nId)->text(); };
        auto linkLamp = [&] { return qz::FindControl<CBmpButton>(&w, IDC_LINK_LED)->State(); };
        auto complete = [&] {
            return w.Image().m_bLinkUp.load() && text(IDC_IDENTITY).startsWith("ver:") &&
                   text(IDC_TIMECODE) != " -" && text(IDC_1394_FORMAT) != " -" &&
                   qz::FindControl<QAbstractButton>(&w, IDC_PRESET7)->text() != "7: -" &&
                   linkLamp() == CUtilQZ81KTDlg::kLampLink;
        };
        for (int i = 0; i < nConnects; ++i) {
            QElapsedTimer t;
            t.start();
            QTest::mouseClick(qz::FindControl(&w, IDOK), Qt::LeftButton);
            if (!SpinUntil(complete)) {
                std::printf("Connect did not complete the display\n");
                return 1;
            }
            connects.push_back(t.nsecsElapsed() / 1e6);
        }
        for (int i = 0; i < std::max(1, nConnects / 2); ++i) {
            QElapsedTimer t;
            t.start();
            driver.SetPresent(emulator.Port(), false);
            if (!SpinUntil([&] { return text(IDC_TIMECODE) == " -" && linkLamp() == 0; })) {
                std::printf("the unplugged device was not shown\n");
                return 1;
            }
            unplugs.push_back(t.nsecsElapsed() / 1e6);
            t.start();
            driver.SetPresent(emulator.Port(), true);
            if (!SpinUntil(complete)) {
                std::printf("the device that came back was not shown whole\n");
                return 1;
            }
            replugs.push_back(t.nsecsElapsed() / 1e6);
        }
    }
    CStats c = Stats(connects);
    std::printf("Connect to complete display (%d runs, 100 ms timer): median %.1f ms, p90 %.1f ms, max %.1f ms "
                "(goal <= one tick + 10 ms = 110 ms)\n", nConnects, c.median, c.p90, c.max);
    CStats u = Stats(unplugs), b = Stats(replugs);
    std::printf("ports unplugged -> display blanked (%zu runs): median %.1f ms, max %.1f ms (goal <= 1500 ms)\n",
                unplugs.size(), u.median, u.max);
    std::printf("ports back -> complete display (%zu runs): median %.1f ms, max %.1f ms (goal <= 1500 ms)\n",
                replugs.size(), b.median, b.max);

    std::vector<double> replies;
    {
        CUtilQZ81KTDlg::COptions options;
        options.m_bStartTimer = false;
        CUtilQZ81KTDlg w(&driver, options);
        w.show();
        QTest::mouseClick(qz::FindControl(&w, IDOK), Qt::LeftButton);
        SpinUntil([&] { return w.Image().m_nStatusReplies.load() > 0; });
        emulator.Faults().m_bSilent = true;  // only the injected replies arrive
        SpinUntil([] { return false; }, 100);
        auto* pTimecode = qz::FindControl<QLineEdit>(&w, IDC_TIMECODE);
        uint8_t status[qz::kStatusSize] = {};
        uint8_t frame[qz::kDT1Overhead + qz::kStatusSize];
        for (int i = 0; i < nReplies; ++i) {
            status[23] = static_cast<uint8_t>(i % 10);  // hours units: the timecode changes
            status[21] = static_cast<uint8_t>((i / 10) % 10);
            size_t n = qz::BuildDT1(frame, sizeof frame, qz::kDefaultDeviceID, qz::kAddrStatus, status, sizeof status);
            QString before = pTimecode->text();
            QElapsedTimer t;
            t.start();
            driver.PeerSend(emulator.Port(), frame, n);
            if (!SpinUntil([&] { return pTimecode->text() != before; })) {
                std::printf("the timecode field did not follow the reply\n");
                return 1;
            }
            replies.push_back(t.nsecsElapsed() / 1e6);
        }
    }
    CStats r = Stats(replies);
    std::printf("status reply sent -> timecode field updated (%d replies): median %.3f ms, p90 %.3f ms, max %.3f ms "
                "(goal: median <= 2 ms)\n", nReplies, r.median, r.p90, r.max);
    emulator.Stop();
    return 0;
}
