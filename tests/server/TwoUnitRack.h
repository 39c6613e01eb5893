#pragma once
// Two emulated converters, UNIT-A and UNIT-B, on the loopback driver, each behind a peer
// that records what reaches it; and a listener that hands the rack's events to a service.
#include <gtest/gtest.h>

#include "emulator/LoopbackEmulator.h"
#include "protocol/device/Rack.h"
#include "support/ForwardingPeer.h"

template <class TService>
struct CForwardTo : CRackListener {
    void OnRackEvent(const CRackEvent& e) override {
        if (pService) pService->PostRackEvent(e);
    }
    TService* pService = nullptr;
};

struct CTwoUnitRack : ::testing::Test {
    CLoopbackDriver driver;
    CLoopbackEmulator a{driver, "QZ-81KT A"}, b{driver, "QZ-81KT B"};
    CForwardingPeer peerA{a.Emulator()}, peerB{b.Emulator()};

    void SetUp() override {
        ASSERT_TRUE(a.Emulator().SetProductID("UNIT-A") && b.Emulator().SetProductID("UNIT-B"));
        driver.SetPeer(a.Port(), &peerA);
        driver.SetPeer(b.Port(), &peerB);
        ASSERT_TRUE(a.Start() && b.Start());
    }
    // The writes (DT1 frames) that reached the peer's device.
    static size_t Writes(CForwardingPeer& peer) {
        size_t n = 0;
        for (const auto& m : peer.Messages()) n += m.size() > 9 && m[6] == qz::kCmdDT1;
        return n;
    }
};
