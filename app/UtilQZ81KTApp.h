#pragma once
// The application object: takes its own options from what Qt left of the command line,
// decides service mode from the rest, builds the MIDI drivers and runs the main window.
#include <QString>
#include <QStringList>
#include <memory>

#include "midi/platform/DeferredMidiDriver.h"
#include "midi/platform/SystemMidiDriver.h"

class CCompositeMidiDriver;
class CStartUpWork;
class CLoopbackDriver;
class CLoopbackEmulator;
class CUtilQZ81KTDlg;

class CUtilQZ81KTApp {
public:
    static constexpr const char* kServiceCode = "-QmK7315";

    struct COptions {
        bool m_bEmulate = false;
        EMidiApi m_eApi = EMidiApi::Auto;
        bool m_bServiceMode = false;
    };

    // Takes --emulate and --api alsa|jack out of args (without the program name; Qt's
    // options are already gone). Service mode is on exactly when what remains is the
    // single argument kServiceCode. False, with a one-line reason, on a usage error.
    static bool ParseArguments(QStringList args, COptions& options, QString& strError);
    // The first line of --version.
    static QString VersionLine();

    // pEarly: work begun before the QApplication; its MIDI system is taken when it was
    // begun for options' API, and its fonts are waited for before the window is built.
    explicit CUtilQZ81KTApp(const COptions& options, CStartUpWork* pEarly = nullptr);
    ~CUtilQZ81KTApp();
    CUtilQZ81KTApp(const CUtilQZ81KTApp&) = delete;
    CUtilQZ81KTApp& operator=(const CUtilQZ81KTApp&) = delete;

    // Creates the main window (shown only by Run).
    CUtilQZ81KTDlg& MainWindow() { return *m_pWindow; }
    // Runs the main window modally; the program ends when it closes.
    int Run();

private:
    COptions m_options;
    // Opened while Qt starts and the window is built; the first port listing waits for it.
    std::unique_ptr<CDeferredMidiDriver<CSystemMidiDriver>> m_pMidi;
    std::unique_ptr<CLoopbackDriver> m_pLoopback;
    std::unique_ptr<CLoopbackEmulator> m_pEmulator;
    std::unique_ptr<CCompositeMidiDriver> m_pComposite;
    std::unique_ptr<CUtilQZ81KTDlg> m_pWindow;  // last: gone before the drivers
};
