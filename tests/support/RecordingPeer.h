#pragma once
// A loopback peer that records every long message the program sends, for tests.
#include <chrono>
#include <cstdint>
#include <vector>

#include "midi/platform/LoopbackDriver.h"
#include "support/EventRecorder.h"

class CRecordingPeer : public CLoopbackPeer, public CEventRecorder<std::vector<uint8_t>> {
public:
    using Bytes = std::vector<uint8_t>;

    void OnPeerReceive(const uint8_t* pData, size_t nLength) override { Record(Bytes(pData, pData + nLength)); }
    // Waits until at least n messages arrived (or the timeout passed); returns the count.
    size_t WaitFor(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        WaitCount(n, timeout);
        return Count();
    }
    std::vector<Bytes> Messages() { return Events(); }
};
