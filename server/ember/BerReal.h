#pragma once
// The contents of a REAL as Ember+ writes it: base 2, the exponent giving the weight of
// the mantissa's top bit (not X.690's weight of its lowest bit), zero as no contents,
// one byte for +inf (40), -inf (41), NaN (42) and -0 (43).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qz::ember {

// Appends the contents (not the tag or length). Every zero is written empty.
void AppendRealContents(std::vector<uint8_t>& out, double dValue);

// False for the decimal form, bases other than 2 and exponents beyond four bytes.
bool DecodeRealContents(const uint8_t* p, size_t n, double& dValue);

}  // namespace qz::ember
