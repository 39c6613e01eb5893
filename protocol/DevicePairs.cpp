#include "protocol/DevicePairs.h"

#include <string_view>

namespace qz {

namespace {

constexpr std::string_view kModelPrefix = "QZ-81KT";

std::string_view ClientOf(std::string_view strPort) { return strPort.substr(0, strPort.find(':')); }

// a is b followed by "-" and digits.
bool IsNumberedAfter(std::string_view a, std::string_view b) {
    if (a.size() < b.size() + 2 || a.substr(0, b.size()) != b || a[b.size()] != '-') return false;
    for (char c : a.substr(b.size() + 1))
        if (c < '0' || c > '9') return false;
    return true;
}

bool SameClient(std::string_view a, std::string_view b) {
    return a == b || IsNumberedAfter(a, b) || IsNumberedAfter(b, a);
}

}  // namespace

std::vector<CDevicePair> FindDevicePairs(const std::vector<std::string>& ins, const std::vector<std::string>& outs) {
    std::vector<CDevicePair> pairs;
    std::vector<bool> taken(outs.size(), false);
    for (size_t i = 0; i < ins.size(); ++i) {
        if (!ins[i].starts_with(kModelPrefix)) continue;
        for (size_t o = 0; o < outs.size(); ++o) {
            if (taken[o] || !outs[o].starts_with(kModelPrefix) || !SameClient(ClientOf(ins[i]), ClientOf(outs[o])))
                continue;
            taken[o] = true;
            pairs.push_back({static_cast<int>(i), static_cast<int>(o)});
            break;
        }
    }
    return pairs;
}

}  // namespace qz
