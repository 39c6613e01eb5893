// The workers of a linked session run named and in the batch class: the idle cost of a
// linked window depends on their hand-offs not preempting one another.
#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "emulator/LoopbackEmulator.h"
#include "midi/PortWatch.h"
#include "protocol/device/DeviceSession.h"

namespace {

// Each thread of this process by name, with its scheduling class.
std::map<std::string, int> ThreadPolicies() {
    std::map<std::string, int> policies;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string strName;
        std::getline(std::ifstream(task.path() / "comm"), strName);
        policies[strName] = sched_getscheduler(std::stoi(task.path().filename().string()));
    }
    return policies;
}

TEST(WorkerThread, LinkedSessionWorkersAreNamedAndBatch) {
    CLoopbackDriver driver;
    CLoopbackEmulator emulator{driver};
    ASSERT_TRUE(emulator.Start());
    CDeviceSession session{driver, nullptr};
    ASSERT_EQ(session.Connect(emulator.Port(), emulator.Port()), CDeviceSession::EConnect::Ok);
    CPortWatch watch(&driver);
    watch.Start();
    const char* const names[] = {"qz-emulator", "qz-midi-in", "qz-midi-out", "qz-port-watch"};
    auto policies = ThreadPolicies();
    // A worker names itself when it first runs, which may be after Start returned.
    for (int i = 0; i < 200 && !std::ranges::all_of(names, [&](const char* p) { return policies.contains(p); }); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        policies = ThreadPolicies();
    }
    for (const char* pszName : names) {
        auto it = policies.find(pszName);
        ASSERT_NE(it, policies.end()) << pszName;
        EXPECT_EQ(it->second, SCHED_BATCH) << pszName;
    }
    EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER) << "the caller's own class is left alone";
    watch.Stop();
    session.Disconnect();
}

}  // namespace
