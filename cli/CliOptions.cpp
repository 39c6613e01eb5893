#include "cli/CliOptions.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdlib>

#include "cli/MonitorCommand.h"
#include "midi/MidiApi.h"

using E = CCliOptions::ECommand;

namespace {

bool ParseTimeout(const std::string& v, uint32_t& nOut) {
    char* end = nullptr;
    errno = 0;
    unsigned long n = std::strtoul(v.c_str(), &end, 10);
    if (v.empty() || errno || !end || *end || v[0] == '-' || n == 0 || n > 3600000) return false;
    nOut = static_cast<uint32_t>(n);
    return true;
}

// What each option does to the options, with its own check and message.
template <std::string CCliOptions::*pField>
bool SetText(CCliOptions& o, const std::string& v, std::string&) {
    o.*pField = v;
    return true;
}

template <bool CCliOptions::*pField>
bool SetFlag(CCliOptions& o, const std::string&, std::string&) {
    o.*pField = true;
    return true;
}

bool SetApi(CCliOptions& o, const std::string& v, std::string& strError) {
    EMidiApi eApi;
    if (!qz::ParseMidiApi(v, eApi)) {
        strError = "--api must be alsa or jack";
        return false;
    }
    o.m_strApi = v;
    return true;
}

bool SetTimeout(CCliOptions& o, const std::string& v, std::string& strError) {
    if (ParseTimeout(v, o.m_nTimeoutMs)) return true;
    strError = "--timeout-ms needs a number of milliseconds (1..3600000)";
    return false;
}

bool SetFilter(CCliOptions& o, const std::string& v, std::string& strError) {
    if (CMonitorCommand::ParseFilter(v, o.m_monitorFilter)) return true;
    strError = "--filter takes polls, sysex, in or out";
    return false;
}

bool SetHttp(CCliOptions& o, const std::string& v, std::string&) {
    o.m_strHttp = v;
    o.m_bHttp = true;
    return true;
}

}  // namespace

// A new command is one row here and one case in the dispatch of cli/CliApp.cpp.
const std::vector<CCliCommand> kCliCommands = {
    {E::Ports, "ports", "", "list MIDI input and output ports (* = preselected)", 0, 0, false},
    {E::Dump, "dump", "", "read every block of the device and print it", 0, 0, true},
    {E::Status, "status", "", "poll the live status; --watch prints each change until interrupted", 0, 0, true},
    {E::Export, "export", "FILE", "save the system, timecode and preset blocks into a parameter file", 1, 1, true},
    {E::Import, "import", "FILE", "send a parameter file to the device and check that it holds it", 1, 1, true},
    {E::Diff, "diff", "FILE", "each setting that differs, file value -> device value", 1, 1, true},
    {E::Set, "set", "NAME=VALUE ...", "change settings of the main window in one write, then read them back", 0, -1,
     true},
    {E::Get, "get", "[NAME ...]", "print settings as NAME=VALUE (all of them without a NAME)", 0, -1, true},
    {E::Preset, "preset", "N [FIELD=VALUE ...]", "show preset N (0-7), or change its fields as the preset editor does",
     1, -1, true},
    {E::Flash, "flash", "", "write the device's settings into its flash memory", 0, 0, true},
    {E::FactoryReset, "factory-reset", "", "restore the factory settings (needs --yes); waits for the device", 0, 0,
     true},
    {E::Monitor, "monitor", "", "print every message sent and received while polling like the panel, until interrupted",
     0, 0, true},
    {E::Serve, "serve", "",
     "offer every QZ-81KT on the MIDI system to Ember+ consumers (TCP, default 127.0.0.1:9000) and with --http on a "
     "web page, until interrupted",
     0, 0, true},
    {E::Completion, "completion", "bash", "print the bash completion script", 1, 1, false},
    {E::Help, "help", "", "print this text", 0, 0, false},
};

const std::vector<CCliOption> kCliOptions = {
    {"--in", "PORT", "input port: number or name prefix (default: preselection)", nullptr, SetText<&CCliOptions::m_strIn>},
    {"--out", "PORT", "output port: number or name prefix (default: preselection)", nullptr,
     SetText<&CCliOptions::m_strOut>},
    {"--api", "alsa|jack", "MIDI system (default: QZ81KT_MIDI_API, else ALSA, else JACK)", nullptr, SetApi,
     "alsa jack"},
    {"--timeout-ms", "N", "how long a command waits for the device (default 3000)", nullptr, SetTimeout},
    {"--emulate", nullptr,
     "add the built-in emulator's ports (\"QZ-81KT Emulator\") after the real ones (--api picks their MIDI "
     "system); alone when none is reachable",
     nullptr, SetFlag<&CCliOptions::m_bEmulate>},
    {"--json", nullptr, "print JSON (ports, dump, status, diff, get, preset, monitor)", nullptr,
     SetFlag<&CCliOptions::m_bJson>},
    {"--watch", nullptr, "status: print each change until interrupted", "status", SetFlag<&CCliOptions::m_bWatch>},
    {"--reconnect", nullptr,
     "status --watch: wait for the device's ports to come back and for a silent link to answer again", "status",
     SetFlag<&CCliOptions::m_bReconnect>},
    {"--raw", nullptr, "monitor: hex only", "monitor", SetFlag<&CCliOptions::m_bRaw>},
    {"--filter", "polls,sysex,in,out",
     "monitor: hide the 100 ms polls, SysEx only, one direction (a comma list)", "monitor", SetFilter},
    {"--list", nullptr, "set, preset: print every setting or preset field with its allowed values", "set preset",
     SetFlag<&CCliOptions::m_bList>},
    {"--yes", nullptr, "factory-reset: yes, erase every setting", "factory-reset", SetFlag<&CCliOptions::m_bYes>},
    {"--ember", "[ADDR:]PORT", "serve: where consumers connect (default 127.0.0.1:9000; [::]:9000 for IPv6)",
     "serve", SetText<&CCliOptions::m_strEmber>},
    {"--allow", "CIDR[,CIDR...]",
     "serve: networks whose consumers may connect besides this machine (needed for any address but loopback)",
     "serve", SetText<&CCliOptions::m_strAllow>},
    {"--read-only", nullptr, "serve: answer every write with the current value", "serve",
     SetFlag<&CCliOptions::m_bReadOnly>},
    {"--http", "[ADDR:]PORT",
     "serve: the web page and its JSON API (e.g. 8080 for 127.0.0.1:8080); alone, or beside --ember", "serve",
     SetHttp},
    {"--token-file", "FILE",
     "serve --http: the token the page and the API ask for (needed for any address but loopback)", "serve",
     SetText<&CCliOptions::m_strTokenFile>},
    {"--tls-cert", "FILE", "serve --http: serve HTTPS with this certificate (PEM), with --tls-key", "serve",
     SetText<&CCliOptions::m_strTlsCert>},
    {"--tls-key", "FILE", "serve --http: the certificate's private key (PEM)", "serve",
     SetText<&CCliOptions::m_strTlsKey>},
};

const CCliCommand* qz::FindCliCommand(E eCommand) {
    for (const CCliCommand& c : kCliCommands)
        if (c.eCommand == eCommand) return &c;
    return nullptr;
}

bool qz::OptionBelongsTo(const CCliOption& o, const std::string& strCommand) {
    if (!o.pszCommand) return false;
    const std::string list = std::string(" ") + o.pszCommand + " ";
    return list.find(" " + strCommand + " ") != std::string::npos;
}

namespace {

// Wraps help text at nWidth columns, each further line indented by nIndent.
std::string Wrapped(const std::string& strText, size_t nIndent, size_t nWidth = 92) {
    std::string out, line;
    size_t start = 0;
    while (start < strText.size()) {
        size_t end = strText.find(' ', start);
        if (end == std::string::npos) end = strText.size();
        std::string word = strText.substr(start, end - start);
        if (!line.empty() && nIndent + line.size() + 1 + word.size() > nWidth) {
            out += line + "\n" + std::string(nIndent, ' ');
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        start = end + 1;
    }
    return out + line;
}

// The head padded to the help column; a longer head gets the help on the next line.
std::string Column(std::string s, size_t nWidth) {
    if (s.size() >= nWidth) return s + "\n" + std::string(nWidth + 2, ' ');
    s.resize(nWidth, ' ');
    return s;
}


}  // namespace

std::string qz::CliUsageLine() { return "usage: qz81kt [options] COMMAND [arguments]   (qz81kt help: the commands)\n"; }

std::string qz::CliUsage() {
    constexpr size_t kCol = 30;
    std::string s = "usage: qz81kt [options] COMMAND [arguments]\ncommands:\n";
    for (const CCliCommand& c : kCliCommands) {
        std::string head = std::string(c.pszName) + (*c.pszArgs ? " " : "") + c.pszArgs;
        for (const CCliOption& o : kCliOptions)
            if (OptionBelongsTo(o, c.pszName)) head += std::string(" [") + o.pszName + "]";
        s += "  " + Column(head, kCol) + Wrapped(c.pszHelp, kCol + 2) + "\n";
    }
    s += "options:\n";
    for (const CCliOption& o : kCliOptions) {
        if (o.pszCommand) continue;
        std::string head = std::string(o.pszName) + (o.pszValue ? std::string(" ") + o.pszValue : "");
        s += "  " + Column(head, kCol) + Wrapped(o.pszHelp, kCol + 2) + "\n";
    }
    s += "exit codes: 0 done, 1 the device did not answer in time (import: it holds other values),\n"
         "            2 usage error, 3 a port could not be opened or used, or no MIDI system is reachable,\n"
         "            4 the device refused a setting or holds another value after the read-back,\n"
         "            5 diff: the device did not answer (diff exits 1 when something differs),\n"
         "            6 the file could not be read or written,\n"
         "            130 interrupted (Ctrl-C; 143 for SIGTERM)\n"
         "settings: qz81kt set --list;  preset fields: qz81kt preset --list\n";
    return s;
}

namespace {

// The rules between a command, its arguments and its options, once all are read.
bool CheckArguments(const CCliCommand& cmd, CCliOptions& options, std::string& strError) {
    if (options.m_bReconnect && !options.m_bWatch) {
        strError = "--reconnect belongs to status --watch";
        return false;
    }
    const int n = static_cast<int>(options.m_args.size());
    const bool bListing = options.m_bList;
    if (n > 0 && cmd.nMaxArgs == 0) {
        strError = "unexpected argument " + options.m_args[0];
        return false;
    }
    if (cmd.nMaxArgs >= 0 && n > cmd.nMaxArgs) {
        strError = "unexpected argument " + options.m_args[static_cast<size_t>(cmd.nMaxArgs)];
        return false;
    }
    if (!bListing && (n < cmd.nMinArgs || (cmd.eCommand == E::Set && n == 0))) {
        strError = std::string(cmd.pszName) + " needs " + cmd.pszArgs;
        return false;
    }
    if (bListing && n > 0) {
        strError = std::string(cmd.pszName) + " --list takes no arguments";
        return false;
    }
    if (cmd.eCommand == E::Export || cmd.eCommand == E::Import || cmd.eCommand == E::Diff)
        options.m_strFile = options.m_args[0];
    if (cmd.eCommand == E::Completion && options.m_args[0] != "bash") {
        strError = "completion knows bash only";
        return false;
    }
    return true;
}

}  // namespace

bool qz::ParseCliOptions(const std::vector<std::string>& args, CCliOptions& options, std::string& strError) {
    options = CCliOptions{};
    for (const std::string& a : args)
        if (a == "-h" || a == "--help") {
            options.m_eCommand = E::Help;
            return true;
        }

    CLI::App app{"qz81kt", "qz81kt"};
    app.set_help_flag();  // the usage text comes from the tables, not from CLI11
    app.require_subcommand(0, 1);
    app.allow_windows_style_options(false);
    // Every option's value as text: the checks and their messages are ours.
    std::vector<std::string> values(kCliOptions.size());
    std::vector<std::pair<E, CLI::App*>> subs;
    std::vector<std::vector<std::string>> positionals(kCliCommands.size());
    for (size_t i = 0; i < kCliCommands.size(); ++i) {
        CLI::App* sub = app.add_subcommand(kCliCommands[i].pszName, kCliCommands[i].pszHelp);
        sub->set_help_flag();
        sub->fallthrough();  // the global options may come after the command too
        sub->add_option("arguments", positionals[i]);
        subs.emplace_back(kCliCommands[i].eCommand, sub);
    }
    // A command's own option is one CLI11 option per command it belongs to; given[i]
    // counts them all.
    std::vector<std::vector<CLI::Option*>> given(kCliOptions.size());
    for (size_t i = 0; i < kCliOptions.size(); ++i) {
        const CCliOption& o = kCliOptions[i];
        auto add = [&](CLI::App* pWhere) {
            given[i].push_back(o.pszValue ? pWhere->add_option(o.pszName, values[i]) : pWhere->add_flag(o.pszName));
        };
        if (!o.pszCommand) add(&app);
        for (size_t k = 0; k < kCliCommands.size(); ++k)
            if (OptionBelongsTo(o, kCliCommands[k].pszName)) add(subs[k].second);
    }

    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 takes them from the back
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        strError = e.what();
        if (dynamic_cast<const CLI::ExtrasError*>(&e) && !args.empty() && args[0][0] != '-' &&
            app.get_subcommands().empty())
            strError = "unknown command " + args[0];
        return false;
    }

    size_t nCommand = kCliCommands.size();
    for (size_t k = 0; k < subs.size(); ++k)
        if (subs[k].second->parsed()) nCommand = k;
    if (nCommand == kCliCommands.size()) {
        strError = "no command given";
        return false;
    }
    const CCliCommand& cmd = kCliCommands[nCommand];
    options.m_eCommand = cmd.eCommand;
    options.m_args = positionals[nCommand];

    for (size_t i = 0; i < kCliOptions.size(); ++i) {
        size_t nGiven = 0;
        for (CLI::Option* p : given[i]) nGiven += p->count();
        if (nGiven == 0) continue;
        const CCliOption& o = kCliOptions[i];
        const std::string name = o.pszName, v = values[i];
        if (o.pszValue && v.empty()) {
            strError = "option " + name + " needs a value";
            return false;
        }
        if (!o.pfnSet(options, v, strError)) return false;
    }

    return CheckArguments(cmd, options, strError);
}
