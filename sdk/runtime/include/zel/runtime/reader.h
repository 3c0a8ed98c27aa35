// The reader of event payloads (encoding in zel/runtime/wire.h).
#pragma once

#include <cstdint>

#include "zel/runtime/buffers.h"
#include "zel/runtime/export.h"
#include "zel/runtime/strings.h"

class ZEL_RUNTIME_API ZEL_BUF_BufferReader {
 public:
  // Tag under which new wide strings from operator>>(char16_t*&) are allocated.
  static constexpr const char* kStringTag = "zel_buf_reader";

  // Reads `buffer` from its start. With `own` 1 the reader releases the buffer when it is
  // destroyed; with 0 it only reads it. A null buffer reads as empty.
  ZEL_BUF_BufferReader(ZEL_BUF_BinBuffer* buffer, uint8_t own);
  // Reads `size` bytes at `data`, which stay the caller's and must outlive the reader.
  ZEL_BUF_BufferReader(const uint8_t* data, uint32_t size);
  ZEL_BUF_BufferReader(const ZEL_BUF_BufferReader&) = delete;
  ZEL_BUF_BufferReader& operator=(const ZEL_BUF_BufferReader&) = delete;
  ~ZEL_BUF_BufferReader();

  // Each throws ZEL_BUF_ReadException when the value cannot be read; the target and the read
  // position are then as they were.
  ZEL_BUF_BufferReader& operator>>(uint8_t& value);
  ZEL_BUF_BufferReader& operator>>(int16_t& value);
  ZEL_BUF_BufferReader& operator>>(uint16_t& value);
  ZEL_BUF_BufferReader& operator>>(int32_t& value);
  ZEL_BUF_BufferReader& operator>>(uint32_t& value);
  ZEL_BUF_BufferReader& operator>>(uint64_t& value);
  // A null string on the wire reads as the empty string.
  ZEL_BUF_BufferReader& operator>>(ZELString& value);
  ZEL_BUF_BufferReader& operator>>(ZELMultiString& value);
  // A new wide string from ZEL_BUF_Allocate_Debug (tag kStringTag), which the caller releases
  // with ZEL_BUF_Free_Debug; null for a null string on the wire.
  ZEL_BUF_BufferReader& operator>>(char16_t*& value);

  // Copies the next `length` raw bytes to `bytes`; 0 on success. Throws ZEL_BUF_ReadException
  // when fewer remain (nothing is copied then).
  int32_t ReadData(void* bytes, uint32_t length);

  uint32_t GetOffset() const { return offset_; }
  uint32_t GetRemaining() const { return size_ - offset_; }

 private:
  template <typename T>
  T readScalar();
  // Validates the string at the read position; its byte length in *byteLength and the offset of
  // its body in *body. Moves nothing.
  void peekString(uint32_t* byteLength, uint32_t* body) const;

  ZEL_BUF_BinBuffer* buffer_;
  bool own_;
  const uint8_t* data_;
  uint32_t size_;
  uint32_t offset_ = 0;
};
