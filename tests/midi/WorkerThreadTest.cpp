// A linked session's workers run named and in the batch class: a linked window's idle
// cost depends on their hand-offs not preempting one another.
#include <gtest/gtest.h>
#include <sched.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "emulator/LoopbackEmulator.h"
#include "midi/PortWatch.h"
#include "protocol/device/DeviceSession.h"

TEST(WorkerThread, LinkedSessionWorkersAreNamedAndBatch) {
    CLoopbackDriver driver;
    CLoopbackEmulator emulator{driver};
    ASSERT_TRUE(emulator.Start());
    CDeviceSession session{driver, nullptr};
    ASSERT_EQ(session.Connect(emulator.Port(), emulator.Port()), CDeviceSession::EConnect::Ok);
    CPortWatch watch(&driver);
    watch.Start();
    auto policyOf = [](const std::string& strName) {  // -1: no thread of that name
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
            std::string strComm;
            std::getline(std::ifstream(task.path() / "comm"), strComm);
            if (strComm == strName) return sched_getscheduler(std::stoi(task.path().filename().string()));
        }
        return -1;
    };
    for (const char* pszName : {"qz-emulator", "qz-midi-in", "qz-midi-out", "qz-port-watch"}) {
        int nPolicy = -1;
        // A worker names itself when it first runs, which may be after Start returned.
        for (int i = 0; i < 200 && (nPolicy = policyOf(pszName)) == -1; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(nPolicy, SCHED_BATCH) << pszName;
    }
    EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER) << "the caller's own class is left alone";
    watch.Stop();
    session.Disconnect();
}
