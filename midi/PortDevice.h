#pragma once
// The device behind a MIDI port. A USB converter is never a JACK client of its own: a
// bridge (a2jmidid, jackd's ALSA MIDI, PipeWire) carries it and names the port in its
// own way, or leaves the device's name only in the port's aliases. The port rules
// (preselection, pairs, a port given by name) decide on the device, not on the bridge.
#include <string>
#include <vector>

namespace qz {

struct CPortDevice {
    // The device's own name: "QZ-81KT MIDI 1" (the ALSA port's name when it begins with
    // the client's, else "client:port"), or the whole port name where no bridge is seen.
    std::string m_strName;
    // Tells apart two devices of one name (a2j's ALSA client number, a raw MIDI card
    // address); empty where the bridge gives none.
    std::string m_strUnit;
    bool operator==(const CPortDevice&) const = default;
};

// The device of the port named strPort: the device part of a bridge's name; else of the
// first alias in a bridge's form (jackd's ALSA MIDI names its ports "system:midi_capture_N");
// else, for a JACK client that is the device itself and names its ports after itself
// (our emulator: "QZ-81KT:QZ-81KT in", "QZ-81KT-01:QZ-81KT out"), the client without
// JACK's "-01"; else the whole name, as for ALSA ("client:port 24:0").
CPortDevice PortDevice(const std::string& strPort, const std::vector<std::string>& aliases = {});

}  // namespace qz
