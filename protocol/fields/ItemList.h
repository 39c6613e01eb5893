#pragma once
// A fixed list of items as the editors' drop-down lists show them: either words, or a
// run of numbers in one of the few styles the lists use.
#include <string>
#include <string_view>

namespace qz {

// The index of a list that shows no item (the stored value matches none).
constexpr int kNoSelection = -1;

enum class EItemStyle {
    Words,      // ppWords[0 .. nCount-1]
    Decimal,    // "8", "9", … from nFirst
    TwoDigits,  // "00", "01", … from nFirst
    HexDigit,   // "0" … "9", "A" … "F" from nFirst
    Line,       // "%2d(%d)": the line from nFirst, then in brackets the line + nBracketOffset
};

struct CItemList {
    EItemStyle eStyle;
    int nCount;
    const char* const* ppWords = nullptr;
    int nFirst = 0;
    int nBracketOffset = 0;
};

// The text of item nIndex; empty outside the list.
std::string ItemText(const CItemList& list, int nIndex);
// The index of the item whose text is strText, or kNoSelection.
int FindItem(const CItemList& list, std::string_view strText);

}  // namespace qz
