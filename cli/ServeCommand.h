#pragma once
// qz81kt serve: every converter on the MIDI system as one unit of a rack, offered to
// Ember+ consumers on TCP (announced as _ember._tcp) and, with --http, on a web page with
// its JSON API, until SIGINT or SIGTERM.
#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <string>

class CMidiDriver;
class CSystemMidiDriver;
struct CCliOptions;

class CServeCommand {
public:
    static constexpr const char* kDefaultEndpoint = "127.0.0.1:9000";
    static constexpr const char* kDefaultHttpEndpoint = "127.0.0.1:8080";

    // Where one listener goes: "[ADDR:]PORT" ("9000", "0.0.0.0:9000", "[::]:9000").
    struct CEndpoint {
        std::string strAddress;
        uint16_t nPort = 0;
    };
    // Checks every option of serve (the endpoints, --allow, --token-file, the TLS pair);
    // false with a one-line reason on a usage error.
    static bool CheckOptions(const CCliOptions& options, std::string& strError);
    static bool ParseEndpoint(const std::string& strText, const char* pszOption, CEndpoint& endpoint,
                              std::string& strError);
    // Ember+ runs when --ember is given or --http is not.
    static bool WantsEmber(const CCliOptions& options);

    // pMidi, when given, is the MIDI system behind driver: its port notices drive the rack.
    CServeCommand(const CCliOptions& options, CMidiDriver& driver, CSystemMidiDriver* pMidi, std::ostream& out,
                  std::ostream& err, const std::atomic<bool>* pStop);
    // kExitInterrupted when stopped, kExitPort when an address cannot be bound, kExitUsage
    // when the token file cannot be read.
    int Run(const char* pszVersion);

private:
    const CCliOptions& m_options;
    CMidiDriver& m_driver;
    CSystemMidiDriver* m_pMidi;
    std::ostream& m_out;
    std::ostream& m_err;
    const std::atomic<bool>* m_pStop;
};
