#include "midi/platform/JackPortEvents.h"

#include <jack/jack.h>

#include "midi/platform/RtMidiDriver.h"

CJackPortEvents::CJackPortEvents(const std::string& strClientName, CPortWatch& watch) : m_watch(watch) {
    m_pClient = jack_client_open(strClientName.c_str(), JackNoStartServer, nullptr);
    if (!m_pClient) return;
    // Callbacks are set before activation, which JACK requires; without a process
    // callback the client is not woken every period.
    if (jack_set_port_registration_callback(m_pClient, &OnPortRegistration, this) != 0 ||
        jack_set_port_rename_callback(m_pClient, &OnPortRename, this) != 0) {
        jack_client_close(m_pClient);
        m_pClient = nullptr;
        return;
    }
    jack_on_shutdown(m_pClient, &OnShutdown, this);
    if (jack_activate(m_pClient) != 0) {
        jack_client_close(m_pClient);
        m_pClient = nullptr;
        return;
    }
    m_bAlive.store(true, std::memory_order_release);
}

CJackPortEvents::~CJackPortEvents() {
    // After close returns no callback runs. A client whose server died is closed too:
    // libjack frees it without talking to the server.
    if (m_pClient) jack_client_close(m_pClient);
}

void CJackPortEvents::OnPortRegistration(uint32_t, int, void* pArg) {
    static_cast<CJackPortEvents*>(pArg)->m_watch.NotifyChange();
}

void CJackPortEvents::OnPortRename(uint32_t, const char*, const char*, void* pArg) {
    static_cast<CJackPortEvents*>(pArg)->m_watch.NotifyChange();
}

void CJackPortEvents::OnShutdown(void* pArg) {
    auto* p = static_cast<CJackPortEvents*>(pArg);
    p->m_bAlive.store(false, std::memory_order_release);
    p->m_watch.NotifyChange();  // the ports are gone, and the interval takes over
}

bool qz::FollowJackPortEvents(CPortWatch& watch, const CRtMidiDriver& driver) {
    if (driver.ApiName() != "JACK" || !driver.IsAvailable()) return false;
    auto pEvents = std::make_unique<CJackPortEvents>(driver.ClientName() + "-watch", watch);
    if (!pEvents->IsAlive()) return false;
    watch.SetChangeSource(std::move(pEvents));
    return true;
}
