#include "midi/platform/RtMidiDriver.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <iostream>

#include "midi/MidiApi.h"
#include "midi/MidiMessageLength.h"
#include "midi/platform/JackPortEvents.h"
#include "midi/platform/RtMidiPort.h"

namespace {

// Ports that stopped answering are parked here for the rest of the process: their
// RtMidi object may be stuck inside a call and must be neither destroyed nor used.
// Never freed, so that no destructor runs into them at exit either.
struct Graveyard {
    std::mutex m_mutex;
    std::vector<std::shared_ptr<CRtMidiDriver::Port>> m_ports;
};
Graveyard& TheGraveyard() {
    static Graveyard* p = new Graveyard;
    return *p;
}

// libasound and libjack report to stderr unless told otherwise. Both are already
// loaded with RtMidi, so their hooks are looked up rather than linked.
void SilentJack(const char*) {}
void SilentAlsa(const char*, int, const char*, int, const char*, ...) {}

void QuietLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        using JackHook = void (*)(void (*)(const char*));
        if (auto f = reinterpret_cast<JackHook>(dlsym(RTLD_DEFAULT, "jack_set_error_function"))) f(&SilentJack);
        if (auto f = reinterpret_cast<JackHook>(dlsym(RTLD_DEFAULT, "jack_set_info_function"))) f(&SilentJack);
        using AlsaHandler = void (*)(const char*, int, const char*, int, const char*, ...);
        using AlsaHook = int (*)(AlsaHandler);
        if (auto f = reinterpret_cast<AlsaHook>(dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler"))) f(&SilentAlsa);
    });
}

// RtMidi prints to std::cerr while it is constructed, before an error callback can
// be installed (afterwards it reports only through that callback). There is no other
// way to keep it quiet, so std::cerr is muted around each construction, by the thread
// that asked for it and waits for it, for one bounded call. That is harmless: the
// mutex serialises the mutes, our own diagnostics go through stdio (which std::cerr's
// buffer does not carry), and the command line, the one user of std::cerr, writes it
// only from the thread that is waiting here. A construction that hangs cannot leave
// std::cerr muted or the mutex held beyond the call timeout.
class CMuteCerr {
public:
    explicit CMuteCerr(bool bMute) : m_bMute(bMute) {
        if (!m_bMute) return;
        Mutex().lock();
        m_pOld = std::cerr.rdbuf(&m_null);
    }
    ~CMuteCerr() {
        if (!m_bMute) return;
        std::cerr.rdbuf(m_pOld);
        Mutex().unlock();
    }
    CMuteCerr(const CMuteCerr&) = delete;
    CMuteCerr& operator=(const CMuteCerr&) = delete;

private:
    struct NullBuf : std::streambuf {
        int overflow(int c) override { return traits_type::not_eof(c); }
    };
    static std::mutex& Mutex() {
        static std::mutex m;
        return m;
    }
    bool m_bMute;
    NullBuf m_null;
    std::streambuf* m_pOld = nullptr;
};

// The sequencer is one device node (or its module loader's): without either, opening
// ALSA would only parse the whole of its configuration, milliseconds of a program's
// start, to fail at that node.
bool AlsaSequencerDevicePresent() { return access("/dev/snd/seq", F_OK) == 0 || access("/dev/aloadSEQ", F_OK) == 0; }

}  // namespace

// ---------------------------------------------------------------------------------

CRtMidiDriver::CRtMidiDriver() : CRtMidiDriver(COptions{}) {}

CRtMidiDriver::CRtMidiDriver(EApi eApi, const std::string& strClientName)
    : CRtMidiDriver(COptions{eApi, strClientName}) {}

CRtMidiDriver::CRtMidiDriver(const COptions& options)
    : m_options(options), m_pCounters(std::make_shared<Counters>()) {
    if (m_options.m_bQuiet) QuietLibraries();
    EApi eApi = m_options.m_eApi == EApi::Auto ? qz::MidiApiFromEnvironment() : m_options.m_eApi;
    StartBackend(eApi);
}

CRtMidiDriver::~CRtMidiDriver() {
    std::vector<std::shared_ptr<Port>> ports;
    {
        std::lock_guard<std::mutex> lock(m_listMutex);
        ports = m_ports;
    }
    for (auto& p : ports) {
        bool bOpen;
        {
            std::lock_guard<std::mutex> lock(p->m_mutex);
            bOpen = p->m_bOpen;
        }
        if (!bOpen) continue;
        if (p->IsInput())
            InClose(p->Handle());
        else
            OutClose(p->Handle());
    }
    {
        std::lock_guard<std::mutex> lock(m_listMutex);
        ports.swap(m_ports);  // what is left after abandoned ports went away
        m_ports.clear();
    }
    for (auto& p : ports) DestroyPort(p);
    std::lock_guard<std::mutex> lock(m_enumMutex);
    if (m_pEnumIn) DestroyPort(m_pEnumIn);
    if (m_pEnumOut) DestroyPort(m_pEnumOut);
}

CRtMidiDriver::EApi CRtMidiDriver::ApiFromEnvironment() { return qz::MidiApiFromEnvironment(); }

void CRtMidiDriver::StartBackend(EApi eApi) {
    std::string strWhy;
    auto tryApi = [&](int nApi, const char* pszName) {
        m_nRtApi = nApi;
        std::string strIn, strOut;
        auto pIn = CreatePort(EKind::EnumIn, strIn);
        auto pOut = pIn ? CreatePort(EKind::EnumOut, strOut) : nullptr;
        if (pIn && pOut) {
            std::lock_guard<std::mutex> lock(m_enumMutex);
            m_pEnumIn = pIn;
            m_pEnumOut = pOut;
            return true;
        }
        if (pIn) DestroyPort(pIn);
        m_nRtApi = 0;
        if (!strWhy.empty()) strWhy += "; ";
        strWhy += std::string(pszName) + ": " + (strIn.empty() ? strOut : strIn);
        return false;
    };
    bool bStarted = false;
    if (eApi == EApi::Alsa || eApi == EApi::Auto) {
        if (AlsaSequencerDevicePresent())
            bStarted = tryApi(RtMidi::LINUX_ALSA, "ALSA");
        else
            strWhy = "ALSA: no sequencer device (/dev/snd/seq)";
    }
    if (!bStarted && (eApi == EApi::Jack || eApi == EApi::Auto)) bStarted = tryApi(RtMidi::UNIX_JACK, "JACK");
    m_strWhy = bStarted ? std::string() : strWhy;
    if (bStarted) {
        // Learns whether a JACK server answers, and fills the name snapshots.
        Enumerate(true);
        Enumerate(false);
    }
}

std::shared_ptr<CRtMidiDriver::Port> CRtMidiDriver::CreatePort(EKind eKind, std::string& strWhy) {
    auto p = std::make_shared<Port>(eKind, m_nRtApi, m_options, m_pCounters);
    try {
        p->m_worker = std::thread(&Port::Run, p.get());
    } catch (const std::exception& e) {
        strWhy = e.what();
        return nullptr;
    }
    bool bAnswered;
    {
        CMuteCerr mute(m_options.m_bQuiet);
        bAnswered = p->Call(Port::ECmd::Create, m_options.m_nCallTimeoutMs);
    }
    if (!bAnswered) {
        strWhy = "no answer";
        Abandon(p);
        return nullptr;
    }
    if (p->m_mmrCmd != MMSYSERR_NOERROR) {
        std::lock_guard<std::mutex> lock(p->m_errorMutex);
        strWhy = p->m_strLastError.empty() ? "cannot start" : p->m_strLastError;
        // The first line of a library message is enough for one line of reason.
        strWhy = strWhy.substr(0, strWhy.find('\n'));
    }
    if (p->m_mmrCmd != MMSYSERR_NOERROR) {
        DestroyPort(p);
        return nullptr;
    }
    return p;
}

// Ends the port's worker after destroying its RtMidi object, or abandons the port
// when that does not finish in time.
void CRtMidiDriver::DestroyPort(const std::shared_ptr<Port>& p) {
    if (!p->Call(Port::ECmd::Destroy, m_options.m_nCallTimeoutMs)) {
        Abandon(p);
        return;
    }
    if (p->m_worker.joinable()) p->m_worker.join();
}

void CRtMidiDriver::Abandon(const std::shared_ptr<Port>& p) {
    {
        std::lock_guard<std::mutex> lock(p->m_mutex);
        if (p->m_bAbandoned) return;
        p->m_bAbandoned = true;
        p->m_bOpen = false;
        p->m_input.Abandon();
        p->m_pfn = nullptr;
    }
    p->Notify();
    if (p->m_worker.joinable()) {
        // A worker stuck in JACK's sendMessage spins on sched_yield for ever: let it
        // spin only when nothing else wants the CPU.
        sched_param param{};
        pthread_setschedparam(p->m_worker.native_handle(), SCHED_IDLE, &param);
        p->m_worker.detach();
    }
    m_pCounters->m_nAbandoned.fetch_add(1, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> lock(m_listMutex);
        std::erase(m_ports, p);
    }
    Graveyard& g = TheGraveyard();
    std::lock_guard<std::mutex> lock(g.m_mutex);
    g.m_ports.push_back(p);
}

bool CRtMidiDriver::IsAvailable() const {
    if (m_nRtApi == 0) return false;
    return m_nRtApi != RtMidi::UNIX_JACK || m_pCounters->m_bServerSeen.load(std::memory_order_relaxed);
}

std::string CRtMidiDriver::ApiName() const {
    switch (m_nRtApi) {
        case RtMidi::LINUX_ALSA: return "ALSA";
        case RtMidi::UNIX_JACK: return "JACK";
        default: return "none";
    }
}

std::string CRtMidiDriver::UnavailableReason() const {
    if (m_nRtApi == 0) return m_strWhy.empty() ? std::string("no MIDI backend") : m_strWhy;
    if (!IsAvailable()) {
        std::string str = "JACK: no server answers";
        if (const char* psz = std::getenv("JACK_DEFAULT_SERVER")) str += std::string(" (server \"") + psz + "\")";
        if (!m_strWhy.empty()) str = m_strWhy + "; " + str;
        return str;
    }
    return std::string();
}

uint64_t CRtMidiDriver::LostInputBytes() const { return m_pCounters->m_nLostBytes.load(std::memory_order_relaxed); }
uint64_t CRtMidiDriver::LostInputMessages() const {
    return m_pCounters->m_nLostMessages.load(std::memory_order_relaxed);
}
uint64_t CRtMidiDriver::FailedSends() const { return m_pCounters->m_nFailedSends.load(std::memory_order_relaxed); }
uint32_t CRtMidiDriver::AbandonedPorts() const { return m_pCounters->m_nAbandoned.load(std::memory_order_relaxed); }

std::shared_ptr<CRtMidiDriver::Port> CRtMidiDriver::Find(HMIDIPORT hPort, EKind eKind) {
    if (!hPort) return nullptr;
    std::lock_guard<std::mutex> lock(m_listMutex);
    for (auto& p : m_ports)
        if (p->Handle() == hPort && p->m_eKind == eKind && p->m_bInUse) return p;
    return nullptr;
}

bool CRtMidiDriver::FollowPortChanges(CPortWatch& watch) { return qz::FollowJackPortEvents(watch, *this); }

// ---- enumeration ----

void CRtMidiDriver::ReleaseEnumerators() {
    std::lock_guard<std::mutex> lock(m_enumMutex);
    if (m_pEnumIn) DestroyPort(m_pEnumIn);
    if (m_pEnumOut) DestroyPort(m_pEnumOut);
    m_pEnumIn.reset();
    m_pEnumOut.reset();
}

uint32_t CRtMidiDriver::Enumerate(bool bInput) {
    std::lock_guard<std::mutex> lock(m_enumMutex);
    std::shared_ptr<Port>& pEnum = bInput ? m_pEnumIn : m_pEnumOut;
    CPortListing& snap = bInput ? m_inNames : m_outNames;
    snap = CPortListing{};
    if (m_nRtApi == 0) return 0;
    if (!pEnum) {
        // Replaces an enumerator abandoned earlier.
        std::string strWhy;
        pEnum = CreatePort(bInput ? EKind::EnumIn : EKind::EnumOut, strWhy);
        if (!pEnum) return 0;
    }
    if (!pEnum->Call(Port::ECmd::List, m_options.m_nCallTimeoutMs)) {
        Abandon(pEnum);
        pEnum.reset();
        return 0;
    }
    std::lock_guard<std::mutex> portLock(pEnum->m_mutex);
    snap = std::move(pEnum->m_list);
    pEnum->m_list = CPortListing{};
    return snap.Size();
}

MMRESULT CRtMidiDriver::DevName(bool bInput, uint32_t uPort, std::string& strName) {
    std::lock_guard<std::mutex> lock(m_enumMutex);
    return (bInput ? m_inNames : m_outNames).Name(uPort, strName);
}

uint32_t CRtMidiDriver::InGetNumDevs() { return Enumerate(true); }
uint32_t CRtMidiDriver::OutGetNumDevs() { return Enumerate(false); }
MMRESULT CRtMidiDriver::InGetDevName(uint32_t uPort, std::string& strName) { return DevName(true, uPort, strName); }
MMRESULT CRtMidiDriver::OutGetDevName(uint32_t uPort, std::string& strName) {
    return DevName(false, uPort, strName);
}

// ---- opening and closing ----

MMRESULT CRtMidiDriver::OpenPort(EKind eKind, HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback,
                                 void* pInstance) {
    if (!phPort) return MMSYSERR_INVALPARAM;
    *phPort = nullptr;
    if (m_nRtApi == 0) return MMSYSERR_NODRIVER;
    const bool bInput = eKind == EKind::In;
    std::string strTarget;  // empty when unreadable: open by number
    MMRESULT mmr = CPortListing::OpenTarget(m_enumMutex, bInput ? m_inNames : m_outNames, uPort,
                                            [&] { Enumerate(bInput); }, strTarget);
    if (mmr != MMSYSERR_NOERROR) return mmr;
    return OpenOn(eKind, phPort, strTarget, uPort, false, pfnCallback, pInstance);
}

MMRESULT CRtMidiDriver::InOpenVirtual(HMIDIPORT* phPort, const std::string& strPortName, MidiCallback pfnCallback,
                                      void* pInstance) {
    if (!phPort || strPortName.empty()) return MMSYSERR_INVALPARAM;
    *phPort = nullptr;
    if (m_nRtApi == 0) return MMSYSERR_NODRIVER;
    return OpenOn(EKind::In, phPort, strPortName, 0, true, pfnCallback, pInstance);
}

MMRESULT CRtMidiDriver::OutOpenVirtual(HMIDIPORT* phPort, const std::string& strPortName, MidiCallback pfnCallback,
                                       void* pInstance) {
    if (!phPort || strPortName.empty()) return MMSYSERR_INVALPARAM;
    *phPort = nullptr;
    if (m_nRtApi == 0) return MMSYSERR_NODRIVER;
    return OpenOn(EKind::Out, phPort, strPortName, 0, true, pfnCallback, pInstance);
}

MMRESULT CRtMidiDriver::OpenOn(EKind eKind, HMIDIPORT* phPort, const std::string& strTarget, uint32_t uPort,
                               bool bVirtual, MidiCallback pfnCallback, void* pInstance) {
    std::shared_ptr<Port> p;
    {
        std::lock_guard<std::mutex> lock(m_listMutex);
        for (auto& q : m_ports) {
            if (q->m_eKind == eKind && !q->m_bInUse) {
                p = q;
                break;
            }
        }
        if (p) p->m_bInUse = true;
    }
    if (!p) {
        std::string strWhy;
        p = CreatePort(eKind, strWhy);
        if (!p) return MMSYSERR_NOMEM;
        std::lock_guard<std::mutex> lock(m_listMutex);
        p->m_bInUse = true;
        m_ports.push_back(p);
    }
    {
        std::lock_guard<std::mutex> lock(p->m_mutex);
        p->m_strTarget = strTarget;
        p->m_uTargetIndex = uPort;
        p->m_bVirtual = bVirtual;
        p->m_pfn = pfnCallback;
        p->m_pInstance = pInstance;
    }
    if (!p->Call(Port::ECmd::Open, m_options.m_nCallTimeoutMs)) {
        Abandon(p);
        return MMSYSERR_ERROR;
    }
    MMRESULT mmr;
    {
        std::lock_guard<std::mutex> lock(p->m_mutex);
        mmr = p->m_mmrCmd;
        if (mmr == MMSYSERR_NOERROR) {
            p->m_bOpen = true;
            p->m_bClosing = false;
            p->m_input.ResetForOpen();
            p->m_out.Clear();
        } else {
            p->m_pfn = nullptr;
            p->m_pInstance = nullptr;
        }
    }
    if (mmr != MMSYSERR_NOERROR) {
        Release(p);
        return mmr;
    }
    *phPort = p->Handle();
    return MMSYSERR_NOERROR;
}

// Closes the RtMidi port and makes the port object free for the next open.
void CRtMidiDriver::Release(const std::shared_ptr<Port>& p) {
    if (!p->Call(Port::ECmd::Close, m_options.m_nCallTimeoutMs)) {
        Abandon(p);
        return;
    }
    std::lock_guard<std::mutex> lock(m_listMutex);
    p->m_bInUse = false;
}

// ---- input ----

MMRESULT CRtMidiDriver::InOpen(HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance) {
    return OpenPort(EKind::In, phPort, uPort, pfnCallback, pInstance);
}

MMRESULT CRtMidiDriver::InAddBuffer(HMIDIPORT hPort, MIDIHDR* pHdr) {
    auto p = Find(hPort, EKind::In);
    if (!p) return MMSYSERR_INVALHANDLE;
    if (!pHdr || !pHdr->lpData || pHdr->dwBufferLength == 0) return MMSYSERR_INVALPARAM;
    if (!(pHdr->dwFlags.load(std::memory_order_acquire) & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    std::lock_guard<std::mutex> lock(p->m_mutex);
    if (!p->m_bOpen) return MMSYSERR_INVALHANDLE;
    return p->m_input.Add(pHdr);
}

MMRESULT CRtMidiDriver::InStart(HMIDIPORT hPort) {
    auto p = Find(hPort, EKind::In);
    if (!p) return MMSYSERR_INVALHANDLE;
    std::unique_lock<std::mutex> lock(p->m_mutex);
    if (!p->m_bOpen) return MMSYSERR_INVALHANDLE;
    p->m_input.Start(lock);
    return MMSYSERR_NOERROR;
}

MMRESULT CRtMidiDriver::InStop(HMIDIPORT hPort) {
    auto p = Find(hPort, EKind::In);
    if (!p) return MMSYSERR_INVALHANDLE;
    std::unique_lock<std::mutex> lock(p->m_mutex);
    p->m_input.Stop(lock);
    return MMSYSERR_NOERROR;
}

MMRESULT CRtMidiDriver::InReset(HMIDIPORT hPort) {
    auto p = Find(hPort, EKind::In);
    if (!p) return MMSYSERR_INVALHANDLE;
    CFramedInput::ResetPort(hPort, *p);
    return MMSYSERR_NOERROR;
}

MMRESULT CRtMidiDriver::InClose(HMIDIPORT hPort) {
    auto p = Find(hPort, EKind::In);
    if (!p) return MMSYSERR_INVALHANDLE;
    CFramedInput::ClosePort(*p);
    Release(p);
    return MMSYSERR_NOERROR;
}

// ---- output ----

MMRESULT CRtMidiDriver::OutOpen(HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance) {
    return OpenPort(EKind::Out, phPort, uPort, pfnCallback, pInstance);
}

MMRESULT CRtMidiDriver::OutLongMsg(HMIDIPORT hPort, MIDIHDR* pHdr) {
    auto p = Find(hPort, EKind::Out);
    if (!p) return MMSYSERR_INVALHANDLE;
    if (!pHdr || !pHdr->lpData || pHdr->dwBufferLength == 0) return MMSYSERR_INVALPARAM;
    if (!(pHdr->dwFlags.load(std::memory_order_acquire) & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (m_nRtApi == RtMidi::UNIX_JACK && pHdr->dwBufferLength > kJackMaxMessage) return MMSYSERR_INVALPARAM;
    {
        std::lock_guard<std::mutex> lock(p->m_mutex);
        if (!p->m_bOpen || p->m_bClosing) return MMSYSERR_INVALHANDLE;
        if (p->m_out.Full()) return MIDIERR_NOTREADY;
        pHdr->dwFlags.fetch_and(~MHDR_DONE, std::memory_order_acq_rel);
        pHdr->dwFlags.fetch_or(MHDR_INQUEUE, std::memory_order_acq_rel);
        p->m_out.Push(Port::OutEntry{pHdr, 0});
    }
    p->Notify();
    return MMSYSERR_NOERROR;
}

MMRESULT CRtMidiDriver::OutShortMsg(HMIDIPORT hPort, uint32_t dwMsg) {
    auto p = Find(hPort, EKind::Out);
    if (!p) return MMSYSERR_INVALHANDLE;
    if (qz::MidiMessageLength(static_cast<uint8_t>(dwMsg)) == 0) return MMSYSERR_INVALPARAM;
    {
        std::lock_guard<std::mutex> lock(p->m_mutex);
        if (!p->m_bOpen || p->m_bClosing) return MMSYSERR_INVALHANDLE;
        if (p->m_out.Full()) return MIDIERR_NOTREADY;
        p->m_out.Push(Port::OutEntry{nullptr, dwMsg});
    }
    p->Notify();
    return MMSYSERR_NOERROR;
}

MMRESULT CRtMidiDriver::OutClose(HMIDIPORT hPort) {
    auto p = Find(hPort, EKind::Out);
    if (!p) return MMSYSERR_INVALHANDLE;
    {
        std::unique_lock<std::mutex> lock(p->m_mutex);
        if (!p->m_bOpen) return MMSYSERR_INVALHANDLE;
        p->m_bClosing = true;
        // Messages not yet handed to RtMidi go back to the owner unsent.
        Port::OutEntry entry;
        while (p->m_out.Pop(entry))
            if (entry.m_pHdr) entry.m_pHdr->dwFlags.fetch_and(~MHDR_INQUEUE, std::memory_order_acq_rel);
        // The message being sent is completed normally, unless the send hangs (a dead
        // JACK server): then the port is given up and its completion never comes.
        bool bSent = p->m_cv.wait_for(lock, std::chrono::milliseconds(m_options.m_nCallTimeoutMs),
                                      [&] { return !p->m_bSending; });
        if (!bSent) {
            lock.unlock();
            Abandon(p);
            return MMSYSERR_NOERROR;
        }
        p->m_cv.wait(lock, [&] { return p->m_nCompleting == 0; });
        p->m_bOpen = false;
        p->m_bClosing = false;
        p->m_pfn = nullptr;
        p->m_pInstance = nullptr;
    }
    Release(p);
    return MMSYSERR_NOERROR;
}

