#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "midi/MidiFramer.h"
#include "midi/MidiMessageLength.h"
#include "support/HexText.h"

namespace {

// Hands out nBuffers buffers of nCapacity bytes and writes down everything it gets.
class CRecordingSink : public CMidiFramer::ISink {
public:
    CRecordingSink(uint32_t nBuffers, uint32_t nCapacity) : m_buffers(nBuffers, std::vector<uint8_t>(nCapacity)) {}

    std::vector<std::string> m_events;
    uint64_t m_nLostBytes = 0, m_nLostMessages = 0;

    void OnShortMessage(uint32_t dwMsg) override {
        const uint8_t aby[3] = {uint8_t(dwMsg), uint8_t(dwMsg >> 8), uint8_t(dwMsg >> 16)};
        m_events.push_back("S:" + HexText(aby, qz::MidiMessageLength(aby[0])));
        if (dwMsg >> (8 * qz::MidiMessageLength(aby[0]))) m_events.push_back("junk above the message");
    }
    uint8_t* TakeSysExBuffer(uint32_t& nCapacity) override {
        if (m_nTaken == m_buffers.size()) return nullptr;
        nCapacity = static_cast<uint32_t>(m_buffers[m_nTaken].size());
        return m_buffers[m_nTaken++].data();
    }
    void ReturnSysExBuffer(uint32_t nBytes) override {
        m_events.push_back("L:" + HexText(m_buffers[m_nTaken - 1].data(), nBytes));
    }
    void OnSysExLost(uint32_t nBytes, bool bNewMessage) override {
        m_nLostBytes += nBytes;
        m_nLostMessages += bNewMessage ? 1 : 0;
    }

private:
    std::vector<std::vector<uint8_t>> m_buffers;
    size_t m_nTaken = 0;
};

struct CFramerCase {
    const char* pszName;
    // Hex bytes; "|" ends an arrival, "cut" reports input lost at that point.
    const char* pszInput;
    std::vector<std::string> expected;
    uint32_t nBuffers = 8, nCapacity = 64;
    uint64_t nLostBytes = 0, nLostMessages = 0;
};

void Check(const CFramerCase& c) {
    SCOPED_TRACE(c.pszName);
    CRecordingSink sink(c.nBuffers, c.nCapacity);
    CMidiFramer framer(sink);
    std::istringstream in(c.pszInput);
    for (std::string tok; in >> tok;) {
        if (tok == "|")
            framer.EndOfArrival();
        else if (tok == "cut")
            framer.CutInput();
        else
            framer.Feed(static_cast<uint8_t>(std::stoul(tok, nullptr, 16)));
    }
    framer.EndOfArrival();
    EXPECT_EQ(sink.m_events, c.expected);
    EXPECT_EQ(sink.m_nLostBytes, c.nLostBytes);
    EXPECT_EQ(sink.m_nLostMessages, c.nLostMessages);
}

TEST(MidiFramerTest, ShortMessagesTakeTheLengthTheirStatusAsksFor) {
    const CFramerCase cases[] = {
        {"one, two and three bytes", "90 3C 40 C0 05 D1 7F F6 F1 10 F2 01 02 F3 04 E0 00 40",
         {"S:90 3C 40", "S:C0 05", "S:D1 7F", "S:F6", "S:F1 10", "S:F2 01 02", "S:F3 04", "S:E0 00 40"}},
        {"a message split across arrivals", "90 3C | 40", {"S:90 3C 40"}},
        {"stray data bytes are dropped", "01 02 90 3C 40 7F", {"S:90 3C 40"}},
        {"undefined F4 and F5 drop what was begun", "90 3C F4 40 B0 07 F5 64", {}},
        {"a new status ends a short message begun", "90 3C 80 3C 00", {"S:80 3C 00"}},
    };
    for (const auto& c : cases) Check(c);
}

TEST(MidiFramerTest, RunningStatusHoldsForChannelMessagesOnly) {
    const CFramerCase cases[] = {
        {"channel messages", "90 3C 40 3E 41 C0 05 06", {"S:90 3C 40", "S:90 3E 41", "S:C0 05", "S:C0 06"}},
        {"across arrivals", "90 3C 40 | 3E 41", {"S:90 3C 40", "S:90 3E 41"}},
        {"system common ends it", "90 3C 40 F1 10 3E 41", {"S:90 3C 40", "S:F1 10"}},
        {"SysEx ends it", "90 3C 40 F0 01 F7 3E 41", {"S:90 3C 40", "L:F0 01 F7"}},
        {"a lone F7 leaves it", "90 3C 40 F7 3E 41", {"S:90 3C 40", "S:90 3E 41"}},
        {"real time neither ends it nor splits a message", "90 3C F8 40 3E FE 41",
         {"S:F8", "S:90 3C 40", "S:FE", "S:90 3E 41"}},
    };
    for (const auto& c : cases) Check(c);
}

TEST(MidiFramerTest, SysExIsFramedByBytesNotByArrivals) {
    const CFramerCase cases[] = {
        {"whole", "F0 43 12 00 F7", {"L:F0 43 12 00 F7"}},
        {"split across arrivals: each part goes back at its arrival's end", "F0 43 | 12 | 00 F7",
         {"L:F0 43", "L:12", "L:00 F7"}},
        {"longer than a buffer fills the next ones in order", "F0 01 02 03 04 05 06 07 F7",
         {"L:F0 01 02 03", "L:04 05 06 07", "L:F7"}, 8, 4},
        {"F0 inside an open SysEx starts a new one", "F0 01 02 F0 03 F7", {"L:F0 01 02", "L:F0 03 F7"}},
        {"another status ends it without F7", "F0 01 90 3C 40", {"L:F0 01", "S:90 3C 40"}},
        {"real time inside comes out at once", "F0 01 F8 02 FA F7", {"S:F8", "S:FA", "L:F0 01 02 F7"}},
        {"data after the end are stray", "F0 01 F7 05 06", {"L:F0 01 F7"}},
    };
    for (const auto& c : cases) Check(c);
}

TEST(MidiFramerTest, SysExWithoutABufferIsLostAndCountedNeverSpliced) {
    const CFramerCase cases[] = {
        {"no buffer at all", "F0 01 02 F7 90 3C 40", {"S:90 3C 40"}, 0, 4, 4, 1},
        {"runs out of buffers in the middle", "F0 01 02 03 04 05 F7 F0 06 F7", {"L:F0 01 02 03"}, 1, 4, 6, 2},
        {"real time still passes while the rest is dropped", "F0 01 02 03 04 F8 F7", {"L:F0 01 02 03", "S:F8"}, 1, 4,
         2, 1},
        {"input lost in the middle drops the rest of the message", "F0 01 | cut 02 F7 F0 03 F7",
         {"L:F0 01", "L:F0 03 F7"}, 8, 64, 2, 0},
        {"a cut outside SysEx changes nothing", "90 3C 40 cut 3E 41", {"S:90 3C 40", "S:90 3E 41"}},
    };
    for (const auto& c : cases) Check(c);
}

}  // namespace
