#pragma once
// Turns a stream of MIDI bytes into whole messages. Short messages come out packed
// (status | data1 << 8 | data2 << 16); System Exclusive bytes go into buffers that the
// sink hands out, one after another, as the platform's long buffers are filled.
//
// Frames by bytes, never by the arrival boundaries: an F0 starts a new message even
// inside an unterminated System Exclusive, any other status byte ends one (without
// its F7), real-time bytes come out at once wherever they appear, running status
// holds for channel messages, and stray data bytes are dropped. When the sink has no
// buffer, the rest of that System Exclusive message is lost and counted, never
// spliced onto a later buffer. Nothing is allocated.
#include <cstddef>
#include <cstdint>

class CMidiFramer {
public:
    class ISink {
    public:
        virtual void OnShortMessage(uint32_t dwMsg) = 0;
        // A buffer for System Exclusive bytes, or null when none is waiting.
        virtual uint8_t* TakeSysExBuffer(uint32_t& nCapacity) = 0;
        // Gives back the buffer taken last, holding nBytes.
        virtual void ReturnSysExBuffer(uint32_t nBytes) = 0;
        // System Exclusive bytes that found no buffer; bNewMessage on the first lost
        // byte of a message.
        virtual void OnSysExLost(uint32_t nBytes, bool bNewMessage) = 0;

    protected:
        ~ISink() = default;
    };

    explicit CMidiFramer(ISink& sink) : m_sink(sink) {}
    CMidiFramer(const CMidiFramer&) = delete;
    CMidiFramer& operator=(const CMidiFramer&) = delete;

    void Feed(uint8_t by);
    void Feed(const uint8_t* pData, size_t nLength) {
        for (size_t i = 0; i < nLength; ++i) Feed(pData[i]);
    }
    // The end of one arrival: a partly filled buffer goes back now, so that the
    // owner sees the bytes without waiting for the rest of the message.
    void EndOfArrival() { ReturnBuffer(); }
    // Input was lost here: the rest of an open System Exclusive message is dropped.
    void CutInput() { m_bDiscard = m_bSysEx; }
    // Forgets everything, including a buffer held (its owner takes it back itself).
    void Reset();

    bool InSysEx() const { return m_bSysEx; }

private:
    void AppendSysEx(uint8_t by);
    void EndSysEx();
    void ReturnBuffer();
    void FlushShort();

    ISink& m_sink;
    uint8_t* m_pBuffer = nullptr;
    uint32_t m_nCapacity = 0, m_nFilled = 0;
    bool m_bSysEx = false, m_bDiscard = false;
    uint8_t m_byRunning = 0;
    uint8_t m_abyShort[3] = {};
    uint32_t m_nShort = 0, m_nShortNeed = 0;
};
