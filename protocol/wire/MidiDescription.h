#pragma once
// One complete MIDI message told for people: the device's RQ1 and DT1 frames by block,
// the fixed command frames by what they do, everything else by its MIDI kind. The
// traffic window and `qz81kt monitor` show the same words. Runs on the reader's side,
// never on a port's path, so it may allocate.
#include <cstddef>
#include <cstdint>
#include <string>

namespace qz {

enum class EMidiKind : uint8_t {
    RequestFrame,  // RQ1 of this device's model
    DataSetFrame,  // DT1 of this device's model (blocks, writes and the command frames)
    OtherSysEx,    // any other System Exclusive message
    Channel,
    SystemCommon,
    RealTime,
    Invalid,  // empty, or does not start with a status byte
};

struct CMidiDescription {
    EMidiKind eKind = EMidiKind::Invalid;
    std::string strText;
    // RQ1/DT1 only: the address (a2 in bits 16-22) and whether the checksum adds up.
    uint32_t dwAddress = 0;
    bool bChecksumGood = false;
    // A request or reply of the status or control mode block: what the 100 ms link watch
    // sends and gets back.
    bool bLinkPoll = false;
};

// Describes the message at pMsg (nLength bytes, from its status byte; a System Exclusive
// message from F0 to F7).
CMidiDescription DescribeMidi(const uint8_t* pMsg, size_t nLength);

// A short name of the kind for machine-read output: "rq1", "dt1", "sysex", "channel", ...
const char* MidiKindName(EMidiKind eKind);

// "F0 41 7F ..." (upper case, one space between bytes).
std::string HexBytes(const uint8_t* p, size_t n);

}  // namespace qz
