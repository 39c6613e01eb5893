// A rack over the loopback driver with emulated converters that come and go.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "emulator/LoopbackEmulator.h"
#include "protocol/wire/BlockLayout.h"
#include "protocol/device/Rack.h"
#include "support/EventRecorder.h"
#include "support/ForwardingPeer.h"

namespace {

using EKind = CRackEvent::EKind;
using Events = std::vector<CRackEvent>;

struct CRackLog : CRackListener, CEventRecorder<CRackEvent> {
    void OnRackEvent(const CRackEvent& e) override { Record(e); }
};

size_t Count(const Events& events, EKind eKind, const std::string& strUnit) {
    return std::count_if(events.begin(), events.end(),
                         [&](const CRackEvent& e) { return e.eKind == eKind && e.strUnit == strUnit; });
}

struct Rack : ::testing::Test {
    CLoopbackDriver driver;
    CLoopbackEmulator a{driver, "QZ-81KT A"};
    CLoopbackEmulator b{driver, "QZ-81KT B"};
    CRackLog log;
    std::unique_ptr<CRack> rack;

    void SetUp() override {
        driver.AddPortPair("USB MIDI", nullptr);  // not a converter
        ASSERT_TRUE(a.Emulator().SetProductID("UNIT-A"));
        ASSERT_TRUE(b.Emulator().SetProductID("unit b"));
        ASSERT_TRUE(a.Start() && b.Start());
    }
    void TearDown() override { rack.reset(); }  // before the emulators and the driver
    void StartRack() {
        rack = std::make_unique<CRack>(driver, &log, 20);
        rack->Start();
    }
    // Waits until the unit has been told eKind n times.
    bool WaitFor(EKind eKind, const std::string& strUnit, size_t n = 1) {
        return log.WaitUntil([&](const Events& events) { return Count(events, eKind, strUnit) >= n; });
    }
    const CRackUnit* Unit(const std::vector<CRackUnit>& units, const std::string& strId) {
        for (const CRackUnit& u : units)
            if (u.strId == strId) return &u;
        return nullptr;
    }
};

TEST_F(Rack, EachConverterIsPublishedByItsProductIdAndDrivenThroughItsSession) {
    StartRack();
    ASSERT_TRUE(WaitFor(EKind::Online, "unit_UNIT_A"));
    ASSERT_TRUE(WaitFor(EKind::Online, "unit_UNIT_B"));
    const std::vector<CRackUnit> units = rack->Units();
    ASSERT_EQ(units.size(), 2u);
    const CRackUnit* pB = Unit(units, "unit_UNIT_B");
    ASSERT_NE(pB, nullptr);
    EXPECT_EQ(pB->strProductID, "UNIT B");  // capitals, blanks behind trimmed
    EXPECT_EQ(pB->strInPort, "QZ-81KT B");
    EXPECT_EQ(pB->strVersion, "1.03");
    EXPECT_TRUE(pB->bPresent && pB->bOnline);
    for (const std::string id : {"unit_UNIT_A", "unit_UNIT_B"}) {
        const Events events = log.Events();
        auto added = std::find_if(events.begin(), events.end(), [&](auto& e) { return e.eKind == EKind::Added && e.strUnit == id; });
        auto online = std::find_if(events.begin(), events.end(), [&](auto& e) { return e.eKind == EKind::Online && e.strUnit == id; });
        EXPECT_LT(added, online) << id;
    }

    EXPECT_EQ(Count(log.Events(), EKind::Warning, ""), 0u);
    log.Clear();
    std::shared_ptr<CDeviceSession> pSession = rack->Session("unit_UNIT_B");
    ASSERT_TRUE(pSession);
    ASSERT_EQ(pSession->WriteSettings({{qz::FindSystemSetting("fan"), 0}}), CDeviceSession::ESend::Sent);
    ASSERT_TRUE(log.WaitUntil([](const Events& events) {
        return std::any_of(events.begin(), events.end(), [](const CRackEvent& e) {
            return e.eKind == EKind::Blocks && e.strUnit == "unit_UNIT_B" && (e.dwBlocks & (1u << int(qz::EBlock::System)));
        });
    }));
    EXPECT_EQ(b.Emulator().Memory().m_system[qz::kSysFan], 0);
    EXPECT_EQ(a.Emulator().Memory().m_system[qz::kSysFan], 1);
}

TEST_F(Rack, ASecondUnitWithTheSameProductIdGetsASuffixAndOneWarning) {
    ASSERT_TRUE(b.Emulator().SetProductID("UNIT-A"));
    StartRack();
    ASSERT_TRUE(WaitFor(EKind::Online, "unit_UNIT_A"));
    ASSERT_TRUE(WaitFor(EKind::Online, "unit_UNIT_A_2"));
    const Events events = log.Events();
    const size_t nWarnings = std::count_if(events.begin(), events.end(), [](auto& e) { return e.eKind == EKind::Warning; });
    ASSERT_EQ(nWarnings, 1u);
    EXPECT_EQ(Count(events, EKind::Warning, "unit_UNIT_A_2"), 1u);
    EXPECT_EQ(rack->Units().size(), 2u);
}

TEST_F(Rack, AnUnpluggedUnitGoesOfflineAtOnceAndComesBackAsItselfInAnySocket) {
    StartRack();
    ASSERT_TRUE(WaitFor(EKind::Online, "unit_UNIT_B"));
    driver.SetPresent(b.Port(), false);
    ASSERT_TRUE(WaitFor(EKind::Offline, "unit_UNIT_B"));
    EXPECT_FALSE(rack->Session("unit_UNIT_B"));
    EXPECT_FALSE(Unit(rack->Units(), "unit_UNIT_B")->bPresent);
    driver.SetPresent(b.Port(), true);
    ASSERT_TRUE(WaitFor(EKind::Online, "unit_UNIT_B", 2));

    // Moved to another socket: the same unit, on other ports.
    driver.SetPresent(b.Port(), false);
    CLoopbackEmulator moved{driver, "QZ-81KT C"};
    ASSERT_TRUE(moved.Emulator().SetProductID("unit b"));
    ASSERT_TRUE(moved.Start());
    ASSERT_TRUE(WaitFor(EKind::Online, "unit_UNIT_B", 3));
    EXPECT_EQ(Unit(rack->Units(), "unit_UNIT_B")->strInPort, "QZ-81KT C");
    EXPECT_EQ(Count(log.Events(), EKind::Added, "unit_UNIT_B"), 1u);
    EXPECT_EQ(rack->Units().size(), 2u);
    rack->Stop();  // before the moved emulator goes
}

TEST_F(Rack, AUnitIsNotPublishedBeforeItsProductIdArrives) {
    CForwardingPeer tap{a.Emulator()};
    tap.m_dwLoseRequestsOf = qz::kAddrProductID;
    driver.SetPeer(a.Port(), &tap);
    StartRack();
    ASSERT_TRUE(WaitFor(EKind::Online, "unit_UNIT_B"));
    // A's link is up (it is polled) and its product ID was asked for again, still unanswered.
    auto requestsFor = [&](uint32_t dwAddress) {
        size_t n = 0;
        for (const auto& m : tap.Messages()) n += m.size() == qz::kRQ1Length && CForwardingPeer::Address(m.data()) == dwAddress;
        return n;
    };
    for (int n = 0; n < 400 && (requestsFor(qz::kAddrProductID) < 2 || requestsFor(qz::kAddrStatus) < 3); ++n)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(requestsFor(qz::kAddrProductID), 2u);
    EXPECT_GE(requestsFor(qz::kAddrStatus), 3u);
    EXPECT_EQ(rack->Units().size(), 1u);
    EXPECT_EQ(Count(log.Events(), EKind::Added, "unit_UNIT_A"), 0u);

    tap.m_dwLoseRequestsOf = CForwardingPeer::kNone;
    ASSERT_TRUE(WaitFor(EKind::Online, "unit_UNIT_A"));
    rack.reset();
    driver.SetPeer(a.Port(), nullptr);
}

}  // namespace
