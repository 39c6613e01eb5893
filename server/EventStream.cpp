#include "server/EventStream.h"

void CEventStream::Push(const std::string& strEvent, const std::string& strData) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bClosed) return;
        // The data is one line of JSON: a newline inside it would end the event early.
        m_queued += "event: " + strEvent + "\ndata: " + strData + "\n\n";
        if (m_queued.size() > m_nMaxQueued) {
            m_bClosed = true;
            m_queued.clear();
        }
    }
    m_ready.notify_all();
}

void CEventStream::Close() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bClosed = true;
    }
    m_ready.notify_all();
}

bool CEventStream::IsClosed() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bClosed;
}

bool CEventStream::Next(std::string& strOut, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_ready.wait_for(lock, timeout, [&] { return m_bClosed || !m_queued.empty(); });
    if (m_bClosed) return false;
    strOut.swap(m_queued);
    m_queued.clear();
    return true;
}
