// Start-up and idle cost of qz81kt-dxp's window against a minimal Qt Widgets program
// that shows an empty dialog, each in its own process. Prints figures; asserts nothing.
//   bench_ui_process [RUNS [IDLE_SECONDS]]     (defaults 15 and 30)
// Run it in the normal scheduling class: under chrt -f every thread of a child is FIFO,
// and the window's start-up threads then wait for one another instead of sharing.
// Start-up: from the spawn until the window is exposed. Idle: linked to the built-in
// emulator (which runs in the same process and is counted) with the 100 ms timer on.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/HugePageHeap.h"
#include "app/StartUpWork.h"
#include "app/UtilQZ81KTApp.h"
#include "emulator/LoopbackEmulator.h"
#include "midi/platform/LoopbackDriver.h"
#include "midi/platform/SystemMidiDriver.h"
#include "ui/main/UtilQZ81KTDlg.h"
#include "ui/widgets/ControlId.h"

extern char** environ;

namespace {

double CpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long RssKb() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// As the program's own load-time entry (app/main.cpp), for the children that start the
// window: the peers get neither its head start on fontconfig nor its heap reserve.
void BeginAtLoad(int argc, char** argv, char**) {
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0 &&
        (std::strcmp(argv[2], "window") == 0 || std::strcmp(argv[2], "loopback") == 0)) {
        qz::ReserveHugePageHeap();
        CStartUpWork::BeginFontsAtLoad();
    }
}

// One child: shows its window, reports "shown", then (idle > 0) idles and reports.
// Modes: "minimal" (an empty dialog), "label" (the same with one line of text: the first
// text a program lays out makes fontconfig read its configuration, which the empty
// dialog never does before it is shown), "ticker" (the same with one field rewritten every
// 100 ms, as the linked window's timecode is: the floor of its idle cost), "window" (the
// program's start-up with --emulate: real MIDI backend plus the emulator), "loopback" (the
// window on in-process ports only).
int Child(int argc, char** argv, const std::string& strMode, int nIdleSeconds) {
    // The window's start-up as the program's main() does it.
    std::optional<CStartUpWork> early;
    const bool bPeer = strMode == "minimal" || strMode == "label" || strMode == "ticker";
    if (!bPeer) early.emplace(argc, argv, strMode == "window");
    QApplication app(argc, argv);
    QDialog minimal;
    if (strMode == "label") new QLabel(QStringLiteral("QZ-81KT Connection"), &minimal);
    QTimer ticker;
    if (strMode == "ticker") {
        auto* pField = new QLineEdit(&minimal);
        QObject::connect(&ticker, &QTimer::timeout, pField, [pField, n = 0]() mutable {
            ++n;
            pField->setText(QString::asprintf(" 00:00:%02d;%02d", n / 30 % 60, n % 30));
        });
        ticker.start(100);
    }
    std::unique_ptr<CUtilQZ81KTApp> pApp;
    std::unique_ptr<CLoopbackDriver> pLoopback;
    std::unique_ptr<CLoopbackEmulator> pEmulator;
    std::unique_ptr<CUtilQZ81KTDlg> pLoopWindow;
    QWidget* pShown = &minimal;
    bool bWindow = !bPeer;
    if (strMode == "loopback") {
        pLoopback = std::make_unique<CLoopbackDriver>();
        pEmulator = std::make_unique<CLoopbackEmulator>(*pLoopback);
        pEmulator->Start();
        early->WaitForFonts();
        pLoopWindow = std::make_unique<CUtilQZ81KTDlg>(pLoopback.get());
        pShown = pLoopWindow.get();
    } else if (bWindow) {
        CUtilQZ81KTApp::COptions options;
        options.m_bEmulate = true;  // as the README's run does without a device
        pApp = std::make_unique<CUtilQZ81KTApp>(options, &*early);
        pShown = &pApp->MainWindow();
    }
    pShown->show();
    if (!QTest::qWaitForWindowExposed(pShown)) return 1;
    std::printf("shown\n");
    std::fflush(stdout);
    if (nIdleSeconds <= 0) return 0;
    if (bWindow) {
        QTest::mouseClick(qz::FindControl(pShown, IDOK), Qt::LeftButton);
        auto& w = pApp ? pApp->MainWindow() : *pLoopWindow;
        if (!QTest::qWaitFor([&] { return w.Image().m_bLinkUp.load(); }, 5000)) return 1;
    }
    // A plain event loop: QTest::qWait itself wakes every 10 ms.
    auto idle = [](int nMs) {
        QEventLoop loop;
        QTimer::singleShot(nMs, &loop, &QEventLoop::quit);
        loop.exec();
    };
    idle(1000);
    double c0 = CpuSeconds();
    QElapsedTimer t;
    t.start();
    idle(nIdleSeconds * 1000);
    double cpu = (CpuSeconds() - c0) / (t.elapsed() / 1000.0) * 100.0;
    std::printf("idle %.2f %ld\n", cpu, RssKb());
    return 0;
}

struct CRun {
    double ms = 0;
    double cpu = 0;
    long rss = 0;
};

CRun Spawn(const char* self, const char* mode, int nIdle) {
    int fd[2];
    if (pipe(fd) != 0) std::exit(1);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fd[1], 1);
    posix_spawn_file_actions_addclose(&fa, fd[0]);
    std::string idle = std::to_string(nIdle);
    char* args[] = {const_cast<char*>(self), const_cast<char*>("--child"), const_cast<char*>(mode),
                    const_cast<char*>(idle.c_str()), nullptr};
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, self, &fa, nullptr, args, environ) != 0) std::exit(1);
    close(fd[1]);
    CRun run;
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = read(fd[0], buf, sizeof buf)) > 0) {
        if (out.find("shown") == std::string::npos) {
            out.append(buf, static_cast<size_t>(n));
            if (out.find("shown") != std::string::npos)
                run.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        } else {
            out.append(buf, static_cast<size_t>(n));
        }
    }
    close(fd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    size_t at = out.find("idle ");
    if (at != std::string::npos) std::sscanf(out.c_str() + at, "idle %lf %ld", &run.cpu, &run.rss);
    return run;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

__attribute__((section(".preinit_array"), used)) static void (*g_pBeginAtLoad)(int, char**, char**) = BeginAtLoad;

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", getenv("QT_QPA_PLATFORM") ? getenv("QT_QPA_PLATFORM") : "offscreen", 1);
    if (argc >= 4 && std::strcmp(argv[1], "--child") == 0)
        return Child(1, argv, argv[2], std::atoi(argv[3]));
    int nRuns = argc > 1 ? std::atoi(argv[1]) : 15;
    int nIdle = argc > 2 ? std::atoi(argv[2]) : 30;
    std::vector<double> minimal, label, window, loopback;
    for (int i = 0; i < nRuns; ++i) {
        minimal.push_back(Spawn(argv[0], "minimal", 0).ms);
        label.push_back(Spawn(argv[0], "label", 0).ms);
        window.push_back(Spawn(argv[0], "window", 0).ms);
        loopback.push_back(Spawn(argv[0], "loopback", 0).ms);
    }
    double m = Median(minimal), w = Median(window), l = Median(loopback);
    auto t0 = std::chrono::steady_clock::now();
    {
        auto pProbe = qz::OpenSystemMidiDriver(EMidiApi::Auto, "qz81kt-bench");
        pProbe->InGetNumDevs();
        pProbe->OutGetNumDevs();
    }
    double rt = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    std::printf("start-up to window shown (median of %d; goal <= 1.5 x minimal): minimal dialog %.1f ms; "
                "qz81kt-dxp --emulate %.1f ms (%.2f x); window on in-process ports only %.1f ms (%.2f x); "
                "the MIDI backend's start and first listing alone %.1f ms\n",
                nRuns, m, w, m > 0 ? w / m : 0, l, m > 0 ? l / m : 0, rt);
    const double t = Median(label);
    std::printf("beside a dialog with one line of text %.1f ms: qz81kt-dxp --emulate %.2f x, in-process ports only %.2f x\n",
                t, t > 0 ? w / t : 0, t > 0 ? l / t : 0);
    if (nIdle > 0) {
        CRun idleMin = Spawn(argv[0], "minimal", nIdle);
        CRun idleTicker = Spawn(argv[0], "ticker", nIdle);
        CRun idleWin = Spawn(argv[0], "window", nIdle);
        std::printf("idle %d s: minimal dialog %.2f %% CPU, RSS %ld kB; a dialog rewriting one field every 100 ms "
                    "%.2f %% CPU; linked window (emulator in process) %.2f %% CPU (goal <= 1 %%), RSS %ld kB, "
                    "+%.1f MB (goal <= +25 MB)\n",
                    nIdle, idleMin.cpu, idleMin.rss, idleTicker.cpu, idleWin.cpu, idleWin.rss,
                    (idleWin.rss - idleMin.rss) / 1024.0);
    }
    return 0;
}
