#include "app/StartUpWork.h"

#include <fontconfig/fontconfig.h>
#include <pthread.h>

#include <atomic>
#include <cstring>

namespace {

// The parse begun at load time, until a CStartUpWork takes it over to join.
pthread_t g_loadTimeFonts;
constinit std::atomic<bool> g_bLoadTimeFonts{false};
// Set when a parse has ended.
constinit std::atomic<bool> g_bFontsParsed{false};

void* ParseFontConfig(void*) {
    FcInit();
    g_bFontsParsed.store(true, std::memory_order_release);
    g_bFontsParsed.notify_all();
    return nullptr;
}

std::unique_ptr<CSystemMidiDriver> OpenNow(EMidiApi eApi) { return qz::OpenSystemMidiDriver(eApi, "qz81kt-dxp"); }

}  // namespace

void CStartUpWork::BeginFontsAtLoad() {
    if (g_bLoadTimeFonts.load()) return;
    if (pthread_create(&g_loadTimeFonts, nullptr, ParseFontConfig, nullptr) == 0) g_bLoadTimeFonts.store(true);
}

CStartUpWork::CStartUpWork(int argc, char** argv, bool bOpenMidi)
    : m_bJoinLoadTimeFonts(g_bLoadTimeFonts.exchange(false)) {
    if (!m_bJoinLoadTimeFonts) m_fonts = std::thread(ParseFontConfig, nullptr);
    if (!bOpenMidi) return;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--api") != 0) continue;
        // A value that is not an API is the application's usage error: open nothing.
        if (i + 1 >= argc || !qz::ParseMidiApi(argv[i + 1], m_eMidiApi)) return;
    }
    // After the parse, which the window needs first: on two cores the parse, the opening
    // and the application object's start would otherwise share them three ways.
    m_pMidi = std::make_unique<CMidiSystem>([eApi = m_eMidiApi] {
        g_bFontsParsed.wait(false, std::memory_order_acquire);
        return OpenNow(eApi);
    });
}

void CStartUpWork::WaitForFonts() {
    if (m_bJoinLoadTimeFonts) {
        pthread_join(g_loadTimeFonts, nullptr);
        m_bJoinLoadTimeFonts = false;
    }
    if (m_fonts.joinable()) m_fonts.join();
}

std::unique_ptr<CStartUpWork::CMidiSystem> CStartUpWork::OpenMidiSystem(EMidiApi eApi) {
    return std::make_unique<CMidiSystem>([eApi] { return OpenNow(eApi); });
}

std::unique_ptr<CStartUpWork::CMidiSystem> CStartUpWork::TakeMidiSystem(EMidiApi eApi) {
    if (eApi != m_eMidiApi) return nullptr;
    return std::move(m_pMidi);
}
