#pragma once
// Test side of a driver port: receive buffers to queue, and a callback that records
// what the driver reports, in order.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "midi/platform/MidiDriver.h"

template <size_t N, size_t Size>
struct CBuffers {
    std::array<std::array<uint8_t, Size>, N> m_aData{};
    std::array<MIDIHDR, N> m_aHdr;
    CBuffers() {
        for (size_t i = 0; i < N; ++i) {
            m_aHdr[i].lpData = m_aData[i].data();
            m_aHdr[i].dwBufferLength = Size;
        }
    }
    MIDIHDR* operator[](size_t i) { return &m_aHdr[i]; }
};

class CPortRecorder {
public:
    struct Event {
        uint32_t m_uMsg = 0;
        HMIDIPORT m_hPort = nullptr;
        uint32_t m_dwShort = 0;      // MIM_DATA
        MIDIHDR* m_pHdr = nullptr;   // MIM_LONGDATA, MOM_DONE
        std::vector<uint8_t> m_aby;  // MIM_LONGDATA: the bytes recorded
    };

    static void Callback(HMIDIPORT hPort, uint32_t uMsg, void* pInstance, uintptr_t param1, uintptr_t /*param2*/) {
        auto* self = static_cast<CPortRecorder*>(pInstance);
        Event e;
        e.m_uMsg = uMsg & 0xFFFF;
        e.m_hPort = hPort;
        if (e.m_uMsg == MIM_DATA) {
            e.m_dwShort = static_cast<uint32_t>(param1);
        } else if (e.m_uMsg == MIM_LONGDATA || e.m_uMsg == MOM_DONE) {
            e.m_pHdr = reinterpret_cast<MIDIHDR*>(param1);
            if (e.m_uMsg == MIM_LONGDATA) e.m_aby.assign(e.m_pHdr->lpData, e.m_pHdr->lpData + e.m_pHdr->dwBytesRecorded);
        }
        {
            std::lock_guard<std::mutex> lock(self->m_mutex);
            self->m_events.push_back(std::move(e));
        }
        self->m_cv.notify_all();
    }

    // Waits (generously) until at least n events of kind uMsg were recorded.
    bool WaitCount(uint32_t uMsg, size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [&] { return CountLocked(uMsg) >= n; });
    }

    std::vector<Event> Events(uint32_t uMsg) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<Event> out;
        for (auto& e : m_events)
            if (e.m_uMsg == uMsg) out.push_back(e);
        return out;
    }

    std::vector<Event> All() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }

    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.clear();
    }

private:
    size_t CountLocked(uint32_t uMsg) const {
        size_t n = 0;
        for (auto& e : m_events) n += e.m_uMsg == uMsg;
        return n;
    }

    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Event> m_events;
};
