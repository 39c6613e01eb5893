#pragma once
// Follows the MIDI system's port lists. The platforms' port APIs (RtMidi among them)
// send no notice when a port comes or goes, so a worker thread lists both directions
// every interval, or when a change source (JACK's registrations) says so, and counts
// each change; whoever shows the lists compares the count
// with the one it last acted on, which costs one atomic load. Listing never runs on
// the caller's thread, so a slow MIDI system cannot stall an interface.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/PortDevice.h"
#include "midi/platform/Event.h"
#include "midi/platform/MidiDriver.h"

// Both directions of one listing: names and the device behind each port.
struct CPortLists {
    std::vector<std::string> m_ins, m_outs;
    std::vector<qz::CPortDevice> m_inDevices, m_outDevices;
    bool operator==(const CPortLists&) const = default;
};

// Something that tells the watch when the lists may have changed (JACK's port
// registrations), so that it lists then rather than on a short interval.
class CPortChangeSource {
public:
    virtual ~CPortChangeSource() = default;
    // False once it can tell no more (its server went away): the interval takes over.
    virtual bool IsAlive() const = 0;
};

class CPortWatch {
public:
    static constexpr uint32_t kDefaultIntervalMs = 500;  // a change shows within 1 s with a 100 ms reader
    // With a live change source the lists are still read this often, in case a notice is missed.
    static constexpr uint32_t kFallbackIntervalMs = 5000;
    // A program registers its ports one by one: the listing waits for the rest.
    static constexpr uint32_t kSettleMs = 50;

    explicit CPortWatch(CMidiDriver* pDriver = nullptr, uint32_t nIntervalMs = kDefaultIntervalMs);
    ~CPortWatch();
    CPortWatch(const CPortWatch&) = delete;
    CPortWatch& operator=(const CPortWatch&) = delete;

    void Start();
    void Stop();
    bool IsRunning() const { return m_thread.joinable(); }

    // Lists both directions now (the worker's step; tests call it); true when either
    // list differs from the previous listing.
    bool CheckNow();
    // Changes seen so far (the first listing counts as one).
    uint32_t Generation() const { return m_nGeneration.load(std::memory_order_acquire); }
    // The names of the last listing.
    std::vector<std::string> Inputs() const;
    std::vector<std::string> Outputs() const;
    // The last listing whole (a device whose aliases changed counts as a change too).
    CPortLists Lists() const;
    uint64_t Listings() const { return m_nListings.load(std::memory_order_relaxed); }

    // Takes a change source (any time, from any thread); it calls NotifyChange.
    void SetChangeSource(std::unique_ptr<CPortChangeSource> pSource);
    // The lists may have changed: the worker lists after kSettleMs. Any thread.
    void NotifyChange() { m_changed.Set(); }

private:
    void WorkerMain();
    bool HasLiveSource() const;

    CMidiDriver* m_pDriver;
    uint32_t m_nIntervalMs;
    mutable std::mutex m_mutex;  // the two lists; CheckNow runs one at a time under m_checkMutex
    std::mutex m_checkMutex;
    CPortLists m_lists;
    bool m_bListed = false;
    std::atomic<uint32_t> m_nGeneration{0};
    std::atomic<uint64_t> m_nListings{0};
    CEvent m_stop{true, false};
    CEvent m_changed{false, false, m_stop};
    mutable std::mutex m_sourceMutex;
    std::unique_ptr<CPortChangeSource> m_pSource;
    std::thread m_thread;
};
