#include "protocol/fields/ItemList.h"

#include <cstdio>

namespace qz {

std::string ItemText(const CItemList& list, int nIndex) {
    if (nIndex < 0 || nIndex >= list.nCount) return {};
    const int n = list.nFirst + nIndex;
    char sz[32];
    switch (list.eStyle) {
        case EItemStyle::Words: return list.ppWords[nIndex];
        case EItemStyle::Decimal: std::snprintf(sz, sizeof sz, "%d", n); break;
        case EItemStyle::TwoDigits: std::snprintf(sz, sizeof sz, "%02d", n); break;
        case EItemStyle::HexDigit: std::snprintf(sz, sizeof sz, "%X", n); break;
        case EItemStyle::Line: std::snprintf(sz, sizeof sz, "%2d(%d)", n, n + list.nBracketOffset); break;
    }
    return sz;
}

int FindItem(const CItemList& list, std::string_view strText) {
    for (int i = 0; i < list.nCount; ++i)
        if (ItemText(list, i) == strText) return i;
    return kNoSelection;
}

}  // namespace qz
