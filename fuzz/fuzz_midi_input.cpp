// libFuzzer target for the MIDI input message parser. The input is a script: each step
// takes an opcode byte and then
//   0, 1  a long buffer of (next byte + 1) raw bytes (1..256), as the port delivers them;
//   2     a long buffer of (next byte + 1) bytes with the top bit cleared (long System
//         Exclusive bodies, so that oversize messages are reached quickly);
//   3     a packed short message word from the next three bytes.
// Every message a handler receives is checked: System Exclusive starts with F0, ends with
// F7, holds only data bytes in between, lies inside the parser's buffer and is at most
// kBufSize bytes; short messages have their proper length. ASan and UBSan watch the rest.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz/FuzzCheck.h"
#include "midi/MidiInMsg.h"
#include "midi/MidiInPort.h"

namespace {

uint32_t g_dwNow = 0;
uint32_t FuzzClock() { return g_dwNow += 7; }

class CCheckingParser : public CMidiInMsg {
public:
    int64_t m_nSysEx = 0;

    void CheckInBuffer(const uint8_t* p, int n) const {
        FUZZ_CHECK(p != nullptr);
        FUZZ_CHECK(n >= 1 && n <= kBufSize);
        FUZZ_CHECK(p >= m_pBuf && p + n <= m_pBuf + kBufSize);
    }
    void CheckSysEx(const uint8_t* p, int n) const {
        CheckInBuffer(p, n);
        FUZZ_CHECK(n >= 2);
        FUZZ_CHECK(p[0] == 0xF0);
        FUZZ_CHECK(p[n - 1] == 0xF7);
        for (int i = 1; i < n - 1; ++i) FUZZ_CHECK(p[i] < 0x80);
    }
    void CheckPart(const uint8_t* pPart, int nCount, const uint8_t* pMsgEnd) const {
        FUZZ_CHECK(nCount >= 0);
        FUZZ_CHECK(pPart >= m_pBuf && pPart + nCount <= pMsgEnd);
    }

    // Routers
    void DispatchChannelMsg(const uint8_t* p, int n) override {
        CheckInBuffer(p, n);
        FUZZ_CHECK(p[0] >= 0x80 && p[0] < 0xF0);
        FUZZ_CHECK(n == ((p[0] & 0xE0) == 0xC0 ? 2 : 3));
        for (int i = 1; i < n; ++i) FUZZ_CHECK(p[i] < 0x80);
        CMidiInMsg::DispatchChannelMsg(p, n);
    }
    void DispatchSystemCommon(const uint8_t* p, int n) override {
        CheckInBuffer(p, n);
        const int nWant = p[0] == 0xF6 ? 1 : (p[0] == 0xF2 ? 3 : 2);
        FUZZ_CHECK(p[0] == 0xF1 || p[0] == 0xF2 || p[0] == 0xF3 || p[0] == 0xF6);
        FUZZ_CHECK(n == nWant);
        CMidiInMsg::DispatchSystemCommon(p, n);
    }
    void DispatchSysEx(const uint8_t* p, int n) override {
        CheckSysEx(p, n);
        ++m_nSysEx;
        m_pMsgEnd = p + n;
        CMidiInMsg::DispatchSysEx(p, n);
    }
    void DispatchUniversalRealTime(const uint8_t* p, int n) override {
        CheckSysEx(p, n);
        CMidiInMsg::DispatchUniversalRealTime(p, n);
    }
    void DispatchMtcSysEx(const uint8_t* p, int n) override {
        CheckSysEx(p, n);
        CMidiInMsg::DispatchMtcSysEx(p, n);
    }
    void DispatchMmc(const uint8_t* p, int n) override {
        CheckSysEx(p, n);
        CMidiInMsg::DispatchMmc(p, n);
    }
    void DispatchMakerSysEx(const uint8_t* p, int n) override {
        CheckSysEx(p, n);
        CMidiInMsg::DispatchMakerSysEx(p, n);
    }
    void DispatchModelDataSet(const uint8_t* p, int n) override {
        CheckSysEx(p, n);
        FUZZ_CHECK(n >= 12);
        CMidiInMsg::DispatchModelDataSet(p, n);
    }
    void DispatchRealTime(int nStatus) override {
        FUZZ_CHECK(nStatus >= 0xF8 && nStatus <= 0xFF);
        CMidiInMsg::DispatchRealTime(nStatus);
    }

    // System Exclusive leaves
    void OnOtherSysEx(const uint8_t* p, int n) override { CheckSysEx(p, n); }
    void OnForeignSysEx(const uint8_t* p, int n) override { CheckSysEx(p, n); }
    void OnUniversalNonRealTime(const uint8_t* p, int n) override { CheckSysEx(p, n); }
    void OnUniversalRealTimeOther(const uint8_t* p, int n) override { CheckSysEx(p, n); }
    // The parts they point at stay inside the message, before its F7.
    void OnMtcOther(int, const uint8_t* p, int n) override { CheckPart(p, n, m_pMsgEnd - 1); }
    void OnMmcOther(int, const uint8_t* p, int n) override { CheckPart(p, n, m_pMsgEnd - 1); }
    void OnModelBlockData(int, const uint8_t* p, int n) override { CheckPart(p, n, m_pMsgEnd - 2); }
    void OnModelDataSet(int, uint32_t dwAddress, const uint8_t* p, int n) override {
        FUZZ_CHECK(dwAddress <= 0x7F7F7F);
        CheckPart(p, n, m_pMsgEnd - 2);
    }
    void OnModelName(int, const char* psz) override { FUZZ_CHECK(std::strlen(psz) <= kModelNameMax); }
    void OnMtcTime(int nRate, int nHours, int, int, int, int nDir) override {
        FUZZ_CHECK(nRate >= 0 && nRate <= 3);
        FUZZ_CHECK(nHours >= 0 && nHours <= 31);
        FUZZ_CHECK(nDir == 1 || nDir == -1);
    }

private:
    const uint8_t* m_pMsgEnd = nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    CMidiInPort<CCheckingParser> parser;
    parser.SetClock(&FuzzClock);
    size_t i = 0;
    while (i < nSize) {
        const uint8_t byOp = pData[i++];
        switch (byOp & 3) {
        case 0:
        case 1:
        case 2: {
            if (i >= nSize) break;
            size_t n = static_cast<size_t>(pData[i++]) + 1;
            if (n > nSize - i) n = nSize - i;
            // A block of exactly n bytes, so that reading past the buffer is caught.
            std::unique_ptr<uint8_t[]> pBuf(new uint8_t[n]);
            std::memcpy(pBuf.get(), pData + i, n);
            if ((byOp & 3) == 2) {
                for (size_t k = 0; k < n; ++k) pBuf[k] &= 0x7F;
            }
            i += n;
            parser.OnLongData(pBuf.get(), static_cast<uint32_t>(n));
            break;
        }
        default: {
            uint32_t dw = 0;
            for (int k = 0; k < 3 && i < nSize; ++k) dw |= uint32_t{pData[i++]} << (8 * k);
            parser.OnData(&dw);
            break;
        }
        }
    }
    FUZZ_CHECK(parser.m_nSysExDropped.load() >= 0);
    return 0;
}
