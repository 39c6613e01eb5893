#include "app/StartUpWork.h"

#include <fontconfig/fontconfig.h>

#include <cstring>

CStartUpWork::CStartUpWork(int argc, char** argv, bool bOpenMidi) : m_fonts([] { FcInit(); }) {
    if (!bOpenMidi) return;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--api") != 0) continue;
        // A value that is not an API is the application's usage error: open nothing.
        if (i + 1 >= argc || !qz::ParseMidiApi(argv[i + 1], m_eMidiApi)) return;
    }
    m_pMidi = OpenMidiSystem(m_eMidiApi);
}

std::unique_ptr<CStartUpWork::CMidiSystem> CStartUpWork::OpenMidiSystem(EMidiApi eApi) {
    return std::make_unique<CMidiSystem>([eApi] { return qz::OpenSystemMidiDriver(eApi, "qz81kt-dxp"); });
}

std::unique_ptr<CStartUpWork::CMidiSystem> CStartUpWork::TakeMidiSystem(EMidiApi eApi) {
    if (eApi != m_eMidiApi) return nullptr;
    return std::move(m_pMidi);
}
