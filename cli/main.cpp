#include <csignal>
#include <iostream>

#include "cli/CliApp.h"

namespace {
std::atomic<bool> g_bStop{false};
extern "C" void OnSignal(int) { g_bStop.store(true); }
}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunCli(args, std::cout, std::cerr, nullptr, &g_bStop);
}
