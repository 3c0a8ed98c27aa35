// Wide strings, string lists and versions of the host runtime.
//
// ZELString holds UTF-16 text (char16_t) without NUL characters. Its length value, which size
// hints and length tests use, is its size in bytes including the 16-bit terminator: an empty
// string has the length value 2.
//
// Distinguished names (DNs) are ZELStrings whose components run from the root down, separated by
// '/'. Inside a component a '/' is written "\/" and a '\' is written "\\"; no other character is
// escaped. appendDistinguishedName() escapes the name it adds, and lastDistinguishedNameComponent()
// undoes it, so any name, separators and backslashes included, round-trips. A DN with no '/' that
// is not escaped has one component; the empty DN has none.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zel/runtime/export.h"

class ZEL_RUNTIME_API ZELString {
 public:
  ZELString() = default;
  ZELString(const ZELString& other) = default;
  ZELString(ZELString&& other) noexcept = default;
  // Text up to its terminator; a null pointer gives the empty string.
  ZELString(const char16_t* text);  // NOLINT(google-explicit-constructor): strings convert freely
  // The whole text. A NUL inside is kept, never cut off: two different texts never become one
  // string. Such a string is no name or value anywhere (the directory refuses it, the wire
  // writer will not write it); `hasInnerNul` tells.
  explicit ZELString(std::u16string_view text);
  // Takes the whole text over without copying it.
  explicit ZELString(std::u16string&& text);
  ~ZELString() = default;

  ZELString& operator=(const ZELString& other) = default;
  ZELString& operator=(ZELString&& other) noexcept = default;
  ZELString& operator=(const char16_t* text);
  ZELString& operator+=(const ZELString& other);
  ZELString& operator+=(const char16_t* text);

  // The text, terminated, valid until the string changes. Never null.
  const char16_t* getName() const { return text_.c_str(); }
  std::u16string_view view() const { return text_; }
  // Size in bytes including the terminator.
  uint32_t getLength() const { return static_cast<uint32_t>((text_.size() + 1) * 2); }
  std::size_t charCount() const { return text_.size(); }
  bool isEmpty() const { return text_.empty(); }
  bool hasInnerNul() const { return text_.find(u'\0') != std::u16string::npos; }

  // Adds `name` as the last component of this DN (see the file comment for the syntax).
  ZELString& appendDistinguishedName(const ZELString& name);
  // The last component, unescaped; empty for the empty DN.
  ZELString lastDistinguishedNameComponent() const;
  // The DN without its last component; empty for a DN of one component.
  ZELString parentDistinguishedName() const;

  // Overwrites the text (a secret) in its storage before emptying the string.
  void wipe();

  // Conversions for printing and configuration; invalid sequences become U+FFFD.
  static ZELString FromUtf8(std::string_view utf8);
  std::string toUtf8() const;

  friend bool operator==(const ZELString& a, const ZELString& b) { return a.text_ == b.text_; }

 private:
  std::u16string text_;
};

// An ordered list of strings.
class ZEL_RUNTIME_API ZELMultiString {
 public:
  void add(const ZELString& value) { items_.push_back(value); }
  void clear() { items_.clear(); }
  void reserve(std::size_t count) { items_.reserve(count); }
  std::size_t count() const { return items_.size(); }
  const ZELString& at(std::size_t index) const { return items_.at(index); }
  const std::vector<ZELString>& items() const { return items_; }

  friend bool operator==(const ZELMultiString& a, const ZELMultiString& b) {
    return a.items_ == b.items_;
  }

 private:
  std::vector<ZELString> items_;
};

// An event's version: two bytes, 1 then 0 in every event this system creates.
struct ZELVersion {
  uint8_t first = 1;
  uint8_t second = 0;
  constexpr ZELVersion() = default;
  constexpr ZELVersion(uint8_t a, uint8_t b) : first(a), second(b) {}
  friend constexpr bool operator==(ZELVersion a, ZELVersion b) = default;
};
