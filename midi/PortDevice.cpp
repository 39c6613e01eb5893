#include "midi/PortDevice.h"

#include <array>
#include <cctype>
#include <mutex>
#include <regex>

namespace qz {

namespace {

// How a bridge names the ports of the ALSA devices it carries into JACK. Each pattern
// covers the whole name or alias; the numbers pick its sub-matches (0: not given).
struct CBridgePattern {
    const char* m_pszBridge;  // who names ports this way
    bool m_bAlias;            // found in the port's aliases rather than in its name
    const char* m_pszPrefix;  // the literal start every match has ("" for none)
    const char* m_pszPattern;
    int m_nClient, m_nPort, m_nUnit;  // ALSA client name, ALSA port name, unit
};

constexpr std::array<CBridgePattern, 8> kBridgePatterns{{
    // "a2j:QZ-81KT [24] (capture): QZ-81KT MIDI 1"; newer ones put "[0] " (the port
    // number) before the port's name; with -u the client number is left out.
    {"a2jmidid", false, "a2j:", R"(a2j:(.+?)(?: \[(\d+)\])? \((?:capture|playback)\): (?:\[\d+\] )?(.+))", 1, 3, 2},
    // jack1 and newer jack2: "alsa_midi:QZ-81KT MIDI 1 (out)".
    {"jackd alsa_midi", false, "alsa_midi:", R"(alsa_midi:(.+) \((?:in|out)\))", 0, 1, 0},
    // Older PipeWire: "Midi-Bridge:QZ-81KT:(capture_0) QZ-81KT MIDI 1", with the card
    // number after the client's name where the card has no long name.
    {"PipeWire", false, "Midi-Bridge:", R"(Midi-Bridge:(.+?)(?: (\d+))?:\((?:capture|playback)_\d+\) (.+))", 1, 3, 2},
    // Newer PipeWire: "Midi-Bridge:QZ-81KT MIDI 1 (capture)", "[24:0] " before it with long names on.
    {"PipeWire", false, "Midi-Bridge:", R"(Midi-Bridge:(?:\[(\d+:\d+)\] )?(.+) \((?:capture|playback)\))", 0, 2, 1},
    // jackd -X seq names ports "system:midi_capture_1" and gives these two aliases.
    {"jackd -X seq", true, "alsa_pcm:", R"(alsa_pcm:(.+)/midi_(?:capture|playback)_(\d+))", 1, 0, 2},
    {"jackd -X seq", true, "", R"((.+):midi/(?:capture|playback)_(\d+))", 1, 0, 2},
    // jackd -X raw: "in-hw-1-0-0-QZ-81KT-MIDI-1" (every other character turned into '-').
    {"jackd -X raw", true, "", R"((?:in|out)-hw-(\d+-\d+-\d+)-(.+))", 0, 2, 1},
    // Any other alias read as "client:port", as PipeWire gives its ports.
    {"client:port alias", true, "", R"(([^:]+):(.+))", 1, 2, 0},
}};

// Longer names are no bridge's (JACK's own limit is far below) and are not parsed.
constexpr size_t kMaxParsedName = 1024;

// Compiling a pattern costs milliseconds, and most names (ALSA's, the emulator's) meet
// none of them: each is compiled the first time a name or alias could be its.
const std::regex& CompiledPattern(size_t i) {
    static std::array<std::once_flag, kBridgePatterns.size()> once;
    static std::array<std::regex, kBridgePatterns.size()> patterns;
    std::call_once(once[i], [i] {
        patterns[i] = std::regex(kBridgePatterns[i].m_pszPattern, std::regex::ECMAScript | std::regex::optimize);
    });
    return patterns[i];
}

// An ALSA port is usually named after its client ("QZ-81KT" / "QZ-81KT MIDI 1"); where
// it is not, the client's name leads, so that a port merely named like the model
// ("Midi Through:QZ-81KT") does not pass for the device.
std::string JoinClientPort(const std::string& strClient, const std::string& strPort) {
    if (strClient.empty() || strPort.starts_with(strClient)) return strPort;
    if (strPort.empty()) return strClient;
    return strClient + ":" + strPort;
}

bool MatchBridge(const std::string& strName, bool bAlias, CPortDevice& device) {
    if (strName.size() > kMaxParsedName) return false;
    for (size_t i = 0; i < kBridgePatterns.size(); ++i) {
        const CBridgePattern& p = kBridgePatterns[i];
        if (p.m_bAlias != bAlias || !strName.starts_with(p.m_pszPrefix)) continue;
        std::smatch m;
        try {
            if (!std::regex_match(strName, m, CompiledPattern(i))) continue;
        } catch (const std::regex_error&) {
            continue;  // too complex to match: not a bridge's name
        }
        auto part = [&](int n) { return n > 0 ? m[n].str() : std::string(); };
        device = {JoinClientPort(part(p.m_nClient), part(p.m_nPort)), part(p.m_nUnit)};
        return !device.m_strName.empty();
    }
    return false;
}

// A program that is a JACK client of its own (our emulator, a test peer) names its ports
// after itself ("QZ-81KT in", "QZ-81KT out"), and JACK names the second client a program
// opens under one name "NAME-01": both directions are one device, NAME.
bool MatchOwnClient(const std::string& strPort, CPortDevice& device) {
    const size_t nColon = strPort.find(':');
    if (nColon == 0 || nColon == std::string::npos || strPort.find(':', nColon + 1) != std::string::npos) return false;
    std::string strClient = strPort.substr(0, nColon);
    const std::string strOwnPort = strPort.substr(nColon + 1);
    const size_t n = strClient.size();
    if (n > 3 && strClient[n - 3] == '-' && std::isdigit(static_cast<unsigned char>(strClient[n - 2])) &&
        std::isdigit(static_cast<unsigned char>(strClient[n - 1])) && !strOwnPort.starts_with(strClient))
        strClient.resize(n - 3);
    if (strOwnPort.empty() || !strOwnPort.starts_with(strClient)) return false;
    device = {strClient, {}};
    return true;
}

}  // namespace

CPortDevice PortDevice(const std::string& strPort, const std::vector<std::string>& aliases) {
    CPortDevice device;
    if (MatchBridge(strPort, false, device)) return device;
    for (const std::string& strAlias : aliases)
        if (MatchBridge(strAlias, true, device)) return device;
    if (MatchOwnClient(strPort, device)) return device;
    return {strPort, {}};
}

}  // namespace qz
