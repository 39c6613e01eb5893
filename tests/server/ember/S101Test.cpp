#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/ember/S101Crc.h"
#include "server/ember/S101Decoder.h"
#include "server/ember/S101Encoder.h"
#include "support/HexText.h"
#include "tests/server/ember/EmberHex.h"

namespace {

using namespace qz::ember;

const Bytes kE1Ber = Hex("60 0B 6B 09 A0 07 62 05 A0 03 02 01 20");
const Bytes kE4Ber = Hex(
    "60 55 6B 53 A0 51 63 4F A0 03 02 01 01 A2 48 64 46 A0 44 61 42 A0 03 02 01 01 A1 3B 31 39"
    " A0 06 0C 04 \"mode\" A1 06 0C 04 \"Mode\" A2 03 02 01 01 A3 03 02 01 00 A4 03 02 01 02 A5 03 02 01 03"
    " A7 0E 0C 0C \"Off\" 0A \"On\" 0A \"~Test\" AD 03 02 01 06");
const Bytes kHeader = Hex("00 0E 00 01 C0 01 02 32 02");

// Writes down what the decoder hands out, as text.
class CRecordingSink : public CS101Decoder::ISink {
public:
    std::vector<std::string> m_events;
    void OnEmberMessage(const uint8_t* p, size_t n, uint8_t) override { m_events.push_back("ber " + HexText(p, n)); }
    void OnKeepAliveRequest(uint8_t bySlot) override { m_events.push_back("ping " + std::to_string(bySlot)); }
    void OnKeepAliveResponse() override { m_events.push_back("pong"); }
};

Bytes Frame(const Bytes& content) {
    Bytes out;
    AppendS101Frame(out, content.data(), content.size());
    return out;
}

Bytes Message(const Bytes& ber) {
    Bytes out;
    AppendS101Message(out, ber.data(), ber.size());
    return out;
}

// A packet of an EmBER message with the given flags.
Bytes Packet(uint8_t byFlags, const Bytes& payload) {
    Bytes content = Hex("00 0E 00 01 00 01 02 32 02");
    content[4] = byFlags;
    return Frame(Concat(content, payload));
}

TEST(S101Test, CrcTableAndCheckValues) {
    EXPECT_EQ(S101CrcTableEntry(1), 0x1189);
    EXPECT_EQ(S101CrcTableEntry(128), 0x8408);
    EXPECT_EQ(S101CrcTableEntry(255), 0x0F78);
    const std::string digits = "123456789";
    EXPECT_EQ(static_cast<uint16_t>(~S101Crc(reinterpret_cast<const uint8_t*>(digits.data()), digits.size())), 0x906E);
}

TEST(S101Test, FramesAreEscapedIncludingTheirCrc) {
    struct {
        const char* pszName;
        Bytes frame, expected;
    } cases[] = {
        {"documented vector", Frame(Hex("FF 00 F9 01")), Hex("FE FD DF 00 FD D9 01 95 83 FF")},
        {"keep-alive request", [] { Bytes b; AppendS101KeepAliveRequest(b); return b; }(), Hex("FE 00 0E 01 01 94 E4 FF")},
        {"keep-alive response, CRC low byte escaped", [] { Bytes b; AppendS101KeepAliveResponse(b); return b; }(),
         Hex("FE 00 0E 02 01 FD DC CE FF")},
        {"E1", Message(kE1Ber), Concat(Concat(Hex("FE"), kHeader), Concat(kE1Ber, Hex("8C 90 FF")))},
        {"E4", Message(kE4Ber), Concat(Concat(Hex("FE"), kHeader), Concat(kE4Ber, Hex("E5 70 FF")))},
    };
    for (const auto& c : cases) EXPECT_EQ(HexText(c.frame.data(), c.frame.size()), HexText(c.expected.data(), c.expected.size())) << c.pszName;

    // E2, E3, E5, E6: an FF in the payload and the CRCs the notes give.
    const struct {
        const char* pszBer;
        const char* pszTail;
    } tails[] = {
        {"60 28 6B 26 A0 24 63 22 A0 03 02 01 01 A1 1B 31 19 A0 08 0C 06 \"device\" A1 08 0C 06 \"Device\" A3 03 01 01 FF",
         "A3 03 01 01 FD DF 27 53 FF"},
        {"60 1D 6B 1B A0 19 63 17 A0 03 02 01 01 A2 10 64 0E A0 0C 62 0A A0 03 02 01 20 A1 03 02 01 FF",
         "02 01 FD DF 62 6B FF"},
        {"60 17 6B 15 A0 13 69 11 A0 04 0D 02 01 02 A1 09 31 07 A2 05 09 03 C0 02 0D", "C0 02 0D 87 3A FF"},
        {"60 0C 6B 0A A0 08 6A 06 A0 04 0D 02 01 03", "02 01 03 B7 2E FF"},
    };
    for (const auto& t : tails) {
        const std::string frame = HexText(Message(Hex(t.pszBer)).data(), Message(Hex(t.pszBer)).size());
        const std::string tail = HexText(Hex(t.pszTail).data(), Hex(t.pszTail).size());
        EXPECT_EQ(frame.substr(frame.size() - tail.size()), tail) << t.pszBer;
    }
}

TEST(S101Test, DecoderSortsFramesAndDropsBadOnes) {
    const Bytes e1 = Message(kE1Ber);
    Bytes badCrc = e1;
    badCrc[12] ^= 0x01;
    const Bytes good = Concat(Hex("00 0E 00 01 C0 01 02 32 02"), kE1Ber);
    struct {
        const char* pszName;
        Bytes input;
        std::vector<std::string> events;
        CS101Decoder::CCounters counters;
    } cases[] = {
        {"E1 as sent", Hex("FE 00 0E 00 01 C0 01 02 32 02 60 0B 6B 09 A0 07 62 05 A0 03 02 01 20 8C 90 FF"),
         {"ber 60 0B 6B 09 A0 07 62 05 A0 03 02 01 20"}, {.m_nFrames = 1}},
        {"keep-alives, noise outside frames", Concat(Hex("00 FF 12"), Concat(Frame(Hex("07 0E 01 01")), Frame(Hex("00 0E 02 01")))),
         {"ping 7", "pong"}, {.m_nFrames = 2}},
        {"a BOF restarts a frame", Concat(Hex("FE 00 0E 00 01"), e1), {"ber " + HexText(kE1Ber.data(), kE1Ber.size())}, {.m_nFrames = 1}},
        {"one bit flipped", badCrc, {}, {.m_nBadCrc = 1}},
        {"escape of a byte >= F8", Hex("FE 00 FD F9 00 FF"), {}, {.m_nBadFrames = 1}},
        {"unescaped F9", Hex("FE 00 0E F9 01 FF"), {}, {.m_nBadFrames = 1}},
        {"too short", Frame(Hex("00 0E")), {}, {.m_nBadFrames = 1}},
        {"application bytes past the end", Frame(Hex("00 0E 00 01 C0 01 09 32")), {}, {.m_nBadFrames = 1}},
        {"provider state", Frame(Hex("00 0E 03 01 01")), {}, {.m_nUnknownFrames = 1}},
        {"other message type", Frame(Hex("00 0F 01 01")), {}, {.m_nUnknownFrames = 1}},
        {"other DTD", Frame(Hex("00 0E 00 01 C0 02 00 60 00")), {}, {.m_nUnknownFrames = 1}},
        {"empty packet", Frame(Hex("00 0E 00 01 E0 01 02 32 02")), {}, {.m_nFrames = 1}},
        {"any Glow version and application byte count", Frame(Concat(Hex("00 0E 00 01 C0 01 03 1F 02 99"), kE1Ber)),
         {"ber " + HexText(kE1Ber.data(), kE1Ber.size())}, {.m_nFrames = 1}},
        {"middle and last without a first", Concat(Packet(0x00, Hex("01")), Packet(0x40, Hex("02"))), {},
         {.m_nFrames = 2, .m_nOrphanPackets = 2}},
        {"a first cuts off an unfinished message; keep-alive in between",
         Concat(Concat(Packet(0x80, Hex("01")), Frame(Hex("00 0E 01 01"))), Concat(Packet(0x80, Hex("02")), Packet(0x40, Hex("03")))),
         {"ping 0", "ber 02 03"}, {.m_nFrames = 4, .m_nDroppedMessages = 1}},
    };
    for (const auto& c : cases) {
        CRecordingSink sink;
        CS101Decoder decoder(sink);
        decoder.Feed(c.input.data(), c.input.size());
        decoder.Feed(Frame(good).data(), Frame(good).size());  // and a good frame after each
        EXPECT_EQ(sink.m_events.back(), "ber " + HexText(kE1Ber.data(), kE1Ber.size())) << c.pszName;
        sink.m_events.pop_back();
        EXPECT_EQ(sink.m_events, c.events) << c.pszName;
        const CS101Decoder::CCounters& n = decoder.Counters();
        EXPECT_EQ(n.m_nFrames, c.counters.m_nFrames + 1) << c.pszName;
        EXPECT_EQ(n.m_nBadCrc, c.counters.m_nBadCrc) << c.pszName;
        EXPECT_EQ(n.m_nBadFrames, c.counters.m_nBadFrames) << c.pszName;
        EXPECT_EQ(n.m_nUnknownFrames, c.counters.m_nUnknownFrames) << c.pszName;
        EXPECT_EQ(n.m_nDroppedMessages, c.counters.m_nDroppedMessages) << c.pszName;
        EXPECT_EQ(n.m_nOrphanPackets, c.counters.m_nOrphanPackets) << c.pszName;
    }
}

TEST(S101Test, MessageCutAcrossTlvsReassembles) {
    // E7: E4's BER cut after bytes 30 and 60; the first frame's CRC high byte is escaped.
    const Bytes first = Packet(0x80, Bytes(kE4Ber.begin(), kE4Ber.begin() + 30));
    EXPECT_EQ(HexText(first.data() + first.size() - 4, 4), "7C FD DF FF");
    const Bytes stream = Concat(Concat(first, Packet(0x00, Bytes(kE4Ber.begin() + 30, kE4Ber.begin() + 60))),
                                Packet(0x40, Bytes(kE4Ber.begin() + 60, kE4Ber.end())));
    for (size_t nChunk : {size_t(1), size_t(7), stream.size()}) {
        CRecordingSink sink;
        CS101Decoder decoder(sink);
        for (size_t i = 0; i < stream.size(); i += nChunk)
            decoder.Feed(stream.data() + i, std::min(nChunk, stream.size() - i));
        EXPECT_EQ(sink.m_events, std::vector<std::string>{"ber " + HexText(kE4Ber.data(), kE4Ber.size())}) << nChunk;
    }
}

TEST(S101Test, LongMessagesSplitIntoPacketsAndComeBackWhole) {
    Bytes ber(2500);
    for (size_t i = 0; i < ber.size(); ++i) ber[i] = static_cast<uint8_t>(i * 7);  // every byte, F8..FF included
    const Bytes frames = Message(ber);
    CRecordingSink sink;
    CS101Decoder decoder(sink);
    decoder.Feed(frames.data(), frames.size());
    EXPECT_EQ(sink.m_events, std::vector<std::string>{"ber " + HexText(ber.data(), ber.size())});
    EXPECT_EQ(decoder.Counters().m_nFrames, 3u);  // 1000 + 1000 + 500
    EXPECT_EQ(frames[5], kS101FlagFirst);
    EXPECT_TRUE(Message({}).empty());
}

TEST(S101Test, OversizedFramesAndMessagesAreDroppedWithBoundedMemory) {
    CRecordingSink sink;
    CS101Decoder decoder(sink);
    const Bytes huge(CS101Decoder::kMaxFrameBytes + 10, 0x11);
    const Bytes hugeFrame = Concat(Hex("FE"), huge);  // no EOF needed: dropped at the limit
    decoder.Feed(hugeFrame.data(), hugeFrame.size());
    EXPECT_EQ(decoder.Counters().m_nOversizedFrames, 1u);

    // A message that never ends: dropped at the limit, its later packets skipped silently.
    const Bytes chunk(1000, 0x22);
    Bytes stream = Packet(0x80, chunk);
    for (size_t n = 0; n < CS101Decoder::kMaxMessageBytes / chunk.size() + 5; ++n) stream = Concat(stream, Packet(0x00, chunk));
    stream = Concat(Concat(stream, Packet(0x40, chunk)), Message(kE1Ber));
    decoder.Feed(stream.data(), stream.size());
    EXPECT_EQ(decoder.Counters().m_nDroppedMessages, 1u);
    EXPECT_EQ(decoder.Counters().m_nOrphanPackets, 0u);
    EXPECT_EQ(sink.m_events, std::vector<std::string>{"ber " + HexText(kE1Ber.data(), kE1Ber.size())});
}

}  // namespace
