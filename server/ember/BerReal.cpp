#include "server/ember/BerReal.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace qz::ember {

namespace {

constexpr uint8_t kPlusInfinity = 0x40, kMinusInfinity = 0x41, kNotANumber = 0x42, kMinusZero = 0x43;
constexpr uint8_t kBinaryForm = 0x80, kNegative = 0x40;

int BitLength(uint64_t n) { return 64 - std::countl_zero(n); }

}  // namespace

void AppendRealContents(std::vector<uint8_t>& out, double dValue) {
    if (dValue == 0) return;  // -0 too: only some readers know 43
    if (std::isnan(dValue)) {
        out.push_back(kNotANumber);
        return;
    }
    if (std::isinf(dValue)) {
        out.push_back(dValue > 0 ? kPlusInfinity : kMinusInfinity);
        return;
    }
    const uint64_t qwBits = std::bit_cast<uint64_t>(dValue);
    const int nBiased = static_cast<int>((qwBits >> 52) & 0x7FF);
    uint64_t qwMantissa = qwBits & 0xFFFFFFFFFFFFFull;
    int nLowBitWeight = -1074;  // subnormal: no hidden bit
    if (nBiased != 0) {
        qwMantissa |= 1ull << 52;
        nLowBitWeight = nBiased - 1075;
    }
    const int nExponent = nLowBitWeight + BitLength(qwMantissa) - 1;  // weight of the top bit
    qwMantissa >>= std::countr_zero(qwMantissa);

    const size_t nExponentBytes = (nExponent >= -128 && nExponent <= 127) ? 1 : 2;
    out.push_back(static_cast<uint8_t>(kBinaryForm | ((qwBits >> 63) ? kNegative : 0) | (nExponentBytes - 1)));
    for (size_t i = nExponentBytes; i-- > 0;) out.push_back(static_cast<uint8_t>(nExponent >> (8 * i)));
    const int nMantissaBytes = (BitLength(qwMantissa) + 7) / 8;
    for (int i = nMantissaBytes; i-- > 0;) out.push_back(static_cast<uint8_t>(qwMantissa >> (8 * i)));
}

bool DecodeRealContents(const uint8_t* p, size_t n, double& dValue) {
    if (n == 0) {
        dValue = 0;
        return true;
    }
    const uint8_t byFirst = p[0];
    if (!(byFirst & kBinaryForm)) {
        if (n != 1) return false;  // the decimal form is not used by Ember+
        switch (byFirst) {
        case kPlusInfinity: dValue = HUGE_VAL; return true;
        case kMinusInfinity: dValue = -HUGE_VAL; return true;
        case kNotANumber: dValue = std::nan(""); return true;
        case kMinusZero: dValue = -0.0; return true;
        default: return false;
        }
    }
    if (byFirst & 0x30) return false;  // base 8 or 16
    size_t nAt = 1, nExponentBytes = (byFirst & 3) + 1;
    if (nExponentBytes == 4) {  // the length comes in the next byte
        if (n < 2) return false;
        nExponentBytes = p[1];
        nAt = 2;
    }
    if (nExponentBytes == 0 || nExponentBytes > 4 || n - nAt < nExponentBytes) return false;
    int64_t nExponent = static_cast<int8_t>(p[nAt]);  // sign from the first byte
    for (size_t i = 1; i < nExponentBytes; ++i) nExponent = nExponent * 256 + p[nAt + i];
    nAt += nExponentBytes;
    while (nAt < n && p[nAt] == 0) ++nAt;  // leading zeros of the mantissa
    if (n - nAt > 8) return false;
    uint64_t qwMantissa = 0;
    for (; nAt < n; ++nAt) qwMantissa = (qwMantissa << 8) | p[nAt];
    // The scale factor F cancels out: the exponent gives the weight of the top bit.
    // Beyond +-4000 every double is infinite or zero already.
    const int64_t nShift = std::clamp<int64_t>(nExponent - BitLength(qwMantissa) + 1, -4000, 4000);
    const double dMagnitude = qwMantissa == 0 ? 0.0 : std::ldexp(static_cast<double>(qwMantissa), static_cast<int>(nShift));
    dValue = (byFirst & kNegative) ? -dMagnitude : dMagnitude;
    return true;
}

}  // namespace qz::ember
