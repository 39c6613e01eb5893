#pragma once
// Turns the bytes of one TCP connection, in chunks of any size, into whole EmBER
// messages and keep-alive frames (S101, escaping variant).
//
// A frame runs from BOF to EOF; a BOF always starts a new frame and bytes outside a frame
// are ignored. A frame with a bad CRC, a bad escape, an unescaped byte from 0xF8 up, a
// short or unknown header, or more than kMaxFrameBytes of content is dropped and counted;
// decoding goes on at the next BOF. The payloads of a multi-packet message (first,
// middle…, last) are joined up to kMaxMessageBytes; a message that grows beyond it, or a
// first packet that arrives before the last one of the message before, drops that message,
// and its remaining packets are skipped until the next first or single packet. Keep-alive
// frames may come between the packets of a message. Memory is bounded by the two limits
// whatever the peer sends.
//
// One decoder per connection, used by one thread; the sink is called from inside Feed and
// must not feed this decoder again.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qz::ember {

class CS101Decoder {
public:
    // Unescaped content of one frame: header, payload and CRC. Our packets and those of
    // the usual consumers stay near 1 KiB.
    static constexpr size_t kMaxFrameBytes = 8 * 1024;
    // One reassembled EmBER message.
    static constexpr size_t kMaxMessageBytes = 256 * 1024;

    class ISink {
    public:
        // A whole EmBER message; the bytes are valid until the call returns.
        virtual void OnEmberMessage(const uint8_t* pData, size_t nLength, uint8_t bySlot) = 0;
        // The peer asks whether we are alive: answer with a keep-alive response at once.
        virtual void OnKeepAliveRequest(uint8_t bySlot) = 0;
        virtual void OnKeepAliveResponse() = 0;

    protected:
        ~ISink() = default;
    };

    struct CCounters {
        uint64_t m_nFrames = 0;            // frames accepted
        uint64_t m_nBadCrc = 0;            // frames whose CRC did not check
        uint64_t m_nBadFrames = 0;         // bad escapes, stray bytes >= 0xF8, short headers
        uint64_t m_nUnknownFrames = 0;     // other message types, commands or DTDs
        uint64_t m_nOversizedFrames = 0;   // more than kMaxFrameBytes of content
        uint64_t m_nDroppedMessages = 0;   // over kMaxMessageBytes, or cut off by a new first packet
        uint64_t m_nOrphanPackets = 0;     // middle or last packets with no message begun
    };

    explicit CS101Decoder(ISink& sink);
    CS101Decoder(const CS101Decoder&) = delete;
    CS101Decoder& operator=(const CS101Decoder&) = delete;

    void Feed(const uint8_t* pData, size_t nLength);
    // Forgets any partial frame and message (the connection starts over).
    void Reset();

    const CCounters& Counters() const { return m_counters; }

private:
    enum EState { kOutside, kInFrame, kEscaped };

    void FeedByte(uint8_t by);
    void AppendToFrame(uint8_t by);
    void EndFrame();
    void HandleEmberPacket(const uint8_t* pHeader, size_t nLength);
    void Reassemble(uint8_t byFlags, const uint8_t* pPayload, size_t nPayload, uint8_t bySlot);
    void DropMessage();

    ISink& m_sink;
    CCounters m_counters;
    EState m_eState = kOutside;
    std::vector<uint8_t> m_frame;    // capacity kMaxFrameBytes, kept from construction on
    std::vector<uint8_t> m_message;  // grows with the bytes received, at most kMaxMessageBytes
    bool m_bAssembling = false;      // a first packet came and its last one has not yet
    bool m_bSkipping = false;        // the rest of a dropped message is being skipped
};

}  // namespace qz::ember
