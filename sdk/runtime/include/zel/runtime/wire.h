// The wire encoding of event payloads, shared by the writer (ZEL_BUF_BinBuffer) and the reader
// (ZEL_BUF_BufferReader) so that each reads exactly what the other writes.
//
// Grammar (every integer little-endian, no padding, no alignment):
//
//   uint8        = 1 byte
//   int16/uint16 = 2 bytes
//   int32/uint32 = 4 bytes
//   uint64       = 8 bytes
//   string       = uint32 byteLength, then byteLength bytes of UTF-16LE code units
//                  byteLength 0 : a null string; no bytes follow
//                  otherwise    : byteLength is even and at least 2; the last code unit is the
//                                 terminator 0 and no other code unit is 0
//                  (a ZELString's byteLength is its length value; an empty one is 2)
//   multistring  = uint32 count, then count strings
//   raw          = bytes exactly as the caller holds them; a raw block carries no length of its
//                  own, the fields before it say how long it is
//
// A reader never trusts a length: one that runs past the end of the buffer is a short read,
// found before anything is allocated for it.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace zel::wire {

inline constexpr uint32_t kNullStringLength = 0;
inline constexpr uint32_t kLengthPrefixSize = 4;
// The least a string can take on the wire (a null string: its prefix alone).
inline constexpr uint32_t kMinStringSize = kLengthPrefixSize;

template <typename T>
inline void Store(uint8_t* out, T value) {
  static_assert(std::is_integral_v<T>);
  if constexpr (std::endian::native == std::endian::big) {
    for (std::size_t i = 0; i < sizeof(T); ++i) {
      out[i] = static_cast<uint8_t>(static_cast<std::make_unsigned_t<T>>(value) >> (8 * i));
    }
  } else {
    std::memcpy(out, &value, sizeof(T));
  }
}

template <typename T>
inline T Load(const uint8_t* in) {
  static_assert(std::is_integral_v<T>);
  if constexpr (std::endian::native == std::endian::big) {
    std::make_unsigned_t<T> value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
      value |= static_cast<std::make_unsigned_t<T>>(in[i]) << (8 * i);
    }
    return static_cast<T>(value);
  } else {
    T value;
    std::memcpy(&value, in, sizeof(T));
    return value;
  }
}

// Wire byte length of a string of `chars` code units (terminator added).
inline constexpr uint64_t StringByteLength(uint64_t chars) { return (chars + 1) * 2; }

// True when `body` (byteLength bytes after the prefix) is a well-formed non-null string.
inline bool IsWellFormedString(const uint8_t* body, uint32_t byteLength) {
  if (byteLength < 2 || byteLength % 2 != 0) return false;
  const uint32_t units = byteLength / 2;
  for (uint32_t i = 0; i + 1 < units; ++i) {
    if (Load<uint16_t>(body + 2 * i) == 0) return false;
  }
  return Load<uint16_t>(body + 2 * (units - 1)) == 0;
}

}  // namespace zel::wire
