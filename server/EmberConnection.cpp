#include "server/EmberConnection.h"

#include "server/ember/S101Encoder.h"

CEmberConnection::CEmberConnection(asio::ip::tcp::socket socket, ConsumerId nConsumer, std::string strAddress,
                                   IOwner& owner, size_t nMaxQueuedBytes)
    : m_socket(std::move(socket)),
      m_nConsumer(nConsumer),
      m_strAddress(std::move(strAddress)),
      m_owner(owner),
      m_nMaxQueued(nMaxQueuedBytes) {}

void CEmberConnection::Start() {
    asio::error_code ec;
    m_socket.set_option(asio::ip::tcp::no_delay(true), ec);  // replies are small and awaited
    Read();
}

void CEmberConnection::Read() {
    m_socket.async_read_some(asio::buffer(m_readBuffer),
                             [self = shared_from_this()](const asio::error_code& ec, size_t n) {
                                 if (self->m_bClosed) return;
                                 if (ec) {
                                     self->Close(ec == asio::error::eof ? "closed by the consumer" : ec.message());
                                     return;
                                 }
                                 self->m_decoder.Feed(self->m_readBuffer.data(), n);
                                 if (!self->m_bClosed) self->Read();
                             });
}

void CEmberConnection::OnEmberMessage(const uint8_t* pData, size_t nLength, uint8_t) {
    if (!m_bClosed) m_owner.OnConsumerMessage(m_nConsumer, pData, nLength);
}

void CEmberConnection::OnKeepAliveRequest(uint8_t bySlot) {
    std::vector<uint8_t> frame;
    qz::ember::AppendS101KeepAliveResponse(frame, bySlot);
    Queue(std::move(frame));
}

void CEmberConnection::Send(const std::vector<uint8_t>& ber) {
    if (ber.empty()) return;
    std::vector<uint8_t> frames;
    qz::ember::AppendS101Message(frames, ber.data(), ber.size());
    Queue(std::move(frames));
}

void CEmberConnection::Queue(std::vector<uint8_t> frames) {
    if (m_bClosed || frames.empty()) return;
    m_nQueued += frames.size();
    if (m_nQueued > m_nMaxQueued) {
        Close("it reads too slowly (" + std::to_string(m_nQueued) + " bytes waiting)");
        return;
    }
    m_queue.push_back(std::move(frames));
    if (!m_bWriting) WriteNext();
}

void CEmberConnection::WriteNext() {
    if (m_queue.empty() || m_bClosed) {
        m_bWriting = false;
        return;
    }
    m_bWriting = true;
    asio::async_write(m_socket, asio::buffer(m_queue.front()),
                      [self = shared_from_this()](const asio::error_code& ec, size_t) {
                          if (self->m_bClosed) return;
                          if (ec) {
                              self->Close(ec.message());
                              return;
                          }
                          self->m_nQueued -= self->m_queue.front().size();
                          self->m_queue.pop_front();
                          self->WriteNext();
                      });
}

void CEmberConnection::Close(const std::string& strWhy, bool bQuiet) {
    if (m_bClosed) return;
    m_bClosed = true;
    asio::error_code ec;
    m_socket.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    m_socket.close(ec);
    m_queue.clear();
    m_nQueued = 0;
    if (bQuiet) return;
    // Told from the io_context, never from inside the owner's own call into this connection.
    asio::post(m_socket.get_executor(), [self = shared_from_this(), strWhy] {
        self->m_owner.OnConsumerClosed(self->m_nConsumer, strWhy);
    });
}
