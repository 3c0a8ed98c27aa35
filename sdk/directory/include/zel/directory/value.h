// Values, entries and changes as entries hold them in memory and the store keeps them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zel::dir {

// One typed value of an attribute.
struct StoredValue {
  std::u16string attribute;
  std::u16string typeName;
  uint16_t typeCode = 0;
  std::vector<uint8_t> bytes;
  bool operator==(const StoredValue&) const = default;
};

// One entry as the store keeps it.
struct StoredEntry {
  uint64_t uid = 0;
  uint32_t context = 0;
  std::u16string dn;
  std::u16string className;
  std::vector<StoredValue> values;  // attribute by attribute, each attribute's in order
};

// One change of a context, as its change log keeps it.
struct Change {
  enum Kind : uint8_t { kAdded = 1, kUpdated = 2, kDeleted = 3 };
  uint64_t number = 0;  // grows with every change of the store
  uint8_t kind = kAdded;
  uint64_t uid = 0;
  std::u16string dn;
  bool operator==(const Change&) const = default;
};

// Told each change of a context once it is committed (or, over `farm:`, once the server says
// so): the context and the change.
using ChangeListener = std::function<void(uint32_t context, const Change& change)>;

}  // namespace zel::dir
