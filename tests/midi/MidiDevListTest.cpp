#include <gtest/gtest.h>

#include "midi/MidiDevList.h"
#include "midi/platform/LoopbackDriver.h"

namespace {

TEST(MidiDevList, OneEntryPerPortEvenWhenANameCannotBeRead) {
    CLoopbackDriver driver;
    CMidiOutDevList outs(&driver);
    CMidiInDevList ins(&driver);
    EXPECT_EQ(outs.Refresh(), 0);
    EXPECT_TRUE(outs.empty());
    driver.AddPortPair("USB MIDI", nullptr);
    uint32_t second = driver.AddPortPair("Broken", nullptr);
    driver.AddPortPair("QZ-81KT MIDI", nullptr);
    driver.Faults(second).m_bNameUnreadable = true;
    EXPECT_EQ(outs.Refresh(), 3);
    EXPECT_EQ(outs.m_nDevs, 3);
    ASSERT_EQ(outs.GetSize(), 3);
    EXPECT_EQ(outs.GetAt(0), "USB MIDI");
    EXPECT_EQ(outs.GetAt(1), "");
    EXPECT_EQ(outs.GetAt(2), "QZ-81KT MIDI");  // entry 2 still stands for port 2
    // Refreshing again gives the same list, not a doubled one.
    EXPECT_EQ(outs.Refresh(), 3);
    EXPECT_EQ(outs.GetSize(), 3);
    EXPECT_EQ(ins.Refresh(), 3);
    EXPECT_EQ(ins.GetAt(1), "");
}

TEST(MidiDevList, AFaultDuringEnumerationLeavesAnEmptyList) {
    CLoopbackDriver driver;
    driver.AddPortPair("USB MIDI", nullptr);
    uint32_t bad = driver.AddPortPair("QZ-81KT MIDI", nullptr);
    CMidiInDevList ins(&driver);
    ASSERT_EQ(ins.Refresh(), 2);
    driver.Faults(bad).m_bEnumerationThrows = true;
    EXPECT_EQ(ins.Refresh(), 0);
    EXPECT_EQ(ins.m_nDevs, 0);
    EXPECT_TRUE(ins.empty());
    driver.Faults(bad).m_bEnumerationThrows = false;
    EXPECT_EQ(ins.Refresh(), 2);
}

}  // namespace
