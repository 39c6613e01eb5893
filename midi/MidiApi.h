#pragma once
// The MIDI system a program asks for by name (command line or QZ81KT_MIDI_API).
#include <string_view>

enum class EMidiApi { Auto, Alsa, Jack };

namespace qz {
// "alsa" or "jack", in any letter case; false (eApi untouched) for anything else.
bool ParseMidiApi(std::string_view strName, EMidiApi& eApi);
// What QZ81KT_MIDI_API asks for: Auto when it is unset or not understood.
EMidiApi MidiApiFromEnvironment();
}  // namespace qz
