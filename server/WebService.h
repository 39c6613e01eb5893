#pragma once
// The rack behind the web page and its JSON API: the model, the writes waiting for their
// read-back and the pages' event streams, all on one thread of its own (an io_context run
// by one thread). The HTTP side (server/WebApi) calls in from its pool threads; each call
// is handed to that thread and waited for, so the sessions are driven from one place.
//
// Every 100 ms the sections that changed are pushed to every stream, and nothing when
// nothing changed. A write is answered with the value the device read back, or after
// CReadBackWaits::kReadBackMs with the value it still holds.
#include <asio.hpp>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "protocol/device/Rack.h"
#include "server/EventStream.h"
#include "server/ReadBackWaits.h"
#include "server/WebModel.h"

class CWebService {
public:
    using Json = nlohmann::json;
    using LogFn = std::function<void(const std::string&)>;
    static constexpr size_t kMaxStreams = 32;

    struct CReply {
        int nStatus = 200;
        Json body;
    };

    // rack must outlive the service. bLogUnits: say when units come and go (when no
    // Ember+ provider does). log takes one line at a time, from the service's thread.
    CWebService(CRack& rack, LogFn log, bool bLogUnits);
    ~CWebService();
    CWebService(const CWebService&) = delete;
    CWebService& operator=(const CWebService&) = delete;

    void Start();
    // Closes every stream and answers every waiting write.
    void Stop();
    void PostRackEvent(const CRackEvent& event);

    // Any thread; each waits for the service's thread.
    Json Units();
    CReply Unit(const std::string& strUnit);
    // strClient ("ADDR:PORT") is logged with every write.
    CReply SetSetting(const std::string& strClient, const std::string& strUnit, const std::string& strName,
                      const Json& value);
    CReply SavePreset(const std::string& strClient, const std::string& strUnit, int nPreset, const Json& fields);
    CReply WriteFlash(const std::string& strClient, const std::string& strUnit);
    // The stream first gets the whole rack ("snapshot"), then the changes ("unit"). False
    // when kMaxStreams are open.
    bool AddStream(const std::shared_ptr<CEventStream>& pStream);
    size_t StreamCount() const { return m_nStreams.load(); }

private:
    using Promise = std::shared_ptr<std::promise<CReply>>;
    struct CPending;

    CReply Await(const std::function<void(Promise)>& start);
    // Service thread only.
    void Tick();
    void Publish();
    void OnRackEvent(const CRackEvent& event);
    void StartWrite(Promise promise, const std::shared_ptr<CPending>& pWrite);
    void Answer(const Promise& promise, const CPending& write, bool bReadBack);

    CRack& m_rack;
    LogFn m_log;
    bool m_bLogUnits;
    asio::io_context m_io;
    asio::steady_timer m_tick{m_io};
    CWebModel m_model{m_rack};
    CReadBackWaits m_waits;
    std::vector<std::shared_ptr<CEventStream>> m_streams;
    std::atomic<size_t> m_nStreams{0};
    std::thread m_thread;
};
