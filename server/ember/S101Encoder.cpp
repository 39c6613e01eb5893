#include "server/ember/S101Encoder.h"

#include "server/ember/S101Crc.h"

namespace qz::ember {

namespace {

void AppendEscaped(std::vector<uint8_t>& out, uint8_t by) {
    if (by >= kS101Invalid) {
        out.push_back(kS101Ce);
        out.push_back(static_cast<uint8_t>(by ^ kS101Xor));
    } else {
        out.push_back(by);
    }
}

// BOF, the escaped header and payload, the escaped complement of their CRC (low byte
// first), EOF.
void AppendFrame(std::vector<uint8_t>& out, const uint8_t* pHeader, size_t nHeader, const uint8_t* pPayload,
                 size_t nPayload) {
    out.push_back(kS101Bof);
    for (size_t i = 0; i < nHeader; ++i) AppendEscaped(out, pHeader[i]);
    for (size_t i = 0; i < nPayload; ++i) AppendEscaped(out, pPayload[i]);
    const uint16_t wCrc = static_cast<uint16_t>(~S101Crc(pPayload, nPayload, S101Crc(pHeader, nHeader)));
    AppendEscaped(out, static_cast<uint8_t>(wCrc & 0xFF));
    AppendEscaped(out, static_cast<uint8_t>(wCrc >> 8));
    out.push_back(kS101Eof);
}

void AppendKeepAlive(std::vector<uint8_t>& out, uint8_t byCommand, uint8_t bySlot) {
    const uint8_t header[kS101KeepAliveHeaderBytes] = {bySlot, kS101MessageEmber, byCommand, kS101Version};
    AppendFrame(out, header, sizeof header, nullptr, 0);
}

}  // namespace

void AppendS101Message(std::vector<uint8_t>& out, const uint8_t* pBer, size_t nLength, uint8_t bySlot) {
    for (size_t nDone = 0; nDone < nLength;) {
        const size_t nPart = nLength - nDone < kS101MaxPacketPayload ? nLength - nDone : kS101MaxPacketPayload;
        uint8_t byFlags = 0;
        if (nDone == 0) byFlags |= kS101FlagFirst;
        if (nDone + nPart == nLength) byFlags |= kS101FlagLast;
        const uint8_t header[kS101EmberHeaderBytes] = {
            bySlot, kS101MessageEmber, kS101CommandEmber, kS101Version, byFlags,
            kS101DtdGlow, 2, kGlowVersionMinor, kGlowVersionMajor};
        AppendFrame(out, header, sizeof header, pBer + nDone, nPart);
        nDone += nPart;
    }
}

void AppendS101Frame(std::vector<uint8_t>& out, const uint8_t* pContent, size_t nLength) {
    AppendFrame(out, pContent, nLength, nullptr, 0);
}

void AppendS101KeepAliveRequest(std::vector<uint8_t>& out, uint8_t bySlot) {
    AppendKeepAlive(out, kS101CommandKeepAliveRequest, bySlot);
}

void AppendS101KeepAliveResponse(std::vector<uint8_t>& out, uint8_t bySlot) {
    AppendKeepAlive(out, kS101CommandKeepAliveResponse, bySlot);
}

}  // namespace qz::ember
