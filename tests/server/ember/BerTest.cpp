#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <string>

#include "server/ember/BerReader.h"
#include "server/ember/BerReal.h"
#include "server/ember/BerWriter.h"
#include "support/HexText.h"
#include "tests/server/ember/EmberHex.h"

namespace {

using namespace qz::ember;

std::string HexOf(const Bytes& b) { return HexText(b.data(), b.size()); }

CBerElement Only(const Bytes& bytes) {
    CBerReader reader(bytes.data(), bytes.size());
    CBerElement element;
    EXPECT_TRUE(reader.Next(element)) << HexOf(bytes);
    return element;
}

TEST(BerTest, IntegersAreMinimalOutAndTolerantIn) {
    const struct {
        int64_t n;
        const char* pszHex;
    } table[] = {{0, "02 01 00"},       {1, "02 01 01"},          {-1, "02 01 FF"},       {127, "02 01 7F"},
                 {128, "02 02 00 80"},  {-128, "02 01 80"},       {255, "02 02 00 FF"},   {32768, "02 03 00 80 00"},
                 {-32768, "02 02 80 00"}, {65535, "02 03 00 FF FF"}, {INT64_MIN, "02 08 80 00 00 00 00 00 00 00"},
                 {INT64_MAX, "02 08 7F FF FF FF FF FF FF FF"}};
    for (const auto& t : table) {
        CBerWriter writer;
        writer.WriteInteger(t.n);
        EXPECT_EQ(HexOf(writer.Bytes()), t.pszHex);
        int64_t n = 0;
        ASSERT_TRUE(ReadInteger(Only(Hex(t.pszHex)), n));
        EXPECT_EQ(n, t.n);
    }
    // As EmberPlusView sent them, and with redundant sign bytes past eight.
    const struct {
        const char* pszHex;
        bool bOk;
        int64_t n;
    } loose[] = {{"02 02 00 20", true, 32},
                 {"02 02 FF FF", true, -1},
                 {"02 09 FF 80 00 00 00 00 00 00 00", true, INT64_MIN},
                 {"02 09 00 80 00 00 00 00 00 00 00", false, 0},  // 2^63
                 {"02 00", false, 0},
                 {"01 01 00", false, 0}};
    for (const auto& t : loose) {
        int64_t n = 0;
        EXPECT_EQ(ReadInteger(Only(Hex(t.pszHex)), n), t.bOk) << t.pszHex;
        if (t.bOk) {
            EXPECT_EQ(n, t.n) << t.pszHex;
        }
    }
}

TEST(BerTest, RealsFollowTheEmberConvention) {
    const struct {
        double d;
        const char* pszContents;
    } table[] = {{1.0, "80 00 01"},  {1.5, "80 00 03"},   {3.0, "80 01 03"},
                 {-6.5, "C0 02 0D"}, {-20.0, "C0 04 05"}, {440.0, "80 08 37"},
                 {0.1, "80 FC 0C CC CC CC CC CC CD"}, {0.0, ""}, {HUGE_VAL, "40"}, {-HUGE_VAL, "41"},
                 {1e300, "81 03 E4 05 F9 0F 22 00 1D 67"}};
    for (const auto& t : table) {
        Bytes contents;
        AppendRealContents(contents, t.d);
        EXPECT_EQ(HexOf(contents), t.pszContents) << t.d;
        double d = 7;
        ASSERT_TRUE(DecodeRealContents(contents.data(), contents.size(), d)) << t.d;
        EXPECT_EQ(d, t.d);
    }
    Bytes contents;
    AppendRealContents(contents, -0.0);  // as +0: only some readers know 43
    AppendRealContents(contents, std::nan(""));
    EXPECT_EQ(HexOf(contents), "42");

    double d = 0;
    // X.690's own 1.5 (80 FF 03) reads as 0.75 here; the scale factor F does not change a value.
    EXPECT_TRUE(DecodeRealContents(Hex("80 FF 03").data(), 3, d));
    EXPECT_EQ(d, 0.75);
    EXPECT_TRUE(DecodeRealContents(Hex("88 00 03").data(), 3, d));
    EXPECT_EQ(d, 1.5);
    EXPECT_TRUE(DecodeRealContents(Hex("43").data(), 1, d));
    EXPECT_TRUE(std::signbit(d) && d == 0);
    EXPECT_TRUE(DecodeRealContents(Hex("42").data(), 1, d));
    EXPECT_TRUE(std::isnan(d));
    EXPECT_TRUE(DecodeRealContents(Hex("83 02 00 01 00 00 00 03").data(), 8, d));  // exponent length byte
    EXPECT_EQ(d, 3.0);
    for (const char* pszBad : {"A0 00 01", "01 31", "80", "83 05 00 00 00 00 00 01", "80 00 01 02 03 04 05 06 07 08 09"})
        EXPECT_FALSE(DecodeRealContents(Hex(pszBad).data(), Hex(pszBad).size(), d)) << pszBad;

    std::mt19937_64 rng(5);
    for (int i = 0; i < 2000; ++i) {
        const double dValue = std::bit_cast<double>(rng());
        if (!std::isfinite(dValue)) continue;
        Bytes c;
        AppendRealContents(c, dValue);
        ASSERT_TRUE(DecodeRealContents(c.data(), c.size(), d));
        EXPECT_EQ(d, dValue == 0 ? 0.0 : dValue);  // subnormals included
    }
}

TEST(BerTest, TagsLengthsAndPathsRoundTrip) {
    CBerWriter writer;
    const size_t nApp = writer.Begin(ApplicationTag(31));
    const size_t nContext = writer.Begin(ContextTag(200));
    writer.WriteUtf8(std::string(200, 'x'));
    writer.End(nContext);
    const uint32_t path[] = {1, 2, 300};
    writer.WriteRelativeOid(path, 3);
    writer.End(nApp);
    const Bytes& b = writer.Bytes();
    EXPECT_EQ(HexText(b.data(), 10), "7F 1F 81 D6 BF 81 48 81 CB 0C");
    EXPECT_EQ(HexText(b.data() + 10, 3), "81 C8 78");
    EXPECT_EQ(HexText(b.data() + b.size() - 6, 6), "0D 04 01 02 82 2C");

    CBerElement app = Only(b), context, text, oid;
    EXPECT_EQ(app.m_tag, ApplicationTag(31));
    CBerReader inside = CBerReader::Inside(app);
    ASSERT_TRUE(inside.Next(context) && inside.Next(oid));
    EXPECT_EQ(context.m_tag, ContextTag(200));
    std::string str;
    ASSERT_TRUE(ReadInner(context, text) && ReadUtf8(text, str));
    EXPECT_EQ(str, std::string(200, 'x'));
    std::vector<uint32_t> components;
    ASSERT_TRUE(ReadRelativeOid(oid, components, 8));
    EXPECT_EQ(components, (std::vector<uint32_t>{1, 2, 300}));
    EXPECT_FALSE(ReadRelativeOid(oid, components, 2));
    EXPECT_FALSE(ReadRelativeOid(Only(Hex("0D 02 01 82")), components, 8));  // cut inside a component
    EXPECT_FALSE(ReadRelativeOid(Only(Hex("0D 05 90 80 80 80 00")), components, 8));  // beyond 32 bits
}

TEST(BerTest, ReaderTakesIndefiniteAndPaddedLengthsAndRefusesBrokenInput) {
    const struct {
        const char* pszName;
        const char* pszHex;
        bool bOk;
    } cases[] = {
        {"indefinite, nested", "30 80 A0 80 02 01 05 00 00 00 00", true},
        {"long form with leading zeros", "04 82 00 01 AA", true},
        {"length past the end", "30 05 02 01 05", false},
        {"long length past the end", "04 84 7F FF FF FF 00", false},
        {"indefinite primitive", "04 80 00 00", false},
        {"missing end-of-contents", "30 80 02 01 05", false},
        {"cut in a long tag", "7F 81", false},
        {"tag number over 28 bits", "7F 81 81 81 81 01 00", false},
    };
    for (const auto& c : cases) {
        const Bytes bytes = Hex(c.pszHex);
        CBerReader reader(bytes.data(), bytes.size());
        CBerElement element;
        EXPECT_EQ(reader.Next(element), c.bOk) << c.pszName;
        EXPECT_EQ(reader.Failed(), !c.bOk) << c.pszName;
    }
    const Bytes indefinite = Hex("30 80 A0 80 02 01 05 00 00 00 00");
    CBerElement outer = Only(indefinite), field, value;
    EXPECT_EQ(outer.m_nLength, 7u);  // without its end-of-contents
    int64_t n = 0;
    ASSERT_TRUE(ReadInner(outer, field) && ReadInner(field, value) && ReadInteger(value, n));
    EXPECT_EQ(n, 5);

    // Nesting deeper than the limit fails, definite or indefinite.
    for (bool bIndefinite : {false, true}) {
        Bytes deep;
        const int nLevels = CBerReader::kMaxDepth + 4;
        for (int i = 0; i < nLevels; ++i) deep.insert(deep.end(), {0x30, 0x80});
        for (int i = 0; i < nLevels; ++i) deep.insert(deep.end(), {0x00, 0x00});
        if (!bIndefinite)
            for (int i = 0; i < nLevels; ++i) deep[2 * i + 1] = static_cast<uint8_t>(2 * (nLevels - 1 - i));
        CBerReader reader(deep.data(), bIndefinite ? deep.size() : 2 * nLevels);
        CBerElement element;
        int nDepth = 0;
        while (reader.Next(element)) {
            reader = CBerReader::Inside(element);
            ++nDepth;
        }
        EXPECT_TRUE(reader.Failed()) << bIndefinite;
        EXPECT_LE(nDepth, CBerReader::kMaxDepth + 1);
    }
}

}  // namespace
