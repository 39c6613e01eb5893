#include "server/ServiceAnnouncer.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>

bool CServiceAnnouncer::Start(const std::string& strName, uint16_t nPort) {
    Stop();
    m_strName = strName;
    m_nPort = nPort;
    m_pPoll = avahi_threaded_poll_new();
    if (!m_pPoll) {
        m_log("qz81kt: cannot announce " + std::string(kServiceType) + ": no memory for Avahi");
        return false;
    }
    int nError = 0;
    // The callback may run inside avahi_client_new, before m_pClient is set: it uses its argument.
    m_pClient = avahi_client_new(avahi_threaded_poll_get(m_pPoll), AvahiClientFlags(0),
                                 [](AvahiClient* c, AvahiClientState s, void* u) { OnClientState(c, s, u); }, this,
                                 &nError);
    if (!m_pClient) {
        m_log("qz81kt: " + std::string(kServiceType) + " not announced: " +
              (nError == AVAHI_ERR_NO_DAEMON ? std::string("no avahi-daemon runs") : avahi_strerror(nError)));
        avahi_threaded_poll_free(m_pPoll);
        m_pPoll = nullptr;
        return false;
    }
    avahi_threaded_poll_start(m_pPoll);
    return true;
}

void CServiceAnnouncer::Stop() {
    if (!m_pPoll) return;
    avahi_threaded_poll_stop(m_pPoll);
    if (m_pClient) avahi_client_free(m_pClient);  // frees the group too
    avahi_threaded_poll_free(m_pPoll);
    m_pClient = nullptr;
    m_pGroup = nullptr;
    m_pPoll = nullptr;
}

void CServiceAnnouncer::OnClientState(AvahiClient* pClient, int eState, void* pUser) {
    auto* self = static_cast<CServiceAnnouncer*>(pUser);
    if (eState == AVAHI_CLIENT_S_RUNNING) self->Register(pClient);
    else if (eState == AVAHI_CLIENT_FAILURE)
        self->m_log("qz81kt: " + std::string(kServiceType) + " announcement ended: " +
                    avahi_strerror(avahi_client_errno(pClient)));
    else if ((eState == AVAHI_CLIENT_S_COLLISION || eState == AVAHI_CLIENT_S_REGISTERING) && self->m_pGroup)
        avahi_entry_group_reset(self->m_pGroup);
}

void CServiceAnnouncer::OnGroupState(AvahiEntryGroup* pGroup, int eState, void* pUser) {
    auto* self = static_cast<CServiceAnnouncer*>(pUser);
    if (eState != AVAHI_ENTRY_GROUP_COLLISION) return;
    // Another host uses the name: take "name #2" and so on.
    char* pszNew = avahi_alternative_service_name(self->m_strName.c_str());
    self->m_strName = pszNew;
    avahi_free(pszNew);
    self->Register(avahi_entry_group_get_client(pGroup));
}

void CServiceAnnouncer::Register(AvahiClient* pClient) {
    if (!m_pGroup)
        m_pGroup = avahi_entry_group_new(
            pClient, [](AvahiEntryGroup* g, AvahiEntryGroupState s, void* u) { OnGroupState(g, s, u); }, this);
    if (!m_pGroup) return;
    avahi_entry_group_reset(m_pGroup);
    const int nError = avahi_entry_group_add_service(m_pGroup, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                     AvahiPublishFlags(0), m_strName.c_str(), kServiceType, nullptr,
                                                     nullptr, m_nPort, nullptr);
    if (nError == 0 && avahi_entry_group_commit(m_pGroup) == 0)
        m_log("qz81kt: announced as '" + m_strName + "' (" + kServiceType + ")");
    else
        m_log("qz81kt: " + std::string(kServiceType) + " not announced: " + avahi_strerror(nError));
}
