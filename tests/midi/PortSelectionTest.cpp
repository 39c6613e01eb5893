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
