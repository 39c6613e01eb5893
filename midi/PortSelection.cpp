#include "midi/PortSelection.h"

namespace qz {

namespace {
constexpr const char* kModelPrefix = "QZ-81KT";

std::vector<std::string> Names(const std::vector<CPortDevice>& devices) {
    std::vector<std::string> names;
    names.reserve(devices.size());
    for (const CPortDevice& d : devices) names.push_back(d.m_strName);
    return names;
}
}  // namespace

int PreselectPort(const std::vector<std::string>& names) {
    if (names.empty()) return -1;
    int nSelection = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i].starts_with(kModelPrefix)) return static_cast<int>(i);
        // A later USB port replaces an earlier one; only the model name stops the search.
        if (names[i].starts_with("USB")) nSelection = static_cast<int>(i);
    }
    return nSelection;
}

std::vector<CPortPair> MatchConverterPairs(const std::vector<CPortDevice>& ins, const std::vector<CPortDevice>& outs) {
    std::vector<CPortPair> pairs;
    std::vector<bool> taken(outs.size(), false);
    for (size_t i = 0; i < ins.size(); ++i) {
        if (!ins[i].m_strName.starts_with(kModelPrefix)) continue;
        for (size_t o = 0; o < outs.size(); ++o) {
            if (taken[o] || outs[o] != ins[i]) continue;
            taken[o] = true;
            pairs.push_back({static_cast<int>(i), static_cast<int>(o)});
            break;
        }
    }
    return pairs;
}

CPortPair PreselectPorts(const std::vector<CPortDevice>& ins, const std::vector<CPortDevice>& outs) {
    const std::vector<CPortPair> pairs = MatchConverterPairs(ins, outs);
    if (!pairs.empty()) return pairs.front();
    return {PreselectPort(Names(ins)), PreselectPort(Names(outs))};
}

int PairedPort(const std::vector<CPortDevice>& ins, const std::vector<CPortDevice>& outs, bool bInput, int nPort) {
    for (const CPortPair& p : MatchConverterPairs(ins, outs))
        if ((bInput ? p.m_nIn : p.m_nOut) == nPort) return bInput ? p.m_nOut : p.m_nIn;
    return -1;
}

int FindPortByPrefix(const std::string& strPrefix, const std::vector<std::string>& names,
                     const std::vector<CPortDevice>& devices) {
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i].starts_with(strPrefix) || (i < devices.size() && devices[i].m_strName.starts_with(strPrefix)))
            return static_cast<int>(i);
    return -1;
}

}  // namespace qz
