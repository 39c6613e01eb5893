#include "server/AddressFilter.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstring>

namespace {

constexpr uint8_t kV4MappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

}  // namespace

bool CAddressFilter::ParseAddress(std::string_view str, CAddress& out) {
    // A scope ("fe80::1%eth0") names an interface, not an address.
    str = str.substr(0, str.find('%'));
    if (str.empty() || str.size() >= INET6_ADDRSTRLEN) return false;
    const std::string text(str);
    out = CAddress{};
    if (inet_pton(AF_INET, text.c_str(), out.by) == 1) return true;
    if (inet_pton(AF_INET6, text.c_str(), out.by) != 1) return false;
    if (std::memcmp(out.by, kV4MappedPrefix, sizeof kV4MappedPrefix) == 0) {
        std::memmove(out.by, out.by + 12, 4);
        std::memset(out.by + 4, 0, 12);
        return true;
    }
    out.bV6 = true;
    return true;
}

bool CAddressFilter::Matches(const CNet& net, const CAddress& address) {
    if (net.address.bV6 != address.bV6) return false;
    int nBits = net.nBits;
    for (size_t i = 0; nBits > 0; ++i, nBits -= 8) {
        const uint8_t byMask = nBits >= 8 ? 0xFF : static_cast<uint8_t>(0xFF << (8 - nBits));
        if ((net.address.by[i] & byMask) != (address.by[i] & byMask)) return false;
    }
    return true;
}

bool CAddressFilter::Parse(std::string_view strList, std::string& strError) {
    std::vector<CNet> nets;
    size_t start = 0;
    while (start <= strList.size()) {
        size_t end = strList.find(',', start);
        if (end == std::string_view::npos) end = strList.size();
        const std::string_view item = strList.substr(start, end - start);
        start = end + 1;
        const size_t slash = item.find('/');
        CNet net;
        if (!ParseAddress(item.substr(0, slash), net.address)) {
            strError = "--allow: '" + std::string(item) + "' is not an address or network";
            return false;
        }
        const int nMax = net.address.bV6 ? 128 : 32;
        net.nBits = nMax;
        if (slash != std::string_view::npos) {
            const std::string_view bits = item.substr(slash + 1);
            auto [p, ec] = std::from_chars(bits.data(), bits.data() + bits.size(), net.nBits);
            if (bits.empty() || ec != std::errc() || p != bits.data() + bits.size() || net.nBits < 0 ||
                net.nBits > nMax) {
                strError = "--allow: bad prefix length in '" + std::string(item) + "'";
                return false;
            }
        }
        nets.push_back(net);
    }
    m_nets = std::move(nets);
    return true;
}

bool CAddressFilter::IsLoopback(std::string_view strAddress) {
    CAddress a;
    if (!ParseAddress(strAddress, a)) return false;
    if (!a.bV6) return a.by[0] == 127;
    static const uint8_t kV6Loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return std::memcmp(a.by, kV6Loopback, 16) == 0;
}

bool CAddressFilter::Allows(std::string_view strAddress) const {
    CAddress a;
    if (!ParseAddress(strAddress, a)) return false;
    // This machine itself; other 127/8 addresses only when allowed.
    static const uint8_t kV6Loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    if (a.bV6 ? std::memcmp(a.by, kV6Loopback, 16) == 0 : (a.by[0] == 127 && a.by[1] == 0 && a.by[2] == 0 && a.by[3] == 1))
        return true;
    for (const CNet& net : m_nets)
        if (Matches(net, a)) return true;
    return false;
}
