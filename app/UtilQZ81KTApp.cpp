#include "app/UtilQZ81KTApp.h"

#include "app/AboutDlg.h"
#include "app/StartUpWork.h"
#include "emulator/LoopbackEmulator.h"
#include "midi/MidiApi.h"
#include "midi/platform/CompositeMidiDriver.h"
#include "midi/platform/SystemMidiDriver.h"
#include "midi/platform/LoopbackDriver.h"
#include "ui/main/UiServices.h"
#include "ui/main/UtilQZ81KTDlg.h"
#include "ProgramVersion.h"

bool CUtilQZ81KTApp::ParseArguments(QStringList args, COptions& options, QString& strError) {
    QStringList rest;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--emulate")) {
            options.m_bEmulate = true;
        } else if (a == QLatin1String("--api")) {
            QString v = i + 1 < args.size() ? args[++i] : QString();
            if (!qz::ParseMidiApi(v.toStdString(), options.m_eApi)) {
                strError = QStringLiteral("--api takes alsa or jack");
                return false;
            }
        } else {
            rest << a;
        }
    }
    // The whole remaining command line, compared byte for byte.
    options.m_bServiceMode = rest.size() == 1 && rest.front() == QLatin1String(kServiceCode);
    return true;
}

QString CUtilQZ81KTApp::VersionLine() { return QStringLiteral("qz81kt-dxp " QZ81KT_VERSION); }

CUtilQZ81KTApp::CUtilQZ81KTApp(const COptions& options, CStartUpWork* pEarly) : m_options(options) {
    if (pEarly) m_pMidi = pEarly->TakeMidiSystem(options.m_eApi);
    if (!m_pMidi) m_pMidi = CStartUpWork::OpenMidiSystem(options.m_eApi);
    CMidiDriver* pDriver = m_pMidi.get();
    if (options.m_bEmulate) {
        // The emulator's pair comes after the real ports, so a real device is preselected first.
        m_pLoopback = std::make_unique<CLoopbackDriver>();
        m_pEmulator = std::make_unique<CLoopbackEmulator>(*m_pLoopback);
        m_pEmulator->Start();
        m_pComposite = std::make_unique<CCompositeMidiDriver>(*m_pMidi, *m_pLoopback);
        pDriver = m_pComposite.get();
    }
    if (pEarly) pEarly->WaitForFonts();
    CUtilQZ81KTDlg::COptions window;
    window.m_bServiceMode = options.m_bServiceMode;
    m_pWindow = std::make_unique<CUtilQZ81KTDlg>(pDriver, window);
    m_pMidi->Driver().FollowPortChanges(m_pWindow->PortWatch());
    QObject::connect(m_pWindow.get(), &CUtilQZ81KTDlg::AboutRequested, m_pWindow.get(),
                     [this](const QString& strText) {
                         CAboutDlg about(strText, m_pWindow.get());
                         qz::UiServices().ExecDialog(about);
                     });
}

CUtilQZ81KTApp::~CUtilQZ81KTApp() {
    m_pWindow.reset();  // stops both ports before the drivers go
    m_pComposite.reset();
    m_pEmulator.reset();
}

int CUtilQZ81KTApp::Run() {
    m_pWindow->show();
    m_pWindow->activateWindow();  // no window manager under Xvfb
    return m_pWindow->exec();
}
