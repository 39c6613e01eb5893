#pragma once
// Events that another thread reports, kept for a test to wait on and look at.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

template <class TEvent>
class CEventRecorder {
public:
    void Record(TEvent event) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_events.push_back(std::move(event));
        }
        m_cv.notify_all();
    }
    // Waits until pred(events so far) holds; false when the time ran out first.
    template <class Pred>
    bool WaitUntil(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [&] { return pred(m_events); });
    }
    // Waits until at least n events were recorded; false when the time ran out first.
    bool WaitCount(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        return WaitUntil([n](const std::vector<TEvent>& events) { return events.size() >= n; }, timeout);
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events.size();
    }
    std::vector<TEvent> Events() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.clear();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<TEvent> m_events;
};
