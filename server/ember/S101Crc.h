#pragma once
// CRC-16/X-25 as S101 uses it: reflected polynomial 0x8408, initial value 0xFFFF. The
// sender appends the complement, low byte first; a receiver that runs the CRC over the
// content together with those two bytes gets kS101CrcResidue.
#include <cstddef>
#include <cstdint>

namespace qz::ember {

constexpr uint16_t kS101CrcInit = 0xFFFF;
constexpr uint16_t kS101CrcResidue = 0xF0B8;

// Entry i of the byte-wise table, generated from the polynomial.
uint16_t S101CrcTableEntry(uint8_t i);

uint16_t S101Crc(const uint8_t* pData, size_t nLength, uint16_t wCrc = kS101CrcInit);

}  // namespace qz::ember
