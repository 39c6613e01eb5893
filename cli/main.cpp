#include <csignal>
#include <iostream>

#include "cli/CliApp.h"

namespace {
std::atomic<bool> g_bStop{false};
volatile std::sig_atomic_t g_nSignal = 0;

extern "C" void OnSignal(int nSignal) {
    g_nSignal = nSignal;
    g_bStop.store(true);
}
}  // namespace

int main(int argc, char** argv) {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESETHAND;  // a second Ctrl-C ends the program at once
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A reader that closes the pipe (status --watch | head -1) makes writes fail, which the
    // watch notices and ends quietly; without this the program would die of SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args(argv + 1, argv + argc);
    int rc = qz::RunCli(args, std::cout, std::cerr, nullptr, &g_bStop);
    if (rc == kExitInterrupted && g_nSignal) rc = 128 + g_nSignal;
    return rc;
}
