#pragma once
// qz81kt: the command-line front end over the same core as the window.
#include <atomic>
#include <iosfwd>
#include <string>
#include <vector>

class CMidiDriver;

enum ECliExit { kExitOk = 0, kExitNoAnswer = 1, kExitUsage = 2, kExitPort = 3, kExitInterrupted = 130 };

// Runs one command line (without the program name). pDriver, when given, replaces the
// real MIDI system (tests pass a loopback driver); --emulate adds the built-in emulator's
// pair after its ports. Setting *pStop (Ctrl-C) ends any command within a few
// milliseconds with kExitInterrupted; nothing is sent after it.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, CMidiDriver* pDriver = nullptr,
           const std::atomic<bool>* pStop = nullptr);
