#pragma once
// A parser that records every handler call as one line of text, for tests.
#include <cstdarg>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "midi/MidiInMsg.h"
#include "midi/MidiInPort.h"
#include "support/HexText.h"

using Bytes = std::vector<uint8_t>;

// "F0 41 10 F7" -> bytes.
inline Bytes Hex(const std::string& str) {
    Bytes v;
    std::istringstream in(str);
    std::string tok;
    while (in >> tok) v.push_back(static_cast<uint8_t>(std::stoul(tok, nullptr, 16)));
    return v;
}

class CRecordingParser : public CMidiInMsg {
public:
    std::vector<std::string> m_events;
    std::vector<Bytes> m_sysex;  // every message given to a System Exclusive leaf handler

    void Long(const Bytes& v) { OnLongData(v.data(), static_cast<uint32_t>(v.size())); }
    void Long(const std::string& str) { Long(Hex(str)); }
    void Short(uint32_t dw) { OnData(&dw); }

    int32_t Len() const { return m_nLen; }
    int32_t Status() const { return m_nStatus; }
    int32_t Running() const { return m_nRunning; }

    void OnNoteOff(int c, int n, int v) override { Add("NoteOff %d %02X %02X", c, n, v); }
    void OnNoteOn(int c, int n, int v) override { Add("NoteOn %d %02X %02X", c, n, v); }
    void OnPolyKeyPressure(int c, int n, int v) override { Add("PolyKeyPressure %d %02X %02X", c, n, v); }
    void OnControlChange(int c, int n, int v) override { Add("ControlChange %d %02X %02X", c, n, v); }
    void OnProgramChange(int c, int p) override { Add("ProgramChange %d %02X", c, p); }
    void OnChannelPressure(int c, int p) override { Add("ChannelPressure %d %02X", c, p); }
    void OnPitchBend(int c, int l, int m) override { Add("PitchBend %d %02X %02X", c, l, m); }
    void OnMtcTime(int r, int h, int m, int s, int f, int d) override {
        Add("MtcTime %d %02d:%02d:%02d:%02d %+d", r, h, m, s, f, d);
    }
    void OnSongPosition(int l, int m) override { Add("SongPosition %02X %02X", l, m); }
    void OnSongSelect(int s) override { Add("SongSelect %02X", s); }
    void OnTuneRequest() override { Add("TuneRequest"); }
    void OnMtcFullMessage(int d, int r, int h, int m, int s, int f) override {
        Add("MtcFull %02X %d %02d:%02d:%02d:%02d", d, r, h, m, s, f);
    }
    void OnMtcOther(int d, const uint8_t* p, int n) override { Add("MtcOther %02X [%s]", d, HexText(p, n).c_str()); }
    void OnMmcStop(int d) override { Add("MmcStop %02X", d); }
    void OnMmcPlay(int d) override { Add("MmcPlay %02X", d); }
    void OnMmcDeferredPlay(int d) override { Add("MmcDeferredPlay %02X", d); }
    void OnMmcFastForward(int d) override { Add("MmcFastForward %02X", d); }
    void OnMmcRewind(int d) override { Add("MmcRewind %02X", d); }
    void OnMmcRecordStrobe(int d) override { Add("MmcRecordStrobe %02X", d); }
    void OnMmcRecordExit(int d) override { Add("MmcRecordExit %02X", d); }
    void OnMmcRecordPause(int d) override { Add("MmcRecordPause %02X", d); }
    void OnMmcPause(int d) override { Add("MmcPause %02X", d); }
    void OnMmcEject(int d) override { Add("MmcEject %02X", d); }
    void OnMmcChase(int d) override { Add("MmcChase %02X", d); }
    void OnMmcLocate(int d, int h, int m, int s, int f, int sf) override {
        Add("MmcLocate %02X %02d:%02d:%02d:%02d.%02d", d, h, m, s, f, sf);
    }
    void OnMmcOther(int d, const uint8_t* p, int n) override { Add("MmcOther %02X [%s]", d, HexText(p, n).c_str()); }
    void OnUniversalRealTimeOther(const uint8_t* p, int n) override { SysEx("UniversalRealTimeOther", p, n); }
    void OnUniversalNonRealTime(const uint8_t* p, int n) override { SysEx("UniversalNonRealTime", p, n); }
    void OnModelBlockData(int d, const uint8_t* p, int n) override {
        Add("ModelBlockData %02X [%s]", d, HexText(p, n).c_str());
    }
    void OnModelName(int d, const char* psz) override { Add("ModelName %02X \"%s\"", d, psz); }
    void OnModelDataSet(int d, uint32_t a, const uint8_t* p, int n) override {
        Add("ModelDataSet %02X %06X [%s]", d, a, HexText(p, n).c_str());
    }
    void OnOtherSysEx(const uint8_t* p, int n) override { SysEx("OtherSysEx", p, n); }
    void OnForeignSysEx(const uint8_t* p, int n) override { SysEx("ForeignSysEx", p, n); }
    void OnTimingClock() override {
        Add("Clock");
        CMidiInMsg::OnTimingClock();
    }
    void OnQuarterNoteTime(uint32_t ms) override { Add("QuarterNote %u", ms); }
    void OnTransport(int s) override { Add("Transport %02X", s); }
    void OnActiveSensing() override { Add("ActiveSensing"); }
    void OnSystemReset() override { Add("SystemReset"); }

private:
    void Add(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
        char sz[256];
        va_list args;
        va_start(args, fmt);
        std::vsnprintf(sz, sizeof sz, fmt, args);
        va_end(args);
        m_events.emplace_back(sz);
    }
    void SysEx(const char* pszKind, const uint8_t* p, int n) {
        m_sysex.emplace_back(p, p + n);
        if (n <= 24) {
            Add("%s [%s]", pszKind, HexText(p, n).c_str());
        } else {
            Add("%s %d bytes", pszKind, n);
        }
    }
};
using CRecorder = CMidiInPort<CRecordingParser>;

using Events = std::vector<std::string>;
