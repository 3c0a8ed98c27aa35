#include "zel/runtime/reader.h"

#include <cstring>
#include <new>

#include "zel/runtime/alloc.h"
#include "zel/runtime/wire.h"

using Reason = ZEL_BUF_ReadException::Reason;

ZEL_BUF_BufferReader::ZEL_BUF_BufferReader(ZEL_BUF_BinBuffer* buffer, uint8_t own)
    : buffer_(buffer),
      own_(own != 0),
      data_(buffer != nullptr ? buffer->GetData() : nullptr),
      size_(buffer != nullptr ? buffer->GetSize() : 0) {}

ZEL_BUF_BufferReader::ZEL_BUF_BufferReader(const uint8_t* data, uint32_t size)
    : buffer_(nullptr), own_(false), data_(data), size_(data != nullptr ? size : 0) {}

ZEL_BUF_BufferReader::~ZEL_BUF_BufferReader() {
  if (own_) delete buffer_;
}

template <typename T>
T ZEL_BUF_BufferReader::readScalar() {
  if (GetRemaining() < sizeof(T)) throw ZEL_BUF_ReadException(Reason::kShort);
  const T value = zel::wire::Load<T>(data_ + offset_);
  offset_ += sizeof(T);
  return value;
}

ZEL_BUF_BufferReader& ZEL_BUF_BufferReader::operator>>(uint8_t& value) {
  value = readScalar<uint8_t>();
  return *this;
}
ZEL_BUF_BufferReader& ZEL_BUF_BufferReader::operator>>(int16_t& value) {
  value = readScalar<int16_t>();
  return *this;
}
ZEL_BUF_BufferReader& ZEL_BUF_BufferReader::operator>>(uint16_t& value) {
  value = readScalar<uint16_t>();
  return *this;
}
ZEL_BUF_BufferReader& ZEL_BUF_BufferReader::operator>>(int32_t& value) {
  value = readScalar<int32_t>();
  return *this;
}
ZEL_BUF_BufferReader& ZEL_BUF_BufferReader::operator>>(uint32_t& value) {
  value = readScalar<uint32_t>();
  return *this;
}
ZEL_BUF_BufferReader& ZEL_BUF_BufferReader::operator>>(uint64_t& value) {
  value = readScalar<uint64_t>();
  return *this;
}

void ZEL_BUF_BufferReader::peekString(uint32_t* byteLength, uint32_t* body) const {
  if (GetRemaining() < zel::wire::kLengthPrefixSize) throw ZEL_BUF_ReadException(Reason::kShort);
  *byteLength = zel::wire::Load<uint32_t>(data_ + offset_);
  *body = offset_ + zel::wire::kLengthPrefixSize;
  // The length is checked against what remains before anything is allocated for it.
  if (*byteLength > size_ - *body) throw ZEL_BUF_ReadException(Reason::kShort);
  if (*byteLength != zel::wire::kNullStringLength &&
      !zel::wire::IsWellFormedString(data_ + *body, *byteLength)) {
    throw ZEL_BUF_ReadException(Reason::kMalformed);
  }
}

namespace {

// Copies `units` code units (little-endian on the wire) to `out`.
void CopyUnits(const uint8_t* in, uint32_t units, char16_t* out) {
  for (uint32_t i = 0; i < units; ++i) {
    out[i] = static_cast<char16_t>(zel::wire::Load<uint16_t>(in + 2 * i));
  }
}

}  // namespace

ZEL_BUF_BufferReader& ZEL_BUF_BufferReader::operator>>(ZELString& value) {
  uint32_t byteLength, body;
  peekString(&byteLength, &body);
  try {
    if (byteLength == zel::wire::kNullStringLength) {
      value = ZELString();
    } else {
      const uint32_t chars = byteLength / 2 - 1;
      std::u16string text(chars, u'\0');
      CopyUnits(data_ + body, chars, text.data());
      value = ZELString(std::move(text));
    }
  } catch (const std::bad_alloc&) {
    throw ZEL_BUF_ReadException(Reason::kNoMemory);
  }
  offset_ = body + byteLength;
  return *this;
}

ZEL_BUF_BufferReader& ZEL_BUF_BufferReader::operator>>(ZELMultiString& value) {
  if (GetRemaining() < sizeof(uint32_t)) throw ZEL_BUF_ReadException(Reason::kShort);
  const uint32_t count = zel::wire::Load<uint32_t>(data_ + offset_);
  // Every string takes at least its prefix: a count that cannot fit is a short read, found
  // before anything is reserved for it.
  const uint64_t least = static_cast<uint64_t>(count) * zel::wire::kMinStringSize;
  if (least > GetRemaining() - sizeof(uint32_t)) throw ZEL_BUF_ReadException(Reason::kShort);
  const uint32_t start = offset_;
  offset_ += sizeof(uint32_t);
  ZELMultiString list;
  try {
    for (uint32_t i = 0; i < count; ++i) {
      ZELString item;
      *this >> item;
      list.add(item);
    }
  } catch (const ZEL_BUF_ReadException&) {
    offset_ = start;
    throw;
  } catch (const std::bad_alloc&) {
    offset_ = start;
    throw ZEL_BUF_ReadException(Reason::kNoMemory);
  }
  value = std::move(list);
  return *this;
}

ZEL_BUF_BufferReader& ZEL_BUF_BufferReader::operator>>(char16_t*& value) {
  uint32_t byteLength, body;
  peekString(&byteLength, &body);
  if (byteLength == zel::wire::kNullStringLength) {
    value = nullptr;
  } else {
    void* block = nullptr;
    if (ZEL_BUF_Allocate_Debug(byteLength, &block, kStringTag, __LINE__) != 0) {
      throw ZEL_BUF_ReadException(Reason::kNoMemory);
    }
    auto* text = static_cast<char16_t*>(block);
    CopyUnits(data_ + body, byteLength / 2, text);  // terminator included
    value = text;
  }
  offset_ = body + byteLength;
  return *this;
}

int32_t ZEL_BUF_BufferReader::ReadData(void* bytes, uint32_t length) {
  if (GetRemaining() < length) throw ZEL_BUF_ReadException(Reason::kShort);
  if (length != 0) std::memcpy(bytes, data_ + offset_, length);
  offset_ += length;
  return 0;
}
