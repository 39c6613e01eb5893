#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "midi/platform/FramedInput.h"

namespace {

struct Harness {
    std::mutex m_mutex;
    std::atomic<uint64_t> m_nLostBytes{0}, m_nLostMessages{0};
    CFramedInput m_input{m_mutex, m_nLostBytes, m_nLostMessages};
    std::vector<uint32_t> m_shorts;
    std::atomic<bool> m_bHold{false}, m_bInCallback{false};

    static void OnMidi(HMIDIPORT, uint32_t, void* pInstance, uintptr_t dwMsg, uintptr_t) {
        auto* h = static_cast<Harness*>(pInstance);
        h->m_bInCallback = true;
        while (h->m_bHold) std::this_thread::yield();
        h->m_shorts.push_back(static_cast<uint32_t>(dwMsg));
    }
    void Arrive(std::vector<uint8_t> aby) {
        CFramedInput::CArrival arrival(m_input);
        if (arrival) arrival.Put(aby.data(), aby.size());
    }
    void Do(char c) {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (c == 'S') m_input.Start(lock);
        if (c == 'P') m_input.Stop(lock);
        if (c == 'R') m_input.ResetForOpen();
        if (c == 'D' && m_input.ReadyToDeliver()) m_input.Deliver(lock, nullptr, &OnMidi, this);
    }
};

// Steps: S start, P stop, R reset for open, D deliver; 1 a note on, 2 its first two
// bytes, 3 a velocity byte alone, 4 a note off.
TEST(FramedInput, GateLetsBytesInOnlyWhileStarted) {
    const std::vector<std::vector<uint8_t>> arrivals = {{0x90, 0x40, 0x7F}, {0x90, 0x40}, {0x7F}, {0x80, 0x40, 0}};
    const struct { const char* m_pszSteps; std::vector<uint32_t> m_shorts; uint64_t m_nLost; } cases[] = {
        {"1SD", {}, 0},              // stopped: dropped, not lost
        {"S1D", {0x7F4090}, 0},
        {"S1PSD", {}, 3},            // waiting at the stop: lost
        {"S2DPS34D", {0x004080}, 0},  // a restart forgets the half message
        {"SR1D", {}, 0},             // an open shuts the gate
    };
    for (const auto& c : cases) {
        Harness h;
        for (const char* p = c.m_pszSteps; *p; ++p)
            if (*p >= '1' && *p <= '4') h.Arrive(arrivals[*p - '1']); else h.Do(*p);
        EXPECT_EQ(h.m_shorts, c.m_shorts) << c.m_pszSteps;
        EXPECT_EQ(h.m_nLostBytes.load(), c.m_nLost) << c.m_pszSteps;
    }
}

// Stop returns only once what holds the input has let go: an arrival in flight (its
// bytes then count as lost) or a delivery inside the owner's callback.
TEST(FramedInput, StopWaitsForArrivalsAndDelivery) {
    for (bool bDelivery : {false, true}) {
        Harness h;
        h.Do('S');
        std::atomic<bool> bRelease{false}, bHolding{false}, bStopped{false};
        if (bDelivery) h.Arrive({0x90, 0x40, 0x7F});
        h.m_bHold = bDelivery;
        std::thread holder([&] {
            if (bDelivery) return h.Do('D');
            CFramedInput::CArrival arrival(h.m_input);
            bHolding = true;
            while (!bRelease) std::this_thread::yield();
            arrival.Put(reinterpret_cast<const uint8_t*>("\x90\x40\x7F"), 3);
        });
        while (!(bDelivery ? h.m_bInCallback.load() : bHolding.load())) std::this_thread::yield();
        std::thread stopper([&] { h.Do('P'); bStopped = true; });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(bStopped) << bDelivery;
        bRelease = true;
        h.m_bHold = false;
        holder.join();
        stopper.join();
        EXPECT_EQ(h.m_nLostBytes.load(), bDelivery ? 0u : 3u) << bDelivery;
        EXPECT_EQ(h.m_shorts.size(), bDelivery ? 1u : 0u) << bDelivery;
    }
}

}  // namespace
