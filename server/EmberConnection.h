#pragma once
// One consumer's TCP connection: S101 frames in (keep-alives answered at once, even
// between the packets of a long message), whole EmBER messages to the owner, framed
// messages out through a bounded queue. A peer that reads too slowly to take what is
// queued for it (more than the limit waiting) is disconnected; the service goes on.
//
// Runs on the service's io_context thread only.
#include <asio.hpp>
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "server/ember/EmberProcessor.h"
#include "server/ember/S101Decoder.h"

class CEmberConnection : public std::enable_shared_from_this<CEmberConnection>,
                         private qz::ember::CS101Decoder::ISink {
public:
    using ConsumerId = qz::ember::ConsumerId;

    class IOwner {
    public:
        virtual void OnConsumerMessage(ConsumerId nConsumer, const uint8_t* pData, size_t nLength) = 0;
        // The connection has ended (peer gone, read error, output over its limit).
        virtual void OnConsumerClosed(ConsumerId nConsumer, const std::string& strWhy) = 0;

    protected:
        ~IOwner() = default;
    };

    CEmberConnection(asio::ip::tcp::socket socket, ConsumerId nConsumer, std::string strAddress, IOwner& owner,
                     size_t nMaxQueuedBytes);

    void Start();
    // Frames one EmBER message and queues it.
    void Send(const std::vector<uint8_t>& ber);
    // Closes the socket; the owner is told once, later, unless bQuiet.
    void Close(const std::string& strWhy, bool bQuiet = false);

    const std::string& Address() const { return m_strAddress; }
    size_t QueuedBytes() const { return m_nQueued; }

private:
    void OnEmberMessage(const uint8_t* pData, size_t nLength, uint8_t bySlot) override;
    void OnKeepAliveRequest(uint8_t bySlot) override;
    void OnKeepAliveResponse() override {}

    void Read();
    void Queue(std::vector<uint8_t> frames);
    void WriteNext();

    asio::ip::tcp::socket m_socket;
    ConsumerId m_nConsumer;
    std::string m_strAddress;
    IOwner& m_owner;
    size_t m_nMaxQueued;
    qz::ember::CS101Decoder m_decoder{*this};
    std::array<uint8_t, 8192> m_readBuffer{};
    std::deque<std::vector<uint8_t>> m_queue;  // the front one is being written
    size_t m_nQueued = 0;
    bool m_bWriting = false;
    bool m_bClosed = false;
};
