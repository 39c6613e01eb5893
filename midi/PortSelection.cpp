#include "midi/PortSelection.h"

namespace qz {

int PreselectPort(const std::vector<std::string>& names) {
    if (names.empty()) return -1;
    int nSelection = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i].starts_with("QZ-81KT")) return static_cast<int>(i);
        // A later USB port replaces an earlier one; only the model name stops the search.
        if (names[i].starts_with("USB")) nSelection = static_cast<int>(i);
    }
    return nSelection;
}

}  // namespace qz
