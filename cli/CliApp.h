#pragma once
// qz81kt: the command-line front end over the same core as the window.
#include <atomic>
#include <iosfwd>
#include <string>
#include <vector>

class CMidiDriver;

enum ECliExit { kExitOk = 0, kExitNoAnswer = 1, kExitUsage = 2, kExitPort = 3 };

// Runs one command line (without the program name). pDriver, when given, replaces the
// MIDI system (tests pass a loopback driver); pStop ends "status --watch" when set.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, CMidiDriver* pDriver = nullptr,
           const std::atomic<bool>* pStop = nullptr);
