#include "midi/platform/CompositeMidiDriver.h"

CCompositeMidiDriver::CCompositeMidiDriver(CMidiDriver& first, CMidiDriver& second)
    : m_first(first), m_second(second) {}

CCompositeMidiDriver::~CCompositeMidiDriver() {
    // Ports left open would call back into wrappers about to be freed.
    std::vector<Wrapper*> open;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& w : m_wrappers)
            if (w->m_bInUse) open.push_back(w.get());
    }
    for (Wrapper* w : open) {
        if (w->m_bInput)
            InClose(reinterpret_cast<HMIDIPORT>(w));
        else
            OutClose(reinterpret_cast<HMIDIPORT>(w));
    }
}

// ---- enumeration ----

uint32_t CCompositeMidiDriver::InGetNumDevs() {
    uint32_t n1 = m_first.InGetNumDevs();
    uint32_t n2 = m_second.InGetNumDevs();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nFirstIn = n1;
    m_bInCounted = true;
    return n1 + n2;
}

uint32_t CCompositeMidiDriver::OutGetNumDevs() {
    uint32_t n1 = m_first.OutGetNumDevs();
    uint32_t n2 = m_second.OutGetNumDevs();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nFirstOut = n1;
    m_bOutCounted = true;
    return n1 + n2;
}

CMidiDriver* CCompositeMidiDriver::Route(bool bInput, uint32_t uPort, uint32_t& uInner) {
    bool bCounted;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        bCounted = bInput ? m_bInCounted : m_bOutCounted;
    }
    if (!bCounted) {
        if (bInput)
            InGetNumDevs();
        else
            OutGetNumDevs();
    }
    uint32_t nFirst;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        nFirst = bInput ? m_nFirstIn : m_nFirstOut;
    }
    if (uPort < nFirst) {
        uInner = uPort;
        return &m_first;
    }
    uInner = uPort - nFirst;
    return &m_second;
}

MMRESULT CCompositeMidiDriver::InGetDevName(uint32_t uPort, std::string& strName) {
    uint32_t uInner;
    CMidiDriver* p = Route(true, uPort, uInner);
    return p->InGetDevName(uInner, strName);
}

MMRESULT CCompositeMidiDriver::OutGetDevName(uint32_t uPort, std::string& strName) {
    uint32_t uInner;
    CMidiDriver* p = Route(false, uPort, uInner);
    return p->OutGetDevName(uInner, strName);
}

MMRESULT CCompositeMidiDriver::InGetDevAliases(uint32_t uPort, std::vector<std::string>& aliases) {
    uint32_t uInner;
    return Route(true, uPort, uInner)->InGetDevAliases(uInner, aliases);
}

MMRESULT CCompositeMidiDriver::OutGetDevAliases(uint32_t uPort, std::vector<std::string>& aliases) {
    uint32_t uInner;
    return Route(false, uPort, uInner)->OutGetDevAliases(uInner, aliases);
}

// ---- handles ----

void CCompositeMidiDriver::Trampoline(HMIDIPORT /*hInner*/, uint32_t uMsg, void* pInstance, uintptr_t param1,
                                      uintptr_t param2) {
    // The wrapper's callback fields are fixed from before the inner open until after
    // the inner close, which guarantees no callback once it returns.
    auto* w = static_cast<Wrapper*>(pInstance);
    if (w->m_pfnCallback)
        w->m_pfnCallback(reinterpret_cast<HMIDIPORT>(w), uMsg, w->m_pInstance, param1, param2);
}

MMRESULT CCompositeMidiDriver::Open(bool bInput, HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback,
                                    void* pInstance) {
    if (!phPort) return MMSYSERR_INVALPARAM;
    *phPort = nullptr;
    uint32_t uInner;
    CMidiDriver* pDriver = Route(bInput, uPort, uInner);
    Wrapper* w = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto& c : m_wrappers) {
            if (!c->m_bInUse) {
                w = c.get();
                break;
            }
        }
        if (!w) {
            m_wrappers.push_back(std::make_unique<Wrapper>());
            w = m_wrappers.back().get();
        }
        *w = Wrapper{pDriver, nullptr, pfnCallback, pInstance, bInput, true};
    }
    HMIDIPORT hInner = nullptr;
    MMRESULT mmr = bInput ? pDriver->InOpen(&hInner, uInner, &Trampoline, w)
                          : pDriver->OutOpen(&hInner, uInner, &Trampoline, w);
    if (mmr != MMSYSERR_NOERROR) {
        Free(w);
        return mmr;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        w->m_hInner = hInner;
    }
    *phPort = reinterpret_cast<HMIDIPORT>(w);
    return MMSYSERR_NOERROR;
}

CCompositeMidiDriver::Wrapper* CCompositeMidiDriver::Find(HMIDIPORT hPort, bool bInput, HMIDIPORT& hInner,
                                                          CMidiDriver*& pDriver) {
    if (!hPort) return nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& c : m_wrappers) {
        if (reinterpret_cast<HMIDIPORT>(c.get()) == hPort) {
            if (!c->m_bInUse || c->m_bInput != bInput || !c->m_hInner) return nullptr;
            hInner = c->m_hInner;
            pDriver = c->m_pDriver;
            return c.get();
        }
    }
    return nullptr;
}

void CCompositeMidiDriver::Free(Wrapper* w) {
    std::lock_guard<std::mutex> lock(m_mutex);
    *w = Wrapper{};
}

// Forwards one call on a handle of the given direction to the driver that owns it.
#define QZ_FORWARD(bInput, call)                                          \
    HMIDIPORT hInner = nullptr;                                           \
    CMidiDriver* pDriver = nullptr;                                       \
    if (!Find(hPort, bInput, hInner, pDriver)) return MMSYSERR_INVALHANDLE; \
    return pDriver->call

// ---- input ----

MMRESULT CCompositeMidiDriver::InOpen(HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance) {
    return Open(true, phPort, uPort, pfnCallback, pInstance);
}
MMRESULT CCompositeMidiDriver::InPrepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr) {
    QZ_FORWARD(true, InPrepareHeader(hInner, pHdr));
}
MMRESULT CCompositeMidiDriver::InUnprepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr) {
    QZ_FORWARD(true, InUnprepareHeader(hInner, pHdr));
}
MMRESULT CCompositeMidiDriver::InAddBuffer(HMIDIPORT hPort, MIDIHDR* pHdr) { QZ_FORWARD(true, InAddBuffer(hInner, pHdr)); }
MMRESULT CCompositeMidiDriver::InStart(HMIDIPORT hPort) { QZ_FORWARD(true, InStart(hInner)); }
MMRESULT CCompositeMidiDriver::InStop(HMIDIPORT hPort) { QZ_FORWARD(true, InStop(hInner)); }
MMRESULT CCompositeMidiDriver::InReset(HMIDIPORT hPort) { QZ_FORWARD(true, InReset(hInner)); }

MMRESULT CCompositeMidiDriver::InClose(HMIDIPORT hPort) {
    HMIDIPORT hInner = nullptr;
    CMidiDriver* pDriver = nullptr;
    Wrapper* w = Find(hPort, true, hInner, pDriver);
    if (!w) return MMSYSERR_INVALHANDLE;
    MMRESULT mmr = pDriver->InClose(hInner);
    // Freed only once the inner driver has stopped calling back.
    if (mmr == MMSYSERR_NOERROR) Free(w);
    return mmr;
}

// ---- output ----

MMRESULT CCompositeMidiDriver::OutOpen(HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance) {
    return Open(false, phPort, uPort, pfnCallback, pInstance);
}
MMRESULT CCompositeMidiDriver::OutPrepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr) {
    QZ_FORWARD(false, OutPrepareHeader(hInner, pHdr));
}
MMRESULT CCompositeMidiDriver::OutUnprepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr) {
    QZ_FORWARD(false, OutUnprepareHeader(hInner, pHdr));
}
MMRESULT CCompositeMidiDriver::OutLongMsg(HMIDIPORT hPort, MIDIHDR* pHdr) { QZ_FORWARD(false, OutLongMsg(hInner, pHdr)); }
MMRESULT CCompositeMidiDriver::OutShortMsg(HMIDIPORT hPort, uint32_t dwMsg) {
    QZ_FORWARD(false, OutShortMsg(hInner, dwMsg));
}

MMRESULT CCompositeMidiDriver::OutClose(HMIDIPORT hPort) {
    HMIDIPORT hInner = nullptr;
    CMidiDriver* pDriver = nullptr;
    Wrapper* w = Find(hPort, false, hInner, pDriver);
    if (!w) return MMSYSERR_INVALHANDLE;
    MMRESULT mmr = pDriver->OutClose(hInner);
    if (mmr == MMSYSERR_NOERROR) Free(w);
    return mmr;
}

#undef QZ_FORWARD
