#pragma once
// The MIDI input message parser. Turns what the input port delivers (packed short
// messages through OnData, raw long buffers through OnLongData) into complete MIDI 1.0
// messages, and each complete message into one virtual handler call per message kind.
//
// Running status applies to channel messages in long buffers; System Exclusive is
// collected from F0 to F7 across any number of buffers; real-time bytes pass through
// at any point without disturbing the message in progress. Universal Real-Time
// messages (MIDI Time Code, MIDI Machine Control), manufacturer 0x41 data sets with
// model bytes 00 51 and MTC quarter frames are decoded into typed calls; timing
// clocks are timed.
//
// Every handler has an empty default; a derived class overrides what it needs and
// never touches the parser fields. Everything runs on the input worker's thread, one
// call at a time. A message handed to a handler (pointer and length) points into
// m_pBuf, starts at its status byte and is valid only during the call; a System
// Exclusive message runs from F0 to F7, both counted.
#include <atomic>
#include <cstdint>

#include "midi/MidiIn.h"
#include "midi/TrafficTap.h"

class CMidiInMsg : public CMidiIn {
public:
    // Capacity of the message buffer: the longest System Exclusive message that is
    // delivered, F0 and F7 included. A longer one is dropped whole and counted in
    // m_nSysExDropped; nothing is ever written past the buffer.
    static constexpr int kBufSize = 512;
    static constexpr int kModelNameMax = 16;

    using ClockFn = uint32_t (*)();

    explicit CMidiInMsg(CMidiDriver* pDriver = nullptr);
    ~CMidiInMsg() override;

    // The millisecond clock used to time MIDI clocks (a steady clock by default; a
    // null pointer restores it). Tests install their own.
    void SetClock(ClockFn pfnClock);
    static uint32_t SteadyClockMs();

    // Parsers, called by the input worker.
    void OnData(const uint32_t* pdwMsg) override;
    void OnLongData(const uint8_t* pData, uint32_t nBytes) override;
    // A lost buffer ends the message in progress: it is dropped and counted.
    void OnInputLost() override;

    // Channel messages.
    virtual void DispatchChannelMsg(const uint8_t* pMsg, int nLen);
    virtual void OnNoteOff(int /*nChannel*/, int /*nNote*/, int /*nVelocity*/) {}
    virtual void OnNoteOn(int /*nChannel*/, int /*nNote*/, int /*nVelocity*/) {}
    virtual void OnPolyKeyPressure(int /*nChannel*/, int /*nNote*/, int /*nPressure*/) {}
    virtual void OnControlChange(int /*nChannel*/, int /*nController*/, int /*nValue*/) {}
    virtual void OnProgramChange(int /*nChannel*/, int /*nProgram*/) {}
    virtual void OnChannelPressure(int /*nChannel*/, int /*nPressure*/) {}
    virtual void OnPitchBend(int /*nChannel*/, int /*nLsb*/, int /*nMsb*/) {}

    // System common messages.
    virtual void DispatchSystemCommon(const uint8_t* pMsg, int nLen);
    virtual void OnQuarterFrame(int nData);
    virtual void OnMtcTime(int /*nRate*/, int /*nHours*/, int /*nMinutes*/, int /*nSeconds*/, int /*nFrames*/,
                           int /*nDir*/) {}
    virtual void ResetQuarterFrame();
    virtual void OnSongPosition(int /*nLsb*/, int /*nMsb*/) {}
    virtual void OnSongSelect(int /*nSong*/) {}
    virtual void OnTuneRequest() {}

    // System Exclusive messages.
    virtual void DispatchSysEx(const uint8_t* pMsg, int nLen);
    virtual void DispatchUniversalRealTime(const uint8_t* pMsg, int nLen);
    virtual void DispatchMtcSysEx(const uint8_t* pMsg, int nLen);
    virtual void OnMtcFullMessage(int /*nDevice*/, int /*nRate*/, int /*nHours*/, int /*nMinutes*/,
                                  int /*nSeconds*/, int /*nFrames*/) {}
    virtual void OnMtcOther(int /*nDevice*/, const uint8_t* /*pData*/, int /*nCount*/) {}
    virtual void DispatchMmc(const uint8_t* pMsg, int nLen);
    virtual void DispatchMmcCommand(int nDevice, int nCommand);
    virtual void OnMmcStop(int /*nDevice*/) {}
    virtual void OnMmcPlay(int /*nDevice*/) {}
    virtual void OnMmcDeferredPlay(int /*nDevice*/) {}
    virtual void OnMmcFastForward(int /*nDevice*/) {}
    virtual void OnMmcRewind(int /*nDevice*/) {}
    virtual void OnMmcRecordStrobe(int /*nDevice*/) {}
    virtual void OnMmcRecordExit(int /*nDevice*/) {}
    virtual void OnMmcRecordPause(int /*nDevice*/) {}
    virtual void OnMmcPause(int /*nDevice*/) {}
    virtual void OnMmcEject(int /*nDevice*/) {}
    virtual void OnMmcChase(int /*nDevice*/) {}
    virtual void OnMmcLocate(int /*nDevice*/, int /*nHours*/, int /*nMinutes*/, int /*nSeconds*/, int /*nFrames*/,
                             int /*nSubframes*/) {}
    virtual void OnMmcOther(int /*nDevice*/, const uint8_t* /*pData*/, int /*nCount*/) {}
    virtual void OnUniversalRealTimeOther(const uint8_t* /*pMsg*/, int /*nLen*/) {}
    virtual void OnUniversalNonRealTime(const uint8_t* /*pMsg*/, int /*nLen*/) {}
    virtual void DispatchMakerSysEx(const uint8_t* pMsg, int nLen);
    virtual void DispatchModelDataSet(const uint8_t* pMsg, int nLen);
    virtual void OnModelBlockData(int /*nDevice*/, const uint8_t* /*pData*/, int /*nCount*/) {}
    virtual void OnModelName(int /*nDevice*/, const char* /*pszName*/) {}
    virtual void OnModelDataSet(int /*nDevice*/, uint32_t /*dwAddress*/, const uint8_t* /*pData*/,
                                int /*nCount*/) {}
    virtual void OnOtherSysEx(const uint8_t* /*pMsg*/, int /*nLen*/) {}
    virtual void OnForeignSysEx(const uint8_t* /*pMsg*/, int /*nLen*/) {}

    // System real-time messages.
    virtual void DispatchRealTime(int nStatus);
    virtual void OnTimingClock();
    virtual void OnQuarterNoteTime(uint32_t /*dwMilliseconds*/) {}
    virtual void ResetClockTiming();
    virtual void OnTransport(int /*nStatus*/) {}
    virtual void OnActiveSensing() {}
    virtual void OnSystemReset() {}

    // System Exclusive messages longer than kBufSize that were dropped. Written on the
    // worker thread only; others may read it at any time.
    std::atomic<int32_t> m_nSysExDropped{0};
    // Messages in progress when an input buffer was lost, dropped rather than joined
    // across the gap. Same threading as m_nSysExDropped.
    std::atomic<int32_t> m_nCutByLoss{0};

    // Each complete message is copied to the tap before its handler runs (null: none).
    // It must outlive the port.
    void SetTrafficTap(CTrafficTap* pTap) { m_pTap.store(pTap, std::memory_order_release); }

protected:
    // Parser state; only the parser itself writes it.
    int32_t m_nLen = 0;       // bytes collected in m_pBuf for the message in progress
    int32_t m_nStatus = 0;    // status in progress (channel bits cleared); 0 = none
    int32_t m_nRunning = 0;   // status byte (with channel) of the last channel message; 0 = none
    int32_t m_nExpect = -1;   // total length of the message in progress; -1 for System Exclusive
    alignas(64) uint8_t m_pBuf[kBufSize] = {};  // the message buffer; lives exactly as long as the object
    bool m_bSysExOverflow = false;  // the open System Exclusive outgrew m_pBuf; it is being skipped

    int32_t m_nQfLast = -1;     // piece (0-7) of the last quarter frame; -1 = none
    int32_t m_nQfDir = 0;       // 0 unknown, +1 rising pieces, -1 falling
    uint8_t m_byQfMask = 0;     // bit n: piece n received in the current sequence
    uint8_t m_byQf[8] = {};     // data byte of each piece

    int32_t m_nClockCount = 0;    // timing clocks in the current measurement
    uint32_t m_dwClockStart = 0;  // clock time of the first clock of the measurement
    ClockFn m_pfnClock = &SteadyClockMs;

private:
    void Tap(const uint8_t* p, int n) {
        if (CTrafficTap* pTap = m_pTap.load(std::memory_order_acquire)) pTap->Record(CTrafficTap::kIn, p, n);
    }
    std::atomic<CTrafficTap*> m_pTap{nullptr};

    void OpenMessage(uint8_t byStatus, int32_t nStatus, int32_t nExpect);
    void DropMessage();
    void CompleteMessage();
    // Appends a data byte to the open message; true when that completed it.
    bool AppendData(uint8_t b);
    void AppendSysExRun(const uint8_t* p, uint32_t n);
    void EndSysEx();
    // Handles one status byte 0xF0..0xF6 met in a long buffer.
    void LongSystemStatus(uint8_t b);
};
