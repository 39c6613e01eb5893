#pragma once
// Which peers may talk to the service: this machine (127.0.0.1, ::1) always, other addresses only inside the
// networks given with --allow ("192.168.1.0/24,fd00::/8"). IPv4 and IPv6; an IPv4 peer
// seen on an IPv6 socket (::ffff:a.b.c.d) is matched as IPv4.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CAddressFilter {
public:
    // Replaces the networks by a comma list of CIDRs (an address without "/N" is one
    // host). False, with a one-line reason and nothing changed, on bad text.
    bool Parse(std::string_view strList, std::string& strError);

    // A textual address as the socket reports it; false for text that is no address.
    bool Allows(std::string_view strAddress) const;
    // 127/8 or ::1: an address that does not reach beyond this machine.
    static bool IsLoopback(std::string_view strAddress);
    bool Empty() const { return m_nets.empty(); }

private:
    struct CAddress {
        bool bV6 = false;
        uint8_t by[16] = {};
    };
    struct CNet {
        CAddress address;
        int nBits = 0;
    };
    static bool ParseAddress(std::string_view str, CAddress& out);
    static bool Matches(const CNet& net, const CAddress& address);

    std::vector<CNet> m_nets;
};
