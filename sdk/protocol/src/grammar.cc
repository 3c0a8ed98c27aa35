#include "zel/protocol/grammar.h"

namespace zel::protocol {
namespace {

constexpr char kDigits[] = "0123456789abcdef";

// `digits` lower-case hex digits of `value`, no prefix.
std::string Hex(uint64_t value, int digits) {
  std::string hex(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4) {
    hex[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
  }
  return hex;
}

}  // namespace

SecretBytes& SecretBytes::operator=(const SecretBytes& other) {
  if (this != &other) {
    Wipe();
    bytes_ = other.bytes_;
  }
  return *this;
}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
  if (this != &other) {
    Wipe();
    bytes_ = std::move(other.bytes_);
    other.bytes_.clear();
  }
  return *this;
}

void SecretBytes::Wipe() noexcept {
  // Through a volatile pointer, so the stores are not dropped as dead before the release.
  volatile uint8_t* bytes = bytes_.data();
  for (std::size_t i = 0; i < bytes_.size(); ++i) bytes[i] = 0;
  bytes_.clear();
}

void SecretBytes::Resize(uint32_t size) {
  Wipe();
  bytes_.resize(size);
}

bool IsPasswordText(std::string_view bytes, uint32_t maxChars) {
  uint32_t chars = 0;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<uint8_t>(bytes[i]);
    uint32_t length, codePoint, least;
    if (lead < 0x80) {
      length = 1, codePoint = lead, least = 0;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, codePoint = lead & 0x1Fu, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, codePoint = lead & 0x0Fu, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, codePoint = lead & 0x07u, least = 0x10000;
    } else {
      return false;
    }
    if (bytes.size() - i < length) return false;
    for (uint32_t k = 1; k < length; ++k) {
      const auto next = static_cast<uint8_t>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      codePoint = (codePoint << 6) | (next & 0x3Fu);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    if (codePoint < least || codePoint > 0x10FFFF || surrogate) return false;
    if (++chars > maxChars) return false;
    i += length;
  }
  return true;
}

std::string ShowSigned(int64_t value) {
  std::string shown = std::to_string(value);
  if (value < 0 && value >= INT32_MIN) shown += " (0x" + Hex(static_cast<uint32_t>(value), 8) + ")";
  return shown;
}

std::string ShowUnsigned(uint64_t value) { return std::to_string(value); }

std::string ShowUID(uint64_t value) { return "0x" + Hex(value, 16); }

std::string ShowText(const ZELString& text) {
  std::string shown = "\"";
  for (const char c : text.toUtf8()) {
    const auto byte = static_cast<uint8_t>(c);
    if (c == '"' || c == '\\') {
      shown += '\\';
      shown += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      shown += "\\x" + Hex(byte, 2);
    } else {
      shown += c;
    }
  }
  return shown + "\"";
}

std::string ShowBytes(const uint8_t* bytes, uint32_t size) {
  std::string shown = std::to_string(size) + (size == 1 ? " byte" : " bytes");
  if (size != 0) shown += ": ";
  for (uint32_t i = 0; i < size; ++i) {
    shown += kDigits[bytes[i] >> 4];
    shown += kDigits[bytes[i] & 0xF];
  }
  return shown;
}

}  // namespace zel::protocol
