#pragma once
// A loopback peer that records every message the program sends, for tests.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "midi/platform/LoopbackDriver.h"

class CRecordingPeer : public CLoopbackPeer {
public:
    using Bytes = std::vector<uint8_t>;

    void OnPeerReceive(const uint8_t* pData, size_t nLength) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_messages.emplace_back(pData, pData + nLength);
        }
        m_cv.notify_all();
    }
    void OnPeerReceiveShort(uint32_t dwMsg) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_shorts.push_back(dwMsg);
        }
        m_cv.notify_all();
    }
    // Waits until at least n messages arrived (or the timeout passed); returns the count.
    size_t WaitFor(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait_for(lock, timeout, [&] { return m_messages.size() >= n; });
        return m_messages.size();
    }
    std::vector<Bytes> Messages() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages;
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_messages.size();
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.clear();
        m_shorts.clear();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Bytes> m_messages;
    std::vector<uint32_t> m_shorts;
};
