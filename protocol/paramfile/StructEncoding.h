#pragma once
// The profile structure encoding of a byte block, and the profile's reading of numbers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qz {

// 2·n + 2 upper-case hexadecimal digits: each byte high nibble first, then the low 8 bits
// of the byte sum. {01 02 0A} -> "01020A0D".
std::string EncodeStruct(const uint8_t* pData, size_t n);

enum class EStructDecode { Ok, WrongLength, BadDigit, BadChecksum };

// Decodes exactly n bytes from text (digits of either case). pOut is written only when
// the result is Ok: a value of another length, with another character or with checksum
// digits that do not match leaves it as it was.
EStructDecode DecodeStruct(std::string_view text, uint8_t* pOut, size_t n);

// Reads text as an unsigned hexadecimal number the way strtoul(text, 0, 16) does with a
// 32-bit unsigned long: leading white space, a sign and a "0x" prefix are accepted, the
// digits end at the first other character, no digits give 0, a number beyond 32 bits
// gives 0xFFFFFFFF and a minus sign negates modulo 2^32.
uint32_t ParseProfileHex(std::string_view text);

}  // namespace qz
