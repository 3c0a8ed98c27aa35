// The tables of the checksum, made at compile time. Table k holds b·x^(8k) mod P for every byte
// b (P = x^16 + x^12 + x^5 + 1), so the register can take eight bytes per step.
#pragma once

#include <array>
#include <cstdint>

namespace zel::crc16 {

inline constexpr uint16_t kPolynomial = 0x1021;

// b·x^(8·power) mod P.
constexpr uint16_t Remainder(uint8_t b, int power) {
  uint32_t r = b;
  for (int bit = 0; bit < 8 * power; ++bit) {
    r <<= 1;
    if (r & 0x10000) r ^= 0x10000 | kPolynomial;
  }
  return static_cast<uint16_t>(r);
}

constexpr std::array<std::array<uint16_t, 256>, 10> MakeTables() {
  std::array<std::array<uint16_t, 256>, 10> tables{};
  for (int power = 0; power < 10; ++power) {
    for (int b = 0; b < 256; ++b) tables[power][b] = Remainder(static_cast<uint8_t>(b), power);
  }
  return tables;
}

inline constexpr auto kTables = MakeTables();
// The classic byte table: entry i is i·x^16 mod P.
inline constexpr const std::array<uint16_t, 256>& kByteTable = kTables[2];
static_assert(kByteTable[1] == 0x1021 && kByteTable[128] == 0x9188 && kByteTable[255] == 0x1EF0);

// The checksum one byte at a time, exactly as it is defined; the reference for the fast form.
inline uint16_t ChecksumBytewise(const uint8_t* data, uint32_t length) {
  uint16_t r = 0;
  for (uint32_t i = 0; i + 1 < length; ++i) {
    r = static_cast<uint16_t>((r << 8) | data[i]) ^ kByteTable[r >> 8];
  }
  const uint8_t last = data[length - 1];
  return static_cast<uint16_t>(((r & 0xFF) ^ last) << 8) ^ kByteTable[r >> 8];
}

}  // namespace zel::crc16
