#include <gtest/gtest.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "cli/CliApp.h"
#include "emulator/LoopbackEmulator.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

struct CMonitorRun {
    int rc;
    std::vector<std::string> lines;
    std::string err;
};

CMonitorRun Monitor(CLoopbackDriver& driver, std::vector<std::string> args, std::chrono::milliseconds runFor) {
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(runFor);
        stop = true;
    });
    std::ostringstream out, err;
    args.insert(args.begin(), "monitor");
    int rc = qz::RunCli(args, out, err, &driver, &stop);
    stopper.join();
    CMonitorRun r{rc, {}, err.str()};
    std::istringstream lines(out.str());
    for (std::string l; std::getline(lines, l);) r.lines.push_back(l);
    return r;
}

struct MonitorCommand : ::testing::Test {
    CLoopbackDriver driver;
    CLoopbackEmulator emulator{driver};
    void SetUp() override { ASSERT_TRUE(emulator.Start()); }
};

TEST_F(MonitorCommand, JsonShowsTheConversationAndEndsWithTheCounters) {
    CMonitorRun r = Monitor(driver, {"--json"}, 700ms);
    EXPECT_EQ(r.rc, kExitInterrupted) << r.err;
    ASSERT_GE(r.lines.size(), 20u) << r.err;
    bool bRequestAll = false, bStatusReply = false, bPoll = false;
    for (size_t i = 0; i + 1 < r.lines.size(); ++i) {
        json j = json::parse(r.lines[i]);
        const std::string text = j["text"];
        bRequestAll |= j["dir"] == "out" && text == "RQ1 version (7F 00 00, 8), checksum good" &&
                       j["hex"] == "F0 41 7F 00 00 3F 11 7F 00 00 00 00 08 79 F7";
        bStatusReply |= j["dir"] == "in" && text == "DT1 status (01 00 00, 58 bytes), checksum good" && j["length"] == 70;
        bPoll |= j["dir"] == "out" && text == "RQ1 control mode (7F 08 00, 1), checksum good";
    }
    EXPECT_TRUE(bRequestAll && bStatusReply && bPoll) << r.lines.front();
    EXPECT_NE(r.err.find("link up"), std::string::npos) << r.err;
    json summary = json::parse(r.lines.back())["summary"];
    EXPECT_GT(summary["in"].get<int>(), 13);
    EXPECT_EQ(summary["shown"].get<size_t>(), r.lines.size() - 1);
    EXPECT_EQ(summary["records_dropped"], 0);
}

TEST_F(MonitorCommand, FiltersKeepOnlyWhatWasAskedFor) {
    emulator.Faults().m_nFloodPerSecond = 2000;  // clocks, notes and foreign SysEx beside the replies
    CMonitorRun r = Monitor(driver, {"--filter", "polls,in"}, 700ms);
    ASSERT_GE(r.lines.size(), 10u);
    bool bForeign = false;
    for (size_t i = 0; i + 1 < r.lines.size(); ++i) {
        const std::string& l = r.lines[i];
        EXPECT_EQ(l.substr(10, 5), " in  ") << l;
        EXPECT_EQ(l.find("DT1 status"), std::string::npos) << l;
        bForeign |= l.find("active sensing") != std::string::npos;
    }
    EXPECT_TRUE(bForeign);
    EXPECT_EQ(r.lines.back().rfind("summary: ", 0), 0u) << r.lines.back();

    CMonitorRun raw = Monitor(driver, {"--raw", "--filter", "sysex,out"}, 300ms);
    ASSERT_GE(raw.lines.size(), 14u);
    EXPECT_EQ(raw.lines[0].substr(10), " out F0 41 7F 00 00 3F 11 7F 00 00 00 00 08 79 F7");
    std::ostringstream out, err;
    EXPECT_EQ(qz::RunCli({"monitor", "--filter", "notes"}, out, err, &driver), kExitUsage);
}

}  // namespace
