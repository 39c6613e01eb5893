#pragma once
// The S101 frame's bytes, header fields and limits (escaping variant), shared by the
// decoder and the encoder.
#include <cstddef>
#include <cstdint>

namespace qz::ember {

constexpr uint8_t kS101Bof = 0xFE;      // begins a frame
constexpr uint8_t kS101Eof = 0xFF;      // ends a frame
constexpr uint8_t kS101Ce = 0xFD;       // escape: the next byte is XORed with kS101Xor
constexpr uint8_t kS101Xor = 0x20;
constexpr uint8_t kS101Invalid = 0xF8;  // every byte from here up is escaped inside a frame

// Header: slot, message type, command, version; EmBER packets go on with flags, DTD,
// the count of application bytes and those bytes (the Glow version, minor first).
constexpr uint8_t kS101Slot = 0x00;
constexpr uint8_t kS101MessageEmber = 0x0E;
constexpr uint8_t kS101CommandEmber = 0x00;
constexpr uint8_t kS101CommandKeepAliveRequest = 0x01;
constexpr uint8_t kS101CommandKeepAliveResponse = 0x02;
constexpr uint8_t kS101Version = 0x01;
constexpr uint8_t kS101DtdGlow = 0x01;
constexpr uint8_t kGlowVersionMinor = 0x32;  // Glow DTD 2.50
constexpr uint8_t kGlowVersionMajor = 0x02;

constexpr uint8_t kS101FlagFirst = 0x80;
constexpr uint8_t kS101FlagLast = 0x40;
constexpr uint8_t kS101FlagSingle = kS101FlagFirst | kS101FlagLast;
constexpr uint8_t kS101FlagEmpty = 0x20;  // a packet without payload

constexpr size_t kS101KeepAliveHeaderBytes = 4;
constexpr size_t kS101EmberHeaderBytes = 9;  // with our two application bytes
constexpr size_t kS101CrcBytes = 2;

// BER bytes we put into one packet. Receivers built on libember_slim hold a whole
// unescaped packet (BOF, header, payload, CRC) in 1024 bytes.
constexpr size_t kS101MaxPacketPayload = 1000;

}  // namespace qz::ember
