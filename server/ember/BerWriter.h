#pragma once
// Writes BER with definite lengths and minimal encodings (tags, lengths, integers). A
// constructed element is opened with Begin and closed with End, which then writes its
// length in front of the contents.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "server/ember/BerTag.h"

namespace qz::ember {

class CBerWriter {
public:
    CBerWriter() { m_bytes.reserve(kInitialCapacity); }

    // Opens a constructed element; the mark returned goes to the matching End.
    size_t Begin(CBerTag tag);
    void End(size_t nMark);

    void WriteBoolean(bool b);
    void WriteInteger(int64_t n);
    void WriteReal(double d);
    void WriteUtf8(std::string_view str);
    void WriteRelativeOid(const uint32_t* pComponents, size_t nCount);
    void WriteNull();

    // Explicitly tagged field [n] { value }, the form Glow gives every field.
    void WriteBooleanField(uint32_t nContext, bool b);
    void WriteIntegerField(uint32_t nContext, int64_t n);
    void WriteRealField(uint32_t nContext, double d);
    void WriteUtf8Field(uint32_t nContext, std::string_view str);
    void WriteRelativeOidField(uint32_t nContext, const uint32_t* pComponents, size_t nCount);

    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    std::vector<uint8_t> Take() { return std::move(m_bytes); }

private:
    static constexpr size_t kInitialCapacity = 256;  // most replies fit: one allocation each

    void WriteTag(CBerTag tag);
    // Writes the tag as given and room for the length; End completes it.
    size_t Open(CBerTag tag);
    void WritePrimitive(uint32_t nUniversal, const uint8_t* pContents, size_t nLength);

    std::vector<uint8_t> m_bytes;
};

}  // namespace qz::ember
