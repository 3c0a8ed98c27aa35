// One typed value of an attribute, as entries hold it in memory and the store keeps it.
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

}  // namespace zel::dir
