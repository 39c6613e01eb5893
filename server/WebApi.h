#pragma once
// The web page and its JSON API over HTTP (or HTTPS) through cpp-httplib: the page's
// files, the rack's units, their status, settings and presets, the writes, and one
// event stream per open page. Everything the device is asked goes through the web
// service (server/WebService), on its thread.
//
// Safety: peers outside the address filter are refused before any handler runs; with a
// token every /api request needs "Authorization: Bearer TOKEN" (compared in constant
// time, never logged); writes need a JSON body (so no page of another site can send one
// without the browser asking first) of at most kMaxBodyBytes; --read-only refuses them.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "server/AddressFilter.h"
#include "server/WebService.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

class CWebApi {
public:
    static constexpr size_t kMaxBodyBytes = 16 * 1024;
    // Pool threads: one per open event stream, and some for the requests beside them.
    static constexpr size_t kThreads = CWebService::kMaxStreams + 8;

    struct COptions {
        std::string strAddress = "127.0.0.1";
        uint16_t nPort = 8080;  // 0: any free port (tests)
        CAddressFilter allow;
        std::string strToken;  // empty: none asked for
        std::string strCertFile, strKeyFile;  // both given: HTTPS
        bool bReadOnly = false;
        std::string strVersion;
    };
    using LogFn = std::function<void(const std::string&)>;

    // service must outlive the API; log takes one line at a time, from any thread.
    CWebApi(CWebService& service, COptions options, LogFn log);
    ~CWebApi();
    CWebApi(const CWebApi&) = delete;
    CWebApi& operator=(const CWebApi&) = delete;

    // Binds and starts listening; false with a one-line reason.
    bool Start(std::string& strError);
    void Stop();
    uint16_t Port() const { return m_nBoundPort; }
    bool IsHttps() const { return !m_options.strCertFile.empty(); }

    // Whether two texts are equal, in a time that does not depend on where they differ.
    static bool SameSecret(const std::string& a, const std::string& b);

private:
    void Routes();
    void ServeEvents(const httplib::Request& req, httplib::Response& res);
    // False, with the answer set, when the request may not go on.
    bool Authorized(const httplib::Request& req, httplib::Response& res) const;
    bool Writable(const httplib::Request& req, httplib::Response& res) const;
    static std::string Client(const httplib::Request& req);

    CWebService& m_service;
    COptions m_options;
    LogFn m_log;
    std::unique_ptr<httplib::Server> m_pServer;
    std::thread m_thread;
    uint16_t m_nBoundPort = 0;
};
