#pragma once
// Which port a freshly filled port list selects first.
#include <string>
#include <vector>

namespace qz {

// The first port whose name begins with "QZ-81KT" (case-sensitive); without one, the
// last port whose name begins with "USB"; without either, port 0. -1 for no ports.
int PreselectPort(const std::vector<std::string>& names);

}  // namespace qz
