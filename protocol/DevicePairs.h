#pragma once
// Which port pairs of the MIDI system are QZ-81KT converters. One function, so that the
// rule can be replaced whole without touching its caller.
#include <string>
#include <vector>

namespace qz {

struct CDevicePair {
    int nIn;   // index in the input list
    int nOut;  // index in the output list
};

// Every input whose name begins with "QZ-81KT", in list order, with the first output of
// the same client whose name begins so too. The client is the name up to its first ':'
// (the whole name without one); JACK names a program's second client after its first
// with "-01", so "NAME" and "NAME-01" count as one client.
std::vector<CDevicePair> FindDevicePairs(const std::vector<std::string>& ins, const std::vector<std::string>& outs);

}  // namespace qz
