#pragma once
// libjack's own messages. Under --flood the JACK MIDI buffer of every period is full
// and libjack reports each event it refuses: thousands of lines a second, written from
// its process thread into a buffer that its logging thread prints without a lock that
// ThreadSanitizer can see. They are counted and summed up at the end instead; -v prints
// them as they come.
#include <cstdint>

namespace qz {
void RouteJackMessages(bool bPrint);
uint64_t JackMessagesCounted();
}  // namespace qz
