#include "server/EmberService.h"

#include <future>

using asio::ip::tcp;

CEmberService::CEmberService(CRack& rack, COptions options, LogFn log)
    : m_options(std::move(options)), m_log(std::move(log)), m_provider(rack, *this, m_options.provider) {}

CEmberService::~CEmberService() { Stop(); }

bool CEmberService::Start(std::string& strError) {
    asio::error_code ec;
    const asio::ip::address address = asio::ip::make_address(m_options.strAddress, ec);
    if (ec) {
        strError = "'" + m_options.strAddress + "' is not an IP address";
        return false;
    }
    const tcp::endpoint endpoint(address, m_options.nPort);
    m_acceptor.open(endpoint.protocol(), ec);
    if (!ec) m_acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) m_acceptor.bind(endpoint, ec);
    if (!ec) m_acceptor.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        strError = "cannot listen on " + m_options.strAddress + " port " + std::to_string(m_options.nPort) + ": " +
                   ec.message();
        m_acceptor.close(ec);
        return false;
    }
    m_nBoundPort = m_acceptor.local_endpoint(ec).port();
    Accept();
    ScheduleTick();
    m_thread = std::thread([this] { m_io.run(); });
    return true;
}

void CEmberService::Stop() {
    if (!m_thread.joinable()) return;
    m_io.stop();
    m_thread.join();
    // Close everything here, now that no other thread runs, and let the aborted
    // operations finish so that no handler outlives its socket.
    m_io.restart();
    asio::error_code ec;
    m_acceptor.close(ec);
    m_tick.cancel();
    for (auto& [nConsumer, pConnection] : m_connections) pConnection->Close("the service stops", true);
    m_io.poll();
    m_connections.clear();
    m_nConsumers = 0;
}

void CEmberService::Accept() {
    m_acceptor.async_accept([this](const asio::error_code& ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted) return;
        if (!ec) {
            asio::error_code epEc;
            const tcp::endpoint peer = socket.remote_endpoint(epEc);
            const std::string strAddress = epEc ? "?" : peer.address().to_string();
            const std::string strPeer = strAddress + ":" + std::to_string(epEc ? 0 : peer.port());
            if (epEc || !m_options.allow.Allows(strAddress)) {
                m_log("qz81kt: refused a connection from " + strPeer + " (not in --allow)");
                socket.close(epEc);
            } else if (m_connections.size() >= kMaxConsumers) {
                m_log("qz81kt: refused a connection from " + strPeer + ": " + std::to_string(kMaxConsumers) +
                      " consumers already");
                socket.close(epEc);
            } else {
                const ConsumerId nConsumer = m_nNextConsumer++;
                auto pConnection = std::make_shared<CEmberConnection>(std::move(socket), nConsumer, strPeer, static_cast<IOwner&>(*this),
                                                                      m_options.nMaxQueuedBytes);
                m_connections[nConsumer] = pConnection;
                m_nConsumers = m_connections.size();
                m_provider.AddConsumer(nConsumer);
                pConnection->Start();
            }
        }
        Accept();
    });
}

void CEmberService::ScheduleTick() {
    m_tick.expires_after(std::chrono::milliseconds(CRack::kTickMs));
    m_tick.async_wait([this](const asio::error_code& ec) {
        if (ec) return;
        m_provider.Tick();
        ScheduleTick();
    });
}

void CEmberService::PostRackEvent(const CRackEvent& event) {
    asio::post(m_io, [this, event] { m_provider.OnRackEvent(event); });
}

void CEmberService::RunOnServiceThread(const std::function<void(const CRackProvider&)>& fn) {
    std::promise<void> done;
    asio::post(m_io, [&] {
        fn(m_provider);
        done.set_value();
    });
    done.get_future().wait();
}

void CEmberService::SendTo(ConsumerId nConsumer, const std::vector<uint8_t>& ber) {
    auto it = m_connections.find(nConsumer);
    if (it != m_connections.end()) it->second->Send(ber);
}

void CEmberService::Broadcast(const std::vector<uint8_t>& ber) {
    // Sending may close a slow connection; its removal is posted, so the map stays as it is here.
    for (auto& [nConsumer, pConnection] : m_connections) pConnection->Send(ber);
}

std::string CEmberService::ConsumerAddress(ConsumerId nConsumer) const {
    auto it = m_connections.find(nConsumer);
    return it == m_connections.end() ? "consumer " + std::to_string(nConsumer) : it->second->Address();
}

void CEmberService::OnConsumerMessage(ConsumerId nConsumer, const uint8_t* pData, size_t nLength) {
    m_provider.HandleMessage(nConsumer, pData, nLength);
}

void CEmberService::OnConsumerClosed(ConsumerId nConsumer, const std::string& strWhy) {
    auto it = m_connections.find(nConsumer);
    if (it == m_connections.end()) return;
    if (strWhy.find("slowly") != std::string::npos) m_log("qz81kt: closed " + it->second->Address() + ": " + strWhy);
    m_provider.RemoveConsumer(nConsumer);
    m_connections.erase(it);
    m_nConsumers = m_connections.size();
}
