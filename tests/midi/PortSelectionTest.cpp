#include <gtest/gtest.h>

#include "midi/PortSelection.h"

using qz::PreselectPort;

TEST(PortSelection, ModelNameBeatsUsbAndTheLastUsbBeatsTheFirstPort) {
    EXPECT_EQ(PreselectPort({"USB Audio", "QZ-81KT MIDI", "USB MIDI"}), 1);
    EXPECT_EQ(PreselectPort({"USB Audio", "USB MIDI"}), 1);
    EXPECT_EQ(PreselectPort({"Midi Through", "USB Audio", "Synth", "USB MIDI", "Other"}), 3);
    EXPECT_EQ(PreselectPort({"QZ-81KT A", "QZ-81KT B", "USB MIDI"}), 0);
    EXPECT_EQ(PreselectPort({"Midi Through", "Synth"}), 0);
    EXPECT_EQ(PreselectPort({"Synth"}), 0);
    EXPECT_EQ(PreselectPort({}), -1);
}

TEST(PortSelection, PrefixesAreExactAndCaseSensitive) {
    EXPECT_EQ(PreselectPort({"Synth", "qz-81kt MIDI", "usb midi"}), 0);
    EXPECT_EQ(PreselectPort({"Synth", "QZ-81K", "US", "QZ81KT"}), 0);  // too short or misspelt
    EXPECT_EQ(PreselectPort({"", "QZ-81KT"}), 1);                     // an unreadable name is skipped, the bare model name counts
    EXPECT_EQ(PreselectPort({"My QZ-81KT", "A USB port", "USB"}), 2);
}

TEST(PortSelection, ServerNameForms) {
    // JACK lists "client:port"; a program's second client gets "-01".
    EXPECT_EQ(PreselectPort({"system:midi_capture_1", "qz81kt-panel:in", "QZ-81KT:out", "QZ-81KT-01:in"}), 2);
    EXPECT_EQ(PreselectPort({"qz81kt-panel:out", "QZ-81KT-01:out"}), 1);
    // Our own ports must never be mistaken for the device.
    EXPECT_EQ(PreselectPort({"qz81kt-panel:in", "qz81kt-panel-01:out"}), 0);
    // ALSA lists "client:port client:port-number".
    EXPECT_EQ(PreselectPort({"Midi Through:Midi Through Port-0 14:0", "USB Keys:USB Keys MIDI 1 20:0",
                             "QZ-81KT:QZ-81KT MIDI 1 24:0"}),
              2);
    EXPECT_EQ(PreselectPort({"Midi Through:Midi Through Port-0 14:0", "USB Keys:USB Keys MIDI 1 20:0"}), 1);
    // The built-in emulator's pair is appended after the server's ports.
    EXPECT_EQ(PreselectPort({"USB MIDI 1 20:0", "QZ-81KT Emulator"}), 1);
}

namespace {
std::vector<qz::CPortDevice> Devices(const std::vector<std::string>& names) {
    std::vector<qz::CPortDevice> devices;
    for (const std::string& s : names) devices.push_back(qz::PortDevice(s));
    return devices;
}

// Our emulator (a JACK client of two names), a look-alike, two converters and a USB decoy
// behind a2jmidid, the outputs in another order.
const std::vector<std::string> kJackIns = {
    "a2j:Midi Through [14] (capture): QZ-81KT", "QZ-81KT-01:QZ-81KT out", "a2j:QZ-81KT [24] (capture): QZ-81KT MIDI 1",
    "a2j:QZ-81KT [28] (capture): QZ-81KT MIDI 1", "a2j:USB Keys [20] (capture): USB Keys MIDI 1"};
const std::vector<std::string> kJackOuts = {
    "QZ-81KT:QZ-81KT in", "a2j:USB Keys [20] (playback): USB Keys MIDI 1", "a2j:QZ-81KT [28] (playback): QZ-81KT MIDI 1",
    "a2j:Midi Through [14] (playback): QZ-81KT", "a2j:QZ-81KT [24] (playback): QZ-81KT MIDI 1"};
}  // namespace

TEST(PortSelection, ConvertersPairByDeviceAndUnitInInputOrder) {
    const auto ins = Devices(kJackIns), outs = Devices(kJackOuts);
    // The emulator's two JACK clients are one device too; the first pair in the input
    // list is preselected.
    EXPECT_EQ(qz::MatchConverterPairs(ins, outs), (std::vector<qz::CPortPair>{{1, 0}, {2, 4}, {3, 2}}));
    EXPECT_EQ(qz::PreselectPorts(ins, outs), (qz::CPortPair{1, 0}));
    EXPECT_EQ(qz::PairedPort(ins, outs, true, 3), 2);
    EXPECT_EQ(qz::PairedPort(ins, outs, false, 4), 2);
    EXPECT_EQ(qz::PairedPort(ins, outs, true, 0), -1);
    // Without a pair each list goes by itself.
    const auto loneIns = Devices({"a2j:USB Keys [20] (capture): USB Keys MIDI 1", "QZ-81KT-01:QZ-81KT out"});
    const auto loneOuts = Devices({"QZ-81KT-B:QZ-81KT-B in", "a2j:USB Keys [20] (playback): USB Keys MIDI 1"});
    EXPECT_TRUE(qz::MatchConverterPairs(loneIns, loneOuts).empty());
    EXPECT_EQ(qz::PreselectPorts(loneIns, loneOuts), (qz::CPortPair{1, 0}));
    EXPECT_EQ(qz::PreselectPorts({}, loneOuts), (qz::CPortPair{-1, 0}));
    // Two emulators on one server pair by their names.
    EXPECT_EQ(qz::MatchConverterPairs(Devices({"QZ-81KT-B-01:QZ-81KT-B out", "QZ-81KT-A-01:QZ-81KT-A out"}),
                                      Devices({"QZ-81KT-A:QZ-81KT-A in", "QZ-81KT-B:QZ-81KT-B in"})),
              (std::vector<qz::CPortPair>{{0, 1}, {1, 0}}));
    // Two converters with the same device and no unit pair up in list order.
    const qz::CPortDevice seq = qz::PortDevice("system:midi_capture_1", {"alsa_pcm:QZ-81KT/midi_capture_1"});
    EXPECT_EQ(qz::MatchConverterPairs({seq, seq}, {seq, seq}), (std::vector<qz::CPortPair>{{0, 0}, {1, 1}}));
}

TEST(PortSelection, AlsaNamesAsRtMidiListsThemPairByTheWholeName) {
    const auto ins = Devices({"Midi Through:Midi Through Port-0 14:0", "QZ-81KT:QZ-81KT MIDI 1 24:0",
                              "USB Keys:USB Keys MIDI 1 20:0", "QZ-81KT:QZ-81KT MIDI 1 28:0"});
    const auto outs = Devices({"Midi Through:Midi Through Port-0 14:0", "QZ-81KT:QZ-81KT MIDI 1 28:0",
                               "QZ-81KT:QZ-81KT MIDI 1 24:0"});
    EXPECT_EQ(qz::MatchConverterPairs(ins, outs), (std::vector<qz::CPortPair>{{1, 2}, {3, 1}}));
    EXPECT_EQ(qz::PreselectPorts(ins, outs), (qz::CPortPair{1, 2}));
}

TEST(PortSelection, AGivenPrefixMatchesTheNameOrTheDevice) {
    const auto devices = Devices(kJackIns);
    EXPECT_EQ(qz::FindPortByPrefix("QZ-81KT MIDI", kJackIns, devices), 2);
    EXPECT_EQ(qz::FindPortByPrefix("a2j:QZ-81KT [28]", kJackIns, devices), 3);
    EXPECT_EQ(qz::FindPortByPrefix("QZ-81KT", kJackIns, devices), 1);  // the first in list order
    EXPECT_EQ(qz::FindPortByPrefix("USB Keys", kJackIns, devices), 4);
    EXPECT_EQ(qz::FindPortByPrefix("Midi Through:QZ", kJackIns, devices), 0);
    EXPECT_EQ(qz::FindPortByPrefix("QZ-81KTX", kJackIns, devices), -1);
}
