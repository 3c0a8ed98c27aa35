// How the LDAP backend writes the directory's names and typed values into LDAP attribute values.
//
// Names (DNs, classes, context names, attribute names in filters) are UTF-8; a UTF-16 unit
// that is half of a surrogate pair without its partner is written as its own three bytes
// (generalised UTF-8), so every name reads back exactly and two names never meet.
//
// One typed value of an entry is one zelValue (an octet string):
//
//   record    = position:u32 attribute-size:u16 attribute type-code:u16 type-size:u16 type data
//   position  = the value's place among the entry's values (which also keeps equal values of
//               an attribute apart: LDAP holds a set, the directory a list)
//   attribute = attribute-size bytes of the attribute name, UTF-16LE
//   type      = type-size bytes of the type name, UTF-16LE
//   data      = every byte to the end of the record: the value as the entry holds it
//
// Integers are little-endian. A value with a text form (TextForm) adds one zelText,
// "ATTRIBUTE=TEXT" in UTF-8, which the equality filter of a search compares with.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "zel/directory/value.h"

namespace zel::dir::ldap {

std::string ToUtf8(std::u16string_view text);
// False for bytes that are no UTF-8 this backend writes.
bool FromUtf8(std::string_view bytes, std::u16string* text);

std::string EncodeValue(uint32_t position, const StoredValue& value);
// False for a record that does not read (cut, or a size past its end).
bool DecodeValue(std::string_view record, uint32_t* position, StoredValue* value);

// "ATTRIBUTE=TEXT", what a value with a text form is found by.
std::string TextKey(std::u16string_view attribute, std::u16string_view text);

// `number` as `digits` lower-case hex digits; and back (false for anything else).
std::string Hex(uint64_t number, int digits);
bool ParseHex(std::string_view text, uint64_t* number);

}  // namespace zel::dir::ldap
