#include "ldap_values.h"

#include <cstring>

#include "zel/runtime/wire.h"

namespace zel::dir::ldap {

namespace {

void PutCodePoint(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void PutU16(uint16_t value, std::string* out) {
  out->push_back(static_cast<char>(value & 0xFF));
  out->push_back(static_cast<char>(value >> 8));
}

void PutU32(uint32_t value, std::string* out) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>(value >> shift));
}

void PutText(std::u16string_view text, std::string* out) {
  for (char16_t unit : text) PutU16(static_cast<uint16_t>(unit), out);
}

// Reads `size` bytes at `*at`, moving past them; false when fewer remain.
bool Take(std::string_view record, std::size_t* at, std::size_t size, std::string_view* taken) {
  if (record.size() - *at < size) return false;
  *taken = record.substr(*at, size);
  *at += size;
  return true;
}

template <typename T>
bool TakeInt(std::string_view record, std::size_t* at, T* value) {
  std::string_view bytes;
  if (!Take(record, at, sizeof(T), &bytes)) return false;
  *value = zel::wire::Load<T>(reinterpret_cast<const uint8_t*>(bytes.data()));
  return true;
}

bool TakeText(std::string_view record, std::size_t* at, std::u16string* text) {
  uint16_t size = 0;
  std::string_view bytes;
  if (!TakeInt(record, at, &size) || size % 2 != 0 || !Take(record, at, size, &bytes)) {
    return false;
  }
  text->assign(size / 2, u'\0');
  if (size != 0) std::memcpy(text->data(), bytes.data(), size);
  return true;
}

}  // namespace

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    }
    PutCodePoint(cp, &out);  // a lone surrogate half keeps its own three bytes
  }
  return out;
}

bool FromUtf8(std::string_view bytes, std::u16string* text) {
  text->clear();
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<uint8_t>(bytes[i]);
    const int extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (extra < 0 || bytes.size() - i <= static_cast<std::size_t>(extra)) return false;
    uint32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<uint8_t>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (next & 0x3F);
    }
    i += extra + 1;
    if (cp >= 0x10000) {
      if (cp > 0x10FFFF) return false;
      text->push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      text->push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      text->push_back(static_cast<char16_t>(cp));
    }
  }
  return true;
}

std::string EncodeValue(uint32_t position, const StoredValue& value) {
  std::string record;
  record.reserve(12 + 2 * (value.attribute.size() + value.typeName.size()) + value.bytes.size());
  PutU32(position, &record);
  PutU16(static_cast<uint16_t>(value.attribute.size() * 2), &record);
  PutText(value.attribute, &record);
  PutU16(value.typeCode, &record);
  PutU16(static_cast<uint16_t>(value.typeName.size() * 2), &record);
  PutText(value.typeName, &record);
  record.append(reinterpret_cast<const char*>(value.bytes.data()), value.bytes.size());
  return record;
}

bool DecodeValue(std::string_view record, uint32_t* position, StoredValue* value) {
  std::size_t at = 0;
  if (!TakeInt(record, &at, position) || !TakeText(record, &at, &value->attribute) ||
      !TakeInt(record, &at, &value->typeCode) || !TakeText(record, &at, &value->typeName)) {
    return false;
  }
  value->bytes.assign(record.begin() + static_cast<std::ptrdiff_t>(at), record.end());
  return true;
}

std::string TextKey(std::u16string_view attribute, std::u16string_view text) {
  return ToUtf8(attribute) + "=" + ToUtf8(text);
}

std::string Hex(uint64_t number, int digits) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, number >>= 4) {
    out[static_cast<std::size_t>(i)] = kDigits[number & 0xF];
  }
  return out;
}

bool ParseHex(std::string_view text, uint64_t* number) {
  if (text.empty() || text.size() > 16) return false;
  *number = 0;
  for (char c : text) {
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return false;
    *number = (*number << 4) | static_cast<uint64_t>(digit);
  }
  return true;
}

}  // namespace zel::dir::ldap
