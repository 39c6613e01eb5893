#include "midi/platform/SystemMidiDriver.h"

#include "midi/platform/JackMidiDriver.h"
#include "midi/platform/RtMidiDriver.h"

// RtMidi stays for ALSA: its sequencer backend is one client with its ports, and the
// sequencer has its own announce port that a backend of ours would have to follow
// as well; on JACK it costs a client per port, each woken every period.
std::unique_ptr<CSystemMidiDriver> qz::OpenSystemMidiDriver(EMidiApi eApi, const std::string& strClientName) {
    if (eApi == EMidiApi::Auto) eApi = MidiApiFromEnvironment();
    if (eApi == EMidiApi::Jack) return std::make_unique<CJackMidiDriver>(strClientName);
    auto pAlsa = std::make_unique<CRtMidiDriver>(EMidiApi::Alsa, strClientName);
    if (eApi == EMidiApi::Alsa || pAlsa->IsAvailable()) return pAlsa;
    auto pJack = std::make_unique<CJackMidiDriver>(strClientName);
    if (pJack->IsAvailable()) return pJack;
    return pAlsa;
}
