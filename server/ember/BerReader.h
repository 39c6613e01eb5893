#pragma once
// Reads BER over a byte span, one level at a time, without copying. Accepts definite and
// indefinite lengths, long-form lengths with leading zeros, long tags and non-minimal
// integers, as other Ember+ peers send them. Nesting beyond kMaxDepth, lengths past the
// end, a primitive with an indefinite length and a missing end-of-contents are failures;
// nothing is allocated.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "server/ember/BerTag.h"

namespace qz::ember {

// One element: its tag and contents (an indefinite length's end-of-contents excluded).
struct CBerElement {
    CBerTag m_tag;
    const uint8_t* m_pContents = nullptr;
    size_t m_nLength = 0;
    int m_nDepth = 0;  // 0 for the elements of the outermost span
};

class CBerReader {
public:
    static constexpr int kMaxDepth = 48;

    CBerReader(const uint8_t* pData, size_t nLength, int nDepth = 0)
        : m_p(pData), m_nLength(nLength), m_nDepth(nDepth) {}
    // The elements inside a constructed element (none for a primitive one).
    static CBerReader Inside(const CBerElement& element);

    // The next element of this level; false at the end or once the input proved bad.
    bool Next(CBerElement& element);
    bool Failed() const { return m_bFailed; }

private:
    CBerReader(const uint8_t* pData, size_t nLength, int nDepth, bool bFailed)
        : m_p(pData), m_nLength(nLength), m_nDepth(nDepth), m_bFailed(bFailed) {}

    const uint8_t* m_p;
    size_t m_nLength;
    size_t m_nAt = 0;
    int m_nDepth;
    bool m_bFailed = false;
};

// Values of primitive universal elements; false on another type or bad contents.
bool ReadBoolean(const CBerElement& element, bool& b);
bool ReadInteger(const CBerElement& element, int64_t& n);
bool ReadReal(const CBerElement& element, double& d);
bool ReadUtf8(const CBerElement& element, std::string& str);
// At most nMaxCount components of 32 bits each.
bool ReadRelativeOid(const CBerElement& element, std::vector<uint32_t>& components, size_t nMaxCount);
bool IsNull(const CBerElement& element);

// The first element inside an explicitly tagged field [n] { value }.
bool ReadInner(const CBerElement& field, CBerElement& inner);

}  // namespace qz::ember
