// Values and entries as entries hold them in memory and the store keeps them.

// One typed value of an attribute.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zel::dir {

struct StoredValue {
  std::u16string attribute;
  std::u16string typeName;
  uint16_t typeCode = 0;
  std::vector<uint8_t> bytes;
};

// One entry as the store keeps it.
struct StoredEntry {
  int64_t id = 0;
  uint32_t context = 0;
  std::u16string dn;
  std::u16string className;
  std::vector<StoredValue> values;
};

}  // namespace zel::dir
