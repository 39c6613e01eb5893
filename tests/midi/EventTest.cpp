#include <gtest/gtest.h>

#include <thread>

#include "midi/platform/Event.h"

TEST(Event, AutoResetIsConsumedByOneWait) {
    CEvent e(false, true);
    EXPECT_TRUE(e.Wait(0));
    EXPECT_FALSE(e.Wait(0));
}

TEST(Event, ManualResetStaysUntilReset) {
    CEvent e(true, false);
    e.Set();
    EXPECT_TRUE(e.Wait(0));
    EXPECT_TRUE(e.Wait(0));
    e.Reset();
    EXPECT_FALSE(e.Wait(10));
}

TEST(Event, WaitAnyPrefersTheFirstAndWakesFromAnotherThread) {
    CEvent stop(true, false);
    CEvent data(false, false, stop);
    data.Set();
    stop.Set();
    EXPECT_EQ(CEvent::WaitAny(stop, data, 0), 0);
    stop.Reset();
    EXPECT_EQ(CEvent::WaitAny(stop, data, 0), 1);  // data was still set
    EXPECT_EQ(CEvent::WaitAny(stop, data, 5), CEvent::kTimeout);
    std::thread t([&] { data.Set(); });
    EXPECT_EQ(CEvent::WaitAny(stop, data, CEvent::kInfinite), 1);
    t.join();
}
