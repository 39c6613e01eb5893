// Proves that the send and receive paths allocate nothing per message once the ports
// are open: every heap allocation of the process is counted while frames go round.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#include "midi/platform/LoopbackDriver.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/device/DeviceImage.h"
#include "protocol/device/DeviceOwner.h"
#include "protocol/wire/QZ81KTMidiIn.h"
#include "protocol/wire/QZ81KTMidiOut.h"
#include "support/CountingOwner.h"

namespace {
std::atomic<long> g_nAllocations{0};
}

void* operator new(std::size_t n) {
    g_nAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    g_nAllocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

// Answers every request with one prebuilt status reply, as the device would.
class CEchoDevice : public CLoopbackPeer {
public:
    CEchoDevice(CLoopbackDriver& driver, uint32_t& port) : m_driver(driver), m_port(port) {
        uint8_t status[58] = {};
        m_nReplyLen = qz::BuildDT1(m_reply, sizeof m_reply, 0x7F, qz::kAddrStatus, status, sizeof status);
    }
    void OnPeerReceive(const uint8_t* pData, size_t nLength) override {
        if (nLength == qz::kRQ1Length && pData[6] == qz::kCmdRQ1) {
            ++m_nToggle;
            m_reply[10 + 17] = static_cast<uint8_t>(m_nToggle & 0x0F);  // a new timecode every time
            m_reply[m_nReplyLen - 2] = qz::FrameChecksum(m_reply + 7, m_nReplyLen - 9);
            m_driver.PeerSend(m_port, m_reply, m_nReplyLen);
        }
    }

private:
    CLoopbackDriver& m_driver;
    uint32_t& m_port;
    uint8_t m_reply[80];
    size_t m_nReplyLen;
    int m_nToggle = 0;
};

TEST(Allocation, NoneOnTheSendAndReceivePathsAfterOpen) {
    long probe = g_nAllocations.load();
    int* volatile pProbe = new int(1);
    delete pProbe;
    ASSERT_EQ(g_nAllocations.load(), probe + 1) << "the counting operator new is not in use";
    CLoopbackDriver driver;
    uint32_t port = 0;
    CEchoDevice device(driver, port);
    port = driver.AddPortPair("QZ-81KT Echo", &device);
    CCountingOwner owner(&driver);
    CMidiInPort<CQZ81KTMidiIn> in(&driver);
    in.m_pOwnerWnd = &owner;
    in.m_uDeviceID = port;
    owner.MidiOut().m_uDeviceID = port;
    ASSERT_EQ(in.Open(), 1);
    ASSERT_EQ(in.Start(), 1);
    ASSERT_EQ(owner.MidiOut().Open(), 1);
    ASSERT_EQ(owner.MidiOut().Start(), 1);

    auto roundTrips = [&](int n) {
        for (int i = 0; i < n; ++i) {
            int before = owner.Image().m_nStatusReplies.load();
            while (!qz::SendRQ1(owner.MidiOut(), 0x7F, qz::kAddrStatus, qz::kStatusSize)) std::this_thread::yield();
            while (owner.Image().m_nStatusReplies.load() == before) std::this_thread::yield();
        }
    };
    roundTrips(50);  // warm up
    long before = g_nAllocations.load();
    roundTrips(2000);
    uint8_t system[28] = {};
    for (int i = 0; i < 500; ++i)
        while (!qz::SendDT1(owner.MidiOut(), 0x7F, qz::kAddrSystem, system, sizeof system)) std::this_thread::yield();
    long after = g_nAllocations.load();
    EXPECT_EQ(after - before, 0) << "heap allocations during 2000 round trips and 500 data sets";
    EXPECT_GE(owner.m_nPosts.load(), 2000);
    EXPECT_EQ(in.m_nDropped.load(), 0);
}

}  // namespace
