#include "cli/ServeCommand.h"

#include <unistd.h>

#include <charconv>
#include <mutex>
#include <ostream>
#include <thread>

#include "cli/CliApp.h"
#include "cli/CliOptions.h"
#include "midi/platform/SystemMidiDriver.h"
#include "protocol/Rack.h"
#include "server/EmberService.h"
#include "server/ServiceAnnouncer.h"

namespace {

// Hands the rack's events to the service's thread.
class CRackForwarder : public CRackListener {
public:
    void OnRackEvent(const CRackEvent& event) override {
        if (m_pService) m_pService->PostRackEvent(event);
    }
    CEmberService* m_pService = nullptr;
};

std::string HostName() {
    char sz[256] = {};
    return gethostname(sz, sizeof sz - 1) == 0 ? std::string(sz) : std::string("localhost");
}

}  // namespace

bool CServeCommand::ParseEndpoint(const CCliOptions& o, std::string& strAddress, uint16_t& nPort,
                                  std::string& strError) {
    const std::string text = o.m_strEmber.empty() ? kDefaultEndpoint : o.m_strEmber;
    std::string strPort = text;
    strAddress = "127.0.0.1";
    if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
        strAddress = text.substr(0, colon);
        strPort = text.substr(colon + 1);
        if (strAddress.size() >= 2 && strAddress.front() == '[' && strAddress.back() == ']')
            strAddress = strAddress.substr(1, strAddress.size() - 2);
    }
    unsigned n = 0;
    auto [p, ec] = std::from_chars(strPort.data(), strPort.data() + strPort.size(), n);
    CAddressFilter probe;
    if (strPort.empty() || ec != std::errc() || p != strPort.data() + strPort.size() || n == 0 || n > 65535 ||
        strAddress.empty() || !probe.Parse(strAddress, strError)) {
        strError = "--ember takes [ADDR:]PORT, e.g. 9000 or 0.0.0.0:9000 or [::]:9000";
        return false;
    }
    nPort = static_cast<uint16_t>(n);
    CAddressFilter allow;
    if (!o.m_strAllow.empty() && !allow.Parse(o.m_strAllow, strError)) return false;
    if (!CAddressFilter::IsLoopback(strAddress) && o.m_strAllow.empty()) {
        strError = "--ember " + text + " listens beyond this machine: give --allow CIDR[,CIDR...] (Ember+ has no "
                   "authentication)";
        return false;
    }
    return true;
}

CServeCommand::CServeCommand(const CCliOptions& options, CMidiDriver& driver, CSystemMidiDriver* pMidi,
                             std::ostream& out, std::ostream& err, const std::atomic<bool>* pStop)
    : m_options(options), m_driver(driver), m_pMidi(pMidi), m_out(out), m_err(err), m_pStop(pStop) {}

int CServeCommand::Run(const char* pszVersion) {
    CEmberService::COptions options;
    std::string strError;
    if (!ParseEndpoint(m_options, options.strAddress, options.nPort, strError)) {
        m_err << "qz81kt: " << strError << "\n";
        return kExitUsage;
    }
    if (!m_options.m_strAllow.empty()) options.allow.Parse(m_options.m_strAllow, strError);
    options.provider = {pszVersion, HostName(), m_options.m_bReadOnly};
    std::mutex logMutex;
    auto log = [&](const std::string& strLine) {
        std::lock_guard<std::mutex> lock(logMutex);
        m_err << strLine << std::endl;
    };

    CRackForwarder forwarder;
    CRack rack(m_driver, &forwarder);
    CEmberService service(rack, options, log);
    forwarder.m_pService = &service;
    if (!service.Start(strError)) {
        m_err << "qz81kt: " << strError << "\n";
        return kExitPort;
    }
    log("qz81kt: Ember+ provider on " + options.strAddress + " port " + std::to_string(service.Port()) +
        (m_options.m_bReadOnly ? " (read-only)" : ""));
    CServiceAnnouncer announcer(log);
    announcer.Start("QZ-81KT DXP on " + options.provider.strHost, service.Port());
    if (m_pMidi) m_pMidi->FollowPortChanges(rack.PortWatch());
    rack.Start();
    while (!(m_pStop && m_pStop->load())) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    announcer.Stop();
    rack.Stop();  // no more events
    service.Stop();
    forwarder.m_pService = nullptr;
    return kExitInterrupted;
}
