// libFuzzer target for the byte framer. The first byte sets the sink's buffers (bits
// 0-5: capacity 1..64; bits 6-7: none, 2, 8 or 1,000 of them); the rest is a script of
// steps, each an opcode byte and then
//   0, 1  an arrival of (next byte + 1) raw bytes;
//   2     an arrival of (next byte + 1) bytes with the top bit cleared (long SysEx bodies);
//   3     input lost here (CutInput).
// Checked: every short message has a proper status, data bytes only and the length its
// status asks for; System Exclusive comes out as F0, data bytes, F7, over buffers taken
// and given back one at a time and never overfilled, a continuation buffer only while
// its message is open (no short message or loss between, real time aside); and no more
// bytes come out, lost ones included, than went in (a channel message's status not
// counted, as running status repeats it).
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz/FuzzCheck.h"
#include "midi/MidiFramer.h"
#include "midi/MidiMessageLength.h"

namespace {

class CCheckingSink : public CMidiFramer::ISink {
public:
    CCheckingSink(uint32_t nBuffers, uint32_t nCapacity) : m_nBuffers(nBuffers), m_nCapacity(nCapacity) {}

    uint64_t m_nBytesOut = 0;

    void OnShortMessage(uint32_t dwMsg) override {
        const auto byStatus = static_cast<uint8_t>(dwMsg);
        const uint32_t n = qz::MidiMessageLength(byStatus);
        FUZZ_CHECK(n >= 1 && n <= 3);
        for (uint32_t i = 1; i < n; ++i) FUZZ_CHECK(((dwMsg >> (8 * i)) & 0xFF) < 0x80);
        FUZZ_CHECK((dwMsg >> (8 * n)) == 0);
        FUZZ_CHECK(!m_bTaken || byStatus >= 0xF8);  // only real time while a buffer fills
        if (byStatus < 0xF8) m_bOpen = false;
        m_nBytesOut += byStatus < 0xF0 ? n - 1 : n;  // running status reuses a channel status
    }
    uint8_t* TakeSysExBuffer(uint32_t& nCapacity) override {
        FUZZ_CHECK(!m_bTaken);
        if (m_nBuffers == 0) return nullptr;
        --m_nBuffers;
        m_bTaken = true;
        // A fresh block each time, exactly as long as announced, so that ASan sees overruns.
        m_pBuffer.reset(new uint8_t[m_nCapacity]);
        nCapacity = m_nCapacity;
        return m_pBuffer.get();
    }
    void ReturnSysExBuffer(uint32_t nBytes) override {
        FUZZ_CHECK(m_bTaken);
        FUZZ_CHECK(nBytes >= 1 && nBytes <= m_nCapacity);
        m_bTaken = false;
        const uint8_t* p = m_pBuffer.get();
        for (uint32_t i = 0; i < nBytes; ++i) {
            if (p[i] == 0xF0) {
                m_bOpen = true;
            } else {
                FUZZ_CHECK(m_bOpen);  // a continuation of an open message only
                FUZZ_CHECK(p[i] < 0x80 || p[i] == 0xF7);
                if (p[i] == 0xF7) m_bOpen = false;
            }
            FUZZ_CHECK(p[i] != 0xF0 || i == 0);  // a new message starts a new buffer
            FUZZ_CHECK(p[i] != 0xF7 || i == nBytes - 1);
        }
        m_nBytesOut += nBytes;
    }
    void OnSysExLost(uint32_t nBytes, bool) override {
        FUZZ_CHECK(!m_bTaken);
        m_bOpen = false;
        m_nBytesOut += nBytes;
    }

private:
    uint32_t m_nBuffers, m_nCapacity;
    std::unique_ptr<uint8_t[]> m_pBuffer;
    bool m_bTaken = false;
    bool m_bOpen = false;  // a SysEx message has begun and may go on in the next buffer
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    if (nSize < 1) return 0;
    static constexpr uint32_t kBufferCounts[4] = {0, 2, 8, 1000};
    CCheckingSink sink(kBufferCounts[pData[0] >> 6], (pData[0] & 0x3F) + 1u);
    CMidiFramer framer(sink);
    uint64_t nBytesIn = 0;
    size_t i = 1;
    while (i < nSize) {
        const uint8_t byOp = pData[i++];
        if ((byOp & 3) == 3) {
            framer.CutInput();
            continue;
        }
        if (i >= nSize) break;
        size_t n = static_cast<size_t>(pData[i++]) + 1;
        if (n > nSize - i) n = nSize - i;
        std::unique_ptr<uint8_t[]> pBuf(new uint8_t[n]);
        std::memcpy(pBuf.get(), pData + i, n);
        if ((byOp & 3) == 2)
            for (size_t k = 0; k < n; ++k) pBuf[k] &= 0x7F;
        i += n;
        framer.Feed(pBuf.get(), n);
        framer.EndOfArrival();
        nBytesIn += n;
        FUZZ_CHECK(sink.m_nBytesOut <= nBytesIn);
    }
    return 0;
}
