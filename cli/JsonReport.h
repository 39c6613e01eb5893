#pragma once
// The command line's --json documents, one line each. Text from the port lists and the
// device passes as it is when it is valid UTF-8; an invalid byte becomes U+FFFD and
// control characters are escaped, so the document is always valid JSON.
#include <string>
#include <vector>

#include "midi/PortDevice.h"

struct CImageSnapshot;

namespace qz {
// {"in":[{"number","name","device","preselected"}…],"out":[…]}; "device" is the device
// behind a bridge's port (qz::PortDevice), else the name again.
std::string PortsJson(const std::vector<std::string>& ins, const std::vector<qz::CPortDevice>& inDevices,
                      int nSelectedIn, const std::vector<std::string>& outs,
                      const std::vector<qz::CPortDevice>& outDevices, int nSelectedOut);
// Identity, the raw blocks, preset lines, status texts and the control mode.
std::string DumpJson(const CImageSnapshot& snap);
// The four status texts and the control mode (null until one was received).
std::string StatusJson(const CImageSnapshot& snap);
}  // namespace qz
