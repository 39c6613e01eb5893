#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "midi/MidiInPort.h"
#include "emulator/LoopbackEmulator.h"
#include "midi/TrafficTap.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/wire/MidiDescription.h"
#include "protocol/wire/QZ81KTMidiIn.h"
#include "support/FakeOwner.h"

namespace {

using namespace std::chrono_literals;
using Rec = CTrafficTap::CRecord;

// Six times what a MIDI cable carries. The input worker's ring holds 40 ms of it, so the
// port keeps up under ThreadSanitizer beside other tests on two cores and a loss means a
// fault, not a busy machine; the 100 000 messages a second figure is the benchmark's.
constexpr uint32_t kFloodRate = 6000;

std::vector<Rec> DrainAll(CTrafficTap& tap) {
    std::vector<Rec> out(CTrafficTap::kCapacity);
    out.resize(tap.Drain(out.data(), out.size()));
    return out;
}

TEST(TrafficTap, KeepsNothingUntilReadThenCopiesWholeMessagesAndCutsLongOnes) {
    CTrafficTap tap;
    const uint8_t clock = 0xF8;
    tap.Record(CTrafficTap::kIn, &clock, 1);
    EXPECT_EQ(tap.Seen(CTrafficTap::kIn), 0u);
    EXPECT_TRUE(DrainAll(tap).empty());

    tap.SetReading(true);
    uint8_t frame[qz::kRQ1Length];
    qz::BuildRQ1(frame, 0x7F, qz::kAddrStatus, qz::kStatusSize);
    tap.Record(CTrafficTap::kOut, frame, sizeof frame);
    std::vector<uint8_t> big(300, 0x11);
    big.front() = 0xF0;
    big.back() = 0xF7;
    tap.Record(CTrafficTap::kIn, big.data(), big.size());
    std::vector<Rec> r = DrainAll(tap);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].byDirection, CTrafficTap::kOut);
    EXPECT_EQ(std::vector<uint8_t>(r[0].abyData, r[0].abyData + r[0].Stored()),
              std::vector<uint8_t>(frame, frame + sizeof frame));
    EXPECT_FALSE(r[0].Truncated());
    EXPECT_TRUE(r[1].Truncated());
    EXPECT_EQ(r[1].wLength, 300);
    EXPECT_EQ(r[1].Stored(), CTrafficTap::kRecordBytes);
    EXPECT_LE(r[0].qwTimeUs, r[1].qwTimeUs);
}

TEST(TrafficTap, FullRingDropsTheNewestAndCountsThemPerDirection) {
    CTrafficTap tap;
    tap.SetReading(true);
    for (uint32_t i = 0; i < CTrafficTap::kCapacity + 10; ++i) {
        const uint8_t msg[3] = {0x90, static_cast<uint8_t>(i & 0x7F), static_cast<uint8_t>((i >> 7) & 0x7F)};
        tap.Record(i % 2 ? CTrafficTap::kOut : CTrafficTap::kIn, msg, 3);
    }
    EXPECT_EQ(tap.DroppedTotal(), 10u);
    EXPECT_EQ(tap.Dropped(CTrafficTap::kIn) + tap.Dropped(CTrafficTap::kOut), 10u);
    std::vector<Rec> r = DrainAll(tap);
    ASSERT_EQ(r.size(), CTrafficTap::kCapacity);
    EXPECT_EQ(r.back().abyData[1] | r.back().abyData[2] << 7, static_cast<int>(CTrafficTap::kCapacity - 1));
    // Room again once drained.
    tap.Record(CTrafficTap::kIn, r[0].abyData, 3);
    EXPECT_EQ(DrainAll(tap).size(), 1u);
}

// Two producers (the sending thread and the input worker) against a reader that drains
// as it goes: every message is either read intact and in each producer's order, or counted.
TEST(TrafficTap, TwoProducersAndAReaderLoseNothingUncounted) {
    CTrafficTap tap;
    tap.SetReading(true);
    constexpr uint32_t kEach = 100000;
    auto produce = [&](CTrafficTap::EDirection dir) {
        for (uint32_t i = 0; i < kEach; ++i) {
            uint8_t msg[8] = {0xF0, static_cast<uint8_t>(dir)};
            for (int b = 0; b < 5; ++b) msg[2 + b] = (i >> (7 * b)) & 0x7F;
            msg[7] = 0xF7;
            tap.Record(dir, msg, sizeof msg);
        }
    };
    std::thread a(produce, CTrafficTap::kIn), b(produce, CTrafficTap::kOut);
    uint64_t nRead = 0;
    int64_t last[2] = {-1, -1};
    bool bIntact = true;
    std::vector<Rec> buf(512);
    auto drain = [&] {
        size_t n = tap.Drain(buf.data(), buf.size());
        for (size_t k = 0; k < n; ++k) {
            const Rec& r = buf[k];
            int64_t i = 0;
            for (int j = 0; j < 5; ++j) i |= int64_t{r.abyData[2 + j]} << (7 * j);
            bIntact &= r.wLength == 8 && r.abyData[1] == r.byDirection && r.abyData[7] == 0xF7 && i > last[r.byDirection];
            last[r.byDirection] = i;
        }
        nRead += n;
        return n;
    };
    while (tap.Seen(CTrafficTap::kIn) + tap.Seen(CTrafficTap::kOut) < 2 * kEach) drain();
    a.join();
    b.join();
    while (drain()) {
    }
    EXPECT_TRUE(bIntact);
    EXPECT_EQ(nRead + tap.DroppedTotal(), 2u * kEach);
}

// The emulator floods the input while a slow reader takes a fifteenth of it: the tap
// drops and counts, the ports lose nothing and every status request is answered into
// the image.
TEST(TrafficTap, FloodWithASlowReaderDropsRecordsNeverPortData) {
    CLoopbackDriver driver;
    CLoopbackEmulator emulator{driver};
    CFakeOwner owner{&driver};
    CMidiInPort<CQZ81KTMidiIn> in{&driver};
    CTrafficTap tap;
    ASSERT_TRUE(emulator.Start());
    owner.Image().Clear();
    in.m_pOwnerWnd = &owner;
    in.SetTrafficTap(&tap);
    owner.MidiOut().SetTrafficTap(&tap);
    in.m_uDeviceID = owner.MidiOut().m_uDeviceID = emulator.Port();
    ASSERT_TRUE(in.Open() && in.Start() && owner.MidiOut().Open() && owner.MidiOut().Start());
    tap.SetReading(true);
    emulator.Faults().m_nFloodPerSecond = kFloodRate;

    // The reader takes 400 records a second and requests go on until the tap has
    // overflowed (about 1.5 s), however slowly the machine runs the flood.
    constexpr int kMinRequests = 100, kMaxRequests = 1000;
    std::vector<Rec> buf(4);
    int nRequests = 0, nGoodReplies = 0, nBadReplies = 0;
    while (nRequests < kMinRequests || (tap.Dropped(CTrafficTap::kIn) == 0 && nRequests < kMaxRequests)) {
        ASSERT_EQ(qz::SendRQ1(owner.MidiOut(), 0x7F, qz::kAddrStatus, qz::kStatusSize), 1);
        ++nRequests;
        std::this_thread::sleep_for(10ms);
        size_t n = tap.Drain(buf.data(), buf.size());
        for (size_t k = 0; k < n; ++k) {
            qz::CMidiDescription d = qz::DescribeMidi(buf[k].abyData, buf[k].Stored());
            if (d.eKind == qz::EMidiKind::DataSetFrame) (d.bChecksumGood ? nGoodReplies : nBadReplies)++;
            if (d.eKind == qz::EMidiKind::Invalid) ++nBadReplies;
        }
    }
    EXPECT_TRUE(owner.WaitUntil([&] { return owner.Image().m_nStatusReplies.load() >= nRequests; }));
    emulator.Faults().m_nFloodPerSecond = 0;
    std::this_thread::sleep_for(50ms);
    in.Stop();
    owner.MidiOut().Stop();

    EXPECT_EQ(owner.Image().m_nStatusReplies.load(), nRequests);
    EXPECT_EQ(in.m_nDropped.load(), 0);
    EXPECT_EQ(emulator.Emulator().Counters().m_nInboxDrops, 0u);
    EXPECT_GT(tap.Dropped(CTrafficTap::kIn), 0u);           // the reader was too slow
    EXPECT_EQ(tap.Seen(CTrafficTap::kOut), static_cast<uint64_t>(nRequests));
    EXPECT_GT(tap.Seen(CTrafficTap::kIn), CTrafficTap::kCapacity);
    EXPECT_GT(nGoodReplies, 0);                               // some replies were read, all intact
    EXPECT_EQ(nBadReplies, 0);
}

}  // namespace
