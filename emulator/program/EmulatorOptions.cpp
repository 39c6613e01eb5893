#include "emulator/program/EmulatorOptions.h"

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <functional>
#include <vector>

#include "emulator/QZ81KTEmulator.h"

const char* const kEmulatorUsage =
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

namespace {

// An option taking a whole number in [lo, hi] (decimal, or 0x… hex).
struct CNumberOption {
    const char* pszName;
    long lo;
    long hi;
    std::function<void(long, CEmulatorOptions&, CEmulatorFaults&)> fnApply;
};

const std::vector<CNumberOption>& NumberOptions() {
    static const std::vector<CNumberOption> options = {
        {"--reboot-ms", 0, 60000, [](long n, CEmulatorOptions& o, CEmulatorFaults&) { o.nRebootMs = n; }},
        {"--drop-every", 0, 1000000,
         [](long n, CEmulatorOptions&, CEmulatorFaults& f) { f.m_nDropEveryNth = static_cast<uint32_t>(n); }},
        {"--delay-ms", 0, 60000,
         [](long n, CEmulatorOptions&, CEmulatorFaults& f) { f.m_nDelayMs = static_cast<uint32_t>(n); }},
        {"--split", 0, 1000,
         [](long n, CEmulatorOptions&, CEmulatorFaults& f) { f.m_nSplitBytes = static_cast<uint32_t>(n); }},
        {"--device-id", 0, 127,
         [](long n, CEmulatorOptions&, CEmulatorFaults& f) { f.m_byReplyDeviceID = static_cast<uint8_t>(n); }},
        {"--size-delta", -1, 1,
         [](long n, CEmulatorOptions&, CEmulatorFaults& f) { f.m_nSizeDelta = static_cast<int>(n); }},
        {"--flood", 0, 1000000,
         [](long n, CEmulatorOptions&, CEmulatorFaults& f) { f.m_nFloodPerSecond = static_cast<uint32_t>(n); }},
    };
    return options;
}

bool ParseNumber(const std::string& s, long lo, long hi, long& out) {
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 0);
    if (s.empty() || !end || *end || v < lo || v > hi) return false;
    out = v;
    return true;
}

}  // namespace

bool qz::ParseEmulatorOptions(int argc, const char* const* argv, CEmulatorOptions& options, CQZ81KTEmulator& emulator,
                          std::string& strError) {
    CLI::App app{"qz81kt-emu", "qz81kt-emu"};
    app.set_help_flag();  // the usage text is ours
    app.allow_windows_style_options(false);
    CEmulatorFaults& faults = emulator.Faults();
    std::string strApi;
    auto* pApi = app.add_option("--api", strApi);
    app.add_option("--name", options.strName);
    auto* pProductID = app.add_option("--product-id", options.strProductID);
    app.add_option("--flash", options.strFlash);
    auto* pVerbose = app.add_flag("-v");
    auto* pHelp = app.add_flag("-h,--help");
    auto* pSilent = app.add_flag("--silent");
    auto* pBadChecksum = app.add_flag("--bad-checksum");
    const auto& numbers = NumberOptions();
    std::vector<std::string> values(numbers.size());
    std::vector<CLI::Option*> given;
    for (size_t i = 0; i < numbers.size(); ++i) given.push_back(app.add_option(numbers[i].pszName, values[i]));
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        strError = e.what();
        return false;
    }
    options.bHelp = pHelp->count() > 0;
    options.bVerbose = pVerbose->count() > 0;
    options.bProductID = pProductID->count() > 0;
    if (pSilent->count()) faults.m_bSilent = true;
    if (pBadChecksum->count()) faults.m_bBadChecksum = true;
    if (pApi->count() && !ParseMidiApi(strApi, options.eApi)) {
        strError = "--api must be alsa or jack";
        return false;
    }
    for (size_t i = 0; i < numbers.size(); ++i) {
        if (!given[i]->count()) continue;
        long n = 0;
        if (!ParseNumber(values[i], numbers[i].lo, numbers[i].hi, n)) {
            strError = std::string(numbers[i].pszName) + " needs a number from " + std::to_string(numbers[i].lo) +
                       " to " + std::to_string(numbers[i].hi);
            return false;
        }
        numbers[i].fnApply(n, options, faults);
    }
    return true;
}
