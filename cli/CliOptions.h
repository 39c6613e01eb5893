#pragma once
// Command line of qz81kt: the one table of its commands and options, which the parser,
// the usage text and the shell completion are all made from.
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/wire/TrafficFilter.h"

struct CCliOptions {
    enum class ECommand {
        None, Ports, Dump, Status, Export, Import, Diff, Set, Get, Preset, Flash, FactoryReset, Monitor, Serve, Completion, Help
    };

    ECommand m_eCommand = ECommand::None;
    std::vector<std::string> m_args;  // the command's own arguments, in order
    std::string m_strIn;   // number or name prefix; empty: the preselection rule
    std::string m_strOut;
    std::string m_strFile;  // the parameter file of export, import and diff
    std::string m_strApi;  // "alsa", "jack" or empty (environment, then ALSA, then JACK)
    uint32_t m_nTimeoutMs = 3000;
    bool m_bEmulate = false;
    bool m_bJson = false;
    bool m_bWatch = false;
    bool m_bList = false;
    bool m_bYes = false;
    bool m_bReconnect = false;      // status --watch: outlive the device's ports and a silent link
    bool m_bRaw = false;            // monitor: hex only
    CTrafficFilter m_monitorFilter;  // monitor --filter
    std::string m_strEmber;         // serve --ember [ADDR:]PORT; empty: the default
    std::string m_strAllow;         // serve --allow CIDR[,CIDR...]
    bool m_bReadOnly = false;       // serve --read-only
    std::string m_strHttp;          // serve --http [ADDR:]PORT; empty: no web page
    bool m_bHttp = false;           // --http was given (with its default endpoint when empty)
    std::string m_strTokenFile;     // serve --token-file FILE
    std::string m_strTlsCert, m_strTlsKey;  // serve --tls-cert FILE --tls-key FILE
};

// One command: its name, what follows it in the usage line, its help line, how many
// arguments it takes and whether it talks to the device.
struct CCliCommand {
    CCliOptions::ECommand eCommand;
    const char* pszName;
    const char* pszArgs;  // "FILE", "NAME=VALUE ...", or ""
    const char* pszHelp;
    int nMinArgs;
    int nMaxArgs;  // -1: any number
    bool bDevice;  // false: answered without opening any port
};
extern const std::vector<CCliCommand> kCliCommands;

// One option. pszCommand names the only command it belongs to; null: every command.
struct CCliOption {
    const char* pszName;   // "--in"
    const char* pszValue;  // "PORT", or null for a flag
    const char* pszHelp;
    const char* pszCommand;
    // Puts the value into the options; false, with the option's own message, when it
    // is not one the option takes.
    bool (*pfnSet)(CCliOptions& options, const std::string& strValue, std::string& strError);
    const char* pszChoices = nullptr;  // "alsa jack": the only values taken
};
extern const std::vector<CCliOption> kCliOptions;

namespace qz {
// Fills options from argv[1..]; false with a one-line reason on a usage error.
bool ParseCliOptions(const std::vector<std::string>& args, CCliOptions& options, std::string& strError);

// The usage text printed by "help", and its first line, printed after a usage error.
std::string CliUsage();
std::string CliUsageLine();

// Whether a command-only option belongs to the command.
bool OptionBelongsTo(const CCliOption& option, const std::string& strCommand);

const CCliCommand* FindCliCommand(CCliOptions::ECommand eCommand);
}  // namespace qz
