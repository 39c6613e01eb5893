#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <sstream>
#include <thread>

#include "cli/CliApp.h"
#include "cli/CliOptions.h"
#include "cli/ServeCommand.h"
#include "emulator/LoopbackEmulator.h"
#include "midi/platform/LoopbackDriver.h"
#include "protocol/wire/DeviceFrames.h"

namespace {

using namespace std::chrono_literals;

struct CliResult {
    int rc;
    std::string out, err;
};

CliResult RunQz(const std::vector<std::string>& args, CMidiDriver* pDriver = nullptr,
              const std::atomic<bool>* pStop = nullptr) {
    std::ostringstream out, err;
    int rc = qz::RunCli(args, out, err, pDriver, pStop);
    return {rc, out.str(), err.str()};
}

std::string JsonBytes(const uint8_t* p, size_t n) {
    std::string s = "[";
    for (size_t i = 0; i < n; ++i) s += (i ? "," : "") + std::to_string(p[i]);
    return s + "]";
}

TEST(Cli, UsageErrorsExitWithTwo) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"frobnicate"}, {"dump", "--in"}, {"dump", "--watch"}, {"status", "--timeout-ms", "-5"},
             {"status", "--timeout-ms", "abc"}, {"ports", "--api", "oss"}, {"dump", "extra", "ports"}, {"--bogus", "dump"}}) {
        CliResult r = RunQz(args);
        EXPECT_EQ(r.rc, kExitUsage) << (args.empty() ? "(none)" : args[0]);
        EXPECT_NE(r.err.find("usage: qz81kt"), std::string::npos);
    }
    CliResult help = RunQz({"--help"});
    EXPECT_EQ(help.rc, kExitOk);
    EXPECT_NE(help.out.find("exit codes"), std::string::npos);
}

TEST(Cli, ServeTakesTheWebPageOnlyWithItsSafeguards) {
    struct CCase {
        std::vector<std::string> args;
        const char* pszError;  // null: accepted
    };
    const CCase cases[] = {
        {{"serve", "--http", "8080"}, nullptr},
        {{"serve", "--http", "[::1]:8080", "--ember", "9000"}, nullptr},
        {{"serve", "--http", "0.0.0.0:8443", "--allow", "10.1.0.0/16", "--token-file", "t"}, nullptr},
        {{"serve", "--http", "0.0.0.0:8080", "--allow", "10.1.0.0/16"}, "--token-file"},
        {{"serve", "--http", "0.0.0.0:8080", "--token-file", "t"}, "--allow"},
        {{"serve", "--http", "70000"}, "[ADDR:]PORT"},
        {{"serve", "--http", "8080", "--tls-cert", "c.pem"}, "go together"},
        {{"serve", "--token-file", "t"}, "belong to --http"},
    };
    for (const CCase& c : cases) {
        CCliOptions options;
        std::string strError;
        ASSERT_TRUE(qz::ParseCliOptions(c.args, options, strError)) << strError;
        EXPECT_EQ(CServeCommand::CheckOptions(options, strError), c.pszError == nullptr) << c.args[2];
        if (c.pszError) {
            EXPECT_NE(strError.find(c.pszError), std::string::npos) << strError;
        }
    }
}

struct CliWithEmulator : ::testing::Test {
    CLoopbackDriver driver;
    uint32_t usb = driver.AddPortPair("USB Audio", nullptr);
    CLoopbackEmulator emulator{driver};
    void SetUp() override { ASSERT_TRUE(emulator.Start()); }
};

// Stands for a device that hears but never answers; sets the stop flag (as Ctrl-C does)
// once the program has sent nStopAt frames.
struct CMuteDevice : CLoopbackPeer {
    std::atomic<bool>& stop;
    size_t nStopAt;
    std::atomic<size_t> nFrames{0};
    CMuteDevice(std::atomic<bool>& s, size_t n) : stop(s), nStopAt(n) {}
    void OnPeerReceive(const uint8_t*, size_t) override {
        if (++nFrames == nStopAt) stop = true;
    }
};

TEST(Cli, InterruptEndsEveryCommandWith130AndNothingMoreIsSent) {
    // The request-all sequence and the control mode request go out first; the stop
    // comes while the program waits for answers that never come.
    constexpr size_t kFirstFrames = 14;
    for (const auto& args : std::vector<std::vector<std::string>>{{"dump"}, {"status"}, {"status", "--watch"}}) {
        std::atomic<bool> stop{false};
        CMuteDevice device(stop, kFirstFrames);
        CLoopbackDriver driver;
        driver.AddPortPair("QZ-81KT MIDI", &device);
        std::vector<std::string> a = args;
        a.insert(a.end(), {"--timeout-ms", "5000"});
        CliResult r = RunQz(a, &driver, &stop);
        EXPECT_EQ(r.rc, kExitInterrupted) << args.back() << ": " << r.err;
        EXPECT_EQ(r.out, "") << args.back();
        EXPECT_EQ(device.nFrames.load(), kFirstFrames) << args.back();
    }
}

TEST(Cli, PortArgumentsThatMatchNothingExitWithThreeAndOneLine) {
    CLoopbackDriver driver;
    driver.AddPortPair("QZ-81KT MIDI", nullptr);
    for (const char* port : {"99999999999999999999999", "18446744073709551616", "1", "00000000000000000000001", "QZ-81KTX"}) {
        CliResult r = RunQz({"dump", "--in", port}, &driver);
        EXPECT_EQ(r.rc, kExitPort) << port;
        EXPECT_EQ(r.err, std::string("qz81kt: no MIDI input port matches '") + port + "'\n");
    }
}

TEST(Cli, EmulateAddsTheEmulatorAfterTheRealPorts) {
    CLoopbackDriver real;
    real.AddPortPair("USB MIDI", nullptr);
    CliResult r = RunQz({"--emulate", "ports"}, &real);
    EXPECT_NE(r.out.find("   0: USB MIDI\n * 1: QZ-81KT Emulator\n"), std::string::npos) << r.out;
    CliResult dump = RunQz({"--emulate", "dump", "--json"}, &real);
    EXPECT_EQ(dump.rc, kExitOk) << dump.err;
    // A real device named like the model comes first.
    real.AddPortPair("QZ-81KT MIDI", nullptr);
    r = RunQz({"--emulate", "ports"}, &real);
    EXPECT_NE(r.out.find(" * 1: QZ-81KT MIDI\n   2: QZ-81KT Emulator\n"), std::string::npos) << r.out;
}

TEST_F(CliWithEmulator, PortsMarkTheEmulatorAsPreselected) {
    CliResult r = RunQz({"ports"}, &driver);
    EXPECT_EQ(r.rc, kExitOk);
    EXPECT_NE(r.out.find("   0: USB Audio"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" * 1: QZ-81KT Emulator"), std::string::npos) << r.out;
    CliResult j = RunQz({"ports", "--json"}, &driver);
    EXPECT_NE(j.out.find("{\"number\":1,\"name\":\"QZ-81KT Emulator\",\"device\":\"QZ-81KT Emulator\",\"preselected\":true}"),
              std::string::npos)
        << j.out;
}

TEST_F(CliWithEmulator, DumpJsonCarriesTheDeviceBlocksExactly) {
    CliResult r = RunQz({"dump", "--json"}, &driver);
    ASSERT_EQ(r.rc, kExitOk) << r.err;
    uint8_t block[64];
    size_t n = emulator.Emulator().ReadBlock(qz::kAddrSystem, block, sizeof block);
    EXPECT_NE(r.out.find("\"system\":" + JsonBytes(block, n)), std::string::npos) << r.out;
    n = emulator.Emulator().ReadBlock(qz::kAddrTimecode, block, sizeof block);
    EXPECT_NE(r.out.find("\"timecode\":" + JsonBytes(block, n)), std::string::npos);
    n = emulator.Emulator().ReadBlock(qz::PresetAddress(7), block, sizeof block);
    EXPECT_NE(r.out.find(JsonBytes(block, n) + "]"), std::string::npos);  // the last preset closes the array
    for (const char* key : {"\"identity\":\"ver:", "\"status\":[", "\"presets\":[[", "\"preset_lines\":[\"0: ",
                            "\"status_text\":{\"timecode\":", "\"video_format\":", "\"power\":", "\"ieee1394_format\":",
                            "\"control_mode\":\"Local\",\"control_mode_byte\":0,\"mode_switches\":{\"SW1\":false"})
        EXPECT_NE(r.out.find(key), std::string::npos) << key;
    CliResult text = RunQz({"dump"}, &driver);
    ASSERT_EQ(text.rc, kExitOk);
    EXPECT_NE(text.out.find("Identity : ver:"), std::string::npos);
    EXPECT_NE(text.out.find("7: MPEG-2  50M/"), std::string::npos) << text.out;
}

TEST_F(CliWithEmulator, SilentDeviceExitsWithOneAndNamesTheMissingBlocks) {
    emulator.Faults().m_bSilent = true;
    CliResult r = RunQz({"dump", "--timeout-ms", "300"}, &driver);
    EXPECT_EQ(r.rc, kExitNoAnswer);
    EXPECT_NE(r.err.find("missing: version, product ID, system, timecode, preset 0"), std::string::npos) << r.err;
    // Once it answers again, a single status reading works.
    emulator.Faults().m_bSilent = false;
    CliResult ok = RunQz({"status", "--timeout-ms", "2000"}, &driver);
    EXPECT_EQ(ok.rc, kExitOk) << ok.err;
    EXPECT_NE(ok.out.find("1080/59.94i"), std::string::npos) << ok.out;
    EXPECT_NE(ok.out.find(" | Local\n"), std::string::npos) << ok.out;  // the control mode is read too
}

TEST_F(CliWithEmulator, PortThatCannotBeOpenedOrFoundExitsWithThree) {
    CliResult r = RunQz({"dump", "--in", "7"}, &driver);
    EXPECT_EQ(r.rc, kExitPort);
    EXPECT_NE(r.err.find("no MIDI input port matches '7'"), std::string::npos) << r.err;
    driver.Faults(emulator.Port()).m_bFailOutOpen = true;
    r = RunQz({"dump", "--out", "QZ-81KT"}, &driver);
    EXPECT_EQ(r.rc, kExitPort);
    EXPECT_NE(r.err.find("cannot open MIDI output port 1 (QZ-81KT Emulator)"), std::string::npos) << r.err;
}

TEST_F(CliWithEmulator, WatchSeesTheTimecodeAdvanceAndEndsOnInterrupt) {
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(800ms);
        stop = true;
    });
    CliResult r = RunQz({"status", "--watch"}, &driver, &stop);
    stopper.join();
    EXPECT_EQ(r.rc, kExitInterrupted) << r.err;
    std::istringstream lines(r.out);
    std::vector<std::string> seen;
    for (std::string l; std::getline(lines, l);) seen.push_back(l.substr(0, l.find(" | ")));
    ASSERT_GE(seen.size(), 3u) << r.out;
    EXPECT_NE(seen.front(), seen.back());  // the timecode moved on
}

// Takes one line, then fails every write, as a pipe does once its reader has gone.
struct CClosingOutput : std::streambuf {
    std::string text;
    int_type overflow(int_type c) override {
        if (!text.empty() && text.back() == '\n') return traits_type::eof();
        text += static_cast<char>(c);
        return c;
    }
};

TEST_F(CliWithEmulator, WatchEndsQuietlyWhenTheReaderGoes) {
    CClosingOutput closing;
    std::ostream out(&closing);
    std::ostringstream err;
    std::atomic<bool> stop{false};
    std::thread watchdog([&] {  // only if the watch ignores the closed output
        for (int i = 0; i < 500 && !stop; ++i) std::this_thread::sleep_for(10ms);
        stop = true;
    });
    int rc = qz::RunCli({"status", "--watch"}, out, err, &driver, &stop);
    bool bStoppedByWatchdog = stop.exchange(true);
    watchdog.join();
    EXPECT_EQ(rc, kExitOk);
    EXPECT_FALSE(bStoppedByWatchdog);
    EXPECT_EQ(err.str(), "");
    EXPECT_NE(closing.text.find("1080/59.94i"), std::string::npos) << closing.text;
}

TEST_F(CliWithEmulator, WatchExitsWithOneWhenTheDeviceGoesAway) {
    std::thread killer([&] {
        std::this_thread::sleep_for(500ms);
        emulator.Emulator().PowerOff();
    });
    auto start = std::chrono::steady_clock::now();
    CliResult r = RunQz({"status", "--watch"}, &driver);
    auto took = std::chrono::steady_clock::now() - start;
    killer.join();
    EXPECT_EQ(r.rc, kExitNoAnswer);
    EXPECT_NE(r.err.find("no status reply for 5 s"), std::string::npos) << r.err;
    EXPECT_LT(took, 10s);
}

}  // namespace

namespace {

TEST_F(CliWithEmulator, WatchWithReconnectOutlivesAnUnpluggedDevice) {
    std::atomic<bool> stop{false};
    std::ostringstream out, err;
    std::thread operatorHand([&] {
        std::this_thread::sleep_for(500ms);
        driver.SetPresent(emulator.Port(), false);
        std::this_thread::sleep_for(1200ms);
        driver.SetPresent(emulator.Port(), true);
        std::this_thread::sleep_for(1500ms);
        stop = true;
    });
    int rc = qz::RunCli({"status", "--watch", "--reconnect"}, out, err, &driver, &stop);
    operatorHand.join();
    EXPECT_EQ(rc, kExitInterrupted) << err.str();
    const std::string e = err.str();
    const size_t nGone = e.find("ports are gone"), nBack = e.find("reconnected");
    ASSERT_NE(nGone, std::string::npos) << e;
    ASSERT_NE(nBack, std::string::npos) << e;
    EXPECT_LT(nGone, nBack);
    const std::string o = out.str();
    EXPECT_GE(std::count(o.begin(), o.end(), '\n'), 3) << o;
    EXPECT_EQ(RunQz({"status", "--reconnect"}, &driver).rc, kExitUsage);
}

}  // namespace
