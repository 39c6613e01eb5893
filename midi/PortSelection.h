#pragma once
// Which ports a freshly filled pair of port lists selects, which ports of the lists are
// one converter's pair, and which port a name given by the operator means.
#include <string>
#include <vector>

#include "midi/PortDevice.h"

namespace qz {

// The first port whose name begins with "QZ-81KT" (case-sensitive); without one, the
// last port whose name begins with "USB"; without either, port 0. -1 for no ports.
int PreselectPort(const std::vector<std::string>& names);

// An input and an output port of one converter, by their positions (port numbers).
struct CPortPair {
    int m_nIn = -1;
    int m_nOut = -1;
    bool operator==(const CPortPair&) const = default;
};

// Every converter reachable through a pair of ports: an input and an output of the same
// device (name and unit equal) whose name begins with "QZ-81KT". ins and outs are the
// devices of the input and output lists (PortDevice of each entry), in port-number
// order. Pairs come in input-list order, each input taking the first output of its
// device not yet taken, so two converters of one name pair up in list order; a port is
// in one pair at most, and a port without a partner in none.
std::vector<CPortPair> MatchConverterPairs(const std::vector<CPortDevice>& ins, const std::vector<CPortDevice>& outs);

// The preselection of both lists: the first converter pair when there is one, else
// each list on its own by PreselectPort on the device names. -1 for an empty list.
CPortPair PreselectPorts(const std::vector<CPortDevice>& ins, const std::vector<CPortDevice>& outs);

// The partner of input nIn (bInput) or output nIn among the converter pairs; -1 for none.
int PairedPort(const std::vector<CPortDevice>& ins, const std::vector<CPortDevice>& outs, bool bInput, int nPort);

// The first port whose name or device name begins with strPrefix; -1 for none.
int FindPortByPrefix(const std::string& strPrefix, const std::vector<std::string>& names,
                     const std::vector<CPortDevice>& devices);

}  // namespace qz
