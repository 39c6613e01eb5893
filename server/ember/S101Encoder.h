#pragma once
// Builds S101 frames (escaping variant): one EmBER message as one or more packets, and
// the two keep-alive frames. Frames are appended to out, ready for the socket.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "server/ember/S101Defs.h"

namespace qz::ember {

// One packet (flags single) when the message fits into kS101MaxPacketPayload bytes, else
// a first packet, middle ones and a last one, each with its own header and CRC. An empty
// message appends nothing.
void AppendS101Message(std::vector<uint8_t>& out, const uint8_t* pBer, size_t nLength, uint8_t bySlot = kS101Slot);

// One frame around the given unescaped content (header and payload): BOF, the content and
// the complement of its CRC (low byte first), escaped, and EOF.
void AppendS101Frame(std::vector<uint8_t>& out, const uint8_t* pContent, size_t nLength);

void AppendS101KeepAliveRequest(std::vector<uint8_t>& out, uint8_t bySlot = kS101Slot);
void AppendS101KeepAliveResponse(std::vector<uint8_t>& out, uint8_t bySlot = kS101Slot);

}  // namespace qz::ember
