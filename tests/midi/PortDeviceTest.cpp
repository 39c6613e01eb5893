// The device behind a port, as each bridge names it; names that only look alike keep
// their whole name, so the model's prefix does not find them.
#include <gtest/gtest.h>

#include "midi/PortDevice.h"

namespace {

struct CCase {
    const char* pszPort;
    std::vector<std::string> aliases;
    const char* pszDevice;
    const char* pszUnit;
};

const CCase kCases[] = {
    // a2jmidid: the client number in brackets, newer ones with "[port] " too, -u without.
    {"a2j:QZ-81KT [24] (capture): QZ-81KT MIDI 1", {}, "QZ-81KT MIDI 1", "24"},
    {"a2j:QZ-81KT [24] (playback): [0] QZ-81KT MIDI 1", {}, "QZ-81KT MIDI 1", "24"},
    {"a2j:QZ-81KT (capture): QZ-81KT MIDI 1", {}, "QZ-81KT MIDI 1", ""},
    {"a2j:Midi Through [14] (capture): QZ-81KT", {}, "Midi Through:QZ-81KT", "14"},  // a port merely named so
    {"a2j:USB Keys [20] (capture): USB Keys MIDI 1", {"QZ-81KT:QZ-81KT MIDI 1"}, "USB Keys MIDI 1", "20"},
    // jack1 and newer jack2's alsa_midi.
    {"alsa_midi:QZ-81KT MIDI 1 (out)", {}, "QZ-81KT MIDI 1", ""},
    {"alsa_midi:QZ-81KT MIDI 1 (in)", {}, "QZ-81KT MIDI 1", ""},
    // PipeWire, older with the card number where the card has no long name, and newer.
    {"Midi-Bridge:QZ-81KT 1:(capture_0) QZ-81KT MIDI 1", {}, "QZ-81KT MIDI 1", "1"},
    {"Midi-Bridge:QZ-81KT:(playback_0) QZ-81KT MIDI 1", {}, "QZ-81KT MIDI 1", ""},
    {"Midi-Bridge:[24:0] QZ-81KT MIDI 1 (capture)", {}, "QZ-81KT MIDI 1", "24:0"},
    {"Midi-Bridge:QZ-81KT MIDI 1 (playback)", {}, "QZ-81KT MIDI 1", ""},
    // jackd -X seq and -X raw: generic names, the device in the aliases.
    {"system:midi_capture_1", {"alsa_pcm:QZ-81KT/midi_capture_1", "QZ-81KT:midi/capture_1"}, "QZ-81KT", "1"},
    {"system:midi_playback_2", {"QZ-81KT:midi/playback_2"}, "QZ-81KT", "2"},
    {"system:midi_capture_3", {"in-hw-1-0-0-QZ-81KT-MIDI-1"}, "QZ-81KT-MIDI-1", "1-0-0"},
    {"Midi-Bridge:unknown form", {"QZ-81KT:QZ-81KT MIDI 1"}, "QZ-81KT MIDI 1", ""},  // PipeWire's own alias
    {"system:midi_capture_4", {"no device here"}, "system:midi_capture_4", ""},
    // No bridge: the whole name (JACK clients that are the device, ALSA as RtMidi lists it).
    {"QZ-81KT-01:QZ-81KT out", {}, "QZ-81KT", ""},  // a JACK client of its own, and its second one
    {"QZ-81KT-A:QZ-81KT-A in", {}, "QZ-81KT-A", ""},
    {"Midi Through:QZ-81KT", {}, "Midi Through:QZ-81KT", ""},  // ports not named after their client
    {"QZ-81KT:QZ-81KT MIDI 1 24:0", {}, "QZ-81KT:QZ-81KT MIDI 1 24:0", ""},
    {"a2j:QZ-81KT", {}, "a2j:QZ-81KT", ""},
    {"my-a2j:QZ-81KT [24] (capture): QZ-81KT MIDI 1", {}, "my-a2j:QZ-81KT [24] (capture): QZ-81KT MIDI 1", ""},
    {"alsa_midi:QZ-81KT MIDI 1", {}, "alsa_midi:QZ-81KT MIDI 1", ""},
    {"", {}, "", ""},
};

TEST(PortDevice, EachBridgesNamingAndTheLookAlikes) {
    for (const CCase& c : kCases) {
        const qz::CPortDevice d = qz::PortDevice(c.pszPort, c.aliases);
        EXPECT_EQ(d.m_strName, c.pszDevice) << c.pszPort;
        EXPECT_EQ(d.m_strUnit, c.pszUnit) << c.pszPort;
    }
}

TEST(PortDevice, OverlongNamesAreTakenWholeWithoutParsing) {
    const std::string strLong = "a2j:" + std::string(100000, 'x') + " [24] (capture): QZ-81KT MIDI 1";
    EXPECT_EQ(qz::PortDevice(strLong, {strLong}).m_strName, strLong);
}

}  // namespace
