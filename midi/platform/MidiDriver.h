#pragma once
// The MIDI driver seam: the few platform calls that the port classes need, shaped
// like the classic multimedia MIDI services (port numbers, buffer headers, one
// callback per port). Backends: loopback (in-process) and RtMidi (real ports).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

using MMRESULT = uint32_t;
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT MIDIERR_UNPREPARED = 64;
constexpr MMRESULT MIDIERR_STILLPLAYING = 65;
constexpr MMRESULT MIDIERR_NOTREADY = 67;

// Callback message codes (compared on their low 16 bits).
constexpr uint32_t MIM_OPEN = 0x3C1;
constexpr uint32_t MIM_CLOSE = 0x3C2;
constexpr uint32_t MIM_DATA = 0x3C3;
constexpr uint32_t MIM_LONGDATA = 0x3C4;
constexpr uint32_t MIM_ERROR = 0x3C5;
constexpr uint32_t MIM_LONGERROR = 0x3C6;
constexpr uint32_t MOM_OPEN = 0x3C7;
constexpr uint32_t MOM_CLOSE = 0x3C8;
constexpr uint32_t MOM_DONE = 0x3C9;

constexpr uint32_t CALLBACK_FUNCTION = 0x00030000;

// Header flags.
constexpr uint32_t MHDR_DONE = 0x00000001;
constexpr uint32_t MHDR_PREPARED = 0x00000002;
constexpr uint32_t MHDR_INQUEUE = 0x00000004;

// A buffer header. dwFlags is read and written by several threads, so it is atomic;
// the other members are handed over together with the header (by the callback or by
// a published ring index) and need no ordering of their own.
struct MIDIHDR {
    uint8_t* lpData = nullptr;
    uint32_t dwBufferLength = 0;
    uint32_t dwBytesRecorded = 0;
    std::atomic<uint32_t> dwFlags{0};
};

namespace qz {
// A header goes back to its owner: out of the queue, done. For backends.
void MarkMidiHdrDone(MIDIHDR* pHdr);
}  // namespace qz

struct MidiPortTag;
using HMIDIPORT = MidiPortTag*;  // opaque, owned by the backend that opened it

// param1: MIM_DATA the packed short message; MIM_LONGDATA and MOM_DONE the MIDIHDR*.
using MidiCallback = void (*)(HMIDIPORT hPort, uint32_t uMsg, void* pInstance, uintptr_t param1,
                              uintptr_t param2);

namespace qz {
// A real backend's finished send goes back: the header marked done, then the owner's
// MOM_DONE, with the port's lock released meanwhile (the callback may send again).
// nCompleting, guarded by that lock, counts the callbacks in flight that a close waits out.
void CompleteSend(std::unique_lock<std::mutex>& lock, HMIDIPORT hPort, MIDIHDR* pHdr, MidiCallback pfn,
                  void* pInstance, int& nCompleting);
}  // namespace qz

class CMidiDriver {
public:
    virtual ~CMidiDriver() = default;

    // Enumeration. A name that cannot be read returns an error; the port still counts.
    virtual uint32_t InGetNumDevs() = 0;
    virtual MMRESULT InGetDevName(uint32_t uPort, std::string& strName) = 0;
    virtual uint32_t OutGetNumDevs() = 0;
    virtual MMRESULT OutGetDevName(uint32_t uPort, std::string& strName) = 0;
    // Other names the MIDI system gives the port (JACK's aliases), which may name the
    // device behind a bridge's generic port; none by default.
    virtual MMRESULT InGetDevAliases(uint32_t uPort, std::vector<std::string>& aliases);
    virtual MMRESULT OutGetDevAliases(uint32_t uPort, std::vector<std::string>& aliases);

    // Input. Filled buffers come back through MIM_LONGDATA in the order they were added;
    // InReset gives back every queued buffer (dwBytesRecorded may be 0).
    virtual MMRESULT InOpen(HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance) = 0;
    virtual MMRESULT InPrepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr);
    virtual MMRESULT InUnprepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr);
    virtual MMRESULT InAddBuffer(HMIDIPORT hPort, MIDIHDR* pHdr) = 0;
    virtual MMRESULT InStart(HMIDIPORT hPort) = 0;
    virtual MMRESULT InStop(HMIDIPORT hPort) = 0;
    virtual MMRESULT InReset(HMIDIPORT hPort) = 0;
    virtual MMRESULT InClose(HMIDIPORT hPort) = 0;

    // Output. Each accepted long message is completed by exactly one MOM_DONE, in
    // submission order, either inside OutLongMsg or later on another thread.
    virtual MMRESULT OutOpen(HMIDIPORT* phPort, uint32_t uPort, MidiCallback pfnCallback, void* pInstance) = 0;
    virtual MMRESULT OutPrepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr);
    virtual MMRESULT OutUnprepareHeader(HMIDIPORT hPort, MIDIHDR* pHdr);
    virtual MMRESULT OutLongMsg(HMIDIPORT hPort, MIDIHDR* pHdr) = 0;
    virtual MMRESULT OutShortMsg(HMIDIPORT hPort, uint32_t dwMsg) = 0;
    virtual MMRESULT OutClose(HMIDIPORT hPort) = 0;
};

namespace qz {
// The driver that port objects use unless they are given another one.
CMidiDriver& DefaultMidiDriver();
// Installs the process-wide default (not owned). Null restores the built-in loopback driver.
void SetDefaultMidiDriver(CMidiDriver* pDriver);
}  // namespace qz
