// The provider over TCP against emulated converters on the loopback driver: a consumer
// of our own walks the tree, writes, and watches units come and go.
#include <gtest/gtest.h>

#include <memory>

#include "emulator/LoopbackEmulator.h"
#include "protocol/wire/BlockLayout.h"
#include "protocol/fields/PresetBlock.h"
#include "protocol/device/Rack.h"
#include "server/EmberService.h"
#include "server/EmberTestClient.h"
#include "server/TwoUnitRack.h"

namespace {

using Path = CEmberTestClient::Path;

// qz81kt/units/<n>/…, numbers as the tree's table gives them.
constexpr uint32_t kRoot = 1, kUnits = 2, kSettings = 3, kPresets = 4, kStatus = 2;
constexpr uint32_t kFan = 11, kControlMode = 4, kSummary = 1, kCodec = 2;

struct EmberServiceTest : CTwoUnitRack {
    CForwardTo<CEmberService> forwarder;
    std::unique_ptr<CRack> rack;
    std::unique_ptr<CEmberService> service;
    std::vector<std::string> log;
    std::mutex logMutex;

    void TearDown() override {
        if (rack) rack->Stop();
        service.reset();
        rack.reset();
    }
    void StartService(bool bReadOnly = false, const char* pszAllow = "") {
        rack = std::make_unique<CRack>(driver, &forwarder, 20);
        CEmberService::COptions options;
        options.nPort = 0;
        options.provider = {"9.9.9.9", "testhost", bReadOnly};
        std::string strError;
        if (*pszAllow) {
            ASSERT_TRUE(options.allow.Parse(pszAllow, strError));
        }
        service = std::make_unique<CEmberService>(*rack, options, [this](const std::string& s) {
            std::lock_guard<std::mutex> lock(logMutex);
            log.push_back(s);
        });
        forwarder.pService = service.get();
        ASSERT_TRUE(service->Start(strError)) << strError;
        rack->Start();
    }
    // The unit's number under units, once the client has seen it online.
    uint32_t WaitOnline(CEmberTestClient& c, const std::string& strId, bool bOnline = true) {
        uint32_t nUnit = 0;
        c.WaitUntil([&] {
            c.GetDirectory({kRoot, kUnits});
            c.WaitUntil([] { return false; }, 50);
            for (auto& [path, seen] : c.m_seen)
                if (path.size() == 3 && path[1] == kUnits && seen.strIdentifier == strId && seen.bOnline == bOnline)
                    nUnit = path[2];
            return nUnit != 0;
        });
        return nUnit;
    }
    static int64_t IntAt(CEmberTestClient& c, const Path& path) {
        const auto* p = std::get_if<int64_t>(&c.m_seen[path].value);
        return p ? *p : -1;
    }
};

TEST_F(EmberServiceTest, AWalkShowsEveryUnitWithTheValuesItsDeviceHolds) {
    StartService();
    CEmberTestClient c;
    ASSERT_TRUE(c.Connect(service->Port()));
    const uint32_t nA = WaitOnline(c, "unit_UNIT_A"), nB = WaitOnline(c, "unit_UNIT_B");
    ASSERT_TRUE(nA && nB);
    // Walk every node below the root, as a consumer's tree view does.
    c.GetDirectory({});
    for (size_t i = 0; i < c.m_order.size() || c.WaitUntil([&] { return i < c.m_order.size(); }, 300); ++i) {
        const Path path = c.m_order[i];
        if (c.m_seen[path].bNode) c.GetDirectory(path);
    }
    EXPECT_EQ((c.m_seen[{kRoot}].strIdentifier), ("qz81kt"));
    EXPECT_EQ((c.m_seen[{kRoot, 1, 2}].value), (qz::ember::CGlowValue{std::string("9.9.9.9")}));
    const CEmulatorMemory mem = b.Emulator().Memory();
    EXPECT_EQ((IntAt(c, {kRoot, kUnits, nB, kSettings, kFan})), (mem.m_system[qz::kSysFan]));
    EXPECT_EQ((c.m_seen[{kRoot, kUnits, nB, kPresets, 1, kSummary}].value),
              (qz::ember::CGlowValue{qz::PresetSummaryLine(0, mem.m_preset[0])}));
    EXPECT_EQ((c.m_seen[{kRoot, kUnits, nB, 1, 2}].value), (qz::ember::CGlowValue{std::string("UNIT-B")}));
    EXPECT_EQ((c.m_seen[{kRoot, kUnits, nA, kStatus, 8}].strIdentifier), ("control-mode"));
    EXPECT_EQ((c.m_seen[{kRoot, kUnits, nA, 5}].strIdentifier), ("write-flash"));
}

TEST_F(EmberServiceTest, WritesAreAnsweredWithTheReadBackAndRefusalsWithTheCurrentValue) {
    StartService();
    CEmberTestClient c, other;
    ASSERT_TRUE(c.Connect(service->Port()) && other.Connect(service->Port()));
    const uint32_t nA = WaitOnline(c, "unit_UNIT_A"), nB = WaitOnline(c, "unit_UNIT_B");
    ASSERT_TRUE(nA && nB && WaitOnline(other, "unit_UNIT_B"));
    const Path fanA = {kRoot, kUnits, nA, kSettings, kFan}, fanB = {kRoot, kUnits, nB, kSettings, kFan};
    // The second consumer looks at what it wants to hear about.
    other.GetDirectory({kRoot, kUnits, nB, kSettings});
    other.GetDirectory({kRoot, kUnits, nB, kPresets, 3});
    const int64_t nFan = b.Emulator().Memory().m_system[qz::kSysFan];

    // Accepted: the device holds it, and both consumers hear the value read back.
    c.Set(fanB, int64_t{1 - nFan});
    EXPECT_TRUE(c.WaitUntil([&] { return IntAt(c, fanB) == 1 - nFan; }));
    EXPECT_TRUE(other.WaitUntil([&] { return IntAt(other, fanB) == 1 - nFan; }));
    EXPECT_EQ(b.Emulator().Memory().m_system[qz::kSysFan], 1 - nFan);

    // The device keeps its old value: the consumer is told that, not what it asked for.
    peerA.m_bLoseWrites = true;
    const int64_t nFanA = a.Emulator().Memory().m_system[qz::kSysFan];
    c.m_seen[fanA].nMentions = 0;
    c.Set(fanA, int64_t{1 - nFanA});
    EXPECT_TRUE(c.WaitUntil([&] { return c.m_seen[fanA].nMentions > 0; }));
    EXPECT_EQ(IntAt(c, fanA), nFanA);
    peerA.m_bLoseWrites = false;

    // Local mode: the window would not write, so nothing is sent and the value comes back at once.
    // The control mode block is polled only once the link is up; the rules need it first.
    const Path modeB = {kRoot, kUnits, nB, kSettings, kControlMode};
    ASSERT_TRUE(c.WaitUntil([&] { return rack->Session("unit_UNIT_B")->Arrived(qz::EBlock::ControlMode); }));
    c.Set(modeB, int64_t{0});
    ASSERT_TRUE(c.WaitUntil([&] { return IntAt(c, modeB) == 0; }));
    const size_t nWrites = Writes(peerB);
    c.m_seen[fanB].nMentions = 0;
    c.Set(fanB, int64_t{nFan});
    EXPECT_TRUE(c.WaitUntil([&] { return c.m_seen[fanB].nMentions > 0; }, 1000));
    EXPECT_EQ(IntAt(c, fanB), 1 - nFan);
    EXPECT_EQ(Writes(peerB), nWrites);
    // A preset field as the editor saves it, back in Remote.
    c.Set(modeB, int64_t{1});
    ASSERT_TRUE(c.WaitUntil([&] { return IntAt(c, modeB) == 1; }));
    const Path codec = {kRoot, kUnits, nB, kPresets, 3, kCodec};
    c.Set(codec, int64_t{qz::kCodecMpeg2});
    EXPECT_TRUE(other.WaitUntil([&] { return IntAt(other, codec) == qz::kCodecMpeg2; }));
    EXPECT_EQ(qz::Read8(b.Emulator().Memory().m_preset[2], qz::kPresetCodec), qz::kCodecMpeg2);
    // Each accepted write is logged with the consumer, the unit, the parameter and the value read back.
    auto logged = [&] {
        std::lock_guard<std::mutex> lock(logMutex);
        for (const std::string& s : log)
            if (s.find(" wrote unit_UNIT_B presets/preset-2/codec = MPEG-2 (read back)") != std::string::npos) return true;
        return false;
    };
    for (int n = 0; n < 100 && !logged(); ++n) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(logged());
}

TEST_F(EmberServiceTest, UnitsComingAndGoingAreAnnouncedToConsumers) {
    StartService();
    CEmberTestClient c;
    ASSERT_TRUE(c.Connect(service->Port()));
    const uint32_t nB = WaitOnline(c, "unit_UNIT_B");
    ASSERT_TRUE(nB);
    const Path unitB = {kRoot, kUnits, nB};
    driver.SetPresent(b.Port(), false);
    EXPECT_TRUE(c.WaitUntil([&] { return c.m_seen[unitB].bOnline == false; }));
    driver.SetPresent(b.Port(), true);
    EXPECT_TRUE(c.WaitUntil([&] { return c.m_seen[unitB].bOnline == true; }));

    // A new unit after the walk: announced without being asked for.
    CLoopbackEmulator late{driver, "QZ-81KT C"};
    ASSERT_TRUE(late.Emulator().SetProductID("LATE") && late.Start());
    auto seenLate = [&] {
        for (auto& [path, seen] : c.m_seen)
            if (seen.strIdentifier == "unit_LATE" && seen.bOnline == true) return true;
        return false;
    };
    EXPECT_TRUE(c.WaitUntil(seenLate));
    rack->Stop();  // before the late emulator goes
}

TEST_F(EmberServiceTest, ReadOnlyAnswersWritesWithTheCurrentValueAndStrangersAreClosed) {
    StartService(true, "127.0.0.3");
    CEmberTestClient c, stranger, allowed;
    ASSERT_TRUE(c.Connect(service->Port()));
    const uint32_t nB = WaitOnline(c, "unit_UNIT_B");
    ASSERT_TRUE(nB);
    const Path fanB = {kRoot, kUnits, nB, kSettings, kFan};
    const int64_t nFan = b.Emulator().Memory().m_system[qz::kSysFan];
    c.m_seen[fanB].nMentions = 0;
    c.Set(fanB, int64_t{1 - nFan});
    EXPECT_TRUE(c.WaitUntil([&] { return c.m_seen[fanB].nMentions > 0; }, 1000));
    EXPECT_EQ(IntAt(c, fanB), nFan);
    EXPECT_EQ(Writes(peerB), 0u);

    ASSERT_TRUE(stranger.Connect(service->Port(), "127.0.0.2"));
    EXPECT_TRUE(stranger.ClosedWithin(2000));
    ASSERT_TRUE(allowed.Connect(service->Port(), "127.0.0.3"));
    EXPECT_FALSE(allowed.ClosedWithin(200));
}

}  // namespace
