#include "midi/platform/LoopbackDriver.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

bool CLoopbackDriver::HeaderQueue::Push(MIDIHDR* p) {
    if (count == items.size()) return false;
    items[(head + count) % items.size()] = p;
    ++count;
    return true;
}

MIDIHDR* CLoopbackDriver::HeaderQueue::Pop() {
    if (count == 0) return nullptr;
    MIDIHDR* p = items[head];
    head = (head + 1) % items.size();
    --count;
    return p;
}

CLoopbackDriver::CLoopbackDriver() = default;

CLoopbackDriver::~CLoopbackDriver() = default;

uint32_t CLoopbackDriver::AddPortPair(const std::string& strName, CLoopbackPeer* pPeer) {
    auto pair = std::make_unique<Pair>();
    pair->strName = strName;
    pair->pPeer = pPeer;
    pair->inEnd = {pair.get(), true};
    pair->outEnd = {pair.get(), false};
    std::lock_guard<std::mutex> lock(m_listMutex);
    m_pairs.push_back(std::move(pair));
    return static_cast<uint32_t>(m_pairs.size() - 1);
}

CLoopbackDriver::Pair* CLoopbackDriver::PairAt(uint32_t uPort) {
    std::lock_guard<std::mutex> lock(m_listMutex);
    return uPort < m_pairs.size() ? m_pairs[uPort].get() : nullptr;
}

CLoopbackDriver::Pair* CLoopbackDriver::ListedAt(uint32_t uListed) {
    std::lock_guard<std::mutex> lock(m_listMutex);
    for (auto& p : m_pairs)
        if (p->bPresent.load() && uListed-- == 0) return p.get();
    return nullptr;
}

void CLoopbackDriver::SetPresent(uint32_t uPair, bool bPresent) {
    if (Pair* p = PairAt(uPair)) p->bPresent.store(bPresent);
}

void CLoopbackDriver::SetPeer(uint32_t uPort, CLoopbackPeer* pPeer) {
    Pair* p = PairAt(uPort);
    if (!p) return;
    std::unique_lock<std::mutex> lock(p->mutex);
    // A completion in progress may still be talking to the old peer.
    p->idle.wait(lock, [p] { return p->nCompleting == 0; });
    p->pPeer = pPeer;
}

CLoopbackFaults& CLoopbackDriver::Faults(uint32_t uPort) {
    Pair* p = PairAt(uPort);
    if (!p) throw std::out_of_range("CLoopbackDriver::Faults: no such port");
    return p->faults;
}

CLoopbackDriver::Endpoint* CLoopbackDriver::EndpointOf(HMIDIPORT hPort, bool bInput) {
    auto* e = reinterpret_cast<Endpoint*>(hPort);
    if (!e || !e->pPair || e->bInput != bInput) return nullptr;
    return e;
}

// ---- enumeration ----

uint32_t CLoopbackDriver::InGetNumDevs() {
    std::lock_guard<std::mutex> lock(m_listMutex);
    uint32_t n = 0;
    for (auto& p : m_pairs) n += p->bPresent.load() ? 1 : 0;
    return n;
}

uint32_t CLoopbackDriver::OutGetNumDevs() { return InGetNumDevs(); }

MMRESULT CLoopbackDriver::InGetDevName(uint32_t uPort, std::string& strName) {
    Pair* p = ListedAt(uPort);
    if (!p) return MMSYSERR_BADDEVICEID;
    if (p->faults.m_bEnumerationThrows) throw std::runtime_error("loopback: port description fault");
    if (p->faults.m_bNameUnreadable) return MMSYSERR_ERROR;
    strName = p->strName;
    return MMSYSERR_NOERROR;
}

MMRESULT CLoopbackDriver::OutGetDevName(uint32_t uPort, std::string& strName) { return InGetDevName(uPort, strName); }

// ---- input ----

MMRESULT CLoopbackDriver::InOpen(HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance) {
    if (!phPort) return MMSYSERR_INVALPARAM;
    *phPort = nullptr;
    Pair* p = ListedAt(uPort);
    if (!p) return MMSYSERR_BADDEVICEID;
    if (p->faults.m_bFailInOpen) return MMSYSERR_ERROR;
    std::lock_guard<std::mutex> lock(p->mutex);
    if (p->bInOpen) return MMSYSERR_ALLOCATED;
    p->bInOpen = true;
    p->bInStarted = false;
    p->pfnIn = pfnCallback;
    p->pInInstance = pInstance;
    p->inQueue = HeaderQueue{};
    *phPort = reinterpret_cast<HMIDIPORT>(&p->inEnd);
    return MMSYSERR_NOERROR;
}

MMRESULT CLoopbackDriver::InAddBuffer(HMIDIPORT hPort, MIDIHDR* pHdr) {
    Endpoint* e = EndpointOf(hPort, true);
    if (!e || !pHdr) return MMSYSERR_INVALHANDLE;
    Pair& p = *e->pPair;
    if (!(pHdr->dwFlags.load(std::memory_order_acquire) & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    int refuse = p.faults.m_nRefuseAddBuffer.load();
    while (refuse != 0) {
        if (refuse < 0 || p.faults.m_nRefuseAddBuffer.compare_exchange_weak(refuse, refuse - 1)) return MMSYSERR_NOMEM;
    }
    std::lock_guard<std::mutex> lock(p.mutex);
    if (!p.bInOpen) return MMSYSERR_INVALHANDLE;
    if (!p.inQueue.Push(pHdr)) return MMSYSERR_NOMEM;
    pHdr->dwBytesRecorded = 0;
    pHdr->dwFlags.fetch_or(MHDR_INQUEUE, std::memory_order_acq_rel);
    pHdr->dwFlags.fetch_and(~MHDR_DONE, std::memory_order_acq_rel);
    return MMSYSERR_NOERROR;
}

MMRESULT CLoopbackDriver::InStart(HMIDIPORT hPort) {
    Endpoint* e = EndpointOf(hPort, true);
    if (!e) return MMSYSERR_INVALHANDLE;
    Pair& p = *e->pPair;
    if (p.faults.m_bFailInStart) return MMSYSERR_ERROR;
    std::lock_guard<std::mutex> lock(p.mutex);
    if (!p.bInOpen) return MMSYSERR_INVALHANDLE;
    p.bInStarted = true;
    return MMSYSERR_NOERROR;
}

MMRESULT CLoopbackDriver::InStop(HMIDIPORT hPort) {
    Endpoint* e = EndpointOf(hPort, true);
    if (!e) return MMSYSERR_INVALHANDLE;
    Pair& p = *e->pPair;
    MIDIHDR* h;
    MidiCallback cb;
    void* inst;
    {
        std::unique_lock<std::mutex> lock(p.mutex);
        p.bInStarted = false;
        p.idle.wait(lock, [&p] { return p.nDelivering == 0; });
        // A partly filled buffer is marked done; empty ones stay queued.
        h = p.pFilling;
        p.pFilling = nullptr;
        cb = p.pfnIn;
        inst = p.pInInstance;
    }
    if (h) {
        h->dwFlags.fetch_and(~MHDR_INQUEUE, std::memory_order_acq_rel);
        h->dwFlags.fetch_or(MHDR_DONE, std::memory_order_acq_rel);
        if (cb) cb(hPort, MIM_LONGDATA, inst, reinterpret_cast<uintptr_t>(h), 0);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT CLoopbackDriver::InReset(HMIDIPORT hPort) {
    Endpoint* e = EndpointOf(hPort, true);
    if (!e) return MMSYSERR_INVALHANDLE;
    Pair& p = *e->pPair;
    std::array<MIDIHDR*, kMaxQueued> returned{};
    size_t n = 0;
    MidiCallback cb;
    void* inst;
    {
        std::unique_lock<std::mutex> lock(p.mutex);
        p.bInStarted = false;
        p.idle.wait(lock, [&p] { return p.nDelivering == 0; });
        if (p.pFilling) returned[n++] = p.pFilling;  // queued first, so it comes back first
        p.pFilling = nullptr;
        while (MIDIHDR* h = p.inQueue.Pop()) returned[n++] = h;
        cb = p.pfnIn;
        inst = p.pInInstance;
    }
    for (size_t i = 0; i < n; ++i) {
        returned[i]->dwFlags.fetch_and(~MHDR_INQUEUE, std::memory_order_acq_rel);
        returned[i]->dwFlags.fetch_or(MHDR_DONE, std::memory_order_acq_rel);
        if (cb) cb(hPort, MIM_LONGDATA, inst, reinterpret_cast<uintptr_t>(returned[i]), 0);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT CLoopbackDriver::InClose(HMIDIPORT hPort) {
    Endpoint* e = EndpointOf(hPort, true);
    if (!e) return MMSYSERR_INVALHANDLE;
    Pair& p = *e->pPair;
    std::unique_lock<std::mutex> lock(p.mutex);
    p.bInStarted = false;
    p.idle.wait(lock, [&p] { return p.nDelivering == 0; });
    // Buffers still queued are forgotten: the owner frees them after closing.
    if (p.pFilling) p.pFilling->dwFlags.fetch_and(~MHDR_INQUEUE, std::memory_order_acq_rel);
    p.pFilling = nullptr;
    while (MIDIHDR* h = p.inQueue.Pop()) h->dwFlags.fetch_and(~MHDR_INQUEUE, std::memory_order_acq_rel);
    p.bInOpen = false;
    p.pfnIn = nullptr;
    p.pInInstance = nullptr;
    return MMSYSERR_NOERROR;
}

bool CLoopbackDriver::PeerSend(uint32_t uPort, const uint8_t* pData, size_t nLength) {
    Pair* pp = PairAt(uPort);
    if (!pp || (!pData && nLength)) return false;
    Pair& p = *pp;
    if (p.faults.m_bPeerSilent || !p.bPresent) return false;
    std::lock_guard<std::mutex> sending(p.sendMutex);
    std::unique_lock<std::mutex> lock(p.mutex);
    if (!p.bInStarted) return false;
    ++p.nDelivering;
    size_t off = 0;
    while (off < nLength) {
        MIDIHDR* h = p.pFilling;
        if (!h) {
            h = p.inQueue.Pop();
            if (!h) {
                p.nLostBytes += nLength - off;
                break;
            }
            h->dwBytesRecorded = 0;
            p.pFilling = h;
        }
        MidiCallback cb = p.pfnIn;
        void* inst = p.pInInstance;
        lock.unlock();
        // Fill up to the end of the buffer or up to and including the next F7.
        uint32_t room = h->dwBufferLength - h->dwBytesRecorded;
        size_t take = 0;
        bool bEnd = false;
        while (take < room && off + take < nLength) {
            uint8_t by = pData[off + take++];
            if (by == 0xF7) {
                bEnd = true;
                break;
            }
        }
        std::memcpy(h->lpData + h->dwBytesRecorded, pData + off, take);
        h->dwBytesRecorded += static_cast<uint32_t>(take);
        off += take;
        bool bReturn = bEnd || h->dwBytesRecorded == h->dwBufferLength;
        if (bReturn) {
            h->dwFlags.fetch_and(~MHDR_INQUEUE, std::memory_order_acq_rel);
            h->dwFlags.fetch_or(MHDR_DONE, std::memory_order_acq_rel);
        }
        lock.lock();
        if (bReturn) {
            p.pFilling = nullptr;
            lock.unlock();
            if (cb) cb(reinterpret_cast<HMIDIPORT>(&p.inEnd), MIM_LONGDATA, inst, reinterpret_cast<uintptr_t>(h), 0);
            lock.lock();
        }
        if (!p.bInStarted) {
            p.nLostBytes += nLength - off;
            break;
        }
    }
    --p.nDelivering;
    bool bAll = off == nLength;
    lock.unlock();
    p.idle.notify_all();
    return bAll;
}

bool CLoopbackDriver::PeerSendShort(uint32_t uPort, uint32_t dwMsg) {
    Pair* pp = PairAt(uPort);
    if (!pp) return false;
    Pair& p = *pp;
    if (p.faults.m_bPeerSilent || !p.bPresent) return false;
    std::lock_guard<std::mutex> sending(p.sendMutex);
    std::unique_lock<std::mutex> lock(p.mutex);
    if (!p.bInStarted) return false;
    ++p.nDelivering;
    MidiCallback cb = p.pfnIn;
    void* inst = p.pInInstance;
    lock.unlock();
    if (cb) cb(reinterpret_cast<HMIDIPORT>(&p.inEnd), MIM_DATA, inst, dwMsg, 0);
    lock.lock();
    --p.nDelivering;
    lock.unlock();
    p.idle.notify_all();
    return true;
}

// ---- output ----

MMRESULT CLoopbackDriver::OutOpen(HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance) {
    if (!phPort) return MMSYSERR_INVALPARAM;
    *phPort = nullptr;
    Pair* p = ListedAt(uPort);
    if (!p) return MMSYSERR_BADDEVICEID;
    if (p->faults.m_bFailOutOpen) return MMSYSERR_ERROR;
    std::lock_guard<std::mutex> lock(p->mutex);
    if (p->bOutOpen) return MMSYSERR_ALLOCATED;
    p->bOutOpen = true;
    p->pfnOut = pfnCallback;
    p->pOutInstance = pInstance;
    p->held = HeaderQueue{};
    *phPort = reinterpret_cast<HMIDIPORT>(&p->outEnd);
    return MMSYSERR_NOERROR;
}

MMRESULT CLoopbackDriver::OutPrepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr) {
    Endpoint* e = EndpointOf(hPort, false);
    if (!e) return MMSYSERR_INVALHANDLE;
    if (e->pPair->faults.m_bFailOutPrepare) return MMSYSERR_NOMEM;
    return CMidiDriver::OutPrepareHeader(hPort, pHdr);
}

CLoopbackDriver::Completion CLoopbackDriver::BeginCompleteLocked(Pair& p, MIDIHDR* pHdr) {
    // Counted under the same lock that decided the header is with the port, so that
    // OutClose (which waits for the count to fall to zero) cannot slip in between.
    ++p.nCompleting;
    ++p.nSentLong;
    return Completion{pHdr, p.faults.m_bPeerSilent || !p.bPresent ? nullptr : p.pPeer, p.pfnOut, p.pOutInstance};
}

void CLoopbackDriver::Complete(Pair& p, const Completion& c) {
    // Called with completeMutex held by the caller; the state mutex is not held.
    if (c.pPeer) c.pPeer->OnPeerReceive(c.pHdr->lpData, c.pHdr->dwBufferLength);
    c.pHdr->dwFlags.fetch_and(~MHDR_INQUEUE, std::memory_order_acq_rel);
    c.pHdr->dwFlags.fetch_or(MHDR_DONE, std::memory_order_acq_rel);
    if (c.pfnCallback)
        c.pfnCallback(reinterpret_cast<HMIDIPORT>(&p.outEnd), MOM_DONE, c.pInstance, reinterpret_cast<uintptr_t>(c.pHdr),
                      0);
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        --p.nCompleting;
    }
    p.idle.notify_all();
}

MMRESULT CLoopbackDriver::OutLongMsg(HMIDIPORT hPort, MIDIHDR* pHdr) {
    Endpoint* e = EndpointOf(hPort, false);
    if (!e || !pHdr) return MMSYSERR_INVALHANDLE;
    Pair& p = *e->pPair;
    if (!(pHdr->dwFlags.load(std::memory_order_acquire) & MHDR_PREPARED)) return MIDIERR_UNPREPARED;
    if (p.faults.m_bRefuseLongMsg) return MIDIERR_NOTREADY;
    Completion c;
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        if (!p.bOutOpen) return MMSYSERR_INVALHANDLE;
        pHdr->dwFlags.fetch_and(~MHDR_DONE, std::memory_order_acq_rel);
        pHdr->dwFlags.fetch_or(MHDR_INQUEUE, std::memory_order_acq_rel);
        // Once one completion is held, later ones queue behind it to keep the order.
        if (p.faults.m_bHoldCompletions || p.held.count > 0) {
            if (!p.held.Push(pHdr)) {
                pHdr->dwFlags.fetch_and(~MHDR_INQUEUE, std::memory_order_acq_rel);
                return MIDIERR_NOTREADY;
            }
            return MMSYSERR_NOERROR;
        }
        c = BeginCompleteLocked(p, pHdr);
    }
    std::lock_guard<std::mutex> order(m_completeMutex);
    Complete(p, c);
    return MMSYSERR_NOERROR;
}

size_t CLoopbackDriver::HeldCompletions(uint32_t uPort) {
    Pair* p = PairAt(uPort);
    if (!p) return 0;
    std::lock_guard<std::mutex> lock(p->mutex);
    return p->held.count;
}

size_t CLoopbackDriver::ReleaseCompletions(uint32_t uPort, size_t nCount) {
    Pair* pp = PairAt(uPort);
    if (!pp) return 0;
    Pair& p = *pp;
    std::lock_guard<std::mutex> order(m_completeMutex);
    size_t n = 0;
    while (n < nCount) {
        Completion c;
        {
            std::lock_guard<std::mutex> lock(p.mutex);
            MIDIHDR* h = p.held.Pop();
            if (!h) break;
            c = BeginCompleteLocked(p, h);
        }
        Complete(p, c);
        ++n;
    }
    return n;
}

MMRESULT CLoopbackDriver::OutShortMsg(HMIDIPORT hPort, uint32_t dwMsg) {
    Endpoint* e = EndpointOf(hPort, false);
    if (!e) return MMSYSERR_INVALHANDLE;
    Pair& p = *e->pPair;
    CLoopbackPeer* peer;
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        if (!p.bOutOpen) return MMSYSERR_INVALHANDLE;
        peer = p.faults.m_bPeerSilent || !p.bPresent ? nullptr : p.pPeer;
        ++p.nCompleting;
    }
    if (peer) peer->OnPeerReceiveShort(dwMsg);
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        --p.nCompleting;
    }
    p.idle.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT CLoopbackDriver::OutClose(HMIDIPORT hPort) {
    Endpoint* e = EndpointOf(hPort, false);
    if (!e) return MMSYSERR_INVALHANDLE;
    Pair& p = *e->pPair;
    std::unique_lock<std::mutex> lock(p.mutex);
    // Held completions are dropped: their buffers go back to the owner unsent.
    while (MIDIHDR* h = p.held.Pop()) h->dwFlags.fetch_and(~MHDR_INQUEUE, std::memory_order_acq_rel);
    p.idle.wait(lock, [&p] { return p.nCompleting == 0; });
    p.bOutOpen = false;
    p.pfnOut = nullptr;
    p.pOutInstance = nullptr;
    return MMSYSERR_NOERROR;
}

// ---- observations ----

size_t CLoopbackDriver::QueuedInputBuffers(uint32_t uPort) {
    Pair* p = PairAt(uPort);
    if (!p) return 0;
    std::lock_guard<std::mutex> lock(p->mutex);
    return p->inQueue.count + (p->pFilling ? 1 : 0);
}

uint64_t CLoopbackDriver::LostInputBytes(uint32_t uPort) {
    Pair* p = PairAt(uPort);
    if (!p) return 0;
    std::lock_guard<std::mutex> lock(p->mutex);
    return p->nLostBytes;
}

bool CLoopbackDriver::IsInputStarted(uint32_t uPort) {
    Pair* p = PairAt(uPort);
    if (!p) return false;
    std::lock_guard<std::mutex> lock(p->mutex);
    return p->bInStarted;
}

bool CLoopbackDriver::IsInputOpen(uint32_t uPort) {
    Pair* p = PairAt(uPort);
    if (!p) return false;
    std::lock_guard<std::mutex> lock(p->mutex);
    return p->bInOpen;
}

bool CLoopbackDriver::IsOutputOpen(uint32_t uPort) {
    Pair* p = PairAt(uPort);
    if (!p) return false;
    std::lock_guard<std::mutex> lock(p->mutex);
    return p->bOutOpen;
}

uint64_t CLoopbackDriver::SentLongMessages(uint32_t uPort) {
    Pair* p = PairAt(uPort);
    if (!p) return 0;
    std::lock_guard<std::mutex> lock(p->mutex);
    return p->nSentLong;
}
