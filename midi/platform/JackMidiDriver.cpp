#include "midi/platform/JackMidiDriver.h"

#include <jack/jack.h>

#include <cerrno>
#include <cstring>

#include "midi/MidiMessageLength.h"
#include "midi/PortWatch.h"
#include "midi/platform/JackMidiSession.h"

namespace {

void SilentJack(const char*) {}

// A bridge that gives its ports generic names (jackd's ALSA MIDI: "system:midi_capture_1")
// names the device in the aliases; JACK keeps two at most.
std::vector<std::string> PortAliases(jack_client_t* pClient, const char* pszPort) {
    std::vector<std::string> aliases;
    const jack_port_t* pPort = jack_port_by_name(pClient, pszPort);
    const int nSize = jack_port_name_size();
    if (!pPort || nSize <= 0) return aliases;
    std::vector<char> a(static_cast<size_t>(nSize) + 1, 0), b(static_cast<size_t>(nSize) + 1, 0);
    char* apsz[2] = {a.data(), b.data()};
    // jack2 fills each slot in its place and counts only the set ones: read both.
    if (jack_port_get_aliases(pPort, apsz) > 0)
        for (const char* psz : apsz)
            if (*psz) aliases.emplace_back(psz);
    return aliases;
}

// Tells a port watch whether JACK's registrations reach it; it may outlive the driver.
class CJackRegistrations : public CPortChangeSource {
public:
    CJackRegistrations(std::shared_ptr<CJackMidiDriver::WatchLink> pLink, CPortWatch& watch)
        : m_pLink(std::move(pLink)), m_watch(watch) {}
    ~CJackRegistrations() override {
        std::lock_guard<std::mutex> lock(m_pLink->m_mutex);
        if (m_pLink->m_pWatch == &m_watch) m_pLink->m_pWatch = nullptr;
    }
    bool IsAlive() const override { return m_pLink->m_bAlive.load(std::memory_order_acquire); }

private:
    std::shared_ptr<CJackMidiDriver::WatchLink> m_pLink;
    CPortWatch& m_watch;
};

}  // namespace

CJackMidiDriver::CJackMidiDriver(const std::string& strClientName, bool bQuiet)
    : m_strClientName(strClientName), m_pWatchLink(std::make_shared<WatchLink>()) {
    if (bQuiet) {
        jack_set_error_function(&SilentJack);
        jack_set_info_function(&SilentJack);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    CurrentSession();
}

CJackMidiDriver::~CJackMidiDriver() {
    // Closes what an owner left open, so that no callback runs into it afterwards.
    std::vector<std::pair<HMIDIPORT, bool>> open;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& s : m_sessions) s->CollectOpen(open);
    }
    for (auto& [h, bInput] : open) bInput ? InClose(h) : OutClose(h);
    m_pWatchLink->m_bAlive.store(false, std::memory_order_release);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions.clear();
}

// ---- the client ----

CJackMidiDriver::Session* CJackMidiDriver::CurrentSession() {
    if (!m_sessions.empty() && m_sessions.back()->IsAlive()) return m_sessions.back().get();
    DropIdleSessions();
    for (auto& s : m_sessions) s->CloseDeadClient();
    auto p = Session::Open(m_strClientName, m_counters, m_pWatchLink, m_strWhy);
    if (!p) {
        m_pWatchLink->m_bAlive.store(false, std::memory_order_release);
        return nullptr;
    }
    m_strWhy.clear();
    m_pWatchLink->m_bAlive.store(true, std::memory_order_release);
    m_sessions.push_back(std::move(p));
    return m_sessions.back().get();
}

// A client whose server went away is kept only while a port of it is still open.
void CJackMidiDriver::DropIdleSessions() {
    std::erase_if(m_sessions, [](const std::unique_ptr<Session>& s) { return !s->IsAlive() && !s->HasPortInUse(); });
}

bool CJackMidiDriver::IsAvailable() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_sessions.empty() && m_sessions.back()->IsAlive();
}

std::string CJackMidiDriver::UnavailableReason() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_sessions.empty() && m_sessions.back()->IsAlive()) return std::string();
    return m_strWhy.empty() ? std::string("JACK: the server went away") : m_strWhy;
}

std::string CJackMidiDriver::JackClientName() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_sessions.empty() && m_sessions.back()->IsAlive() ? m_sessions.back()->m_strName : std::string();
}

uint64_t CJackMidiDriver::LostInputBytes() const { return m_counters.m_nLostBytes.load(std::memory_order_relaxed); }
uint64_t CJackMidiDriver::LostInputMessages() const {
    return m_counters.m_nLostMessages.load(std::memory_order_relaxed);
}
uint64_t CJackMidiDriver::FailedSends() const { return m_counters.m_nFailedSends.load(std::memory_order_relaxed); }

// The watch follows our own client's registration notices, so the program stays one
// client in JACK's graph. Attached even without a server: the watch's interval then
// runs until a listing finds one.
bool CJackMidiDriver::FollowPortChanges(CPortWatch& watch) {
    {
        std::lock_guard<std::mutex> lock(m_pWatchLink->m_mutex);
        m_pWatchLink->m_pWatch = &watch;
    }
    watch.SetChangeSource(std::make_unique<CJackRegistrations>(m_pWatchLink, watch));
    return IsAvailable();
}

CJackMidiDriver::Port* CJackMidiDriver::Find(HMIDIPORT hPort, bool bInput) {
    if (!hPort) return nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& s : m_sessions)
        if (Port* p = s->Find(hPort, bInput)) return p;
    return nullptr;
}

// ---- enumeration ----

// Our own ports are left out: connecting the program to itself only loops its output back.
uint32_t CJackMidiDriver::Enumerate(bool bInput) {
    std::lock_guard<std::mutex> lock(m_mutex);
    CPortListing& names = bInput ? m_inNames : m_outNames;
    names = CPortListing{};
    Session* s = CurrentSession();
    if (!s) return 0;
    const char** apsz = jack_get_ports(s->m_pClient, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                       bInput ? JackPortIsOutput : JackPortIsInput);
    if (!apsz) return 0;
    const std::string strOwn = s->m_strName + ":";
    for (const char** p = apsz; *p; ++p) {
        if (std::strncmp(*p, strOwn.c_str(), strOwn.size()) == 0) continue;
        names.Add(*p, PortAliases(s->m_pClient, *p));
    }
    jack_free(apsz);
    return names.Size();
}

MMRESULT CJackMidiDriver::DevAliases(bool bInput, uint32_t uPort, std::vector<std::string>& aliases) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return (bInput ? m_inNames : m_outNames).Aliases(uPort, aliases);
}

MMRESULT CJackMidiDriver::DevName(bool bInput, uint32_t uPort, std::string& strName) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return (bInput ? m_inNames : m_outNames).Name(uPort, strName);
}

uint32_t CJackMidiDriver::InGetNumDevs() { return Enumerate(true); }
uint32_t CJackMidiDriver::OutGetNumDevs() { return Enumerate(false); }
MMRESULT CJackMidiDriver::InGetDevName(uint32_t uPort, std::string& strName) { return DevName(true, uPort, strName); }
MMRESULT CJackMidiDriver::OutGetDevName(uint32_t uPort, std::string& strName) {
    return DevName(false, uPort, strName);
}
MMRESULT CJackMidiDriver::InGetDevAliases(uint32_t uPort, std::vector<std::string>& aliases) {
    return DevAliases(true, uPort, aliases);
}
MMRESULT CJackMidiDriver::OutGetDevAliases(uint32_t uPort, std::vector<std::string>& aliases) {
    return DevAliases(false, uPort, aliases);
}

// ---- opening and closing ----

MMRESULT CJackMidiDriver::OpenPort(bool bInput, HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback,
                                   void* pInstance) {
    if (!phPort) return MMSYSERR_INVALPARAM;
    *phPort = nullptr;
    std::string strTarget;
    if (CPortListing::OpenTarget(m_mutex, bInput ? m_inNames : m_outNames, uPort, [&] { Enumerate(bInput); },
                                 strTarget) != MMSYSERR_NOERROR)
        return MMSYSERR_BADDEVICEID;
    std::lock_guard<std::mutex> lock(m_mutex);
    Session* s = CurrentSession();
    if (!s) return MMSYSERR_NODRIVER;
    if (!jack_port_by_name(s->m_pClient, strTarget.c_str())) return MMSYSERR_BADDEVICEID;
    Port* p = s->TakePort(bInput);
    if (!p) return MMSYSERR_NOMEM;
    const char* pszOurs = jack_port_name(p->m_pJack);
    int rc = bInput ? jack_connect(s->m_pClient, strTarget.c_str(), pszOurs)
                    : jack_connect(s->m_pClient, pszOurs, strTarget.c_str());
    if (rc != 0 && rc != EEXIST) {
        p->m_bInUse = false;
        return MMSYSERR_ERROR;
    }
    // The first cycle after connecting may still run on the old graph, and what it
    // sends is lost: Connect's first requests would go nowhere. Two whole cycles later
    // the connection carries; a server that runs no cycles is not waited for long.
    s->WaitCycles(2, kConnectSettleMs);
    {
        std::lock_guard<std::mutex> portLock(p->m_mutex);
        p->ResetForOpen();
        p->m_bOpen = true;
        p->m_pfn = pfnCallback;
        p->m_pInstance = pInstance;
        if (!bInput) p->m_abLive.store(true);
    }
    *phPort = p->Handle();
    return MMSYSERR_NOERROR;
}

void CJackMidiDriver::Release(Port& port) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (port.m_session.IsAlive()) jack_port_disconnect(port.m_session.m_pClient, port.m_pJack);
    port.m_bInUse = false;
    DropIdleSessions();
}

// ---- input ----

MMRESULT CJackMidiDriver::InOpen(HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance) {
    return OpenPort(true, phPort, uPort, pfnCallback, pInstance);
}

MMRESULT CJackMidiDriver::InAddBuffer(HMIDIPORT hPort, MIDIHDR* pHdr) {
    Port* p = Find(hPort, true);
    if (!p) return MMSYSERR_INVALHANDLE;
    if (!pHdr || !pHdr->lpData || pHdr->dwBufferLength == 0) return MMSYSERR_INVALPARAM;
    if (!(pHdr->dwFlags.load(std::memory_order_acquire) & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    std::lock_guard<std::mutex> lock(p->m_mutex);
    if (!p->m_bOpen) return MMSYSERR_INVALHANDLE;
    return p->m_input.Add(pHdr);
}

MMRESULT CJackMidiDriver::InStart(HMIDIPORT hPort) {
    Port* p = Find(hPort, true);
    if (!p) return MMSYSERR_INVALHANDLE;
    std::unique_lock<std::mutex> lock(p->m_mutex);
    if (!p->m_bOpen) return MMSYSERR_INVALHANDLE;
    p->m_input.Start(lock);
    return MMSYSERR_NOERROR;
}

MMRESULT CJackMidiDriver::InStop(HMIDIPORT hPort) {
    Port* p = Find(hPort, true);
    if (!p) return MMSYSERR_INVALHANDLE;
    std::unique_lock<std::mutex> lock(p->m_mutex);
    p->m_input.Stop(lock);
    return MMSYSERR_NOERROR;
}

MMRESULT CJackMidiDriver::InReset(HMIDIPORT hPort) {
    Port* p = Find(hPort, true);
    if (!p) return MMSYSERR_INVALHANDLE;
    CFramedInput::ResetPort(hPort, *p);
    return MMSYSERR_NOERROR;
}

MMRESULT CJackMidiDriver::InClose(HMIDIPORT hPort) {
    Port* p = Find(hPort, true);
    if (!p) return MMSYSERR_INVALHANDLE;
    CFramedInput::ClosePort(*p);
    Release(*p);
    return MMSYSERR_NOERROR;
}

// ---- output ----

MMRESULT CJackMidiDriver::OutOpen(HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance) {
    return OpenPort(false, phPort, uPort, pfnCallback, pInstance);
}

namespace {
// Queues one entry; a server that went away lets the worker complete it as failed.
MMRESULT Queue(CJackMidiDriver::Port& port, MIDIHDR* pHdr, uint32_t dwMsg) {
    {
        std::lock_guard<std::mutex> lock(port.m_mutex);
        if (!port.m_bOpen || port.m_bClosing) return MMSYSERR_INVALHANDLE;
        const uint64_t nQueued = port.m_nQueued.load(std::memory_order_relaxed);
        if (nQueued - port.m_nDone >= CJackMidiDriver::kMaxQueuedOut) return MIDIERR_NOTREADY;
        if (pHdr) {
            pHdr->dwFlags.fetch_and(~MHDR_DONE, std::memory_order_acq_rel);
            pHdr->dwFlags.fetch_or(MHDR_INQUEUE, std::memory_order_acq_rel);
        }
        port.m_out[nQueued % CJackMidiDriver::kMaxQueuedOut] = {pHdr, dwMsg, false};
        port.m_nQueued.store(nQueued + 1, std::memory_order_release);
    }
    if (!port.m_session.IsAlive()) port.m_session.WakeWorker();
    return MMSYSERR_NOERROR;
}
}  // namespace

MMRESULT CJackMidiDriver::OutLongMsg(HMIDIPORT hPort, MIDIHDR* pHdr) {
    Port* p = Find(hPort, false);
    if (!p) return MMSYSERR_INVALHANDLE;
    if (!pHdr || !pHdr->lpData || pHdr->dwBufferLength == 0) return MMSYSERR_INVALPARAM;
    if (!(pHdr->dwFlags.load(std::memory_order_acquire) & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (pHdr->dwBufferLength > kJackMaxMidiMessage) return MMSYSERR_INVALPARAM;
    return Queue(*p, pHdr, 0);
}

MMRESULT CJackMidiDriver::OutShortMsg(HMIDIPORT hPort, uint32_t dwMsg) {
    Port* p = Find(hPort, false);
    if (!p) return MMSYSERR_INVALHANDLE;
    if (qz::MidiMessageLength(static_cast<uint8_t>(dwMsg)) == 0) return MMSYSERR_INVALPARAM;
    return Queue(*p, nullptr, dwMsg);
}

MMRESULT CJackMidiDriver::OutClose(HMIDIPORT hPort) {
    Port* p = Find(hPort, false);
    if (!p) return MMSYSERR_INVALHANDLE;
    {
        std::unique_lock<std::mutex> lock(p->m_mutex);
        if (!p->m_bOpen) return MMSYSERR_INVALHANDLE;
        p->m_bClosing = true;
        p->m_abLive.store(false);
        p->m_session.WaitProcessIdle();
        // Messages not yet in JACK's buffer go back to the owner unsent; those that
        // are complete normally.
        const uint64_t nSent = p->m_nSent.load(std::memory_order_acquire);
        for (uint64_t i = nSent; i < p->m_nQueued.load(std::memory_order_relaxed); ++i)
            if (MIDIHDR* pHdr = p->m_out[i % kMaxQueuedOut].m_pHdr)
                pHdr->dwFlags.fetch_and(~MHDR_INQUEUE, std::memory_order_acq_rel);
        p->m_nQueued.store(nSent, std::memory_order_release);
        p->m_session.WakeWorker();
        p->m_cv.wait(lock, [&] { return p->m_nDone == nSent && p->m_nCompleting == 0; });
        p->m_bOpen = false;
        p->m_bClosing = false;
        p->m_pfn = nullptr;
        p->m_pInstance = nullptr;
    }
    Release(*p);
    return MMSYSERR_NOERROR;
}
