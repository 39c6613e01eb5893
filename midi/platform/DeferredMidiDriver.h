#pragma once
// A driver opened on a worker thread while its owner goes on (a window builds its
// widgets meanwhile); the first call that needs it waits until it is open. Starting a
// MIDI system takes milliseconds (a JACK client, an ALSA probe that fails) that need
// not hold up the rest of a program's start.
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/platform/MidiDriver.h"

template <class TDriver>
class CDeferredMidiDriver final : public CMidiDriver {
public:
    using Opener = std::function<std::unique_ptr<TDriver>()>;

    // The opener runs at once on its own thread; it must never return null.
    explicit CDeferredMidiDriver(Opener fnOpen) : m_opening(std::async(std::launch::async, std::move(fnOpen))) {}
    // Waits for the opener, so nothing it made outlives this object unowned.
    ~CDeferredMidiDriver() override { Driver(); }
    CDeferredMidiDriver(const CDeferredMidiDriver&) = delete;
    CDeferredMidiDriver& operator=(const CDeferredMidiDriver&) = delete;

    // The opened driver; the first call from any thread waits for it.
    TDriver& Driver() {
        std::call_once(m_once, [this] { m_pDriver = m_opening.get(); });
        return *m_pDriver;
    }

    uint32_t InGetNumDevs() override { return Driver().InGetNumDevs(); }
    MMRESULT InGetDevName(uint32_t uPort, std::string& strName) override { return Driver().InGetDevName(uPort, strName); }
    MMRESULT InGetDevAliases(uint32_t uPort, std::vector<std::string>& aliases) override {
        return Driver().InGetDevAliases(uPort, aliases);
    }
    uint32_t OutGetNumDevs() override { return Driver().OutGetNumDevs(); }
    MMRESULT OutGetDevName(uint32_t uPort, std::string& strName) override {
        return Driver().OutGetDevName(uPort, strName);
    }
    MMRESULT OutGetDevAliases(uint32_t uPort, std::vector<std::string>& aliases) override {
        return Driver().OutGetDevAliases(uPort, aliases);
    }
    MMRESULT InOpen(HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance) override {
        return Driver().InOpen(phPort, uPort, pfnCallback, pInstance);
    }
    MMRESULT InPrepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr) override { return Driver().InPrepareHeader(hPort, pHdr); }
    MMRESULT InUnprepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr) override {
        return Driver().InUnprepareHeader(hPort, pHdr);
    }
    MMRESULT InAddBuffer(HMIDIPORT hPort, MIDIHDR* pHdr) override { return Driver().InAddBuffer(hPort, pHdr); }
    MMRESULT InStart(HMIDIPORT hPort) override { return Driver().InStart(hPort); }
    MMRESULT InStop(HMIDIPORT hPort) override { return Driver().InStop(hPort); }
    MMRESULT InReset(HMIDIPORT hPort) override { return Driver().InReset(hPort); }
    MMRESULT InClose(HMIDIPORT hPort) override { return Driver().InClose(hPort); }
    MMRESULT OutOpen(HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance) override {
        return Driver().OutOpen(phPort, uPort, pfnCallback, pInstance);
    }
    MMRESULT OutPrepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr) override { return Driver().OutPrepareHeader(hPort, pHdr); }
    MMRESULT OutUnprepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr) override {
        return Driver().OutUnprepareHeader(hPort, pHdr);
    }
    MMRESULT OutLongMsg(HMIDIPORT hPort, MIDIHDR* pHdr) override { return Driver().OutLongMsg(hPort, pHdr); }
    MMRESULT OutShortMsg(HMIDIPORT hPort, uint32_t dwMsg) override { return Driver().OutShortMsg(hPort, dwMsg); }
    MMRESULT OutClose(HMIDIPORT hPort) override { return Driver().OutClose(hPort); }

private:
    std::future<std::unique_ptr<TDriver>> m_opening;
    std::once_flag m_once;
    std::unique_ptr<TDriver> m_pDriver;
};
