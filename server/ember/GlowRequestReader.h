#pragma once
// Reads the requests out of one Glow message from a consumer: every root element is
// walked, nested (Node n { children: … Command }) and qualified (QualifiedNode path
// { children: Command }) forms alike, and a Parameter whose contents hold a value is a
// set request. Unknown types and fields are skipped; a malformed part ends the walk, the
// requests read before it stand.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "server/ember/GlowRequest.h"

namespace qz::ember {

// Requests beyond this count in one message are dropped: each may cost a whole reply.
constexpr size_t kMaxGlowRequests = 64;
constexpr size_t kMaxGlowPathLength = 16;
constexpr size_t kMaxGlowArguments = 32;

struct CGlowReadResult {
    bool m_bRoot = false;          // the message was a Glow Root
    bool m_bMalformed = false;     // part of it could not be read
    size_t m_nDropped = 0;         // requests over kMaxGlowRequests
};

CGlowReadResult ReadGlowRequests(const uint8_t* pData, size_t nLength, std::vector<CGlowRequest>& requests);

}  // namespace qz::ember
