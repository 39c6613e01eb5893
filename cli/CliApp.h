#pragma once
// qz81kt: the command-line front end over the same core as the window.
#include <atomic>
#include <iosfwd>
#include <string>
#include <vector>

class CMidiDriver;

enum ECliExit {
    kExitOk = 0,
    kExitNoAnswer = 1,  // also: import found the device holding other values; diff found differences
    kExitUsage = 2,
    kExitPort = 3,
    kExitRefused = 4,       // set, preset: refused by the window's rules, or the read-back differs
    kExitDiffNoAnswer = 5,  // diff only: the device did not answer (1 means "differs")
    kExitFile = 6,          // export, import, diff: the file could not be read or written (was 4)
    kExitInterrupted = 130,
};

namespace qz {
// Runs one command line (without the program name). pDriver, when given, replaces the
// real MIDI system (tests pass a loopback driver); --emulate adds the built-in emulator's
// pair after its ports. Setting *pStop (Ctrl-C) ends any command within a few
// milliseconds with kExitInterrupted; nothing is sent after it.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, CMidiDriver* pDriver = nullptr,
           const std::atomic<bool>* pStop = nullptr);
}  // namespace qz
