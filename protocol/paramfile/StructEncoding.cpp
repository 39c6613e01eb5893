#include "protocol/paramfile/StructEncoding.h"

namespace qz {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

std::string EncodeStruct(const uint8_t* pData, size_t n) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(2 * n + 2);
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i) {
        s += kDigits[pData[i] >> 4];
        s += kDigits[pData[i] & 0x0F];
        sum += pData[i];
    }
    s += kDigits[(sum >> 4) & 0x0F];
    s += kDigits[sum & 0x0F];
    return s;
}

EStructDecode DecodeStruct(std::string_view text, uint8_t* pOut, size_t n) {
    if (text.size() != 2 * n + 2) return EStructDecode::WrongLength;
    for (char c : text)
        if (HexDigit(c) < 0) return EStructDecode::BadDigit;
    auto byteAt = [&](size_t i) { return static_cast<uint8_t>(HexDigit(text[2 * i]) << 4 | HexDigit(text[2 * i + 1])); };
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i) sum += byteAt(i);
    if ((sum & 0xFF) != byteAt(n)) return EStructDecode::BadChecksum;
    for (size_t i = 0; i < n; ++i) pOut[i] = byteAt(i);
    return EStructDecode::Ok;
}

uint32_t ParseProfileHex(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    bool bNegative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) bNegative = text[i++] == '-';
    // "0x" counts as a prefix only when a digit follows; otherwise the 0 is the number.
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        HexDigit(text[i + 2]) >= 0)
        i += 2;
    uint64_t value = 0;
    bool bOverflow = false;
    for (; i < text.size() && HexDigit(text[i]) >= 0; ++i) {
        value = value * 16 + static_cast<unsigned>(HexDigit(text[i]));
        if (value > 0xFFFFFFFFu) {
            bOverflow = true;
            value = 0xFFFFFFFFu;  // keeps the arithmetic bounded; the rest only needs scanning
        }
    }
    if (bOverflow) return 0xFFFFFFFFu;
    uint32_t v = static_cast<uint32_t>(value);
    return bNegative ? static_cast<uint32_t>(0u - v) : v;
}

}  // namespace qz
