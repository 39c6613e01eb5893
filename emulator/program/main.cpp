// qz81kt-emu: the emulated converter on real MIDI ports, for the panel and the command
// line to talk to without hardware.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "emulator/QZ81KTEmulator.h"
#include "emulator/program/JackMessages.h"
#include "emulator/program/RtMidiEmulatorPorts.h"
#include "midi/MidiApi.h"

namespace {

std::atomic<bool> g_bStop{false};
extern "C" void OnSignal(int) { g_bStop.store(true); }

void ReportJackMessages(bool bVerbose) {
    if (const uint64_t n = JackMessagesCounted(); n > 0 && !bVerbose)
        std::fprintf(stderr, "qz81kt-emu: libjack reported %llu messages (-v shows them)\n",
                     static_cast<unsigned long long>(n));
}

const char* kUsage =
    "usage: qz81kt-emu [options]\n"
    "  --api alsa|jack      MIDI system (default: QZ81KT_MIDI_API, else ALSA, else JACK)\n"
    "  --name NAME          client name, must begin with \"QZ-81KT\" (default QZ-81KT)\n"
    "  --product-id TEXT    the unit's product ID: 1-16 printable ASCII characters, letters\n"
    "                       as capitals, blanks behind (default QZ-81KT-EMU00001)\n"
    "  --flash FILE         keep the blocks written to flash in FILE across runs\n"
    "  --reboot-ms N        silence after a factory reset (default 1500)\n"
    "  -v                   log every message in hex, and libjack's messages, on stderr\n"
    "fault switches:\n"
    "  --silent             power off: hear and answer nothing\n"
    "  --drop-every N       drop every Nth reply\n"
    "  --delay-ms N         delay every reply by N ms\n"
    "  --split N            send replies in pieces of N bytes\n"
    "  --bad-checksum       replies carry a wrong checksum\n"
    "  --device-id N        device ID in replies (default 127)\n"
    "  --size-delta N       add N data bytes to each reply (-1 or 1)\n"
    "  --flood N            N unrelated MIDI messages per second\n";

bool ParseNumber(const char* s, long lo, long hi, long& out) {
    char* end = nullptr;
    long v = std::strtol(s, &end, 0);
    if (!end || *end || v < lo || v > hi) return false;
    out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    CRtMidiEmulatorPorts::EApi eApi = CRtMidiEmulatorPorts::EApi::Auto;
    std::string strName = "QZ-81KT", strFlash, strProductID;
    bool bVerbose = false, bProductID = false;
    long nRebootMs = CQZ81KTEmulator::kDefaultRebootMs;
    CQZ81KTEmulator emulator;
    CEmulatorFaults& faults = emulator.Faults();
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        long n = 0;
        auto number = [&](long lo, long hi) {
            if (!v || !ParseNumber(v, lo, hi, n)) {
                std::fprintf(stderr, "qz81kt-emu: %s needs a number from %ld to %ld\n%s", a.c_str(), lo, hi, kUsage);
                std::exit(2);
            }
            ++i;
            return n;
        };
        if (a == "--api" && v && ParseMidiApi(v, eApi)) {
            ++i;
        } else if (a == "--name" && v) {
            strName = v;
            ++i;
        } else if (a == "--product-id" && v) {
            strProductID = v;
            bProductID = true;
            ++i;
        } else if (a == "--flash" && v) {
            strFlash = v;
            ++i;
        } else if (a == "--reboot-ms") {
            nRebootMs = number(0, 60000);
        } else if (a == "-v") {
            bVerbose = true;
        } else if (a == "--silent") {
            faults.m_bSilent = true;
        } else if (a == "--drop-every") {
            faults.m_nDropEveryNth = static_cast<uint32_t>(number(0, 1000000));
        } else if (a == "--delay-ms") {
            faults.m_nDelayMs = static_cast<uint32_t>(number(0, 60000));
        } else if (a == "--split") {
            faults.m_nSplitBytes = static_cast<uint32_t>(number(0, 1000));
        } else if (a == "--bad-checksum") {
            faults.m_bBadChecksum = true;
        } else if (a == "--device-id") {
            faults.m_byReplyDeviceID = static_cast<uint8_t>(number(0, 127));
        } else if (a == "--size-delta") {
            faults.m_nSizeDelta = static_cast<int>(number(-1, 1));
        } else if (a == "--flood") {
            faults.m_nFloodPerSecond = static_cast<uint32_t>(number(0, 1000000));
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "qz81kt-emu: unknown or incomplete option %s\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
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
    emulator.SetRebootMs(static_cast<uint32_t>(nRebootMs));
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
    RouteJackMessages(bVerbose);
    CRtMidiEmulatorPorts ports;
    ports.SetVerbose(bVerbose);
    emulator.SetOutput(&ports);
    std::string strWhy;
    if (!ports.Open(eApi, strName, emulator, strWhy)) {
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
