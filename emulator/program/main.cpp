// qz81kt-emu: the emulated converter on real MIDI ports, for the panel and the command
// line to talk to without hardware.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "emulator/QZ81KTEmulator.h"
#include "emulator/program/EmulatorOptions.h"
#include "emulator/program/JackMessages.h"
#include "emulator/program/RtMidiEmulatorPorts.h"
#include "midi/MidiApi.h"

namespace {

std::atomic<bool> g_bStop{false};
extern "C" void OnSignal(int) { g_bStop.store(true); }

void ReportJackMessages(bool bVerbose) {
    if (const uint64_t n = qz::JackMessagesCounted(); n > 0 && !bVerbose)
        std::fprintf(stderr, "qz81kt-emu: libjack reported %llu messages (-v shows them)\n",
                     static_cast<unsigned long long>(n));
}

}  // namespace

int main(int argc, char** argv) {
    CQZ81KTEmulator emulator;
    CEmulatorOptions options;
    std::string strError;
    if (!qz::ParseEmulatorOptions(argc, argv, options, emulator, strError)) {
        std::fprintf(stderr, "qz81kt-emu: %s\n%s", strError.c_str(), kEmulatorUsage);
        return 2;
    }
    if (options.bHelp) {
        std::fputs(kEmulatorUsage, stdout);
        return 0;
    }
    const std::string& strName = options.strName;
    std::string strFlash = options.strFlash;
    const std::string& strProductID = options.strProductID;
    const bool bProductID = options.bProductID;
    const bool bVerbose = options.bVerbose;
    if (strName.compare(0, 7, "QZ-81KT") != 0) {
        std::fprintf(stderr, "qz81kt-emu: the client name must begin with \"QZ-81KT\" so that the panel finds it\n");
        return 2;
    }
    uint8_t productID[qz::kProductIDSize];
    if (bProductID && !CEmulatorState::ProductIDFromText(strProductID, productID)) {
        std::fprintf(stderr, "qz81kt-emu: --product-id takes 1 to 16 printable ASCII characters (not '%s')\n",
                     strProductID.c_str());
        return 2;
    }
    if (options.nRebootMs >= 0) emulator.SetRebootMs(static_cast<uint32_t>(options.nRebootMs));
    if (!strFlash.empty()) {
        // A missing file is a first run; a damaged one is reported and left untouched.
        if (FILE* f = std::fopen(strFlash.c_str(), "r")) {
            std::fclose(f);
            if (!emulator.LoadFlashFile(strFlash)) {
                std::fprintf(stderr, "qz81kt-emu: %s is not a flash file; starting from factory defaults\n",
                             strFlash.c_str());
                strFlash.clear();
            }
        }
        if (!strFlash.empty()) emulator.SetFlashFile(strFlash);
    }
    // Given on the command line, the product ID replaces the one a flash file kept.
    if (bProductID) emulator.SetProductID(strProductID);

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    qz::RouteJackMessages(bVerbose);
    CRtMidiEmulatorPorts ports;
    ports.SetVerbose(bVerbose);
    emulator.SetOutput(&ports);
    std::string strWhy;
    if (!ports.Open(options.eApi, strName, emulator, strWhy)) {
        std::fprintf(stderr, "qz81kt-emu: cannot open MIDI ports: %s\n", strWhy.c_str());
        ReportJackMessages(bVerbose);
        return 3;
    }
    if (!emulator.Start()) {
        std::fprintf(stderr, "qz81kt-emu: the emulator did not start\n");
        return 1;
    }
    std::fprintf(stderr, "qz81kt-emu: \"%s\" ready on %s\n", strName.c_str(), ports.ApiName().c_str());
    while (!g_bStop.load()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // The worker may be inside a send: end it before the ports go. Input that still
    // arrives meanwhile only lands in the stopped emulator's inbox.
    emulator.Stop();
    emulator.SetOutput(nullptr);
    ports.Close();
    ReportJackMessages(bVerbose);
    std::fprintf(stderr, "qz81kt-emu: stopped\n");
    return 0;
}
