#include "midi/platform/MidiDriver.h"

#include "midi/platform/LoopbackDriver.h"

namespace {
std::atomic<CMidiDriver*> g_pDefaultDriver{nullptr};

CMidiDriver& BuiltInDriver() {
    static CLoopbackDriver driver;
    return driver;
}
}  // namespace

void qz::MarkMidiHdrDone(MIDIHDR* pHdr) {
    pHdr->dwFlags.fetch_and(~MHDR_INQUEUE, std::memory_order_acq_rel);
    pHdr->dwFlags.fetch_or(MHDR_DONE, std::memory_order_acq_rel);
}

void qz::CompleteSend(std::unique_lock<std::mutex>& lock, HMIDIPORT hPort, MIDIHDR* pHdr, MidiCallback pfn,
                  void* pInstance, int& nCompleting) {
    ++nCompleting;
    lock.unlock();
    MarkMidiHdrDone(pHdr);
    if (pfn) pfn(hPort, MOM_DONE, pInstance, reinterpret_cast<uintptr_t>(pHdr), 0);
    lock.lock();
    --nCompleting;
}

MMRESULT CMidiDriver::InGetDevAliases(uint32_t /*uPort*/, std::vector<std::string>& aliases) {
    aliases.clear();
    return MMSYSERR_NOERROR;
}

MMRESULT CMidiDriver::OutGetDevAliases(uint32_t /*uPort*/, std::vector<std::string>& aliases) {
    aliases.clear();
    return MMSYSERR_NOERROR;
}

// Preparing only marks the header: no backend here needs more than that.
MMRESULT CMidiDriver::InPrepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr) {
    if (!hPort || !pHdr || !pHdr->lpData) return MMSYSERR_INVALPARAM;
    pHdr->dwFlags.fetch_or(MHDR_PREPARED, std::memory_order_acq_rel);
    return MMSYSERR_NOERROR;
}

MMRESULT CMidiDriver::InUnprepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr) {
    if (!hPort || !pHdr) return MMSYSERR_INVALPARAM;
    if (pHdr->dwFlags.load(std::memory_order_acquire) & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    pHdr->dwFlags.fetch_and(~MHDR_PREPARED, std::memory_order_acq_rel);
    return MMSYSERR_NOERROR;
}

MMRESULT CMidiDriver::OutPrepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr) { return InPrepareHeader(hPort, pHdr); }

MMRESULT CMidiDriver::OutUnprepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr) { return InUnprepareHeader(hPort, pHdr); }

CMidiDriver& qz::DefaultMidiDriver() {
    CMidiDriver* p = g_pDefaultDriver.load(std::memory_order_acquire);
    return p ? *p : BuiltInDriver();
}

void qz::SetDefaultMidiDriver(CMidiDriver* pDriver) { g_pDefaultDriver.store(pDriver, std::memory_order_release); }
