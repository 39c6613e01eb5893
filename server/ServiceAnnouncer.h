#pragma once
// Announces the provider as _ember._tcp through the Avahi daemon while it runs. Without
// a daemon (containers, CI) it says so in one line and the service goes on unannounced.
#include <cstdint>
#include <functional>
#include <string>

struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiThreadedPoll;

class CServiceAnnouncer {
public:
    using LogFn = std::function<void(const std::string&)>;
    static constexpr const char* kServiceType = "_ember._tcp";

    explicit CServiceAnnouncer(LogFn log) : m_log(std::move(log)) {}
    ~CServiceAnnouncer() { Stop(); }
    CServiceAnnouncer(const CServiceAnnouncer&) = delete;
    CServiceAnnouncer& operator=(const CServiceAnnouncer&) = delete;

    // False when nothing will be announced (reason logged).
    bool Start(const std::string& strName, uint16_t nPort);
    void Stop();

private:
    static void OnClientState(AvahiClient* pClient, int eState, void* pUser);
    static void OnGroupState(AvahiEntryGroup* pGroup, int eState, void* pUser);
    // On Avahi's thread.
    void Register(AvahiClient* pClient);

    LogFn m_log;
    std::string m_strName;
    uint16_t m_nPort = 0;
    AvahiThreadedPoll* m_pPoll = nullptr;
    AvahiClient* m_pClient = nullptr;
    AvahiEntryGroup* m_pGroup = nullptr;
};
