#pragma once
// Writes sent to a unit whose answer waits for the device's read-back: each is settled
// once the block's reply has been stored again, or after kReadBackMs without one (or
// when the unit's ports are gone), and then told to its callback. Shared by the Ember+
// provider and the web API, so both answer with what the device holds.
//
// Not thread-safe: it belongs to one service thread, which calls Settle on each tick and
// after each change of blocks.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "protocol/wire/DeviceBlocks.h"

class CRack;

class CReadBackWaits {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr uint32_t kReadBackMs = 2000;
    // bReadBack: the block arrived again; false: the time ran out or the unit went.
    using DoneFn = std::function<void(bool bReadBack)>;

    // nOwner groups waits for Drop (an Ember+ consumer); 0 for none.
    void Add(uint64_t nOwner, const std::string& strUnit, qz::EBlock eBlock, DoneFn done,
             Clock::time_point now = Clock::now());
    void Settle(const CRack& rack, Clock::time_point now = Clock::now());
    // Forgets the owner's waits without calling them.
    void Drop(uint64_t nOwner);
    // Settles every wait as not read back (the service stops).
    void Abandon();
    size_t Count() const { return m_waits.size(); }

private:
    struct CWait {
        uint64_t nOwner;
        std::string strUnit;
        qz::EBlock eBlock;
        Clock::time_point deadline;
        DoneFn done;
    };
    std::vector<CWait> m_waits;
};
