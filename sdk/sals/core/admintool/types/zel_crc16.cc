#include "zel/admintool/zel_crc16.h"

#include "admintool/types/crc16_tables.h"
#include "zel/admintool/result_codes.h"

namespace {

using zel::crc16::kTables;

// Every byte but the last enters the register's low byte: r := r·x^8 + b (mod P), so the
// register holds the bytes so far, as a polynomial, mod P. Eight bytes at once:
//   r := r·x^64 + b1·x^56 + ... + b7·x^8 + b8  (mod P)
// with r·x^64 = lo·x^64 + hi·x^72 taken from tables 8 and 9.
uint16_t Register(const uint8_t* data, uint32_t length) {
  uint16_t r = 0;
  uint32_t i = 0;
  for (; i + 8 <= length; i += 8) {
    const uint8_t* b = data + i;
    r = kTables[9][r >> 8] ^ kTables[8][r & 0xFF] ^ kTables[7][b[0]] ^ kTables[6][b[1]] ^
        kTables[5][b[2]] ^ kTables[4][b[3]] ^ kTables[3][b[4]] ^ kTables[2][b[5]] ^
        kTables[1][b[6]] ^ b[7];
  }
  for (; i < length; ++i) r = static_cast<uint16_t>((r << 8) | data[i]) ^ kTables[2][r >> 8];
  return r;
}

}  // namespace

extern "C" int32_t ZEL_CRC16(const uint8_t* data, uint32_t length, uint16_t* crc) {
  if (length == 0 || data == nullptr || crc == nullptr) return ZEL_E_FAIL;
  // The last byte enters the high byte: (r + last)·x^8 mod P.
  const uint16_t v = Register(data, length - 1) ^ data[length - 1];
  *crc = kTables[1][v & 0xFF] ^ kTables[2][v >> 8];
  return 0;
}
