#pragma once
// Command line of qz81kt: a command and its options.
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/TrafficFilter.h"

struct CCliOptions {
    enum class ECommand { None, Ports, Dump, Status, Export, Import, Diff, Monitor, Help };

    ECommand m_eCommand = ECommand::None;
    std::string m_strIn;   // number or name prefix; empty: the preselection rule
    std::string m_strOut;
    std::string m_strFile;  // the parameter file of export, import and diff
    std::string m_strApi;  // "alsa", "jack" or empty (environment, then ALSA, then JACK)
    uint32_t m_nTimeoutMs = 3000;
    bool m_bEmulate = false;
    bool m_bJson = false;
    bool m_bWatch = false;
    bool m_bReconnect = false;      // status --watch: outlive the device's ports and a silent link
    bool m_bRaw = false;            // monitor: hex only
    CTrafficFilter m_monitorFilter;  // monitor --filter
};

// Fills options from argv[1..]; false with a one-line reason on a usage error.
bool ParseCliOptions(const std::vector<std::string>& args, CCliOptions& options, std::string& strError);

// The usage text printed by "help" and after a usage error.
const char* CliUsage();
