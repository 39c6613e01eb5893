#include "server/WebApi.h"

#include <httplib.h>

#include <algorithm>

#include "server/WebAssets.h"
#include "server/WebModel.h"

using Json = CWebService::Json;

namespace {

// Event streams: how long a quiet stream waits before a comment line proves the page is
// still reading (a page that went is noticed when that write fails).
constexpr auto kKeepAlive = std::chrono::seconds(5);

std::string Dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

void SendJson(httplib::Response& res, int nStatus, const Json& body) {
    res.status = nStatus;
    res.set_header("Cache-Control", "no-store");
    res.set_content(Dump(body), "application/json");
}

void SendReply(httplib::Response& res, const CWebService::CReply& reply) { SendJson(res, reply.nStatus, reply.body); }

void SendError(httplib::Response& res, int nStatus, const std::string& strWhy) {
    SendJson(res, nStatus, {{"error", strWhy}});
}

// The part of a unit's document a GET asks for, or 404.
void SendSection(httplib::Response& res, const CWebService::CReply& unit, const char* pszSection, int nPreset = -1) {
    if (unit.nStatus != 200) return SendReply(res, unit);
    const Json& section = unit.body[pszSection];
    if (nPreset < 0) return SendJson(res, 200, section);
    if (nPreset >= static_cast<int>(section.size())) return SendError(res, 404, "no preset " + std::to_string(nPreset));
    SendJson(res, 200, section[static_cast<size_t>(nPreset)]);
}

}  // namespace

CWebApi::CWebApi(CWebService& service, COptions options, LogFn log)
    : m_service(service), m_options(std::move(options)), m_log(std::move(log)) {}

CWebApi::~CWebApi() { Stop(); }

bool CWebApi::SameSecret(const std::string& a, const std::string& b) {
    // Every byte of the longer text is looked at whatever the other holds.
    const size_t n = std::max(a.size(), b.size());
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        diff |= static_cast<unsigned char>(x ^ y);
    }
    return diff == 0;
}

std::string CWebApi::Client(const httplib::Request& req) {
    return req.remote_addr + ":" + std::to_string(req.remote_port);
}

bool CWebApi::Start(std::string& strError) {
    if (IsHttps()) {
        auto pSsl = std::make_unique<httplib::SSLServer>(m_options.strCertFile.c_str(), m_options.strKeyFile.c_str());
        if (!pSsl->is_valid()) {
            strError = "cannot use the certificate " + m_options.strCertFile + " with the key " + m_options.strKeyFile;
            return false;
        }
        m_pServer = std::move(pSsl);
    } else {
        m_pServer = std::make_unique<httplib::Server>();
    }
    m_pServer->new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    m_pServer->set_payload_max_length(kMaxBodyBytes);
    m_pServer->set_tcp_nodelay(true);  // headers and body go out in separate writes: no 40 ms delayed-ACK stall
    m_pServer->set_keep_alive_timeout(2);
    m_pServer->set_read_timeout(5);
    m_pServer->set_write_timeout(5);
    Routes();
    const int nPort = m_options.nPort ? (m_pServer->bind_to_port(m_options.strAddress, m_options.nPort) ? m_options.nPort : -1)
                                      : m_pServer->bind_to_any_port(m_options.strAddress);
    if (nPort <= 0) {
        strError = "cannot listen on " + m_options.strAddress + " port " + std::to_string(m_options.nPort);
        m_pServer.reset();
        return false;
    }
    m_nBoundPort = static_cast<uint16_t>(nPort);
    m_thread = std::thread([this] { m_pServer->listen_after_bind(); });
    return true;
}

void CWebApi::Stop() {
    if (!m_thread.joinable()) return;
    m_pServer->stop();
    m_thread.join();
    m_pServer.reset();
}

bool CWebApi::Authorized(const httplib::Request& req, httplib::Response& res) const {
    if (m_options.strToken.empty()) return true;
    const std::string strHeader = req.get_header_value("Authorization");
    const std::string strPrefix = "Bearer ";
    if (strHeader.compare(0, strPrefix.size(), strPrefix) == 0 &&
        SameSecret(strHeader.substr(strPrefix.size()), m_options.strToken))
        return true;
    res.set_header("WWW-Authenticate", "Bearer");
    SendError(res, 401, strHeader.empty() ? "this server asks for its token" : "wrong token");
    m_log("qz81kt: refused a request from " + Client(req) + ": " +
          (strHeader.empty() ? "no token" : "wrong token"));
    return false;
}

bool CWebApi::Writable(const httplib::Request& req, httplib::Response& res) const {
    if (!Authorized(req, res)) return false;
    if (m_options.bReadOnly) {
        SendError(res, 403, "the server is read-only");
        m_log("qz81kt: refused a write from " + Client(req) + ": read-only");
        return false;
    }
    // A form of another site cannot send this type without the browser asking first.
    if (req.get_header_value("Content-Type").rfind("application/json", 0) != 0) {
        SendError(res, 415, "a write takes a JSON body (Content-Type: application/json)");
        return false;
    }
    return true;
}

void CWebApi::Routes() {
    httplib::Server& s = *m_pServer;
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (m_options.allow.Allows(req.remote_addr)) return httplib::Server::HandlerResponse::Unhandled;
        m_log("qz81kt: refused a request from " + Client(req) + " (not in --allow)");
        SendError(res, 403, "not allowed from this address");
        return httplib::Server::HandlerResponse::Handled;
    });
    s.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        SendError(res, 500, "the request could not be handled");
    });
    s.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty()) return;
        if (res.status == 413) return SendError(res, 413, "the body is larger than " + std::to_string(kMaxBodyBytes) + " bytes");
        if (req.path.rfind("/api/", 0) == 0) return SendError(res, res.status, "no such resource");
        res.set_content("Not found\n", "text/plain");
    });
    s.Get("/(|[A-Za-z0-9_.-]+)", [](const httplib::Request& req, httplib::Response& res) {
        const CWebAsset* pAsset = qz::FindWebAsset(req.path);
        if (!pAsset) return SendError(res, 404, "no such file");
        res.set_header("Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'");
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_content(reinterpret_cast<const char*>(pAsset->pData), pAsset->nSize, qz::WebAssetType(req.path));
    });
    s.Get("/api/schema", [this](const httplib::Request& req, httplib::Response& res) {
        if (!Authorized(req, res)) return;
        Json schema = CWebModel::Schema();
        schema["readOnly"] = m_options.bReadOnly;
        schema["version"] = m_options.strVersion;
        SendJson(res, 200, schema);
    });
    s.Get("/api/units", [this](const httplib::Request& req, httplib::Response& res) {
        if (Authorized(req, res)) SendJson(res, 200, m_service.Units());
    });
    const std::string strUnit = "/api/units/([A-Za-z0-9_]+)";
    s.Get(strUnit, [this](const httplib::Request& req, httplib::Response& res) {
        if (Authorized(req, res)) SendReply(res, m_service.Unit(req.matches[1]));
    });
    for (const char* pszSection : {"status", "settings", "presets"})
        s.Get(strUnit + "/" + pszSection, [this, pszSection](const httplib::Request& req, httplib::Response& res) {
            if (Authorized(req, res)) SendSection(res, m_service.Unit(req.matches[1]), pszSection);
        });
    s.Get(strUnit + "/presets/([0-9]{1,2})", [this](const httplib::Request& req, httplib::Response& res) {
        if (Authorized(req, res)) SendSection(res, m_service.Unit(req.matches[1]), "presets", std::stoi(req.matches[2]));
    });
    s.Put(strUnit + "/settings/([a-z0-9-]+)", [this](const httplib::Request& req, httplib::Response& res) {
        if (!Writable(req, res)) return;
        const Json body = Json::parse(req.body, nullptr, false);
        if (body.is_discarded() || !body.is_object() || !body.contains("value"))
            return SendError(res, 400, "the body must be JSON: {\"value\": …}");
        SendReply(res, m_service.SetSetting(Client(req), req.matches[1], req.matches[2], body["value"]));
    });
    s.Put(strUnit + "/presets/([0-9]{1,2})", [this](const httplib::Request& req, httplib::Response& res) {
        if (!Writable(req, res)) return;
        const Json body = Json::parse(req.body, nullptr, false);
        if (body.is_discarded() || !body.is_object() || !body.contains("fields"))
            return SendError(res, 400, "the body must be JSON: {\"fields\": {…}}");
        SendReply(res, m_service.SavePreset(Client(req), req.matches[1], std::stoi(req.matches[2]), body["fields"]));
    });
    s.Post(strUnit + "/write-flash", [this](const httplib::Request& req, httplib::Response& res) {
        if (Writable(req, res)) SendReply(res, m_service.WriteFlash(Client(req), req.matches[1]));
    });
    s.Get("/api/events", [this](const httplib::Request& req, httplib::Response& res) { ServeEvents(req, res); });
}

void CWebApi::ServeEvents(const httplib::Request& req, httplib::Response& res) {
    if (!Authorized(req, res)) return;
    auto pStream = std::make_shared<CEventStream>();
    if (!m_service.AddStream(pStream))
        return SendError(res, 503, std::to_string(CWebService::kMaxStreams) + " pages are open already");
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [pStream](size_t, httplib::DataSink& sink) {
            std::string strEvents;
            if (!pStream->Next(strEvents, kKeepAlive)) {
                sink.done();
                return true;
            }
            if (strEvents.empty()) strEvents = ": still here\n\n";
            return sink.write(strEvents.data(), strEvents.size());
        },
        [pStream](bool) { pStream->Close(); });
}
