#pragma once
// qz81kt-emu's command line: split by CLI11 as qz81kt's is, checked and worded by us, as
// qz81kt checks and words its own (a usage error is one line, then the usage, exit 2).
#include <string>

#include "midi/MidiApi.h"

class CQZ81KTEmulator;

struct CEmulatorOptions {
    EMidiApi eApi = EMidiApi::Auto;
    std::string strName = "QZ-81KT";
    std::string strFlash;
    std::string strProductID;
    bool bProductID = false;  // given: replaces the emulator's own and a flash file's
    long nRebootMs = -1;       // -1: the emulator's default
    bool bVerbose = false;
    bool bHelp = false;
};

extern const char* const kEmulatorUsage;

namespace qz {
// Reads the options into options and the fault switches into emulator's faults. False,
// with a one-line reason, on a usage error.
bool ParseEmulatorOptions(int argc, const char* const* argv, CEmulatorOptions& options, CQZ81KTEmulator& emulator,
                          std::string& strError);
}  // namespace qz
