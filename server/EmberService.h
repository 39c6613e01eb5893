#pragma once
// The Ember+ provider on TCP: the acceptor, the consumers' connections and the rack's
// tree, all on one thread of its own (one io_context run by one thread is the strand:
// the tree, the processor and every connection are touched only there).
//
// Safety: peers outside the address filter are closed at once; at most kMaxConsumers
// at a time; each connection's queued output is bounded (a slow reader is dropped, the
// service goes on); incoming messages are bounded by the S101 decoder.
#include <asio.hpp>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "protocol/device/Rack.h"
#include "server/AddressFilter.h"
#include "server/EmberConnection.h"
#include "server/RackProvider.h"

class CEmberService : private CRackProvider::ISink, private CEmberConnection::IOwner {
public:
    using ConsumerId = qz::ember::ConsumerId;
    static constexpr size_t kMaxConsumers = 64;
    static constexpr size_t kMaxQueuedBytes = 4 * 1024 * 1024;

    struct COptions {
        std::string strAddress = "127.0.0.1";
        uint16_t nPort = 9000;  // 0: any free port (tests)
        CAddressFilter allow;
        CRackProvider::COptions provider;
        size_t nMaxQueuedBytes = kMaxQueuedBytes;
    };
    using LogFn = std::function<void(const std::string&)>;

    // rack must outlive the service; log takes one line at a time, from the service's thread.
    CEmberService(CRack& rack, COptions options, LogFn log);
    ~CEmberService();
    CEmberService(const CEmberService&) = delete;
    CEmberService& operator=(const CEmberService&) = delete;

    // Binds and starts the thread; false with a one-line reason when the address cannot be bound.
    bool Start(std::string& strError);
    void Stop();
    uint16_t Port() const { return m_nBoundPort; }

    // Any thread: hands a rack event to the service's thread.
    void PostRackEvent(const CRackEvent& event);
    // Any thread: runs fn on the service's thread and waits for it (tests inspect the tree).
    void RunOnServiceThread(const std::function<void(const CRackProvider&)>& fn);
    size_t ConsumerCount() const { return m_nConsumers.load(); }

private:
    // CRackProvider::ISink
    void SendTo(ConsumerId nConsumer, const std::vector<uint8_t>& ber) override;
    void Broadcast(const std::vector<uint8_t>& ber) override;
    std::string ConsumerAddress(ConsumerId nConsumer) const override;
    void Log(const std::string& strLine) override { m_log(strLine); }
    // CEmberConnection::IOwner
    void OnConsumerMessage(ConsumerId nConsumer, const uint8_t* pData, size_t nLength) override;
    void OnConsumerClosed(ConsumerId nConsumer, const std::string& strWhy) override;

    void Accept();
    void ScheduleTick();

    COptions m_options;
    LogFn m_log;
    asio::io_context m_io;
    asio::ip::tcp::acceptor m_acceptor{m_io};
    asio::steady_timer m_tick{m_io};
    CRackProvider m_provider;
    std::map<ConsumerId, std::shared_ptr<CEmberConnection>> m_connections;
    ConsumerId m_nNextConsumer = 1;
    std::atomic<size_t> m_nConsumers{0};
    uint16_t m_nBoundPort = 0;
    std::thread m_thread;
};
