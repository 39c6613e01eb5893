#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

#include "midi/MidiIn.h"
#include "midi/MidiInPort.h"
#include "midi/platform/LoopbackDriver.h"

namespace {

using namespace std::chrono_literals;

// Records what the worker hands over; can hold the worker inside a hook to fill the ring.
class CRecordingIn : public CMidiIn {
public:
    using CMidiIn::CMidiIn;

    void OnData(const uint32_t* pdwMsg) override {
        Gate();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shorts.push_back(*pdwMsg);
        m_cv.notify_all();
    }
    void OnLongData(const uint8_t* pData, uint32_t nBytes) override {
        Gate();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_longs.emplace_back(pData, pData + nBytes);
        m_cv.notify_all();
    }
    void Hold() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bHold = true;
    }
    void Release() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bHold = false;
        m_cv.notify_all();
    }
    bool WaitHeld() {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, 5s, [&] { return m_bHeld; });
    }
    bool WaitCounts(size_t nShort, size_t nLong) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, 5s, [&] { return m_shorts.size() >= nShort && m_longs.size() >= nLong; });
    }
    std::vector<uint32_t> Shorts() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_shorts;
    }
    std::vector<std::vector<uint8_t>> Longs() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_longs;
    }

private:
    void Gate() {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_bHold) return;
        m_bHeld = true;
        m_cv.notify_all();
        m_cv.wait(lock, [&] { return !m_bHold; });
        m_bHeld = false;
    }
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bHold = false, m_bHeld = false;
    std::vector<uint32_t> m_shorts;
    std::vector<std::vector<uint8_t>> m_longs;
};

std::vector<uint8_t> SysEx(size_t len, int seed) {
    std::vector<uint8_t> m(len < 2 ? 2 : len);
    m[0] = 0xF0;
    for (size_t i = 1; i + 1 < m.size(); ++i) m[i] = static_cast<uint8_t>((seed * 31 + i) & 0x7F);
    m[m.size() - 1] = 0xF7;
    return m;
}

struct MidiInFixture : ::testing::Test {
    CLoopbackDriver driver;
    uint32_t port = driver.AddPortPair("QZ-81KT Test", nullptr);
    CMidiInPort<CRecordingIn> in{&driver};

    void SetUp() override { in.m_uDeviceID = port; }
    bool OpenAndStart() { return in.Open() == 1 && in.Start() == 1; }
    bool Send(const std::vector<uint8_t>& m) { return driver.PeerSend(port, m.data(), m.size()); }
};

TEST_F(MidiInFixture, EightBuffersWaitAndEachReturnedOneIsReplaced) {
    ASSERT_TRUE(OpenAndStart());
    EXPECT_EQ(driver.QueuedInputBuffers(port), 8u);
    EXPECT_EQ(in.BuffersAtPort(), 8);
    // In bursts of eight, the worker's pace: 200 buffers pass through the 64 headers.
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(Send(SysEx(15, i))) << i;
        if (i % 8 == 7) {
            ASSERT_TRUE(in.WaitCounts(0, i + 1));
        }
    }
    ASSERT_TRUE(in.WaitCounts(0, 200));
    EXPECT_EQ(driver.QueuedInputBuffers(port), 8u);
    auto longs = in.Longs();
    for (int i = 0; i < 200; ++i) EXPECT_EQ(longs[i], SysEx(15, i)) << i;
    EXPECT_EQ(in.m_nDropped.load(), 0);
}

TEST_F(MidiInFixture, LongMessageArrivesInSeveralBuffersInOrder) {
    ASSERT_TRUE(OpenAndStart());
    auto m = SysEx(600, 3);
    ASSERT_TRUE(Send(m));
    ASSERT_TRUE(in.WaitCounts(0, 3));
    auto longs = in.Longs();
    ASSERT_EQ(longs.size(), 3u);
    EXPECT_EQ(longs[0].size(), 256u);
    EXPECT_EQ(longs[1].size(), 256u);
    EXPECT_EQ(longs[2].size(), 88u);
    std::vector<uint8_t> joined;
    for (auto& b : longs) joined.insert(joined.end(), b.begin(), b.end());
    EXPECT_EQ(joined, m);
}

TEST_F(MidiInFixture, MessageSentInPiecesFillsOneBufferUntilItsEnd) {
    ASSERT_TRUE(OpenAndStart());
    auto m = SysEx(70, 5);
    for (size_t off = 0; off < m.size(); off += 5)
        ASSERT_TRUE(driver.PeerSend(port, m.data() + off, std::min<size_t>(5, m.size() - off)));
    ASSERT_TRUE(in.WaitCounts(0, 1));
    auto longs = in.Longs();
    ASSERT_EQ(longs.size(), 1u);
    EXPECT_EQ(longs[0], m);
}

TEST_F(MidiInFixture, StopDeliversWhatArrivedBeforeItAndIgnoresReturnedBuffers) {
    ASSERT_TRUE(OpenAndStart());
    in.Hold();
    ASSERT_TRUE(driver.PeerSendShort(port, 0x403C90));
    ASSERT_TRUE(in.WaitHeld());
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(Send(SysEx(30, i)));
    std::thread releaser([&] {
        std::this_thread::sleep_for(50ms);
        in.Release();
    });
    in.Stop();  // the worker is held inside a hook with 20 long messages behind it
    releaser.join();
    EXPECT_EQ(in.Shorts().size(), 1u);
    EXPECT_EQ(in.Longs().size(), 20u);
    EXPECT_FALSE(in.IsActive());
    EXPECT_EQ(driver.QueuedInputBuffers(port), 0u);  // the port gave every buffer back
    EXPECT_FALSE(Send(SysEx(30, 99)));
    EXPECT_EQ(in.Longs().size(), 20u);
    // Started again after a stop, the port works as before.
    ASSERT_EQ(in.Start(), 1);
    EXPECT_EQ(driver.QueuedInputBuffers(port), 8u);
    ASSERT_TRUE(Send(SysEx(30, 100)));
    ASSERT_TRUE(in.WaitCounts(1, 21));
}

// Only the final wrapper can be made, so the worker always ends before any part goes.
static_assert(std::is_abstract_v<CRecordingIn> && !std::is_abstract_v<CMidiInPort<CRecordingIn>>);

TEST_F(MidiInFixture, StopGivesUpOnAWorkerBlockedInAHandlerAndCanBeRepeated) {
    ASSERT_TRUE(OpenAndStart());
    in.Hold();
    ASSERT_TRUE(driver.PeerSendShort(port, 0x403C90));
    ASSERT_TRUE(in.WaitHeld());
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(in.Stop(200));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
    EXPECT_TRUE(in.IsOpen());  // nothing freed under the blocked worker
    in.Release();
    EXPECT_TRUE(in.Stop());
    EXPECT_TRUE(in.Close());
    EXPECT_EQ(in.Shorts().size(), 1u);
}

TEST_F(MidiInFixture, FullRingDropsNewArrivalsAndKeepsBuffersPaired) {
    ASSERT_TRUE(OpenAndStart());
    in.Hold();
    ASSERT_TRUE(driver.PeerSendShort(port, 0x000090));
    ASSERT_TRUE(in.WaitHeld());
    // The worker sits on the first word; the ring takes 511 more, the 512th is dropped.
    for (uint32_t i = 0; i < 512; ++i) ASSERT_TRUE(driver.PeerSendShort(port, 0x000080 | ((i & 0x7F) << 8)));
    EXPECT_EQ(in.m_nDropped.load(), 1);
    // Long buffers returned now find the ring full: lost, counted, and the port is
    // topped up from the next free headers.
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(Send(SysEx(20, 500 + i)));
    EXPECT_EQ(in.m_nDropped.load(), 4);
    EXPECT_EQ(driver.QueuedInputBuffers(port), 8u);
    in.Release();
    ASSERT_TRUE(in.WaitCounts(512, 0));
    auto shorts = in.Shorts();
    ASSERT_EQ(shorts.size(), 512u);
    for (uint32_t i = 0; i < 511; ++i) EXPECT_EQ(shorts[i + 1], 0x000080u | ((i & 0x7F) << 8));
    // Every later message is delivered whole: the lost buffers did not shift the pairing.
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(Send(SysEx(20 + i, i)));
        ASSERT_TRUE(in.WaitCounts(512, i + 1));
    }
    ASSERT_TRUE(in.WaitCounts(512, 100));
    auto longs = in.Longs();
    ASSERT_EQ(longs.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(longs[i], SysEx(20 + i, i)) << i;
    EXPECT_EQ(driver.QueuedInputBuffers(port), 8u);
}

TEST_F(MidiInFixture, RefusedBufferIsOfferedAgainLater) {
    driver.Faults(port).m_nRefuseAddBuffer = -1;
    ASSERT_TRUE(OpenAndStart());
    EXPECT_EQ(driver.QueuedInputBuffers(port), 0u);
    // Once the port takes buffers again the worker tops it up without any arrival.
    driver.Faults(port).m_nRefuseAddBuffer = 0;
    for (int k = 0; k < 300 && driver.QueuedInputBuffers(port) < 8; ++k) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(driver.QueuedInputBuffers(port), 8u);
    // Refusals while running neither lose a message nor shift the pairing.
    driver.Faults(port).m_nRefuseAddBuffer = 5;
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(Send(SysEx(40, i)));
        ASSERT_TRUE(in.WaitCounts(0, i + 1));
    }
    ASSERT_TRUE(in.WaitCounts(0, 50));
    auto longs = in.Longs();
    for (int i = 0; i < 50; ++i) EXPECT_EQ(longs[i], SysEx(40, i)) << i;
    EXPECT_EQ(driver.QueuedInputBuffers(port), 8u);
}

TEST_F(MidiInFixture, OpenOrStartFailureLeavesNothingBehind) {
    driver.Faults(port).m_bFailInOpen = true;
    EXPECT_EQ(in.Open(), 0);
    EXPECT_FALSE(in.IsActive());
    EXPECT_EQ(in.Start(), 0);
    driver.Faults(port).m_bFailInOpen = false;
    driver.Faults(port).m_bFailInStart = true;
    ASSERT_EQ(in.Open(), 1);
    EXPECT_EQ(in.Start(), 0);
    EXPECT_FALSE(in.IsActive());
    EXPECT_EQ(driver.QueuedInputBuffers(port), 0u);
    in.Close();
    EXPECT_FALSE(driver.IsInputOpen(port));
    driver.Faults(port).m_bFailInStart = false;
    ASSERT_TRUE(OpenAndStart());
    ASSERT_TRUE(Send(SysEx(12, 1)));
    ASSERT_TRUE(in.WaitCounts(0, 1));
}

}  // namespace
