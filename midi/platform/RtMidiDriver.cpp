#include "midi/platform/RtMidiDriver.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>

#include <RtMidi.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <thread>

namespace {

constexpr const char* kInPortName = "in";
constexpr const char* kOutPortName = "out";

// Bytes of a short message by its status byte; 0 for bytes that cannot start one.
uint32_t ShortLength(uint8_t byStatus) {
    if (byStatus < 0x80) return 0;
    if (byStatus < 0xC0 || (byStatus >= 0xE0 && byStatus < 0xF0)) return 3;
    if (byStatus < 0xE0) return 2;
    switch (byStatus) {
        case 0xF1:
        case 0xF3: return 2;
        case 0xF2: return 3;
        case 0xF6:
        case 0xF8:
        case 0xF9:
        case 0xFA:
        case 0xFB:
        case 0xFC:
        case 0xFD:
        case 0xFE:
        case 0xFF: return 1;
        default: return 0;  // F0, F7 and the undefined F4, F5
    }
}

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
// be installed. Constructions are rare, so std::cerr is muted around them.
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

// A fixed ring: nothing is allocated per message.
template <typename T, size_t N>
struct CFixedRing {
    std::array<T, N> m_items{};
    size_t m_nHead = 0, m_nCount = 0;
    bool Push(const T& v) {
        if (m_nCount == N) return false;
        m_items[(m_nHead + m_nCount) % N] = v;
        ++m_nCount;
        return true;
    }
    bool Pop(T& v) {
        if (m_nCount == 0) return false;
        v = m_items[m_nHead];
        m_nHead = (m_nHead + 1) % N;
        --m_nCount;
        return true;
    }
    bool Full() const { return m_nCount == N; }
};

void MarkDone(MIDIHDR* pHdr) {
    pHdr->dwFlags.fetch_and(~MHDR_INQUEUE, std::memory_order_acq_rel);
    pHdr->dwFlags.fetch_or(MHDR_DONE, std::memory_order_acq_rel);
}

}  // namespace

// ---------------------------------------------------------------------------------
// Port: one RtMidi object, used only on its own worker thread (besides RtMidi's
// input callback). Callers post one command at a time and wait a bounded time.

struct CRtMidiDriver::Port {
    enum class ECmd { None, Create, List, Open, Close, Destroy };
    struct OutEntry {
        MIDIHDR* m_pHdr = nullptr;  // long message, or null for the short message below
        uint32_t m_dwMsg = 0;
    };

    Port(EKind eKind, int nApi, const COptions& options, std::shared_ptr<Counters> pCounters)
        : m_eKind(eKind),
          m_nApi(nApi),
          // Listing clients own no ports and never show in a list; leaving them the
          // plain name gives it to the clients whose ports do show.
          m_strClientName(eKind == EKind::EnumIn || eKind == EKind::EnumOut ? options.m_strClientName + "-list"
                                                                           : options.m_strClientName),
          m_bQuiet(options.m_bQuiet),
          m_pCounters(std::move(pCounters)) {}

    bool IsInput() const { return m_eKind == EKind::In || m_eKind == EKind::EnumIn; }
    HMIDIPORT Handle() { return reinterpret_cast<HMIDIPORT>(this); }

    // ---- commands ----

    // Runs a command on the worker; false when it did not finish within the timeout
    // (the caller then abandons the port). Results are left in the members.
    bool Call(ECmd eCmd, uint32_t nTimeoutMs) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_bAbandoned || m_bQuit) return false;
        m_eCmd = eCmd;
        uint64_t nTicket = ++m_nPosted;
        m_cv.notify_all();
        return m_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [&] { return m_nDone >= nTicket; });
    }

    void Run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_cv.wait(lock, [&] { return m_bAbandoned || m_eCmd != ECmd::None || m_out.m_nCount > 0; });
            if (m_bAbandoned) return;
            if (m_eCmd != ECmd::None) {
                ECmd eCmd = m_eCmd;
                lock.unlock();
                MMRESULT mmr = Execute(eCmd);
                lock.lock();
                if (m_bAbandoned) return;
                m_mmrCmd = mmr;
                m_eCmd = ECmd::None;
                ++m_nDone;
                m_cv.notify_all();
                if (eCmd == ECmd::Destroy) {
                    m_bQuit = true;
                    return;
                }
                continue;
            }
            OutEntry entry;
            m_out.Pop(entry);
            // RtMidi gets our own copy: if the send hangs and the port is abandoned,
            // the owner may free its buffer while RtMidi still holds on to the bytes.
            uint32_t nBytes = Stage(entry);
            m_bSending = true;
            lock.unlock();
            bool bSent = nBytes > 0 && Send(nBytes);
            lock.lock();
            m_bSending = false;
            // Given up while stuck in the send: touch nothing, report nothing.
            if (m_bAbandoned) return;
            if (!bSent) m_pCounters->m_nFailedSends.fetch_add(1, std::memory_order_relaxed);
            if (entry.m_pHdr) {
                MidiCallback pfn = m_pfn;
                void* pInstance = m_pInstance;
                ++m_nCompleting;
                lock.unlock();
                MarkDone(entry.m_pHdr);
                if (pfn) pfn(Handle(), MOM_DONE, pInstance, reinterpret_cast<uintptr_t>(entry.m_pHdr), 0);
                lock.lock();
                --m_nCompleting;
            }
            m_cv.notify_all();
        }
    }

    // Worker thread only.
    MMRESULT Execute(ECmd eCmd) {
        try {
            switch (eCmd) {
                case ECmd::Create: return Create();
                case ECmd::List: return List();
                case ECmd::Open: return Open();
                case ECmd::Close:
                    if (m_pIn) m_pIn->closePort();
                    if (m_pOut) m_pOut->closePort();
                    return MMSYSERR_NOERROR;
                case ECmd::Destroy:
                    m_pIn.reset();
                    m_pOut.reset();
                    return MMSYSERR_NOERROR;
                case ECmd::None: break;
            }
        } catch (const RtMidiError& e) {
            NoteError(e.getType(), e.getMessage());
        } catch (const std::exception& e) {
            NoteError(RtMidiError::UNSPECIFIED, e.what());
        } catch (...) {
            NoteError(RtMidiError::UNSPECIFIED, "unknown exception");
        }
        return MMSYSERR_ERROR;
    }

    MMRESULT Create() {
        auto api = static_cast<RtMidi::Api>(m_nApi);
        CMuteCerr mute(m_bQuiet);
        RtMidi* pMidi;
        if (IsInput()) {
            m_pIn = std::make_unique<RtMidiIn>(api, m_strClientName, 100);
            pMidi = m_pIn.get();
        } else {
            m_pOut = std::make_unique<RtMidiOut>(api, m_strClientName);
            pMidi = m_pOut.get();
            if (m_eKind == EKind::Out) m_abySend.resize(kJackMaxMessage);
        }
        pMidi->setErrorCallback(&Port::OnRtError, this);
        if (m_eKind == EKind::In) {
            // SysEx is off by default; time code, clock and active sensing go to the
            // parser as short messages like any other arrival.
            m_pIn->ignoreTypes(false, false, false);
            m_pIn->setCallback(&Port::OnRtMessage, this);
        }
        return MMSYSERR_NOERROR;
    }

    RtMidi& Midi() { return m_pIn ? static_cast<RtMidi&>(*m_pIn) : static_cast<RtMidi&>(*m_pOut); }

    MMRESULT List() {
        uint32_t nNoServer = m_nNoServer.load(std::memory_order_relaxed);
        std::vector<std::string> astrNames;
        std::vector<bool> abReadable;
        if (m_pIn || m_pOut) {
            RtMidi& midi = Midi();
            unsigned n = midi.getPortCount();
            for (unsigned i = 0; i < n; ++i) {
                uint32_t nWarn = m_nWarnings.load(std::memory_order_relaxed);
                std::string strName;
                bool bOk = true;
                try {
                    strName = midi.getPortName(i);
                } catch (...) {
                    bOk = false;
                }
                // A port that went away between the count and the name reads as "".
                bOk = bOk && !strName.empty() && nWarn == m_nWarnings.load(std::memory_order_relaxed);
                astrNames.push_back(bOk ? strName : std::string());
                abReadable.push_back(bOk);
            }
        }
        bool bServer = m_nApi != RtMidi::UNIX_JACK || nNoServer == m_nNoServer.load(std::memory_order_relaxed);
        m_pCounters->m_bServerSeen.store(bServer, std::memory_order_relaxed);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_list.m_astrNames = std::move(astrNames);
        m_list.m_abReadable = std::move(abReadable);
        return bServer ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER;
    }

    // Opens the port whose name is m_strTarget (or, when that is empty, index
    // m_uTargetIndex). The index is looked up again right before opening, because JACK
    // reuses list positions and RtMidi resolves the index to a name inside openPort.
    MMRESULT Open() {
        std::string strTarget;
        uint32_t uIndex;
        bool bVirtual;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            strTarget = m_strTarget;
            uIndex = m_uTargetIndex;
            bVirtual = m_bVirtual;
        }
        RtMidi& midi = Midi();
        if (bVirtual) {
            uint32_t nErr = m_nErrors.load(std::memory_order_relaxed);
            midi.openVirtualPort(strTarget);
            if (nErr == m_nErrors.load(std::memory_order_relaxed)) return MMSYSERR_NOERROR;
            midi.closePort();
            return MMSYSERR_ERROR;
        }
        unsigned n = midi.getPortCount();
        if (!strTarget.empty()) {
            uIndex = n;
            for (unsigned i = 0; i < n; ++i) {
                if (midi.getPortName(i) == strTarget) {
                    uIndex = i;
                    break;
                }
            }
        } else {
            strTarget = uIndex < n ? midi.getPortName(uIndex) : std::string();
        }
        if (uIndex >= n || strTarget.empty()) return MMSYSERR_BADDEVICEID;
        uint32_t nErr = m_nErrors.load(std::memory_order_relaxed);
        uint32_t nWarn = m_nWarnings.load(std::memory_order_relaxed);
        midi.openPort(uIndex, IsInput() ? kInPortName : kOutPortName);
        // JACK only warns when the port is gone and still reports the port open:
        // check that nothing complained and that the name did not move meanwhile.
        bool bOk = midi.isPortOpen() && nErr == m_nErrors.load(std::memory_order_relaxed) &&
                   nWarn == m_nWarnings.load(std::memory_order_relaxed) && midi.getPortName(uIndex) == strTarget;
        if (!bOk) {
            midi.closePort();
            return MMSYSERR_ERROR;
        }
        return MMSYSERR_NOERROR;
    }

    // Copies the message into m_abySend (grown only for an unusually long message).
    uint32_t Stage(const OutEntry& entry) {
        try {
            if (entry.m_pHdr) {
                uint32_t n = entry.m_pHdr->dwBufferLength;
                if (m_abySend.size() < n) m_abySend.resize(n);
                std::memcpy(m_abySend.data(), entry.m_pHdr->lpData, n);
                return n;
            }
            uint32_t n = ShortLength(static_cast<uint8_t>(entry.m_dwMsg));
            if (m_abySend.size() < 3) m_abySend.resize(3);
            for (uint32_t i = 0; i < n; ++i) m_abySend[i] = static_cast<uint8_t>(entry.m_dwMsg >> (8 * i));
            return n;
        } catch (...) {
            return 0;
        }
    }

    bool Send(uint32_t nBytes) {
        if (!m_pOut) return false;
        uint32_t nErr = m_nErrors.load(std::memory_order_relaxed);
        uint32_t nWarn = m_nWarnings.load(std::memory_order_relaxed);
        try {
            m_pOut->sendMessage(m_abySend.data(), nBytes);
        } catch (...) {
            return false;
        }
        return nErr == m_nErrors.load(std::memory_order_relaxed) && nWarn == m_nWarnings.load(std::memory_order_relaxed);
    }

    // ---- RtMidi callbacks ----

    static void OnRtError(RtMidiError::Type eType, const std::string& strText, void* pUser) {
        auto* p = static_cast<Port*>(pUser);
        if (eType == RtMidiError::WARNING || eType == RtMidiError::DEBUG_WARNING) {
            // RtMidi's only way of saying that no JACK server answered.
            if (strText.find("server not running") != std::string::npos)
                p->m_nNoServer.fetch_add(1, std::memory_order_relaxed);
            p->m_nWarnings.fetch_add(1, std::memory_order_relaxed);
        } else {
            p->NoteError(eType, strText);
        }
    }

    void NoteError(int /*eType*/, const std::string& strText) {
        m_nErrors.fetch_add(1, std::memory_order_relaxed);
        std::lock_guard<std::mutex> lock(m_errorMutex);
        m_strLastError = strText;
    }

    static void OnRtMessage(double, std::vector<unsigned char>* pMessage, void* pUser) {
        if (!pMessage) return;
        try {
            static_cast<Port*>(pUser)->Deliver(pMessage->data(), pMessage->size());
        } catch (...) {
            // A port callback that throws must not unwind into RtMidi's thread.
        }
    }

    // ---- input delivery (RtMidi's thread) ----

    void Deliver(const uint8_t* pData, size_t nLength) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_bStarted || m_bAbandoned) return;
            ++m_nDelivering;
            m_pfnDeliver = m_pfn;
            m_pDeliverInstance = m_pInstance;
        }
        size_t i = 0;
        for (; i < nLength; ++i) {
            if (!m_abStarted.load(std::memory_order_acquire)) break;
            Feed(pData[i]);
        }
        if (i < nLength) {
            m_pCounters->m_nLostBytes.fetch_add(nLength - i, std::memory_order_relaxed);
            m_bDiscard = m_bSysEx;
        }
        ReturnFill();  // the partly filled buffer goes back at the end of each arrival
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_nDelivering;
        }
        m_cv.notify_all();
    }

    // Frames by bytes, not by RtMidi's message boundaries: an unterminated SysEx and
    // the message after it can arrive together.
    void Feed(uint8_t by) {
        if (by >= 0xF8) {  // real time: may appear anywhere, even inside a SysEx
            EmitShort(by);
            return;
        }
        if (by == 0xF0) {
            if (m_bSysEx) EndSysEx();
            m_bSysEx = true;
            m_bDiscard = false;
            m_byRunning = 0;
            m_nShort = 0;
            AppendLong(by);
            return;
        }
        if (by == 0xF7) {
            if (m_bSysEx) {
                AppendLong(by);
                EndSysEx();
            }
            return;
        }
        if (by >= 0x80) {
            if (m_bSysEx) EndSysEx();
            m_nShortNeed = ShortLength(by);
            m_byRunning = by < 0xF0 ? by : 0;
            m_nShort = 0;
            if (m_nShortNeed == 0) return;  // undefined status
            m_abyShort[m_nShort++] = by;
            if (m_nShort == m_nShortNeed) FlushShort();
            return;
        }
        // Data byte.
        if (m_bSysEx) {
            AppendLong(by);
            return;
        }
        if (m_nShort == 0) {
            if (!m_byRunning) return;  // stray data byte
            m_nShortNeed = ShortLength(m_byRunning);
            m_abyShort[m_nShort++] = m_byRunning;
        }
        m_abyShort[m_nShort++] = by;
        if (m_nShort == m_nShortNeed) FlushShort();
    }

    void FlushShort() {
        uint32_t dw = m_abyShort[0];
        if (m_nShort > 1) dw |= uint32_t(m_abyShort[1]) << 8;
        if (m_nShort > 2) dw |= uint32_t(m_abyShort[2]) << 16;
        m_nShort = 0;
        EmitShort(dw);
    }

    void EmitShort(uint32_t dw) {
        if (m_pfnDeliver) m_pfnDeliver(Handle(), MIM_DATA, m_pDeliverInstance, dw, 0);
    }

    void AppendLong(uint8_t by) {
        if (m_bDiscard) {
            m_pCounters->m_nLostBytes.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        if (!m_pFill) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_in.Pop(m_pFill);
        }
        if (!m_pFill) {
            // No buffer queued: the rest of this SysEx is lost, never spliced later.
            m_bDiscard = true;
            m_pCounters->m_nLostMessages.fetch_add(1, std::memory_order_relaxed);
            m_pCounters->m_nLostBytes.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        m_pFill->lpData[m_pFill->dwBytesRecorded++] = by;
        if (m_pFill->dwBytesRecorded >= m_pFill->dwBufferLength) ReturnFill();
    }

    void EndSysEx() {
        ReturnFill();
        m_bSysEx = false;
        m_bDiscard = false;
    }

    // A buffer once taken from the queue always goes back through the callback, even
    // when the port is being stopped (InStop waits for this delivery to end).
    void ReturnFill() {
        MIDIHDR* p = m_pFill;
        if (!p) return;
        m_pFill = nullptr;
        MarkDone(p);
        if (m_pfnDeliver) m_pfnDeliver(Handle(), MIM_LONGDATA, m_pDeliverInstance, reinterpret_cast<uintptr_t>(p), 0);
    }

    void ResetFramer() {
        m_bSysEx = m_bDiscard = false;
        m_byRunning = 0;
        m_nShort = m_nShortNeed = 0;
        m_pFill = nullptr;
    }

    // ---- state ----
    const EKind m_eKind;
    const int m_nApi;
    const std::string m_strClientName;
    const bool m_bQuiet;
    const std::shared_ptr<Counters> m_pCounters;

    std::mutex m_mutex;  // guards everything down to the framer
    std::condition_variable m_cv;
    std::thread m_worker;
    ECmd m_eCmd = ECmd::None;
    uint64_t m_nPosted = 0, m_nDone = 0;
    MMRESULT m_mmrCmd = MMSYSERR_NOERROR;
    bool m_bQuit = false;       // the worker has ended after Destroy
    bool m_bAbandoned = false;  // given up: nothing may use this port again
    bool m_bInUse = false;      // handed out by an open (guarded by the driver's list mutex)
    std::string m_strTarget;    // Open: port name to connect to, or to publish
    bool m_bVirtual = false;
    uint32_t m_uTargetIndex = 0;
    Snapshot m_list;            // List: result

    // Both directions.
    bool m_bOpen = false;
    MidiCallback m_pfn = nullptr;
    void* m_pInstance = nullptr;

    // Input.
    bool m_bStarted = false;
    std::atomic<bool> m_abStarted{false};  // the same, read per byte without the lock
    int m_nDelivering = 0;
    CFixedRing<MIDIHDR*, kMaxQueuedIn> m_in;

    // Output.
    bool m_bClosing = false;
    bool m_bSending = false;
    int m_nCompleting = 0;
    CFixedRing<OutEntry, kMaxQueuedOut> m_out;
    std::vector<uint8_t> m_abySend;  // the message being sent (worker only)

    // Framer: touched only by the delivering thread, and by InStart while none runs.
    MidiCallback m_pfnDeliver = nullptr;
    void* m_pDeliverInstance = nullptr;
    MIDIHDR* m_pFill = nullptr;
    bool m_bSysEx = false, m_bDiscard = false;
    uint8_t m_byRunning = 0;
    uint8_t m_abyShort[3] = {};
    uint32_t m_nShort = 0, m_nShortNeed = 0;

    // RtMidi's reports.
    std::atomic<uint32_t> m_nErrors{0}, m_nWarnings{0}, m_nNoServer{0};
    std::mutex m_errorMutex;
    std::string m_strLastError;

    // Destroyed first: RtMidi's threads stop before the state they call into goes.
    std::unique_ptr<RtMidiIn> m_pIn;
    std::unique_ptr<RtMidiOut> m_pOut;
};

// ---------------------------------------------------------------------------------

CRtMidiDriver::CRtMidiDriver() : CRtMidiDriver(COptions{}) {}

CRtMidiDriver::CRtMidiDriver(EApi eApi, const std::string& strClientName)
    : CRtMidiDriver(COptions{eApi, strClientName}) {}

CRtMidiDriver::CRtMidiDriver(const COptions& options)
    : m_options(options), m_pCounters(std::make_shared<Counters>()) {
    if (m_options.m_bQuiet) QuietLibraries();
    EApi eApi = m_options.m_eApi == EApi::Auto ? ApiFromEnvironment() : m_options.m_eApi;
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

CRtMidiDriver::EApi CRtMidiDriver::ApiFromEnvironment() {
    const char* psz = std::getenv("QZ81KT_MIDI_API");
    if (!psz) return EApi::Auto;
    std::string str(psz);
    for (auto& c : str) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (str == "alsa") return EApi::Alsa;
    if (str == "jack") return EApi::Jack;
    return EApi::Auto;
}

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
    if (eApi == EApi::Alsa || eApi == EApi::Auto) bStarted = tryApi(RtMidi::LINUX_ALSA, "ALSA");
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
    if (!p->Call(Port::ECmd::Create, m_options.m_nCallTimeoutMs)) {
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
        p->m_bStarted = false;
        p->m_abStarted.store(false, std::memory_order_release);
        p->m_pfn = nullptr;
    }
    p->m_cv.notify_all();
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
    Snapshot& snap = bInput ? m_inNames : m_outNames;
    snap = Snapshot{};
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
    pEnum->m_list = Snapshot{};
    return static_cast<uint32_t>(snap.m_astrNames.size());
}

MMRESULT CRtMidiDriver::DevName(bool bInput, uint32_t uPort, std::string& strName) {
    {
        std::lock_guard<std::mutex> lock(m_enumMutex);
        const Snapshot& snap = bInput ? m_inNames : m_outNames;
        if (uPort < snap.m_astrNames.size()) {
            if (!snap.m_abReadable[uPort]) return MMSYSERR_ERROR;
            strName = snap.m_astrNames[uPort];
            return MMSYSERR_NOERROR;
        }
    }
    return MMSYSERR_BADDEVICEID;
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
    bool bInput = eKind == EKind::In;

    // The port number refers to the list as last enumerated; its name is what counts.
    std::string strTarget;
    {
        std::unique_lock<std::mutex> lock(m_enumMutex);
        const Snapshot& snap = bInput ? m_inNames : m_outNames;
        bool bKnown = uPort < snap.m_astrNames.size();
        lock.unlock();
        if (!bKnown && uPort >= Enumerate(bInput)) return MMSYSERR_BADDEVICEID;
        lock.lock();
        if (uPort >= snap.m_astrNames.size()) return MMSYSERR_BADDEVICEID;
        strTarget = snap.m_astrNames[uPort];  // empty when unreadable: open by number
    }
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
            p->m_bStarted = false;
            p->m_abStarted.store(false, std::memory_order_release);
            p->m_in = {};
            p->m_out = {};
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
    if (p->m_in.Full()) return MMSYSERR_NOMEM;
    pHdr->dwBytesRecorded = 0;
    pHdr->dwFlags.fetch_and(~MHDR_DONE, std::memory_order_acq_rel);
    pHdr->dwFlags.fetch_or(MHDR_INQUEUE, std::memory_order_acq_rel);
    p->m_in.Push(pHdr);
    return MMSYSERR_NOERROR;
}

MMRESULT CRtMidiDriver::InStart(HMIDIPORT hPort) {
    auto p = Find(hPort, EKind::In);
    if (!p) return MMSYSERR_INVALHANDLE;
    std::unique_lock<std::mutex> lock(p->m_mutex);
    if (!p->m_bOpen) return MMSYSERR_INVALHANDLE;
    if (!p->m_bStarted) {
        p->m_cv.wait(lock, [&] { return p->m_nDelivering == 0; });
        p->ResetFramer();
        p->m_bStarted = true;
        p->m_abStarted.store(true, std::memory_order_release);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT CRtMidiDriver::InStop(HMIDIPORT hPort) {
    auto p = Find(hPort, EKind::In);
    if (!p) return MMSYSERR_INVALHANDLE;
    std::unique_lock<std::mutex> lock(p->m_mutex);
    p->m_bStarted = false;
    p->m_abStarted.store(false, std::memory_order_release);
    // No callback may run once this returns.
    p->m_cv.wait(lock, [&] { return p->m_nDelivering == 0; });
    return MMSYSERR_NOERROR;
}

MMRESULT CRtMidiDriver::InReset(HMIDIPORT hPort) {
    auto p = Find(hPort, EKind::In);
    if (!p) return MMSYSERR_INVALHANDLE;
    std::array<MIDIHDR*, kMaxQueuedIn> apReturned{};
    size_t n = 0;
    MidiCallback pfn;
    void* pInstance;
    {
        std::unique_lock<std::mutex> lock(p->m_mutex);
        p->m_bStarted = false;
        p->m_abStarted.store(false, std::memory_order_release);
        p->m_cv.wait(lock, [&] { return p->m_nDelivering == 0; });
        while (n < apReturned.size() && p->m_in.Pop(apReturned[n])) ++n;
        pfn = p->m_pfn;
        pInstance = p->m_pInstance;
    }
    // Outside the lock: the callback may queue buffers again.
    for (size_t i = 0; i < n; ++i) {
        apReturned[i]->dwBytesRecorded = 0;
        MarkDone(apReturned[i]);
        if (pfn) pfn(hPort, MIM_LONGDATA, pInstance, reinterpret_cast<uintptr_t>(apReturned[i]), 0);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT CRtMidiDriver::InClose(HMIDIPORT hPort) {
    auto p = Find(hPort, EKind::In);
    if (!p) return MMSYSERR_INVALHANDLE;
    {
        std::unique_lock<std::mutex> lock(p->m_mutex);
        p->m_bStarted = false;
        p->m_abStarted.store(false, std::memory_order_release);
        p->m_cv.wait(lock, [&] { return p->m_nDelivering == 0; });
        // Buffers still queued are forgotten: the owner frees them after closing.
        MIDIHDR* pHdr;
        while (p->m_in.Pop(pHdr)) pHdr->dwFlags.fetch_and(~MHDR_INQUEUE, std::memory_order_acq_rel);
        p->m_bOpen = false;
        p->m_pfn = nullptr;
        p->m_pInstance = nullptr;
    }
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
    p->m_cv.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT CRtMidiDriver::OutShortMsg(HMIDIPORT hPort, uint32_t dwMsg) {
    auto p = Find(hPort, EKind::Out);
    if (!p) return MMSYSERR_INVALHANDLE;
    if (ShortLength(static_cast<uint8_t>(dwMsg)) == 0) return MMSYSERR_INVALPARAM;
    {
        std::lock_guard<std::mutex> lock(p->m_mutex);
        if (!p->m_bOpen || p->m_bClosing) return MMSYSERR_INVALHANDLE;
        if (p->m_out.Full()) return MIDIERR_NOTREADY;
        p->m_out.Push(Port::OutEntry{nullptr, dwMsg});
    }
    p->m_cv.notify_all();
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
