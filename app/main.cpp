// qz81kt-dxp: the QZ-81KT remote-control panel.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "app/HugePageHeap.h"
#include "app/StartUpWork.h"
#include "app/UtilQZ81KTApp.h"
#include "ProgramVersion.h"

namespace {

// Runs before the shared libraries' static initialisers (see BeginFontsAtLoad).
void BeginAtLoad(int argc, char** argv, char**) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--version") == 0) return;  // shows no window
    qz::ReserveHugePageHeap();  // before the libraries' initialisers allocate
    CStartUpWork::BeginFontsAtLoad();
}

}  // namespace

__attribute__((section(".preinit_array"), used)) static void (*g_pBeginAtLoad)(int, char**, char**) = BeginAtLoad;

int main(int argc, char** argv) {
    // Answered before Qt starts, so it works without a display.
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s\n", CUtilQZ81KTApp::VersionLine().toUtf8().constData());
            return 0;
        }
    CStartUpWork early(argc, argv);  // alongside the application object's start
    QApplication app(argc, argv);  // takes Qt's own options out of the command line
    QApplication::setApplicationName(QStringLiteral("qz81kt-dxp"));
    QApplication::setApplicationVersion(QStringLiteral(QZ81KT_VERSION));
    CUtilQZ81KTApp::COptions options;
    QString strError;
    if (!CUtilQZ81KTApp::ParseArguments(QApplication::arguments().mid(1), options, strError)) {
        std::fprintf(stderr, "qz81kt-dxp: %s\nusage: qz81kt-dxp [--emulate] [--api alsa|jack] [--version]\n",
                     strError.toUtf8().constData());
        return 2;
    }
    CUtilQZ81KTApp qz(options, &early);
    qz.Run();
    return 0;
}
