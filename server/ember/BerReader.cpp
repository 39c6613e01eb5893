#include "server/ember/BerReader.h"

#include "server/ember/BerReal.h"

namespace qz::ember {

namespace {

constexpr size_t kIndefinite = SIZE_MAX;

// Tag and length of the element at p[0..n); false when they are cut off or malformed.
bool ReadHeader(const uint8_t* p, size_t n, size_t& nAt, CBerTag& tag, size_t& nLength) {
    if (nAt >= n) return false;
    const uint8_t byLead = p[nAt++];
    tag.m_byClass = byLead & 0xC0;
    tag.m_bConstructed = byLead & 0x20;
    tag.m_nNumber = byLead & 0x1F;
    if (tag.m_nNumber == 0x1F) {  // long tag: base-128 digits
        uint32_t nNumber = 0;
        for (int nDigits = 0;; ++nDigits) {
            if (nAt >= n || nDigits == 4) return false;
            const uint8_t by = p[nAt++];
            nNumber = (nNumber << 7) | (by & 0x7F);
            if (!(by & 0x80)) break;
        }
        tag.m_nNumber = nNumber;
    }
    if (nAt >= n) return false;
    const uint8_t byLength = p[nAt++];
    if (byLength < 0x80) {
        nLength = byLength;
    } else if (byLength == 0x80) {
        if (!tag.m_bConstructed) return false;
        nLength = kIndefinite;
    } else {
        const size_t nBytes = byLength & 0x7F;  // leading zeros allowed
        if (nBytes == 0x7F || n - nAt < nBytes) return false;
        nLength = 0;
        for (size_t i = 0; i < nBytes; ++i) {
            nLength = (nLength << 8) | p[nAt++];
            if (nLength > n) return false;
        }
    }
    return nLength == kIndefinite || nLength <= n - nAt;
}

// Skips the elements of an indefinite-length content starting at nAt up to and including
// its end-of-contents; nContentEnd is where the end-of-contents begins.
bool SkipIndefinite(const uint8_t* p, size_t n, size_t& nAt, int nDepth, size_t& nContentEnd) {
    if (nDepth > CBerReader::kMaxDepth) return false;
    for (;;) {
        if (n - nAt >= 2 && p[nAt] == 0 && p[nAt + 1] == 0) {
            nContentEnd = nAt;
            nAt += 2;
            return true;
        }
        CBerTag tag;
        size_t nLength = 0;
        if (!ReadHeader(p, n, nAt, tag, nLength)) return false;
        if (nLength == kIndefinite) {
            size_t nInnerEnd = 0;
            if (!SkipIndefinite(p, n, nAt, nDepth + 1, nInnerEnd)) return false;
        } else {
            nAt += nLength;
        }
    }
}

bool IsUniversalPrimitive(const CBerElement& element, uint32_t nNumber) {
    return element.m_tag == CBerTag{CBerTag::kUniversal, false, nNumber};
}

}  // namespace

CBerReader CBerReader::Inside(const CBerElement& element) {
    if (!element.m_tag.m_bConstructed) return CBerReader(nullptr, 0, element.m_nDepth + 1);
    return CBerReader(element.m_pContents, element.m_nLength, element.m_nDepth + 1, element.m_nDepth >= kMaxDepth);
}

bool CBerReader::Next(CBerElement& element) {
    if (m_bFailed || m_nAt >= m_nLength) return false;
    size_t nAt = m_nAt, nLength = 0;
    CBerTag tag;
    if (!ReadHeader(m_p, m_nLength, nAt, tag, nLength)) {
        m_bFailed = true;
        return false;
    }
    const size_t nStart = nAt;
    if (nLength == kIndefinite) {
        size_t nContentEnd = 0;
        if (!SkipIndefinite(m_p, m_nLength, nAt, m_nDepth + 1, nContentEnd)) {
            m_bFailed = true;
            return false;
        }
        nLength = nContentEnd - nStart;
    } else {
        nAt += nLength;
    }
    m_nAt = nAt;
    element.m_tag = tag;
    element.m_pContents = m_p + nStart;
    element.m_nLength = nLength;
    element.m_nDepth = m_nDepth;
    return true;
}

bool ReadBoolean(const CBerElement& element, bool& b) {
    if (!IsUniversalPrimitive(element, kBerBoolean) || element.m_nLength != 1) return false;
    b = element.m_pContents[0] != 0;
    return true;
}

bool ReadInteger(const CBerElement& element, int64_t& n) {
    if (!IsUniversalPrimitive(element, kBerInteger) || element.m_nLength == 0) return false;
    const uint8_t* p = element.m_pContents;
    size_t nBytes = element.m_nLength;
    // Drop redundant sign bytes (00 before a byte < 80, FF before a byte >= 80).
    while (nBytes > 1 && ((p[0] == 0x00 && p[1] < 0x80) || (p[0] == 0xFF && p[1] >= 0x80))) {
        ++p;
        --nBytes;
    }
    if (nBytes > 8) return false;
    uint64_t qw = (p[0] & 0x80) ? ~0ull : 0;
    for (size_t i = 0; i < nBytes; ++i) qw = (qw << 8) | p[i];
    n = static_cast<int64_t>(qw);
    return true;
}

bool ReadReal(const CBerElement& element, double& d) {
    return IsUniversalPrimitive(element, kBerReal) && DecodeRealContents(element.m_pContents, element.m_nLength, d);
}

bool ReadUtf8(const CBerElement& element, std::string& str) {
    if (!IsUniversalPrimitive(element, kBerUtf8String)) return false;
    str.assign(reinterpret_cast<const char*>(element.m_pContents), element.m_nLength);
    return true;
}

bool ReadRelativeOid(const CBerElement& element, std::vector<uint32_t>& components, size_t nMaxCount) {
    if (!IsUniversalPrimitive(element, kBerRelativeOid)) return false;
    components.clear();
    uint64_t qwComponent = 0;
    bool bOpen = false;
    for (size_t i = 0; i < element.m_nLength; ++i) {
        const uint8_t by = element.m_pContents[i];
        qwComponent = (qwComponent << 7) | (by & 0x7F);
        if (qwComponent > UINT32_MAX) return false;
        bOpen = by & 0x80;
        if (bOpen) continue;
        if (components.size() == nMaxCount) return false;
        components.push_back(static_cast<uint32_t>(qwComponent));
        qwComponent = 0;
    }
    return !bOpen;
}

bool IsNull(const CBerElement& element) { return IsUniversalPrimitive(element, kBerNull) && element.m_nLength == 0; }

bool ReadInner(const CBerElement& field, CBerElement& inner) {
    CBerReader reader = CBerReader::Inside(field);
    return reader.Next(inner);
}

}  // namespace qz::ember
