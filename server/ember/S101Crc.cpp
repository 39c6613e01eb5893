#include "server/ember/S101Crc.h"

#include <array>

namespace qz::ember {

namespace {

constexpr uint16_t kPolynomial = 0x8408;  // 0x1021 bit-reversed

constexpr std::array<uint16_t, 256> MakeTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned w = i;
        for (int bit = 0; bit < 8; ++bit) w = (w & 1) ? (w >> 1) ^ kPolynomial : w >> 1;
        table[i] = static_cast<uint16_t>(w);
    }
    return table;
}

constexpr std::array<uint16_t, 256> kTable = MakeTable();

}  // namespace

uint16_t S101CrcTableEntry(uint8_t i) { return kTable[i]; }

uint16_t S101Crc(const uint8_t* pData, size_t nLength, uint16_t wCrc) {
    for (size_t i = 0; i < nLength; ++i) wCrc = static_cast<uint16_t>((wCrc >> 8) ^ kTable[(wCrc ^ pData[i]) & 0xFF]);
    return wCrc;
}

}  // namespace qz::ember
