#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/ember/BerWriter.h"
#include "server/ember/GlowRequestReader.h"
#include "tests/server/ember/EmberHex.h"

namespace {

using namespace qz::ember;

std::string ValueText(const CGlowValue& value) {
    if (const auto* pn = std::get_if<int64_t>(&value)) return std::to_string(*pn);
    if (const auto* pd = std::get_if<double>(&value)) return "real " + std::to_string(*pd);
    if (const auto* pb = std::get_if<bool>(&value)) return *pb ? "true" : "false";
    if (const auto* pstr = std::get_if<std::string>(&value)) return "\"" + *pstr + "\"";
    return "none";
}

// "getdir 1.3 q mask -1", "set 1.2 real -6.500000", "invoke 1.5 q id 7 (3)".
std::string Describe(const CGlowRequest& r) {
    static const char* const kKinds[] = {"getdir", "subscribe", "unsubscribe", "invoke", "set"};
    std::string s = kKinds[r.m_eKind];
    std::string path;
    for (uint32_t n : r.m_path) path += (path.empty() ? "" : ".") + std::to_string(n);
    s += " " + (path.empty() ? std::string("/") : path) + (r.m_bQualified ? " q" : "");
    if (r.m_eKind == CGlowRequest::kGetDirectory) s += " mask " + std::to_string(r.m_nDirFieldMask);
    if (r.m_eKind == CGlowRequest::kSetValue) s += " " + ValueText(r.m_value);
    if (r.m_eKind == CGlowRequest::kInvoke) {
        if (r.m_bHasInvocationId) s += " id " + std::to_string(r.m_nInvocationId);
        s += " (";
        for (const CGlowValue& v : r.m_arguments) s += ValueText(v) + (&v == &r.m_arguments.back() ? "" : ",");
        s += ")";
    }
    return s;
}

TEST(GlowRequestTest, RequestsAreReadInEveryFormConsumersUse) {
    const struct {
        const char* pszName;
        const char* pszHex;
        std::vector<std::string> requests;
        bool bMalformed = false;
    } cases[] = {
        {"E1 root", "60 0B 6B 09 A0 07 62 05 A0 03 02 01 20", {"getdir / mask 0"}},
        {"E3 nested node, mask all",
         "60 1D 6B 1B A0 19 63 17 A0 03 02 01 01 A2 10 64 0E A0 0C 62 0A A0 03 02 01 20 A1 03 02 01 FF",
         {"getdir 1 mask -1"}},
        {"E5 qualified set", "60 17 6B 15 A0 13 69 11 A0 04 0D 02 01 02 A1 09 31 07 A2 05 09 03 C0 02 0D",
         {"set 1.2 q real -6.500000"}},
        {"E8 indefinite lengths, padded integers",
         "60 80 6B 80 A0 80 62 80 A0 04 02 02 00 20 A1 04 02 02 FF FF 00 00 00 00 00 00 00 00", {"getdir / mask -1"}},
        {"E9 invoke",
         "60 2B 6B 29 A0 27 74 25 A0 04 0D 02 01 05 A2 1D 64 1B A0 19 62 17 A0 03 02 01 21 A2 10 76 0E A0 03 02 01 07"
         " A1 07 30 05 A0 03 02 01 03",
         {"invoke 1.5 q id 7 (3)"}},
        {"nested set",
         "60 21 6B 1F A0 1D 63 1B A0 03 02 01 01 A2 14 64 12 A0 10 61 0E A0 03 02 01 02 A1 07 31 05 A2 03 02 01 05",
         {"set 1.2 5"}},
        {"a command on a parameter with the consumer's cached value: no write",
         "60 22 6B 20 A0 1E 69 1C A0 04 0D 02 01 02 A1 07 31 05 A2 03 02 01 05 A2 0B 64 09 A0 07 62 05 A0 03 02 01 20",
         {"getdir 1.2 q mask 0"}},
        {"two root elements, the second a qualified node",
         "60 22 6B 20 A0 07 62 05 A0 03 02 01 20 A0 15 6A 13 A0 04 0D 02 01 03 A2 0B 64 09 A0 07 62 05 A0 03 02 01 20",
         {"getdir / mask 0", "getdir 1.3 q mask 0"}},
        {"unknown command and matrix skipped",
         "60 1B 6B 19 A0 07 62 05 A0 03 02 01 63 A0 05 6D 03 A0 01 00 A0 07 62 05 A0 03 02 01 1E",
         {"subscribe /"}},
        {"a broken element keeps what came before it", "60 0E 6B 0C A0 07 62 05 A0 03 02 01 1F A0 09 6A",
         {"unsubscribe /"}, true},
        {"an empty qualified path is no element", "60 11 6B 0F A0 0D 6A 0B A0 02 0D 00 A2 05 64 03 A0 01 00", {}},
    };
    for (const auto& c : cases) {
        const Bytes bytes = Hex(c.pszHex);
        std::vector<CGlowRequest> requests;
        const CGlowReadResult result = ReadGlowRequests(bytes.data(), bytes.size(), requests);
        std::vector<std::string> described;
        for (const CGlowRequest& r : requests) described.push_back(Describe(r));
        EXPECT_TRUE(result.m_bRoot) << c.pszName;
        EXPECT_EQ(result.m_bMalformed, c.bMalformed) << c.pszName;
        EXPECT_EQ(described, c.requests) << c.pszName;
    }
}

TEST(GlowRequestTest, OneMessageYieldsAtMostTheRequestLimit) {
    CBerWriter writer;
    const size_t nRoot = writer.Begin(ApplicationTag(0)), nCollection = writer.Begin(ApplicationTag(11));
    for (size_t i = 0; i < kMaxGlowRequests + 10; ++i) {
        const size_t nItem = writer.Begin(ContextTag(0)), nCommand = writer.Begin(ApplicationTag(2));
        writer.WriteIntegerField(0, 32);
        writer.End(nCommand);
        writer.End(nItem);
    }
    writer.End(nCollection);
    writer.End(nRoot);
    std::vector<CGlowRequest> requests;
    const CGlowReadResult result = ReadGlowRequests(writer.Bytes().data(), writer.Bytes().size(), requests);
    EXPECT_EQ(requests.size(), kMaxGlowRequests);
    EXPECT_EQ(result.m_nDropped, 10u);

    const Bytes notRoot = Hex("30 03 02 01 01");
    requests.clear();
    EXPECT_FALSE(ReadGlowRequests(notRoot.data(), notRoot.size(), requests).m_bRoot);
    EXPECT_TRUE(requests.empty());
}

}  // namespace
