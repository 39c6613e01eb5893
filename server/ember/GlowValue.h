#pragma once
// A Glow Value: INTEGER, REAL, UTF8String or BOOLEAN; monostate for NULL and for the
// kinds we do not take (OCTET STRING, anything unknown).
#include <cstdint>
#include <string>
#include <variant>

#include "server/ember/BerReader.h"
#include "server/ember/BerWriter.h"

namespace qz::ember {

using CGlowValue = std::variant<std::monostate, int64_t, double, bool, std::string>;

// The universal element of a value (NULL for monostate).
void WriteGlowValue(CBerWriter& writer, const CGlowValue& value);
// Reads a universal element as a value; false (and monostate) for other kinds.
bool ReadGlowValue(const CBerElement& element, CGlowValue& value);

}  // namespace qz::ember
