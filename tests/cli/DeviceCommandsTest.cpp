// qz81kt set, get, preset, flash and factory-reset against the in-process emulator,
// with every frame the program sends recorded on the way.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <thread>

#include "cli/CliApp.h"
#include "emulator/LoopbackEmulator.h"
#include "midi/platform/LoopbackDriver.h"
#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/fields/PresetBlock.h"
#include "protocol/fields/PresetFields.h"
#include "protocol/fields/SystemSettings.h"
#include "support/RecordingPeer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Records what the program sends and hands it on; with m_bSwallowWrites a DT1 never
// reaches the device, as if it had refused it.
class CTap : public CRecordingPeer {
public:
    explicit CTap(CQZ81KTEmulator& emulator) : m_emulator(emulator) {}
    void OnPeerReceive(const uint8_t* p, size_t n) override {
        CRecordingPeer::OnPeerReceive(p, n);
        if (m_bSwallowWrites && n > 6 && p[6] == qz::kCmdDT1) return;
        m_emulator.Receive(p, n);
    }
    std::atomic<bool> m_bSwallowWrites{false};

private:
    CQZ81KTEmulator& m_emulator;
};

// The data of every DT1 to the address among the recorded frames.
std::vector<Bytes> Writes(const std::vector<Bytes>& frames, uint32_t dwAddress) {
    std::vector<Bytes> v;
    for (const Bytes& f : frames)
        if (f.size() > 12 && f[6] == qz::kCmdDT1 && ((f[7] << 16) | (f[8] << 8) | f[9]) == static_cast<int>(dwAddress))
            v.emplace_back(f.begin() + 10, f.end() - 2);
    return v;
}

struct DeviceCommands : ::testing::Test {
    CLoopbackDriver driver;
    CLoopbackEmulator emulator{driver};
    CTap tap{emulator.Emulator()};

    void SetUp() override {
        driver.SetPeer(emulator.Port(), &tap);
        emulator.Emulator().SetInputFormat(qz::kVideoFormatNoSignal);  // nothing fixes the frame rate
        ASSERT_TRUE(emulator.Start());
    }
    void TearDown() override { driver.SetPeer(emulator.Port(), nullptr); }

    struct Run {
        int rc;
        std::string out, err;
    };
    Run Qz(std::vector<std::string> args) {
        std::ostringstream out, err;
        int rc = qz::RunCli(args, out, err, &driver);
        return {rc, out.str(), err.str()};
    }
    uint8_t SystemByte(int n) { return emulator.Emulator().Memory().m_system[n]; }
    void DeviceWrite(uint32_t dwAddress, const uint8_t* p, size_t n) {
        uint8_t frame[128];
        emulator.Emulator().Receive(frame, qz::BuildDT1(frame, sizeof frame, 0x7F, dwAddress, p, n));
    }
    void SetDeviceSystemByte(int n, uint8_t by) {
        uint8_t sys[qz::kSystemSize];
        std::memcpy(sys, emulator.Emulator().Memory().m_system, sizeof sys);
        sys[n] = by;
        DeviceWrite(qz::kAddrSystem, sys, sizeof sys);
        for (int i = 0; i < 200 && SystemByte(n) != by; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
};

TEST_F(DeviceCommands, EverySettingAndValueIsWrittenAndReadBack) {
    // Control mode last: Local would lock the others out.
    std::vector<const qz::CSystemSetting*> order;
    for (const qz::CSystemSetting& s : qz::kSystemSettings)
        if (s.eRule != qz::ESettingRule::ControlMode) order.push_back(&s);
    order.push_back(qz::FindSystemSetting("control-mode"));
    for (const qz::CSystemSetting* pSetting : order) {
        const qz::CSystemSetting& s = *pSetting;
        for (int v = s.names.nCount - 1; v >= 0; --v) {
            const std::string arg = std::string(s.pszName) + "=" + qz::ItemText(s.names, v);
            Run r = Qz({"set", arg});
            ASSERT_EQ(r.rc, kExitOk) << arg << ": " << r.err;
            EXPECT_EQ(r.out, arg + "\n");
            EXPECT_EQ(SystemByte(s.nOffset), v) << arg;
            EXPECT_EQ(Qz({"get", s.pszName}).out, arg + "\n");
        }
    }
    EXPECT_EQ(SystemByte(qz::kSysRemote), 0);  // control-mode=local came last
}

TEST_F(DeviceCommands, SeveralSettingsGoInOneWriteOfTheWholeBlock) {
    uint8_t before[qz::kSystemSize];
    std::memcpy(before, emulator.Emulator().Memory().m_system, sizeof before);
    Run r = Qz({"set", "direction=ieee1394-sdi", "audio=7-8", "fan=off", "preset=6"});
    ASSERT_EQ(r.rc, kExitOk) << r.err;
    std::vector<Bytes> writes = Writes(tap.Messages(), qz::kAddrSystem);
    ASSERT_EQ(writes.size(), 1u);
    Bytes expected(before, before + qz::kSystemSize);
    expected[qz::kSysDirection] = 1, expected[qz::kSysAudioChannels] = 3, expected[qz::kSysFan] = 0;
    expected[qz::kSysPreset] = 6;
    EXPECT_EQ(writes[0], expected);
    EXPECT_EQ(Qz({"get", "--json", "fan", "direction"}).out, "{\"fan\":\"off\",\"direction\":\"ieee1394-sdi\"}\n");
}

TEST_F(DeviceCommands, LocalModeRefusesAllButTheSwitchToRemote) {
    SetDeviceSystemByte(qz::kSysRemote, 0);
    tap.Clear();
    Run r = Qz({"set", "direction=ieee1394-sdi", "frame-rate=50"});
    EXPECT_EQ(r.rc, kExitRefused);
    EXPECT_NE(r.err.find("direction=ieee1394-sdi refused: the device is in Local mode"), std::string::npos) << r.err;
    EXPECT_TRUE(Writes(tap.Messages(), qz::kAddrSystem).empty());
    EXPECT_EQ(Qz({"preset", "2", "gop=12"}).rc, kExitRefused);
    EXPECT_TRUE(Writes(tap.Messages(), qz::kAddrSystem).empty());

    // Remote goes first, alone, as the window needs; then the rest in one write.
    tap.Clear();
    r = Qz({"set", "direction=ieee1394-sdi", "control-mode=remote"});
    ASSERT_EQ(r.rc, kExitOk) << r.err;
    std::vector<Bytes> writes = Writes(tap.Messages(), qz::kAddrSystem);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0][qz::kSysRemote], 1);
    EXPECT_EQ(writes[0][qz::kSysDirection], 0);
    EXPECT_EQ(writes[1][qz::kSysDirection], 1);
    EXPECT_EQ(SystemByte(qz::kSysDirection), 1);
}

TEST_F(DeviceCommands, ModeSwitchSixHoldsRemote) {
    emulator.Emulator().SetControlMode(0x01);
    Run r = Qz({"set", "control-mode=local"});
    EXPECT_EQ(r.rc, kExitRefused);
    EXPECT_NE(r.err.find("SW6"), std::string::npos) << r.err;
    EXPECT_EQ(Qz({"set", "control-mode=remote", "sync=on"}).rc, kExitOk);
}

TEST_F(DeviceCommands, FrameRateFollowsTheInputThatFixesIt) {
    struct Case {
        int nFormat;
        const char* pszDirection;
        int nExit;
        const char* pszReason;
    };
    for (const Case& c : {Case{CEmulatorState::kFormatAuto, "sdi-ieee1394", kExitRefused, "follows the SDI input (1080/59.94i)"},
                          Case{qz::kVideoFormatNoSignal, "ieee1394-sdi", kExitRefused, "follows the IEEE1394 input"},
                          Case{qz::kVideoFormatNoSignal, "sdi-ieee1394", kExitOk, ""}}) {
        emulator.Emulator().SetInputFormat(c.nFormat);
        ASSERT_EQ(Qz({"set", std::string("direction=") + c.pszDirection}).rc, kExitOk);
        tap.Clear();
        Run r = Qz({"set", "frame-rate=50"});
        EXPECT_EQ(r.rc, c.nExit) << c.pszReason << r.err;
        EXPECT_NE(r.err.find(c.pszReason), std::string::npos) << r.err;
        EXPECT_EQ(Writes(tap.Messages(), qz::kAddrSystem).size(), c.nExit == kExitOk ? 1u : 0u);
        EXPECT_EQ(SystemByte(qz::kSysFrameRate), c.nExit == kExitOk ? 1 : 0);
    }
}

TEST_F(DeviceCommands, AWriteTheDeviceDoesNotKeepExitsWithFour) {
    tap.m_bSwallowWrites = true;
    Run r = Qz({"set", "sync=on"});
    EXPECT_EQ(r.rc, kExitRefused);
    EXPECT_EQ(r.err, "qz81kt: the device holds sync=off after the write of sync=on\n");
    r = Qz({"preset", "1", "codec=MPEG-2", "gop=9"});
    EXPECT_EQ(r.rc, kExitRefused);
    EXPECT_NE(r.err.find("preset 1 holds gop="), std::string::npos) << r.err;
}

TEST(DeviceCommandArgs, BadNamesAndValuesExitWithTwoAndTheAllowedOnes) {
    struct Case {
        std::vector<std::string> args;
        const char* pszListed;
    };
    for (const Case& c : std::vector<Case>{
             {{"set", "direction=up"}, "direction takes sdi-ieee1394, ieee1394-sdi (not 'up')"},
             {{"set", "volume=3"}, "NAME one of direction, audio, preset, control-mode, unit, frame-rate, sync"},
             {{"set", "fan"}, "NAME one of direction"},
             {{"set", "fan=on", "fan=off"}, "fan is given twice"},
             {{"set"}, "set needs NAME=VALUE"},
             {{"get", "volume"}, "settings: direction, audio"},
             {{"preset", "9"}, "preset number 0-7 first (not '9')"},
             {{"preset", "1", "gop=31"}, "gop takes 1, 2, 3"},
             {{"preset", "1", "pmt=xyz"}, "pmt takes one to four hexadecimal digits"},
             {{"preset", "1", "size=3"}, "FIELD one of codec, rx-type, hd-rate"},
             {{"factory-reset"}, "give --yes"},
             {{"get", "--yes"}, ""}}) {
        std::ostringstream out, err;
        EXPECT_EQ(qz::RunCli(c.args, out, err), kExitUsage) << c.args.back();
        EXPECT_NE(err.str().find(c.pszListed), std::string::npos) << err.str();
    }
    std::ostringstream out, err;
    ASSERT_EQ(qz::RunCli({"set", "--list"}, out, err), kExitOk);
    EXPECT_NE(out.str().find("frame-rate    59.94 | 50   (Default Frame Rate)\n"), std::string::npos) << out.str();
}

TEST_F(DeviceCommands, PresetFollowsTheEditorsRules) {
    // Preset 4 with an HD bit rate between two items: the editor's save truncates it.
    uint8_t p[qz::kPresetSize];
    std::memcpy(p, emulator.Emulator().Memory().m_preset[4], sizeof p);
    qz::Write8(p, qz::kPresetCodec, 1);
    qz::Write16(p, qz::kPresetHdBitRate, 85);
    DeviceWrite(qz::PresetAddress(4), p, sizeof p);
    tap.Clear();
    Run r = Qz({"preset", "4", "gop=15", "pmt=0x1f"});
    ASSERT_EQ(r.rc, kExitOk) << r.err;
    EXPECT_NE(r.out.find("\ngop=15\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("hd-rate=8\n"), std::string::npos);
    const CEmulatorMemory memory = emulator.Emulator().Memory();
    const uint8_t* stored = memory.m_preset[4];
    EXPECT_EQ(qz::Read8(stored, qz::kPresetGopSize), 15);
    EXPECT_EQ(qz::Read16(stored, qz::kPresetHdBitRate), 80);
    EXPECT_EQ(qz::Read16(stored, qz::kPresetPmtPid), 0x1f);
    // As the editor's OK: all eight presets, then the system block.
    int nPresets = 0;
    for (int n = 0; n < qz::kPresetCount; ++n) nPresets += Writes(tap.Messages(), qz::PresetAddress(n)).size();
    EXPECT_EQ(nPresets, 8);
    EXPECT_EQ(Writes(tap.Messages(), qz::kAddrSystem).size(), 1u);

    r = Qz({"preset", "4", "codec=HDV/DV", "gop=12"});
    EXPECT_EQ(r.rc, kExitRefused);
    EXPECT_NE(r.err.find("gop is not used with codec HDV/DV"), std::string::npos) << r.err;
    emulator.Emulator().SetLowLatencyAvailable(false);
    r = Qz({"preset", "4", "codec=lowlatency"});
    EXPECT_EQ(r.rc, kExitRefused);
    EXPECT_NE(r.err.find("codec=LowLatency: the device does not offer it"), std::string::npos) << r.err;
}

TEST_F(DeviceCommands, FlashKeepsTheSettingsAndFactoryResetWaitsForTheDevice) {
    ASSERT_EQ(Qz({"set", "sync=on"}).rc, kExitOk);
    Run r = Qz({"flash"});
    ASSERT_EQ(r.rc, kExitOk) << r.err;
    EXPECT_EQ(emulator.Emulator().FlashMemory().m_system[qz::kSysSyncOperation], 1);

    emulator.Emulator().SetRebootMs(300);
    r = Qz({"factory-reset", "--yes"});
    ASSERT_EQ(r.rc, kExitOk) << r.err;
    EXPECT_NE(r.out.find("The device answers again"), std::string::npos) << r.out;
    EXPECT_EQ(emulator.Emulator().Memory(), CEmulatorState::FactoryMemory());

    // A device that stays silent longer than the wait: told to reboot it, exit 1.
    emulator.Emulator().SetRebootMs(5000);
    r = Qz({"factory-reset", "--yes", "--timeout-ms", "300"});
    EXPECT_EQ(r.rc, kExitNoAnswer);
    EXPECT_NE(r.err.find("switch it off and on again"), std::string::npos) << r.err;
}

}  // namespace
