#include <gtest/gtest.h>

#include "server/AddressFilter.h"

TEST(AddressFilterTest, OnlyThisMachineAndTheAllowedNetworksGetIn) {
    struct Case {
        const char* pszAllow;
        const char* pszPeer;
        bool bAllowed;
    };
    const Case cases[] = {
        {"", "127.0.0.1", true},           {"", "::1", true},
        {"", "::ffff:127.0.0.1", true},    {"", "127.0.0.2", false},
        {"", "192.168.1.20", false},       {"192.168.1.0/24", "192.168.1.20", true},
        {"192.168.1.0/24", "192.168.2.20", false}, {"10.0.0.0/8,fd00::/8", "fd12::5", true},
        {"10.0.0.0/8,fd00::/8", "fe80::1%eth0", false}, {"10.0.0.0/8", "::ffff:10.1.2.3", true},
        {"10.1.2.3", "10.1.2.4", false},   {"0.0.0.0/0", "203.0.113.9", true},
        {"0.0.0.0/0", "2001:db8::1", false}, {"192.168.1.0/23", "192.168.0.7", true},
        {"", "not an address", false},
    };
    for (const Case& c : cases) {
        CAddressFilter filter;
        std::string strError;
        ASSERT_TRUE(!*c.pszAllow || filter.Parse(c.pszAllow, strError)) << c.pszAllow << ": " << strError;
        EXPECT_EQ(filter.Allows(c.pszPeer), c.bAllowed) << c.pszAllow << " / " << c.pszPeer;
    }
}

TEST(AddressFilterTest, BadListsAreRefusedWholeAndChangeNothing) {
    CAddressFilter filter;
    std::string strError;
    ASSERT_TRUE(filter.Parse("10.0.0.0/8", strError));
    for (const char* psz : {"10.0.0.0/33", "fd00::/129", "10.0.0.0/", "10.0.0.0/8,", "host.example", "10.0.0.0/-1",
                            "1.2.3.4/8x", ""}) {
        EXPECT_FALSE(filter.Parse(psz, strError)) << psz;
        EXPECT_FALSE(strError.empty());
    }
    EXPECT_TRUE(filter.Allows("10.9.9.9"));
    EXPECT_TRUE(CAddressFilter::IsLoopback("127.3.0.1"));
    EXPECT_FALSE(CAddressFilter::IsLoopback("0.0.0.0"));
}
