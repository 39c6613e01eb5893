#pragma once
// One page's event stream: the service thread queues events, the HTTP pool thread that
// serves the stream takes them. A reader that falls too far behind (a browser that
// stopped reading) is closed rather than queued for without end.
//
// Threads: Push and Close from any thread; Next from the one thread serving the stream.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>

class CEventStream {
public:
    static constexpr size_t kMaxQueuedBytes = 1024 * 1024;

    explicit CEventStream(size_t nMaxQueuedBytes = kMaxQueuedBytes) : m_nMaxQueued(nMaxQueuedBytes) {}

    // Queues one Server-Sent Event ("event: NAME", "data: JSON"); closes the stream when
    // the reader is too far behind.
    void Push(const std::string& strEvent, const std::string& strData);
    void Close();
    bool IsClosed() const;

    // Waits up to timeout for queued events and takes them all; empty when none came.
    // False once the stream is closed.
    bool Next(std::string& strOut, std::chrono::milliseconds timeout);

private:
    const size_t m_nMaxQueued;
    mutable std::mutex m_mutex;
    std::condition_variable m_ready;
    std::string m_queued;
    bool m_bClosed = false;
};
