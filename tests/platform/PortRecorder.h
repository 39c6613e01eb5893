#pragma once
// Test side of a driver port: receive buffers to queue, and a callback that records
// what the driver reports, in order.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <utility>
#include <vector>

#include "midi/platform/MidiDriver.h"
#include "support/EventRecorder.h"

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

struct CPortEvent {
    uint32_t m_uMsg = 0;
    HMIDIPORT m_hPort = nullptr;
    uint32_t m_dwShort = 0;      // MIM_DATA
    MIDIHDR* m_pHdr = nullptr;   // MIM_LONGDATA, MOM_DONE
    std::vector<uint8_t> m_aby;  // MIM_LONGDATA: the bytes recorded
};

class CPortRecorder : public CEventRecorder<CPortEvent> {
public:
    using Event = CPortEvent;

    static void Callback(HMIDIPORT hPort, uint32_t uMsg, void* pInstance, uintptr_t param1, uintptr_t /*param2*/) {
        Event e;
        e.m_uMsg = uMsg & 0xFFFF;
        e.m_hPort = hPort;
        auto* pRec = static_cast<CPortRecorder*>(pInstance);
        if (e.m_uMsg == MIM_DATA) {
            e.m_dwShort = static_cast<uint32_t>(param1);
            if (e.m_dwShort == kProbe && pRec->m_bSkipProbes.load()) return;
        } else if (e.m_uMsg == MIM_LONGDATA || e.m_uMsg == MOM_DONE) {
            e.m_pHdr = reinterpret_cast<MIDIHDR*>(param1);
            if (e.m_uMsg == MIM_LONGDATA) e.m_aby.assign(e.m_pHdr->lpData, e.m_pHdr->lpData + e.m_pHdr->dwBytesRecorded);
        }
        pRec->Record(std::move(e));
    }

    // Active sensing is what the fixtures send until a port gets through; once through,
    // a probe that was only late must not pass for the test's first message.
    static constexpr uint32_t kProbe = 0xFE;
    void SkipProbes(bool bSkip) { m_bSkipProbes = bSkip; }

    // Waits (generously) until at least n events of kind uMsg were recorded.
    bool WaitCount(uint32_t uMsg, size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        auto of = [uMsg](const Event& e) { return e.m_uMsg == uMsg; };
        auto enough = [&](const std::vector<Event>& v) { return size_t(std::count_if(v.begin(), v.end(), of)) >= n; };
        return WaitUntil(enough, timeout);
    }
    std::vector<Event> Events(uint32_t uMsg) {
        std::vector<Event> out;
        for (auto& e : All())
            if (e.m_uMsg == uMsg) out.push_back(std::move(e));
        return out;
    }
    std::vector<Event> All() { return CEventRecorder::Events(); }

private:
    std::atomic<bool> m_bSkipProbes{false};
};
