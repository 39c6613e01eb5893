#pragma once
// qz81kt serve: every converter on the MIDI system as one unit of a rack, offered to
// Ember+ consumers on TCP and announced as _ember._tcp, until SIGINT or SIGTERM.
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

    // "[ADDR:]PORT" ("9000", "0.0.0.0:9000", "[::]:9000"); checks --allow too. False with a
    // one-line reason on a usage error.
    static bool ParseEndpoint(const CCliOptions& options, std::string& strAddress, uint16_t& nPort,
                              std::string& strError);

    // pMidi, when given, is the MIDI system behind driver: its port notices drive the rack.
    CServeCommand(const CCliOptions& options, CMidiDriver& driver, CSystemMidiDriver* pMidi, std::ostream& out,
                  std::ostream& err, const std::atomic<bool>* pStop);
    // kExitInterrupted when stopped, kExitPort when the address cannot be bound.
    int Run(const char* pszVersion);

private:
    const CCliOptions& m_options;
    CMidiDriver& m_driver;
    CSystemMidiDriver* m_pMidi;
    std::ostream& m_out;
    std::ostream& m_err;
    const std::atomic<bool>* m_pStop;
};
