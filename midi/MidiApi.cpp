#include "midi/MidiApi.h"

#include <cstdlib>

namespace {
bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != b[i]) return false;
    }
    return true;
}
}  // namespace

bool qz::ParseMidiApi(std::string_view strName, EMidiApi& eApi) {
    if (EqualsIgnoringCase(strName, "alsa")) {
        eApi = EMidiApi::Alsa;
        return true;
    }
    if (EqualsIgnoringCase(strName, "jack")) {
        eApi = EMidiApi::Jack;
        return true;
    }
    return false;
}

EMidiApi qz::MidiApiFromEnvironment() {
    EMidiApi eApi = EMidiApi::Auto;
    if (const char* psz = std::getenv("QZ81KT_MIDI_API")) ParseMidiApi(psz, eApi);
    return eApi;
}
