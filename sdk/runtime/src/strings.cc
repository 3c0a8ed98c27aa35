#include "zel/runtime/strings.h"

#include "zel/runtime/secure.h"

namespace {

constexpr char16_t kSeparator = u'/';
constexpr char16_t kEscape = u'\\';

// Offset of the separator before the last component, or npos when there is only one.
std::size_t LastSeparator(std::u16string_view dn) {
  std::size_t last = std::u16string_view::npos;
  for (std::size_t i = 0; i < dn.size(); ++i) {
    if (dn[i] == kEscape) {
      ++i;  // the escaped character is part of the component
    } else if (dn[i] == kSeparator) {
      last = i;
    }
  }
  return last;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at text[*i]; advances *i. Invalid input gives U+FFFD.
char32_t NextUtf8(std::string_view text, std::size_t* i) {
  const auto lead = static_cast<unsigned char>(text[(*i)++]);
  int extra;
  char32_t cp;
  if (lead < 0x80) return lead;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07;
  } else {
    return kReplacement;
  }
  for (int k = 0; k < extra; ++k) {
    if (*i >= text.size()) return kReplacement;
    const auto next = static_cast<unsigned char>(text[*i]);
    if ((next & 0xC0) != 0x80) return kReplacement;
    cp = (cp << 6) | (next & 0x3F);
    ++*i;
  }
  static constexpr char32_t kMinForLength[] = {0, 0x80, 0x800, 0x10000};
  const bool bad = cp < kMinForLength[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF);
  return bad ? kReplacement : cp;
}

}  // namespace

ZELString::ZELString(const char16_t* text) {
  if (text != nullptr) text_ = text;
}

ZELString::ZELString(std::u16string_view text) : text_(text) {}

ZELString::ZELString(std::u16string&& text) : text_(std::move(text)) {}

ZELString& ZELString::operator=(const char16_t* text) {
  if (text == nullptr) {
    text_.clear();
  } else {
    text_ = text;
  }
  return *this;
}

ZELString& ZELString::operator+=(const ZELString& other) {
  text_ += other.text_;
  return *this;
}

ZELString& ZELString::operator+=(const char16_t* text) {
  if (text != nullptr) text_ += text;
  return *this;
}

ZELString& ZELString::appendDistinguishedName(const ZELString& name) {
  if (!text_.empty()) text_ += kSeparator;
  for (char16_t c : name.text_) {
    if (c == kSeparator || c == kEscape) text_ += kEscape;
    text_ += c;
  }
  return *this;
}

ZELString ZELString::lastDistinguishedNameComponent() const {
  const std::size_t separator = LastSeparator(text_);
  const std::size_t start = separator == std::u16string_view::npos ? 0 : separator + 1;
  std::u16string name;
  for (std::size_t i = start; i < text_.size(); ++i) {
    // A lone escape at the very end has nothing to escape and stands for itself.
    if (text_[i] == kEscape && i + 1 < text_.size()) ++i;
    name += text_[i];
  }
  return ZELString(std::move(name));
}

ZELString ZELString::parentDistinguishedName() const {
  const std::size_t separator = LastSeparator(text_);
  if (separator == std::u16string_view::npos) return ZELString();
  return ZELString(std::u16string_view(text_).substr(0, separator));
}

ZELString ZELString::FromUtf8(std::string_view utf8) {
  std::u16string text;
  text.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) AppendUtf16(text, NextUtf8(utf8, &i));
  return ZELString(std::move(text));
}

std::string ZELString::toUtf8() const {
  std::string out;
  out.reserve(text_.size());
  for (std::size_t i = 0; i < text_.size(); ++i) {
    char32_t cp = text_[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text_.size() && text_[i + 1] >= 0xDC00 &&
        text_[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text_[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;  // a surrogate without its partner
    }
    AppendUtf8(out, cp);
  }
  return out;
}

void ZELString::wipe() {
  ZEL_SECURE_Wipe(text_.data(), text_.size() * sizeof(char16_t));
  text_.clear();
}
