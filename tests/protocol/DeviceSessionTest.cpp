// One converter's session against the in-process emulator: the command rules, the write
// and its read-back, the preset save, and what the listener is told.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <utility>

#include "emulator/LoopbackEmulator.h"
#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/device/DeviceSession.h"
#include "protocol/fields/PresetBlock.h"
#include "support/EventRecorder.h"
#include "support/ForwardingPeer.h"

namespace {

using qz::EBlock;
using Bytes = std::vector<uint8_t>;
using ESend = CDeviceSession::ESend;

struct CSessionLog : CSessionListener, CEventRecorder<CSessionEvent> {
    void OnSessionEvent(const CSessionEvent& e) override { Record(e); }
};

// The data of every DT1 among the frames, with its address.
std::vector<std::pair<uint32_t, Bytes>> Writes(const std::vector<Bytes>& frames) {
    std::vector<std::pair<uint32_t, Bytes>> v;
    for (const Bytes& f : frames)
        if (f.size() > 12 && f[6] == qz::kCmdDT1) v.emplace_back(CForwardingPeer::Address(f.data()), Bytes(f.begin() + 10, f.end() - 2));
    return v;
}

CSettingChoice Setting(const char* pszName, int nValue) { return {qz::FindSystemSetting(pszName), nValue}; }

struct DeviceSession : ::testing::Test {
    CLoopbackDriver driver;
    CLoopbackEmulator emulator{driver};
    CForwardingPeer tap{emulator.Emulator()};
    CSessionLog log;
    CDeviceSession session{driver, &log};

    void SetUp() override {
        driver.SetPeer(emulator.Port(), &tap);
        emulator.Emulator().SetInputFormat(qz::kVideoFormatNoSignal);  // nothing fixes the frame rate
        ASSERT_TRUE(emulator.Start());
        ASSERT_EQ(session.Connect(emulator.Port(), emulator.Port()), CDeviceSession::EConnect::Ok);
        Refresh(EBlock::ControlMode);  // not part of the request-all sequence
        Flush();
        ASSERT_TRUE(session.Arrived(EBlock::Preset7) && session.Arrived(EBlock::Status));
    }
    void TearDown() override {
        session.Disconnect();
        driver.SetPeer(emulator.Port(), nullptr);
    }
    // Asks for the block and waits for its reply. The device answers in order, so every
    // reply asked for before has arrived too.
    CSessionEvent Refresh(EBlock eBlock) {
        const size_t nFrom = log.Events().size();
        session.Request(eBlock);
        CSessionEvent found;
        EXPECT_TRUE(log.WaitUntil([&](const std::vector<CSessionEvent>& events) {
            for (size_t i = nFrom; i < events.size(); ++i)
                if (events[i].eKind == CSessionEvent::EKind::Block && events[i].eBlock == eBlock) return found = events[i], true;
            return false;
        })) << qz::BlockInfo(eBlock).pszName;
        return found;
    }
    // Waits until every reply asked for so far has arrived.
    void Flush() { Refresh(EBlock::Version); }
    std::vector<CSessionEvent> Told(EBlock eBlock) {
        std::vector<CSessionEvent> v;
        for (const CSessionEvent& e : log.Events())
            if (e.eKind == CSessionEvent::EKind::Block && e.eBlock == eBlock) v.push_back(e);
        return v;
    }
    // Changes the device's memory behind the session's back, as its front panel would.
    void DeviceWrite(EBlock eBlock, const std::function<void(uint8_t*)>& change) {
        uint8_t data[qz::kMaxReplyData];
        const size_t n = emulator.Emulator().ReadBlock(qz::BlockInfo(eBlock).dwAddress, data, sizeof data);
        change(data);
        uint8_t frame[128];
        emulator.Emulator().Receive(frame, qz::BuildDT1(frame, sizeof frame, 0x7F, qz::BlockInfo(eBlock).dwAddress, data, n));
        Refresh(eBlock);
    }
    uint8_t DeviceSystemByte(int n) { return emulator.Emulator().Memory().m_system[n]; }
};

TEST_F(DeviceSession, RulesRefuseWithTheirReasonAndSendNothing) {
    const int nGop15 = qz::FindItem(qz::kPresetLists[qz::kListGopSize].items, "15");
    struct Case {
        const char* pszReason;
        std::function<void()> fnSetup;
        std::vector<CSettingChoice> settings;  // or, when empty, the preset fields
        int nPreset;
        std::vector<CPresetFieldChoice> fields;
    };
    const std::vector<Case> cases = {
        {"the device is in Local mode", [&] { DeviceWrite(EBlock::System, [](uint8_t* s) { s[qz::kSysRemote] = 0; }); },
         {Setting("direction", 1)}, 0, {}},
        {"the device is in Local mode", [&] { DeviceWrite(EBlock::System, [](uint8_t* s) { s[qz::kSysRemote] = 0; }); },
         {}, 2, {{false, qz::kListGopSize, nGop15}}},
        {"the mode switch SW6 holds the device in Remote",
         [&] { emulator.Emulator().SetControlMode(0x01), Refresh(EBlock::ControlMode); },
         {Setting("control-mode", 0)}, 0, {}},
        {"follows the SDI input (1080/59.94i)",
         [&] { emulator.Emulator().SetInputFormat(CEmulatorState::kFormatAuto), Refresh(EBlock::Status); },
         {Setting("frame-rate", 1)}, 0, {}},
        {"gop is not used with codec HDV/DV (the preset editor disables it)", [] {}, {}, 3,
         {{false, qz::kListCodec, qz::kCodecHdvDv}, {false, qz::kListGopSize, nGop15}}},
        {"codec=LowLatency: the device does not offer it",
         [&] { emulator.Emulator().SetLowLatencyAvailable(false), Refresh(EBlock::Status); }, {}, 1,
         {{false, qz::kListCodec, qz::kCodecLowLatency}}},
        {"fan has no value 7", [] {}, {Setting("fan", 7)}, 0, {}},
        {"there is no preset 9", [] {}, {}, 9, {}},
        {"no preset field 99", [] {}, {}, 1, {{true, 99, 1}}},
    };
    for (const Case& c : cases) {
        c.fnSetup();
        Flush();
        tap.Clear();
        std::string why;
        if (!c.settings.empty()) {
            const auto refusals = session.SettingRefusals(c.settings);
            ASSERT_EQ(refusals.size(), 1u) << c.pszReason;
            why = refusals[0].strReason;
            EXPECT_EQ(session.WriteSettings(c.settings), ESend::Refused) << c.pszReason;
        } else {
            const auto refusals = session.PresetRefusals(c.nPreset, c.fields);
            ASSERT_FALSE(refusals.empty()) << c.pszReason;
            why = refusals.back();
            EXPECT_EQ(session.SavePreset(c.nPreset, c.fields), ESend::Refused) << c.pszReason;
        }
        EXPECT_NE(why.find(c.pszReason), std::string::npos) << why;
        EXPECT_EQ(tap.Count(), 0u) << c.pszReason;
        // Back to a device that lets everything be written.
        emulator.Emulator().SetControlMode(0);
        emulator.Emulator().SetInputFormat(qz::kVideoFormatNoSignal);
        emulator.Emulator().SetLowLatencyAvailable(true);
        DeviceWrite(EBlock::System, [](uint8_t* s) { s[qz::kSysRemote] = 1; });
        Refresh(EBlock::ControlMode);
        Refresh(EBlock::Status);
    }
}

TEST_F(DeviceSession, AWriteIsTheWholeBlockReadBackAndToldWhenItChanges) {
    uint8_t before[qz::kSystemSize];
    ASSERT_TRUE(session.ReadReceived(EBlock::System, before, sizeof before));
    tap.Clear();
    log.Clear();
    ASSERT_EQ(session.WriteSettings({Setting("direction", 1), Setting("fan", 0)}), ESend::Sent);
    Flush();
    ASSERT_EQ(Told(EBlock::System).size(), 1u);
    EXPECT_TRUE(Told(EBlock::System)[0].bChanged);
    std::vector<Bytes> frames = tap.Messages();
    frames.pop_back();  // Flush's request
    Bytes expected(before, before + qz::kSystemSize);
    expected[qz::kSysDirection] = 1, expected[qz::kSysFan] = 0;
    EXPECT_EQ(Writes(frames), (std::vector<std::pair<uint32_t, Bytes>>{{qz::kAddrSystem, expected}}));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(CForwardingPeer::Address(frames[1].data()), qz::kAddrSystem);  // the read-back
    uint8_t received[qz::kSystemSize];
    ASSERT_TRUE(session.ReadReceived(EBlock::System, received, sizeof received));
    EXPECT_EQ(Bytes(received, received + sizeof received), expected);

    // The same block again: its reply is told, as unchanged.
    EXPECT_FALSE(Refresh(EBlock::System).bChanged);
}

TEST_F(DeviceSession, FromLocalTheSwitchToRemoteGoesFirstOnItsOwn) {
    DeviceWrite(EBlock::System, [](uint8_t* s) { s[qz::kSysRemote] = 0; });
    tap.Clear();
    ASSERT_EQ(session.WriteSettings({Setting("direction", 1), Setting("control-mode", 1)}), ESend::Sent);
    for (int n = 0; n < 500 && DeviceSystemByte(qz::kSysDirection) != 1; ++n)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto writes = Writes(tap.Messages());
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].second[qz::kSysRemote], 1);
    EXPECT_EQ(writes[0].second[qz::kSysDirection], 0);  // a Local device would drop it
    EXPECT_EQ(writes[1].second[qz::kSysDirection], 1);
    EXPECT_EQ(DeviceSystemByte(qz::kSysRemote), 1);
    EXPECT_EQ(DeviceSystemByte(qz::kSysDirection), 1);
}

TEST_F(DeviceSession, AReadBackThatDiffersFromTheWriteIsWhatTheImageHolds) {
    tap.m_bLoseWrites = true;
    log.Clear();
    ASSERT_EQ(session.WriteSettings({Setting("sync", 1)}), ESend::Sent);
    Flush();
    ASSERT_EQ(Told(EBlock::System).size(), 1u);
    EXPECT_FALSE(Told(EBlock::System)[0].bChanged);
    EXPECT_EQ(session.Image().ReadByte(EBlock::System, qz::kSysSyncOperation), 0);
    uint8_t received[qz::kSystemSize];
    ASSERT_TRUE(session.ReadReceived(EBlock::System, received, sizeof received));
    EXPECT_EQ(received[qz::kSysSyncOperation], 0);
}

TEST_F(DeviceSession, APresetSaveIsTheEditorsOkThenReadBack) {
    DeviceWrite(EBlock::Preset4, [](uint8_t* p) {
        qz::Write8(p, qz::kPresetCodec, qz::kCodecMpeg2);
        qz::Write16(p, qz::kPresetHdBitRate, 85);  // between two items: the editor's save truncates it
    });
    tap.Clear();
    uint8_t sent[qz::kPresetSize];
    const int nGop15 = qz::FindItem(qz::kPresetLists[qz::kListGopSize].items, "15");
    ASSERT_EQ(session.SavePreset(4, {{false, qz::kListGopSize, nGop15}, {true, qz::kHexPmt, 0x1f}}, sent), ESend::Sent);
    EXPECT_EQ(qz::Read16(sent, qz::kPresetHdBitRate), 80);
    EXPECT_EQ(qz::Read8(sent, qz::kPresetGopSize), 15);
    EXPECT_EQ(qz::Read16(sent, qz::kPresetPmtPid), 0x1f);
    Flush();
    // All eight presets in order, then the system block; the preset is asked for back.
    std::vector<uint32_t> addresses;
    for (const auto& w : Writes(tap.Messages())) addresses.push_back(w.first);
    std::vector<uint32_t> expected;
    for (int n = 0; n < qz::kPresetCount; ++n) expected.push_back(qz::PresetAddress(n));
    expected.push_back(qz::kAddrSystem);
    EXPECT_EQ(addresses, expected);
    uint8_t back[qz::kPresetSize];
    ASSERT_TRUE(session.ReadReceived(EBlock::Preset4, back, sizeof back));
    EXPECT_EQ(0, std::memcmp(back, sent, sizeof back));
}

// The status replies counted before a reconnect must not bring the new link up.
TEST_F(DeviceSession, ReconnectWaitsForANewStatusReply) {
    EXPECT_EQ(session.Tick(), CLinkWatch::kTickLinkUp);
    emulator.Faults().m_bSilent = true;
    for (auto drop : {+[](CDeviceSession& s) { s.Reconnect(); }, +[](CDeviceSession& s) { s.PortsGone(); }}) {
        drop(session);
        EXPECT_FALSE(session.IsLinkUp());
        for (int t = 0; t < 3; ++t) EXPECT_EQ(session.Tick(), CLinkWatch::kTickIdle) << t;
    }
}

// A read-back waiter watches the image's mark: once it sees it, the session holds the
// reply too (the command line's refusals read that), and a listener's Block event finds
// the mark set.
TEST_F(DeviceSession, AReplyIsMarkedStoredAfterTheSessionHoldsItAndBeforeItIsTold) {
    struct CMarks : CSessionListener {
        CDeviceSession& s;
        CSessionLog& log;
        std::atomic<int> nMarkedEarly{0}, nToldUnmarked{0};
        CMarks(CDeviceSession& session, CSessionLog& l) : s(session), log(l) {}
        void OnReplyNotify(int, int) override { nMarkedEarly += s.Image().ReplyStored(EBlock::System); }
        void OnSessionEvent(const CSessionEvent& e) override {
            nToldUnmarked += e.eKind == CSessionEvent::EKind::Block && !s.Image().ReplyStored(e.eBlock);
            log.OnSessionEvent(e);
        }
    } marks(session, log);
    session.SetListener(&marks);
    session.Image().ForgetReply(EBlock::System);
    Refresh(EBlock::System);
    session.SetListener(&log);
    EXPECT_EQ(marks.nMarkedEarly.load(), 0);
    EXPECT_EQ(marks.nToldUnmarked.load(), 0);
}

TEST_F(DeviceSession, TellsTheLinkComingAndGoingAndThePortsGone) {
    EXPECT_EQ(session.Tick(), CLinkWatch::kTickLinkUp);
    emulator.Faults().m_bSilent = true;
    int nTicks = 1;
    while (session.Tick() != CLinkWatch::kTickLinkLost && nTicks < 100) ++nTicks;
    EXPECT_GE(nTicks, CLinkWatch::kSilentTicksLimit - 1);
    EXPECT_LT(nTicks, 100);
    session.PortsGone();
    EXPECT_FALSE(session.IsConnected());
    std::vector<CSessionEvent::EKind> kinds;
    for (const CSessionEvent& e : log.Events())
        if (e.eKind != CSessionEvent::EKind::Block) kinds.push_back(e.eKind);
    EXPECT_EQ(kinds, (std::vector<CSessionEvent::EKind>{CSessionEvent::EKind::LinkUp, CSessionEvent::EKind::LinkLost,
                                                          CSessionEvent::EKind::PortsGone}));
    EXPECT_EQ(session.FlashRefusal(), "the device's MIDI ports are not open");
}

}  // namespace
