#include "server/ember/S101Decoder.h"

#include "server/ember/S101Crc.h"
#include "server/ember/S101Defs.h"

namespace qz::ember {

CS101Decoder::CS101Decoder(ISink& sink) : m_sink(sink) { m_frame.reserve(kMaxFrameBytes); }

void CS101Decoder::Reset() {
    m_eState = kOutside;
    m_frame.clear();
    m_message.clear();
    m_bAssembling = m_bSkipping = false;
}

void CS101Decoder::Feed(const uint8_t* pData, size_t nLength) {
    for (size_t i = 0; i < nLength; ++i) FeedByte(pData[i]);
}

void CS101Decoder::FeedByte(uint8_t by) {
    if (by == kS101Bof) {  // always a fresh frame, whatever came before
        m_frame.clear();
        m_eState = kInFrame;
        return;
    }
    switch (m_eState) {
    case kOutside:
        return;
    case kEscaped:
        if (by >= kS101Invalid) {
            ++m_counters.m_nBadFrames;
            m_eState = kOutside;
            return;
        }
        m_eState = kInFrame;
        AppendToFrame(static_cast<uint8_t>(by ^ kS101Xor));
        return;
    case kInFrame:
        if (by == kS101Ce) {
            m_eState = kEscaped;
        } else if (by == kS101Eof) {
            m_eState = kOutside;
            EndFrame();
        } else if (by >= kS101Invalid) {
            ++m_counters.m_nBadFrames;
            m_eState = kOutside;
        } else {
            AppendToFrame(by);
        }
        return;
    }
}

void CS101Decoder::AppendToFrame(uint8_t by) {
    if (m_frame.size() == kMaxFrameBytes) {
        ++m_counters.m_nOversizedFrames;
        m_eState = kOutside;
        return;
    }
    m_frame.push_back(by);
}

void CS101Decoder::EndFrame() {
    const uint8_t* p = m_frame.data();
    const size_t n = m_frame.size();
    if (n < kS101KeepAliveHeaderBytes + kS101CrcBytes) {
        ++m_counters.m_nBadFrames;
        return;
    }
    if (S101Crc(p, n) != kS101CrcResidue) {
        ++m_counters.m_nBadCrc;
        return;
    }
    const size_t nContent = n - kS101CrcBytes;
    if (p[1] != kS101MessageEmber) {
        ++m_counters.m_nUnknownFrames;
        return;
    }
    switch (p[2]) {
    case kS101CommandKeepAliveRequest:
        ++m_counters.m_nFrames;
        m_sink.OnKeepAliveRequest(p[0]);
        return;
    case kS101CommandKeepAliveResponse:
        ++m_counters.m_nFrames;
        m_sink.OnKeepAliveResponse();
        return;
    case kS101CommandEmber:
        HandleEmberPacket(p, nContent);
        return;
    default:  // among others the provider state some providers send
        ++m_counters.m_nUnknownFrames;
        return;
    }
}

void CS101Decoder::HandleEmberPacket(const uint8_t* pHeader, size_t nLength) {
    // slot, message, command, version, flags, DTD, application byte count, those bytes
    constexpr size_t kFixedBytes = 7;
    if (nLength < kFixedBytes || nLength < kFixedBytes + pHeader[6]) {
        ++m_counters.m_nBadFrames;
        return;
    }
    if (pHeader[5] != kS101DtdGlow) {
        ++m_counters.m_nUnknownFrames;
        return;
    }
    ++m_counters.m_nFrames;
    const size_t nHeader = kFixedBytes + pHeader[6];  // any Glow version is taken
    const uint8_t byFlags = pHeader[4];
    const size_t nPayload = (byFlags & kS101FlagEmpty) ? 0 : nLength - nHeader;
    Reassemble(byFlags, pHeader + nHeader, nPayload, pHeader[0]);
}

void CS101Decoder::Reassemble(uint8_t byFlags, const uint8_t* pPayload, size_t nPayload, uint8_t bySlot) {
    const bool bFirst = byFlags & kS101FlagFirst, bLast = byFlags & kS101FlagLast;
    if (bFirst) {
        if (m_bAssembling) DropMessage();  // its last packet never came
        m_bSkipping = false;
        m_message.clear();
        if (bLast) {  // a single packet needs no copy
            if (nPayload) m_sink.OnEmberMessage(pPayload, nPayload, bySlot);
            return;
        }
        m_bAssembling = true;
    } else if (!m_bAssembling) {
        if (!m_bSkipping) ++m_counters.m_nOrphanPackets;
        return;
    }
    if (nPayload > kMaxMessageBytes - m_message.size()) {
        DropMessage();
        m_bSkipping = !bLast;
        return;
    }
    m_message.insert(m_message.end(), pPayload, pPayload + nPayload);
    if (!bLast) return;
    m_bAssembling = false;
    if (!m_message.empty()) m_sink.OnEmberMessage(m_message.data(), m_message.size(), bySlot);
    m_message.clear();
}

void CS101Decoder::DropMessage() {
    ++m_counters.m_nDroppedMessages;
    m_bAssembling = false;
    m_message.clear();
}

}  // namespace qz::ember
