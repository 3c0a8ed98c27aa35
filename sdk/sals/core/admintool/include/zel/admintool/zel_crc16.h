// The 16-bit checksum with which icons are compared and stored: polynomial 0x1021, most
// significant bit first, no reflection, no final XOR, and a last byte that enters the high byte
// of the register ("123456789" gives 0x87D6).
#pragma once

#include <cstdint>

#include "zel/admintool/export.h"

// 0 with the checksum at *crc; 0x80000001 (and *crc untouched) when length is 0.
extern "C" ZEL_ADMINSAL_API int32_t ZEL_CRC16(const uint8_t* data, uint32_t length, uint16_t* crc);
