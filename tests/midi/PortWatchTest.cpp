#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "midi/PortWatch.h"
#include "midi/platform/LoopbackDriver.h"

namespace {

using Names = std::vector<std::string>;

// Polls for up to 2 s: the watch works on its own thread.
template <class Pred>
bool WaitUntil(Pred pred) {
    for (int i = 0; i < 400 && !pred(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return pred();
}

TEST(PortWatch, CountsEachChangeOfEitherListAndUnpluggedPairsLeaveTheLists) {
    CLoopbackDriver driver;
    driver.AddPortPair("A", nullptr);
    uint32_t b = driver.AddPortPair("B", nullptr);
    CPortWatch watch(&driver);
    EXPECT_TRUE(watch.CheckNow());
    EXPECT_FALSE(watch.CheckNow());
    EXPECT_EQ(watch.Generation(), 1u);
    driver.SetPresent(0, false);
    EXPECT_TRUE(watch.CheckNow());
    EXPECT_EQ(watch.Inputs(), Names{"B"});
    EXPECT_EQ(watch.Outputs(), Names{"B"});
    // The program's port 0 is now the pair B; the peer side keeps its own numbers.
    HMIDIPORT h = nullptr;
    ASSERT_EQ(driver.OutOpen(&h, 0, nullptr, nullptr), MMSYSERR_NOERROR);
    EXPECT_TRUE(driver.IsOutputOpen(b));
    driver.OutClose(h);
    driver.SetPresent(0, true);
    EXPECT_TRUE(watch.CheckNow());
    EXPECT_EQ(watch.Inputs(), (Names{"A", "B"}));
    EXPECT_EQ(watch.Generation(), 3u);
}

TEST(PortWatch, WorkerNoticesAPortWithinItsInterval) {
    CLoopbackDriver driver;
    CPortWatch watch(&driver, 20);
    watch.Start();
    auto waitGeneration = [&](uint32_t n) { return WaitUntil([&] { return watch.Generation() >= n; }); };
    ASSERT_TRUE(waitGeneration(1));
    driver.AddPortPair("QZ-81KT Emulator", nullptr);
    EXPECT_TRUE(waitGeneration(2));
    EXPECT_EQ(watch.Inputs(), Names{"QZ-81KT Emulator"});
    watch.Stop();
    EXPECT_FALSE(watch.IsRunning());
}

// A notice makes the worker list at once, although its interval is a minute; once the
// source is dead, the interval takes over again.
TEST(PortWatch, ANoticeFromALiveSourceListsAtOnceAndADeadSourceGivesBackTheInterval) {
    struct CFakeSource : CPortChangeSource {
        std::atomic<bool>* pAlive;
        bool IsAlive() const override { return pAlive->load(); }
    };
    std::atomic<bool> bAlive{true};
    CLoopbackDriver driver;
    CPortWatch watch(&driver, 60000);
    auto pSource = std::make_unique<CFakeSource>();
    pSource->pAlive = &bAlive;
    watch.SetChangeSource(std::move(pSource));
    watch.Start();
    auto waitListings = [&](uint64_t n) { return WaitUntil([&] { return watch.Listings() >= n; }); };
    ASSERT_TRUE(waitListings(1));
    driver.AddPortPair("QZ-81KT Emulator", nullptr);
    watch.NotifyChange();
    ASSERT_TRUE(waitListings(2));
    EXPECT_EQ(watch.Inputs(), Names{"QZ-81KT Emulator"});
    EXPECT_EQ(watch.Generation(), 2u);
    watch.Stop();

    CPortWatch polled(&driver, 20);
    auto pDead = std::make_unique<CFakeSource>();
    pDead->pAlive = &bAlive;
    bAlive = false;
    polled.SetChangeSource(std::move(pDead));
    polled.Start();
    EXPECT_TRUE(WaitUntil([&] { return polled.Listings() >= 3; }));  // without notices it lists on its 20 ms interval
}

}  // namespace
