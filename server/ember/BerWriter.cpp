#include "server/ember/BerWriter.h"

#include "server/ember/BerReal.h"

namespace qz::ember {

namespace {

// Big-endian base-128 digits, the continuation bit on all but the last.
void AppendBase128(std::vector<uint8_t>& out, uint32_t n) {
    uint8_t digits[5];
    size_t nDigits = 0;
    do {
        digits[nDigits++] = static_cast<uint8_t>(n & 0x7F);
        n >>= 7;
    } while (n);
    while (nDigits-- > 0) out.push_back(static_cast<uint8_t>(digits[nDigits] | (nDigits ? 0x80 : 0)));
}

// Short form up to 127, else 0x80|k and k bytes; returns the count written to pOut.
size_t EncodeLength(size_t n, uint8_t (&pOut)[9]) {
    if (n < 0x80) {
        pOut[0] = static_cast<uint8_t>(n);
        return 1;
    }
    size_t nBytes = 0;
    for (size_t m = n; m; m >>= 8) ++nBytes;
    pOut[0] = static_cast<uint8_t>(0x80 | nBytes);
    for (size_t i = 1; i <= nBytes; ++i) pOut[i] = static_cast<uint8_t>(n >> (8 * (nBytes - i)));
    return nBytes + 1;
}

void AppendLength(std::vector<uint8_t>& out, size_t n) {
    uint8_t length[9];
    out.insert(out.end(), length, length + EncodeLength(n, length));
}

}  // namespace

void CBerWriter::WriteTag(CBerTag tag) {
    const uint8_t byLead = static_cast<uint8_t>(tag.m_byClass | (tag.m_bConstructed ? 0x20 : 0));
    if (tag.m_nNumber < 31) {
        m_bytes.push_back(static_cast<uint8_t>(byLead | tag.m_nNumber));
        return;
    }
    m_bytes.push_back(static_cast<uint8_t>(byLead | 0x1F));
    AppendBase128(m_bytes, tag.m_nNumber);
}

size_t CBerWriter::Begin(CBerTag tag) {
    tag.m_bConstructed = true;
    return Open(tag);
}

size_t CBerWriter::Open(CBerTag tag) {
    WriteTag(tag);
    m_bytes.push_back(0);  // the length goes here; End widens it when needed
    return m_bytes.size();
}

void CBerWriter::End(size_t nMark) {
    const size_t nLength = m_bytes.size() - nMark;
    if (nLength < 0x80) {
        m_bytes[nMark - 1] = static_cast<uint8_t>(nLength);
        return;
    }
    uint8_t length[9];
    const size_t nLengthBytes = EncodeLength(nLength, length);
    m_bytes[nMark - 1] = length[0];
    m_bytes.insert(m_bytes.begin() + static_cast<ptrdiff_t>(nMark), length + 1, length + nLengthBytes);
}

void CBerWriter::WritePrimitive(uint32_t nUniversal, const uint8_t* pContents, size_t nLength) {
    WriteTag({CBerTag::kUniversal, false, nUniversal});
    AppendLength(m_bytes, nLength);
    m_bytes.insert(m_bytes.end(), pContents, pContents + nLength);
}

void CBerWriter::WriteBoolean(bool b) {
    const uint8_t by = b ? 0xFF : 0x00;
    WritePrimitive(kBerBoolean, &by, 1);
}

void CBerWriter::WriteInteger(int64_t n) {
    // Fewest bytes whose top bit still carries the sign.
    size_t nBytes = 8;
    while (nBytes > 1) {
        const int64_t nTop9 = n >> (8 * nBytes - 9);
        if (nTop9 != 0 && nTop9 != -1) break;
        --nBytes;
    }
    uint8_t contents[8];
    for (size_t i = 0; i < nBytes; ++i) contents[i] = static_cast<uint8_t>(n >> (8 * (nBytes - 1 - i)));
    WritePrimitive(kBerInteger, contents, nBytes);
}

void CBerWriter::WriteReal(double d) {
    const size_t nMark = Open({CBerTag::kUniversal, false, kBerReal});
    AppendRealContents(m_bytes, d);
    End(nMark);
}

void CBerWriter::WriteUtf8(std::string_view str) {
    WritePrimitive(kBerUtf8String, reinterpret_cast<const uint8_t*>(str.data()), str.size());
}

void CBerWriter::WriteRelativeOid(const uint32_t* pComponents, size_t nCount) {
    const size_t nMark = Open({CBerTag::kUniversal, false, kBerRelativeOid});
    for (size_t i = 0; i < nCount; ++i) AppendBase128(m_bytes, pComponents[i]);
    End(nMark);
}

void CBerWriter::WriteNull() { WritePrimitive(kBerNull, nullptr, 0); }

void CBerWriter::WriteBooleanField(uint32_t nContext, bool b) {
    const size_t nMark = Begin(ContextTag(nContext));
    WriteBoolean(b);
    End(nMark);
}

void CBerWriter::WriteIntegerField(uint32_t nContext, int64_t n) {
    const size_t nMark = Begin(ContextTag(nContext));
    WriteInteger(n);
    End(nMark);
}

void CBerWriter::WriteRealField(uint32_t nContext, double d) {
    const size_t nMark = Begin(ContextTag(nContext));
    WriteReal(d);
    End(nMark);
}

void CBerWriter::WriteUtf8Field(uint32_t nContext, std::string_view str) {
    const size_t nMark = Begin(ContextTag(nContext));
    WriteUtf8(str);
    End(nMark);
}

void CBerWriter::WriteRelativeOidField(uint32_t nContext, const uint32_t* pComponents, size_t nCount) {
    const size_t nMark = Begin(ContextTag(nContext));
    WriteRelativeOid(pComponents, nCount);
    End(nMark);
}

}  // namespace qz::ember
