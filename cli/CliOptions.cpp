#include "cli/CliOptions.h"

#include <cerrno>
#include <cstdlib>

#include "cli/MonitorCommand.h"

const char* CliUsage() {
    return "usage: qz81kt [options] ports|dump|status [--watch]|export FILE|import FILE|diff FILE|monitor\n"
           "  ports            list MIDI input and output ports (* = preselected)\n"
           "  dump             read every block of the device and print it\n"
           "  status           poll the live status; --watch prints each change until interrupted;\n"
           "                   --reconnect: the watch waits for the device's ports to come back\n"
           "                   and for a silent link to answer again, instead of ending\n"
           "  export FILE      save the system, timecode and preset blocks into a parameter file\n"
           "  import FILE      send a parameter file to the device and check that it holds it\n"
           "  diff FILE        each setting that differs, file value -> device value\n"
           "  monitor          print every message sent and received while polling like the panel,\n"
           "                   until interrupted; --raw hex only, --filter polls|sysex|in|out\n"
           "                   (hide the 100 ms polls, SysEx only, one direction; a comma list)\n"
           "options:\n"
           "  --in PORT        input port: number or name prefix (default: preselection)\n"
           "  --out PORT       output port: number or name prefix (default: preselection)\n"
           "  --api alsa|jack  MIDI system (default: QZ81KT_MIDI_API, else ALSA, else JACK)\n"
           "  --timeout-ms N   how long dump and status wait for the device (default 3000)\n"
           "  --emulate        add the built-in emulator's ports (\"QZ-81KT Emulator\") after the\n"
           "                   real ones (--api picks their MIDI system); alone when none is reachable\n"
           "  --json           print JSON\n"
           "exit codes: 0 done, 1 the device did not answer in time, 2 usage error,\n"
           "            3 a port could not be opened or used, or no MIDI system is reachable,\n"
           "            4 the file could not be read or written,\n"
           "            130 interrupted (Ctrl-C; 143 for SIGTERM);\n"
           "            diff: 0 nothing differs, 1 something differs, 5 the device did not answer\n";
}

bool ParseCliOptions(const std::vector<std::string>& args, CCliOptions& options, std::string& strError) {
    using E = CCliOptions::ECommand;
    options = CCliOptions{};
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& strOut) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                strError = "option " + a + " needs a value";
                return false;
            }
            strOut = args[++i];
            return true;
        };
        if (a == "--in") {
            if (!value(options.m_strIn)) return false;
        } else if (a == "--out") {
            if (!value(options.m_strOut)) return false;
        } else if (a == "--api") {
            if (!value(options.m_strApi)) return false;
            if (options.m_strApi != "alsa" && options.m_strApi != "jack") {
                strError = "--api must be alsa or jack";
                return false;
            }
        } else if (a == "--timeout-ms") {
            std::string v;
            if (!value(v)) return false;
            char* end = nullptr;
            errno = 0;
            unsigned long n = std::strtoul(v.c_str(), &end, 10);
            if (errno || !end || *end || v[0] == '-' || n == 0 || n > 3600000) {
                strError = "--timeout-ms needs a number of milliseconds (1..3600000)";
                return false;
            }
            options.m_nTimeoutMs = static_cast<uint32_t>(n);
        } else if (a == "--emulate") {
            options.m_bEmulate = true;
        } else if (a == "--json") {
            options.m_bJson = true;
        } else if (a == "--raw") {
            options.m_bRaw = true;
        } else if (a == "--filter") {
            std::string v;
            if (!value(v)) return false;
            if (!CMonitorCommand::ParseFilter(v, options.m_monitorFilter)) {
                strError = "--filter takes polls, sysex, in or out";
                return false;
            }
        } else if (a == "--reconnect") {
            options.m_bReconnect = true;
        } else if (a == "--watch") {
            options.m_bWatch = true;
        } else if (a == "-h" || a == "--help" || a == "help") {
            options.m_eCommand = E::Help;
            return true;
        } else if (!a.empty() && a[0] == '-') {
            strError = "unknown option " + a;
            return false;
        } else if ((options.m_eCommand == E::Export || options.m_eCommand == E::Import ||
                    options.m_eCommand == E::Diff) &&
                   options.m_strFile.empty()) {
            options.m_strFile = a;
        } else if (options.m_eCommand != E::None) {
            strError = "unexpected argument " + a;
            return false;
        } else if (a == "ports") {
            options.m_eCommand = E::Ports;
        } else if (a == "dump") {
            options.m_eCommand = E::Dump;
        } else if (a == "status") {
            options.m_eCommand = E::Status;
        } else if (a == "monitor") {
            options.m_eCommand = E::Monitor;
        } else if (a == "export" || a == "import" || a == "diff") {
            options.m_eCommand = a == "export" ? E::Export : a == "import" ? E::Import : E::Diff;
        } else {
            strError = "unknown command " + a;
            return false;
        }
    }
    if (options.m_eCommand == E::None) {
        strError = "no command given";
        return false;
    }
    if ((options.m_eCommand == E::Export || options.m_eCommand == E::Import || options.m_eCommand == E::Diff) &&
        options.m_strFile.empty()) {
        strError = "the command needs a FILE";
        return false;
    }
    if (options.m_bReconnect && !options.m_bWatch) {
        strError = "--reconnect belongs to status --watch";
        return false;
    }
    if (options.m_bWatch && options.m_eCommand != E::Status) {
        strError = "--watch belongs to the status command";
        return false;
    }
    return true;
}
