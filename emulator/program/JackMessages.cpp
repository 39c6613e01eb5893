#include "emulator/program/JackMessages.h"

#include <jack/jack.h>

#include <atomic>
#include <cstdio>

namespace {

std::atomic<uint64_t> g_nMessages{0};

// The text is left unread: it lies in libjack's message slot (see the header).
extern "C" void CountJackMessage(const char*) { g_nMessages.fetch_add(1, std::memory_order_relaxed); }
extern "C" void PrintJackMessage(const char* pText) {
    g_nMessages.fetch_add(1, std::memory_order_relaxed);
    std::fprintf(stderr, "JACK: %s\n", pText);
}

}  // namespace

void qz::RouteJackMessages(bool bPrint) {
    jack_set_error_function(bPrint ? PrintJackMessage : CountJackMessage);
    jack_set_info_function(bPrint ? PrintJackMessage : CountJackMessage);
}

uint64_t qz::JackMessagesCounted() { return g_nMessages.load(std::memory_order_relaxed); }
