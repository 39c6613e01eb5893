#pragma once
// A BER tag: class, primitive or constructed, number. Glow uses explicit tagging, so every
// context and application tag it writes is constructed.
#include <cstdint>

namespace qz::ember {

struct CBerTag {
    static constexpr uint8_t kUniversal = 0x00, kApplication = 0x40, kContext = 0x80, kPrivate = 0xC0;

    uint8_t m_byClass = kUniversal;
    bool m_bConstructed = false;
    uint32_t m_nNumber = 0;

    bool operator==(const CBerTag&) const = default;
};

// Universal type numbers in use.
constexpr uint32_t kBerBoolean = 1;
constexpr uint32_t kBerInteger = 2;
constexpr uint32_t kBerOctetString = 4;
constexpr uint32_t kBerNull = 5;
constexpr uint32_t kBerReal = 9;
constexpr uint32_t kBerUtf8String = 12;
constexpr uint32_t kBerRelativeOid = 13;
constexpr uint32_t kBerSequence = 16;
constexpr uint32_t kBerSet = 17;

constexpr CBerTag UniversalTag(uint32_t n) { return {CBerTag::kUniversal, n == kBerSequence || n == kBerSet, n}; }
constexpr CBerTag ContextTag(uint32_t n) { return {CBerTag::kContext, true, n}; }
constexpr CBerTag ApplicationTag(uint32_t n) { return {CBerTag::kApplication, true, n}; }

}  // namespace qz::ember
