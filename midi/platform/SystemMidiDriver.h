#pragma once
// The MIDI system of the machine, whichever backend reaches it: our own libjack
// client on JACK, RtMidi on ALSA. The programs hold one of these and do not care which.
#include <cstdint>
#include <memory>
#include <string>

#include "midi/MidiApi.h"
#include "midi/platform/MidiDriver.h"

class CPortWatch;

// JACK drops a longer message silently, so both backends refuse it on JACK.
constexpr uint32_t kJackMaxMidiMessage = 16379;

class CSystemMidiDriver : public CMidiDriver {
public:
    // Whether the MIDI system answered at the last contact.
    virtual bool IsAvailable() const = 0;
    virtual std::string ApiName() const = 0;            // "ALSA", "JACK" or "none"
    virtual std::string UnavailableReason() const = 0;  // one line; empty when available
    virtual const std::string& ClientName() const = 0;

    // Lost input: bytes of System Exclusive messages for which no receive buffer was
    // queued, or that did not fit while our side was behind.
    virtual uint64_t LostInputBytes() const = 0;
    virtual uint64_t LostInputMessages() const = 0;
    virtual uint64_t FailedSends() const = 0;  // messages the system did not take (still completed)

    // Drops what is kept only for listing ports, once the ports are chosen.
    virtual void ReleaseEnumerators() {}
    // Gives the watch a source of port-change notices when the MIDI system has one;
    // true when it now follows them. Otherwise the watch keeps its interval.
    virtual bool FollowPortChanges(CPortWatch& watch) = 0;
};

namespace qz {
// JACK goes through our own libjack backend (one client for every port, which tells
// of port changes); ALSA through RtMidi. Auto: QZ81KT_MIDI_API, else ALSA, else JACK.
// The result may be unavailable (see UnavailableReason); it is never null.
std::unique_ptr<CSystemMidiDriver> OpenSystemMidiDriver(EMidiApi eApi, const std::string& strClientName);
}  // namespace qz
