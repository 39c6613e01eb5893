#pragma once
// Work begun before the application object, so that it overlaps Qt's own start:
// - fontconfig's configuration: the first text the window lays out needs it, and parsing
//   its files is the largest single item of the start-up; Qt's own call later finds it
//   loaded. A program may begin it earlier still, at load time (BeginFontsAtLoad). Wait
//   for it before any widget.
// - the MIDI system's opening (a JACK client, an ALSA probe that fails): milliseconds
//   that the window's first port listing would otherwise wait for. It begins when the
//   parse has ended, which the window needs first.
#include <memory>
#include <thread>

#include "midi/MidiApi.h"
#include "midi/platform/DeferredMidiDriver.h"
#include "midi/platform/SystemMidiDriver.h"

class CStartUpWork {
public:
    using CMidiSystem = CDeferredMidiDriver<CSystemMidiDriver>;

    // argv is the whole command line; only a well-formed "--api alsa|jack" is read from
    // it (the application parses it properly once Qt has taken its own options).
    // bOpenMidi false: fonts only (a window on in-process ports).
    CStartUpWork(int argc, char** argv, bool bOpenMidi = true);
    ~CStartUpWork() { WaitForFonts(); }

    // Begins the fontconfig parse at once, for the next CStartUpWork to take over. Meant
    // for a program's .preinit_array, which runs before the shared libraries' static
    // initialisers (milliseconds of page faults) so that the parse overlaps them: only
    // the C library is ready there.
    static void BeginFontsAtLoad();
    CStartUpWork(const CStartUpWork&) = delete;
    CStartUpWork& operator=(const CStartUpWork&) = delete;

    // The MIDI system for eApi, opening in the background under the window's client name.
    static std::unique_ptr<CMidiSystem> OpenMidiSystem(EMidiApi eApi);

    void WaitForFonts();
    // The MIDI system begun here when it was begun for eApi, else null.
    std::unique_ptr<CMidiSystem> TakeMidiSystem(EMidiApi eApi);

private:
    bool m_bJoinLoadTimeFonts;  // the load-time parse is ours to join
    std::thread m_fonts;
    EMidiApi m_eMidiApi = EMidiApi::Auto;
    std::unique_ptr<CMidiSystem> m_pMidi;
};
