#include "midi/MidiInMsg.h"

#include <chrono>
#include <cstring>

#include "midi/MidiMessageLength.h"

namespace {

// Total length (status byte included) of a message by its status byte.
constexpr int32_t MessageLen(uint8_t byStatus) { return static_cast<int32_t>(qz::MidiMessageLength(byStatus)); }

// First byte in [p, pEnd) with its top bit set (a status byte), or pEnd. Eight bytes
// at a time: System Exclusive data are long runs of 7-bit bytes.
const uint8_t* FindStatusByte(const uint8_t* p, const uint8_t* pEnd) {
    constexpr uint64_t kHighBits = 0x8080808080808080ull;
    while (pEnd - p >= 8) {
        uint64_t w;
        std::memcpy(&w, p, sizeof w);
        if (w & kHighBits) break;
        p += 8;
    }
    while (p < pEnd && *p < 0x80) ++p;
    return p;
}

}  // namespace

CMidiInMsg::CMidiInMsg(CMidiDriver* pDriver) : CMidiIn(pDriver) {}

// CMidiInPort ended the worker before any part of the object went.
CMidiInMsg::~CMidiInMsg() = default;

uint32_t CMidiInMsg::SteadyClockMs() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void CMidiInMsg::SetClock(ClockFn pfnClock) { m_pfnClock = pfnClock ? pfnClock : &SteadyClockMs; }

// ---------------------------------------------------------------------------------
// Message assembly

void CMidiInMsg::DropMessage() {
    if (m_bSysExOverflow) {
        // An oversize System Exclusive message is lost whichever way it ends.
        m_bSysExOverflow = false;
        m_nSysExDropped.fetch_add(1, std::memory_order_relaxed);
    }
    m_nLen = 0;
    m_nStatus = 0;
}

void CMidiInMsg::OnInputLost() {
    if (m_nStatus != 0) m_nCutByLoss.fetch_add(1, std::memory_order_relaxed);
    m_bSysExOverflow = false;
    m_nLen = 0;
    m_nStatus = 0;
    m_nRunning = 0;  // the gap may have held another status
}

void CMidiInMsg::OpenMessage(uint8_t byStatus, int32_t nStatus, int32_t nExpect) {
    DropMessage();
    m_pBuf[0] = byStatus;
    m_nLen = 1;
    m_nStatus = nStatus;
    m_nExpect = nExpect;
}

void CMidiInMsg::CompleteMessage() {
    Tap(m_pBuf, m_nExpect);
    if (m_nStatus >= 0xF0) {
        DispatchSystemCommon(m_pBuf, m_nExpect);
    } else {
        const uint8_t byStatus = m_pBuf[0];
        DispatchChannelMsg(m_pBuf, m_nExpect);
        m_nRunning = byStatus;
    }
    m_nLen = 0;
    m_nStatus = 0;
}

bool CMidiInMsg::AppendData(uint8_t b) {
    if (m_nStatus == 0xF0) {
        AppendSysExRun(&b, 1);
        return false;
    }
    if (m_nLen <= 0 || m_nLen >= kBufSize) {  // cannot happen through the parser itself
        DropMessage();
        return false;
    }
    m_pBuf[m_nLen++] = b;
    if (m_nLen >= m_nExpect) {
        CompleteMessage();
        return true;
    }
    return false;
}

// Data bytes of the open System Exclusive message. One byte of the buffer stays free
// for the closing F7; a message that does not fit is skipped until it ends and then
// counted as dropped, so that no handler ever sees it cut short.
void CMidiInMsg::AppendSysExRun(const uint8_t* p, uint32_t n) {
    if (m_bSysExOverflow) return;
    if (m_nLen < 1 || n > static_cast<uint32_t>(kBufSize - 1 - m_nLen)) {
        m_bSysExOverflow = true;
        return;
    }
    std::memcpy(m_pBuf + m_nLen, p, n);
    m_nLen += static_cast<int32_t>(n);
}

void CMidiInMsg::EndSysEx() {
    if (m_nStatus == 0xF0) {
        if (m_bSysExOverflow) {
            DropMessage();
        } else {
            m_pBuf[m_nLen++] = 0xF7;  // m_nLen <= kBufSize - 1 here
            Tap(m_pBuf, m_nLen);
            DispatchSysEx(m_pBuf, m_nLen);
        }
    }
    m_nLen = 0;
    m_nStatus = 0;
    m_nRunning = 0;
}

void CMidiInMsg::LongSystemStatus(uint8_t b) {
    m_nRunning = 0;
    switch (b) {
    case 0xF0:
        OpenMessage(b, 0xF0, -1);
        break;
    case 0xF1:
    case 0xF2:
    case 0xF3:
        OpenMessage(b, b, MessageLen(b));
        break;
    case 0xF6:
        OpenMessage(b, b, MessageLen(b));
        CompleteMessage();
        break;
    default:  // 0xF4, 0xF5: undefined, dropped with whatever was in progress
        DropMessage();
        break;
    }
}

// ---------------------------------------------------------------------------------
// Parsers

void CMidiInMsg::OnLongData(const uint8_t* pData, uint32_t nBytes) {
    if (!pData) return;
    const uint8_t* p = pData;
    const uint8_t* const pEnd = pData + nBytes;
    while (p < pEnd) {
        if (m_nStatus == 0xF0) {
            // Inside System Exclusive: take the whole run of data bytes at once.
            const uint8_t* q = FindStatusByte(p, pEnd);
            if (q != p) {
                AppendSysExRun(p, static_cast<uint32_t>(q - p));
                p = q;
                if (p == pEnd) break;
            }
        }
        const uint8_t b = *p++;
        if (b < 0x80) {
            if (m_nStatus != 0) {
                AppendData(b);
            } else if (m_nRunning != 0) {
                const auto byRunning = static_cast<uint8_t>(m_nRunning);
                OpenMessage(byRunning, byRunning & 0xF0, MessageLen(byRunning));
                AppendData(b);
            }
        } else if (b >= 0xF8) {
            Tap(&b, 1);
            DispatchRealTime(b);
        } else if (b == 0xF7) {
            EndSysEx();
        } else if (b >= 0xF0) {
            LongSystemStatus(b);
        } else {
            OpenMessage(b, b & 0xF0, MessageLen(b));
        }
    }
}

void CMidiInMsg::OnData(const uint32_t* pdwMsg) {
    if (!pdwMsg) return;
    uint32_t dw = *pdwMsg;
    for (int i = 0; i < 3; ++i, dw >>= 8) {
        const auto b = static_cast<uint8_t>(dw & 0xFF);
        if (b < 0x80) {
            if (m_nStatus == 0) return;  // no running status for short messages
            if (AppendData(b)) return;
            continue;
        }
        if (b >= 0xF8) {
            Tap(&b, 1);
            DispatchRealTime(b);
            return;
        }
        switch (b) {
        case 0xF0:
        case 0xF4:
        case 0xF5:
        case 0xF7:
            DropMessage();
            return;
        case 0xF6:
            OpenMessage(b, b, MessageLen(b));
            CompleteMessage();
            return;
        case 0xF1:
        case 0xF2:
        case 0xF3:
            m_nRunning = 0;
            OpenMessage(b, b, MessageLen(b));
            break;
        default:
            OpenMessage(b, b & 0xF0, MessageLen(b));
            break;
        }
    }
}

// ---------------------------------------------------------------------------------
// Channel and system common routing

void CMidiInMsg::DispatchChannelMsg(const uint8_t* pMsg, int nLen) {
    if (!pMsg || nLen < 2) return;
    const int nChannel = pMsg[0] & 0x0F;
    switch (pMsg[0] & 0xF0) {
    case 0xC0:
        OnProgramChange(nChannel, pMsg[1]);
        return;
    case 0xD0:
        OnChannelPressure(nChannel, pMsg[1]);
        return;
    default:
        break;
    }
    if (nLen < 3) return;
    switch (pMsg[0] & 0xF0) {
    case 0x80:
        OnNoteOff(nChannel, pMsg[1], pMsg[2]);
        break;
    case 0x90:
        OnNoteOn(nChannel, pMsg[1], pMsg[2]);
        break;
    case 0xA0:
        OnPolyKeyPressure(nChannel, pMsg[1], pMsg[2]);
        break;
    case 0xB0:
        OnControlChange(nChannel, pMsg[1], pMsg[2]);
        break;
    case 0xE0:
        OnPitchBend(nChannel, pMsg[1], pMsg[2]);
        break;
    default:
        break;
    }
}

void CMidiInMsg::DispatchSystemCommon(const uint8_t* pMsg, int nLen) {
    if (!pMsg || nLen < 1) return;
    switch (pMsg[0]) {
    case 0xF1:
        if (nLen >= 2) OnQuarterFrame(pMsg[1]);
        break;
    case 0xF2:
        if (nLen >= 3) OnSongPosition(pMsg[1], pMsg[2]);
        break;
    case 0xF3:
        if (nLen >= 2) OnSongSelect(pMsg[1]);
        break;
    case 0xF6:
        OnTuneRequest();
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------
// MIDI Time Code quarter frames

void CMidiInMsg::ResetQuarterFrame() {
    m_byQfMask = 0;
    m_nQfLast = -1;
    m_nQfDir = 0;
}

void CMidiInMsg::OnQuarterFrame(int nData) {
    const int nPiece = (nData >> 4) & 7;
    m_byQf[nPiece] = static_cast<uint8_t>(nData & 0x7F);
    m_byQfMask = static_cast<uint8_t>(m_byQfMask | (1u << nPiece));
    if (m_nQfLast == -1) {
        m_nQfLast = nPiece;
        return;
    }
    const int nStep = nPiece > m_nQfLast ? 1 : (nPiece < m_nQfLast ? -1 : 0);
    if (nStep == 0 || (m_nQfDir != 0 && m_nQfDir != nStep)) {
        // A repeated piece or a change of direction starts a new sequence here.
        m_byQfMask = static_cast<uint8_t>(1u << nPiece);
        m_nQfDir = 0;
        m_nQfLast = nPiece;
        return;
    }
    if (m_nQfDir == 0) {
        m_nQfDir = nStep;
        m_nQfLast = nPiece;
        return;
    }
    if (nPiece != (m_nQfDir > 0 ? 7 : 0)) {
        m_nQfLast = nPiece;
        return;
    }
    if (m_byQfMask == 0xFF) {
        const uint8_t* q = m_byQf;
        OnMtcTime((q[7] >> 1) & 3, (q[7] & 1) << 4 | (q[6] & 0x0F), (q[5] & 0x0F) << 4 | (q[4] & 0x0F),
                  (q[3] & 0x0F) << 4 | (q[2] & 0x0F), (q[1] & 0x0F) << 4 | (q[0] & 0x0F), m_nQfDir);
    }
    ResetQuarterFrame();
}

// ---------------------------------------------------------------------------------
// System Exclusive routing. Each router checks the length before it reads a byte, so
// a short message never makes it read past its F7.

void CMidiInMsg::DispatchSysEx(const uint8_t* pMsg, int nLen) {
    if (!pMsg || nLen < 1) return;
    if (nLen < 3) {
        OnForeignSysEx(pMsg, nLen);
        return;
    }
    switch (pMsg[1]) {
    case 0x7F:
        DispatchUniversalRealTime(pMsg, nLen);
        break;
    case 0x7E:
        OnUniversalNonRealTime(pMsg, nLen);
        break;
    case 0x41:
        DispatchMakerSysEx(pMsg, nLen);
        break;
    default:
        OnForeignSysEx(pMsg, nLen);
        break;
    }
}

void CMidiInMsg::DispatchUniversalRealTime(const uint8_t* pMsg, int nLen) {
    if (nLen >= 6 && pMsg[3] == 0x06) {
        DispatchMmc(pMsg, nLen);
    } else if (nLen >= 6 && pMsg[3] == 0x01) {
        DispatchMtcSysEx(pMsg, nLen);
    } else {
        OnUniversalRealTimeOther(pMsg, nLen);
    }
}

void CMidiInMsg::DispatchMtcSysEx(const uint8_t* pMsg, int nLen) {
    if (nLen < 6) {
        OnUniversalRealTimeOther(pMsg, nLen);
        return;
    }
    if (nLen == 10 && pMsg[4] == 0x01) {
        OnMtcFullMessage(pMsg[2], pMsg[5] >> 5, pMsg[5] & 0x1F, pMsg[6], pMsg[7], pMsg[8]);
        ResetQuarterFrame();
    } else {
        OnMtcOther(pMsg[2], pMsg + 5, nLen - 6);
    }
}

void CMidiInMsg::DispatchMmc(const uint8_t* pMsg, int nLen) {
    if (nLen < 6) {
        OnUniversalRealTimeOther(pMsg, nLen);
        return;
    }
    const int nCommand = pMsg[4];
    if (nCommand >= 0x01 && nCommand <= 0x0B) {
        DispatchMmcCommand(pMsg[2], nCommand);
    } else if (nCommand == 0x44 && nLen >= 13 && pMsg[5] == 0x06 && pMsg[6] == 0x01) {
        // F0 7F dev 06 44 06 01 hr mn sc fr sf F7
        OnMmcLocate(pMsg[2], pMsg[7] & 0x1F, pMsg[8], pMsg[9], pMsg[10], pMsg[11]);
    } else {
        OnMmcOther(pMsg[2], pMsg + 4, nLen - 5);
    }
}

void CMidiInMsg::DispatchMmcCommand(int nDevice, int nCommand) {
    switch (nCommand) {
    case 0x01: OnMmcStop(nDevice); break;
    case 0x02: OnMmcPlay(nDevice); break;
    case 0x03: OnMmcDeferredPlay(nDevice); break;
    case 0x04: OnMmcFastForward(nDevice); break;
    case 0x05: OnMmcRewind(nDevice); break;
    case 0x06: OnMmcRecordStrobe(nDevice); break;
    case 0x07: OnMmcRecordExit(nDevice); break;
    case 0x08: OnMmcRecordPause(nDevice); break;
    case 0x09: OnMmcPause(nDevice); break;
    case 0x0A: OnMmcEject(nDevice); break;
    case 0x0B: OnMmcChase(nDevice); break;
    default: break;
    }
}

void CMidiInMsg::DispatchMakerSysEx(const uint8_t* pMsg, int nLen) {
    if (nLen >= 12 && pMsg[3] == 0x00 && pMsg[4] == 0x51 && pMsg[5] == 0x12) {
        DispatchModelDataSet(pMsg, nLen);
    } else {
        OnOtherSysEx(pMsg, nLen);
    }
}

// F0 41 dev 00 51 12 a2 a1 a0 data... sum F7: the data are bytes 9 .. nLen-3.
void CMidiInMsg::DispatchModelDataSet(const uint8_t* pMsg, int nLen) {
    if (nLen < 12) {  // no room for address, data and checksum: hand it over as it is
        OnOtherSysEx(pMsg, nLen);
        return;
    }
    const int nDevice = pMsg[2];
    const uint8_t* pData = pMsg + 9;
    const int nCount = nLen - 11;
    const uint32_t dwAddress = uint32_t{pMsg[6]} << 16 | uint32_t{pMsg[7]} << 8 | pMsg[8];
    if (dwAddress == 0x100000) {
        OnModelBlockData(nDevice, pData, nCount);
    } else if (dwAddress == 0x107100) {
        char szName[kModelNameMax + 1] = {};
        for (int i = 0; i < kModelNameMax && i < nCount && pData[i] != 0; ++i) {
            szName[i] = static_cast<char>(pData[i]);
        }
        OnModelName(nDevice, szName);
    } else {
        OnModelDataSet(nDevice, dwAddress, pData, nCount);
    }
}

// ---------------------------------------------------------------------------------
// Real-time messages and clock timing

void CMidiInMsg::DispatchRealTime(int nStatus) {
    switch (nStatus) {
    case 0xF8:
        OnTimingClock();
        break;
    case 0xFA:
    case 0xFB:
    case 0xFC:
        OnTransport(nStatus);
        break;
    case 0xFE:
        OnActiveSensing();
        break;
    case 0xFF:
        OnSystemReset();
        break;
    default:  // 0xF9, 0xFD: undefined
        break;
    }
}

void CMidiInMsg::ResetClockTiming() {
    m_nClockCount = 0;
    m_dwClockStart = 0;
}

// The first report follows the 25th clock (clocks 1..25); each later one covers the next
// 24 clock intervals, measured from the clock that closed the previous report.
void CMidiInMsg::OnTimingClock() {
    const uint32_t t = m_pfnClock();
    if (++m_nClockCount > 24) {
        OnQuarterNoteTime(t - m_dwClockStart);
        m_nClockCount = 1;
    }
    if (m_nClockCount == 1) m_dwClockStart = t;
}
