#pragma once
// What a traffic view shows: the window's filter choices and `qz81kt monitor --filter`.
#include "midi/TrafficTap.h"
#include "protocol/wire/MidiDescription.h"

struct CTrafficFilter {
    bool bHidePolls = false;  // the link watch's status and control mode requests and their replies
    bool bSysExOnly = false;
    bool bShowIn = true;
    bool bShowOut = true;

    bool Shows(uint8_t byDirection, const qz::CMidiDescription& d) const {
        if (!(byDirection == CTrafficTap::kIn ? bShowIn : bShowOut)) return false;
        if (bHidePolls && d.bLinkPoll) return false;
        return !bSysExOnly || d.eKind == qz::EMidiKind::RequestFrame || d.eKind == qz::EMidiKind::DataSetFrame ||
               d.eKind == qz::EMidiKind::OtherSysEx;
    }
};
