#include "midi/MidiFramer.h"

#include "midi/MidiMessageLength.h"

void CMidiFramer::Feed(uint8_t by) {
    if (by >= 0xF8) {  // real time: may appear anywhere, even inside a SysEx
        m_sink.OnShortMessage(by);
        return;
    }
    if (by == 0xF0) {
        if (m_bSysEx) EndSysEx();
        m_bSysEx = true;
        m_bDiscard = false;
        m_byRunning = 0;
        m_nShort = 0;
        AppendSysEx(by);
        return;
    }
    if (by == 0xF7) {
        if (m_bSysEx) {
            AppendSysEx(by);
            EndSysEx();
        }
        return;
    }
    if (by >= 0x80) {
        if (m_bSysEx) EndSysEx();
        m_nShortNeed = qz::MidiMessageLength(by);
        m_byRunning = by < 0xF0 ? by : 0;
        m_nShort = 0;
        if (m_nShortNeed == 0) return;  // undefined status
        m_abyShort[m_nShort++] = by;
        if (m_nShort == m_nShortNeed) FlushShort();
        return;
    }
    // Data byte.
    if (m_bSysEx) {
        AppendSysEx(by);
        return;
    }
    if (m_nShort == 0) {
        if (!m_byRunning) return;  // stray data byte
        m_nShortNeed = qz::MidiMessageLength(m_byRunning);
        m_abyShort[m_nShort++] = m_byRunning;
    }
    m_abyShort[m_nShort++] = by;
    if (m_nShort == m_nShortNeed) FlushShort();
}

void CMidiFramer::Reset() {
    m_bSysEx = m_bDiscard = false;
    m_byRunning = 0;
    m_nShort = m_nShortNeed = 0;
    m_pBuffer = nullptr;
    m_nCapacity = m_nFilled = 0;
}

void CMidiFramer::FlushShort() {
    uint32_t dw = m_abyShort[0];
    if (m_nShort > 1) dw |= uint32_t(m_abyShort[1]) << 8;
    if (m_nShort > 2) dw |= uint32_t(m_abyShort[2]) << 16;
    m_nShort = 0;
    m_sink.OnShortMessage(dw);
}

void CMidiFramer::AppendSysEx(uint8_t by) {
    if (m_bDiscard) {
        m_sink.OnSysExLost(1, false);
        return;
    }
    if (!m_pBuffer) {
        m_nFilled = 0;
        m_pBuffer = m_sink.TakeSysExBuffer(m_nCapacity);
        if (m_pBuffer && m_nCapacity == 0) {  // an empty buffer holds nothing: give it straight back
            ReturnBuffer();
        }
    }
    if (!m_pBuffer) {
        // No buffer queued: the rest of this SysEx is lost, never spliced later.
        m_bDiscard = true;
        m_sink.OnSysExLost(1, true);
        return;
    }
    m_pBuffer[m_nFilled++] = by;
    if (m_nFilled >= m_nCapacity) ReturnBuffer();
}

void CMidiFramer::EndSysEx() {
    ReturnBuffer();
    m_bSysEx = false;
    m_bDiscard = false;
}

void CMidiFramer::ReturnBuffer() {
    if (!m_pBuffer) return;
    const uint32_t nFilled = m_nFilled;
    m_pBuffer = nullptr;
    m_nCapacity = m_nFilled = 0;
    m_sink.ReturnSysExBuffer(nFilled);
}
