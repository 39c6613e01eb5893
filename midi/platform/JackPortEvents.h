#pragma once
// JACK's port registrations as notices for a CPortWatch. RtMidi tells nothing of ports
// that come and go, and listing them every half second through it costs about 0.4 % of
// a core; one libjack client with no process callback hears every registration for
// about 0.01 %.
#include <atomic>
#include <memory>
#include <string>

#include "midi/PortWatch.h"

class CRtMidiDriver;
struct _jack_client;

class CJackPortEvents : public CPortChangeSource {
public:
    // Opens the client (no server is started); IsAlive is false when that failed.
    CJackPortEvents(const std::string& strClientName, CPortWatch& watch);
    ~CJackPortEvents() override;
    CJackPortEvents(const CJackPortEvents&) = delete;
    CJackPortEvents& operator=(const CJackPortEvents&) = delete;

    bool IsAlive() const override { return m_bAlive.load(std::memory_order_acquire); }

private:
    static void OnPortRegistration(uint32_t uPort, int nRegistered, void* pArg);
    static void OnPortRename(uint32_t uPort, const char* pszOld, const char* pszNew, void* pArg);
    static void OnShutdown(void* pArg);

    CPortWatch& m_watch;
    _jack_client* m_pClient = nullptr;
    std::atomic<bool> m_bAlive{false};
};

namespace qz {
// When the driver's ports are JACK's, gives the watch a CJackPortEvents; true when the
// watch now follows JACK's notices. Otherwise the watch keeps its interval.
bool FollowJackPortEvents(CPortWatch& watch, const CRtMidiDriver& driver);
}  // namespace qz
