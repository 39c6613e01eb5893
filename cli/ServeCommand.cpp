#include "cli/ServeCommand.h"

#include <unistd.h>

#include <charconv>
#include <fstream>
#include <memory>
#include <mutex>
#include <ostream>
#include <thread>

#include "cli/CliApp.h"
#include "cli/CliOptions.h"
#include "midi/platform/SystemMidiDriver.h"
#include "protocol/device/Rack.h"
#include "server/EmberService.h"
#include "server/ServiceAnnouncer.h"
#include "server/WebApi.h"
#include "server/WebService.h"

namespace {

// Hands the rack's events to the services' threads.
class CRackForwarder : public CRackListener {
public:
    void OnRackEvent(const CRackEvent& event) override {
        if (m_pEmber) m_pEmber->PostRackEvent(event);
        if (m_pWeb) m_pWeb->PostRackEvent(event);
    }
    CEmberService* m_pEmber = nullptr;
    CWebService* m_pWeb = nullptr;
};

std::string HostName() {
    char sz[256] = {};
    return gethostname(sz, sizeof sz - 1) == 0 ? std::string(sz) : std::string("localhost");
}

// The token: the file's first line without surrounding blanks; empty when unreadable or blank.
std::string ReadToken(const std::string& strFile) {
    std::ifstream in(strFile);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    const size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

bool CServeCommand::ParseEndpoint(const std::string& text, const char* pszOption, CEndpoint& endpoint,
                                  std::string& strError) {
    std::string strPort = text;
    endpoint.strAddress = "127.0.0.1";
    if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
        endpoint.strAddress = text.substr(0, colon);
        strPort = text.substr(colon + 1);
        if (endpoint.strAddress.size() >= 2 && endpoint.strAddress.front() == '[' && endpoint.strAddress.back() == ']')
            endpoint.strAddress = endpoint.strAddress.substr(1, endpoint.strAddress.size() - 2);
    }
    unsigned n = 0;
    auto [p, ec] = std::from_chars(strPort.data(), strPort.data() + strPort.size(), n);
    CAddressFilter probe;
    if (strPort.empty() || ec != std::errc() || p != strPort.data() + strPort.size() || n == 0 || n > 65535 ||
        endpoint.strAddress.empty() || !probe.Parse(endpoint.strAddress, strError)) {
        strError = std::string(pszOption) + " takes [ADDR:]PORT, e.g. 9000 or 0.0.0.0:9000 or [::]:9000";
        return false;
    }
    endpoint.nPort = static_cast<uint16_t>(n);
    return true;
}

bool CServeCommand::WantsEmber(const CCliOptions& o) { return !o.m_strEmber.empty() || !o.m_bHttp; }

bool CServeCommand::CheckOptions(const CCliOptions& o, std::string& strError) {
    CAddressFilter allow;
    if (!o.m_strAllow.empty() && !allow.Parse(o.m_strAllow, strError)) return false;
    CEndpoint endpoint;
    if (WantsEmber(o)) {
        const std::string text = o.m_strEmber.empty() ? kDefaultEndpoint : o.m_strEmber;
        if (!ParseEndpoint(text, "--ember", endpoint, strError)) return false;
        if (!CAddressFilter::IsLoopback(endpoint.strAddress) && o.m_strAllow.empty()) {
            strError = "--ember " + text + " listens beyond this machine: give --allow CIDR[,CIDR...] (Ember+ has no "
                       "authentication)";
            return false;
        }
    }
    if (!o.m_bHttp) {
        if (!o.m_strTokenFile.empty() || !o.m_strTlsCert.empty() || !o.m_strTlsKey.empty()) {
            strError = "--token-file, --tls-cert and --tls-key belong to --http";
            return false;
        }
        return true;
    }
    if (!ParseEndpoint(o.m_strHttp, "--http", endpoint, strError)) return false;
    if (o.m_strTlsCert.empty() != o.m_strTlsKey.empty()) {
        strError = "--tls-cert and --tls-key go together";
        return false;
    }
    if (!CAddressFilter::IsLoopback(endpoint.strAddress) && (o.m_strAllow.empty() || o.m_strTokenFile.empty())) {
        strError = "--http " + o.m_strHttp + " listens beyond this machine: give --allow CIDR[,CIDR...] and "
                   "--token-file FILE";
        return false;
    }
    return true;
}

CServeCommand::CServeCommand(const CCliOptions& options, CMidiDriver& driver, CSystemMidiDriver* pMidi,
                             std::ostream& out, std::ostream& err, const std::atomic<bool>* pStop)
    : m_options(options), m_driver(driver), m_pMidi(pMidi), m_out(out), m_err(err), m_pStop(pStop) {}

int CServeCommand::Run(const char* pszVersion) {
    std::string strError;
    if (!CheckOptions(m_options, strError)) {
        m_err << "qz81kt: " << strError << "\n";
        return kExitUsage;
    }
    CAddressFilter allow;
    if (!m_options.m_strAllow.empty()) allow.Parse(m_options.m_strAllow, strError);
    const std::string strHost = HostName();
    std::mutex logMutex;
    auto log = [&](const std::string& strLine) {
        std::lock_guard<std::mutex> lock(logMutex);
        m_err << strLine << std::endl;
    };
    const bool bEmber = WantsEmber(m_options);

    CRackForwarder forwarder;
    CRack rack(m_driver, &forwarder);
    std::unique_ptr<CEmberService> pEmber;
    std::unique_ptr<CServiceAnnouncer> pAnnouncer;
    if (bEmber) {
        CEmberService::COptions options;
        CEndpoint endpoint;
        ParseEndpoint(m_options.m_strEmber.empty() ? kDefaultEndpoint : m_options.m_strEmber, "--ember", endpoint,
                      strError);
        options.strAddress = endpoint.strAddress;
        options.nPort = endpoint.nPort;
        options.allow = allow;
        options.provider = {pszVersion, strHost, m_options.m_bReadOnly};
        pEmber = std::make_unique<CEmberService>(rack, options, log);
        if (!pEmber->Start(strError)) {
            m_err << "qz81kt: " << strError << "\n";
            return kExitPort;
        }
        forwarder.m_pEmber = pEmber.get();
        log("qz81kt: Ember+ provider on " + options.strAddress + " port " + std::to_string(pEmber->Port()) +
            (m_options.m_bReadOnly ? " (read-only)" : ""));
        pAnnouncer = std::make_unique<CServiceAnnouncer>(log);
        pAnnouncer->Start("QZ-81KT DXP on " + strHost, pEmber->Port());
    }
    std::unique_ptr<CWebService> pWeb;
    std::unique_ptr<CWebApi> pApi;
    if (m_options.m_bHttp) {
        CWebApi::COptions options;
        CEndpoint endpoint;
        ParseEndpoint(m_options.m_strHttp, "--http", endpoint, strError);
        options.strAddress = endpoint.strAddress;
        options.nPort = endpoint.nPort;
        options.allow = allow;
        options.bReadOnly = m_options.m_bReadOnly;
        options.strVersion = pszVersion;
        options.strCertFile = m_options.m_strTlsCert;
        options.strKeyFile = m_options.m_strTlsKey;
        if (!m_options.m_strTokenFile.empty() && (options.strToken = ReadToken(m_options.m_strTokenFile)).empty()) {
            m_err << "qz81kt: cannot read a token from " << m_options.m_strTokenFile << "\n";
            return kExitUsage;
        }
        pWeb = std::make_unique<CWebService>(rack, log, !bEmber);
        pApi = std::make_unique<CWebApi>(*pWeb, options, log);
        if (!pApi->Start(strError)) {
            m_err << "qz81kt: " << strError << "\n";
            return kExitPort;
        }
        pWeb->Start();
        forwarder.m_pWeb = pWeb.get();
        log(std::string("qz81kt: web page on ") + (pApi->IsHttps() ? "https://" : "http://") +
            (options.strAddress.find(':') != std::string::npos ? "[" + options.strAddress + "]" : options.strAddress) +
            ":" + std::to_string(pApi->Port()) + "/" + (m_options.m_bReadOnly ? " (read-only)" : "") +
            (options.strToken.empty() ? "" : " (token asked for)"));
    }
    if (m_pMidi) m_pMidi->FollowPortChanges(rack.PortWatch());
    rack.Start();
    while (!(m_pStop && m_pStop->load())) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (pAnnouncer) pAnnouncer->Stop();
    rack.Stop();  // no more events
    if (pApi) pWeb->Stop(), pApi->Stop();  // the streams end first, then the listener
    if (pEmber) pEmber->Stop();
    forwarder.m_pEmber = nullptr;
    forwarder.m_pWeb = nullptr;
    return kExitInterrupted;
}
