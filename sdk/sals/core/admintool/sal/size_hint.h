// What values contribute to size hints. A ZELString contributes what it takes on the wire: its
// length prefix and its length value (terminator included), so hints built from it are exact.
#pragma once

#include <cstdint>

#include "zel/runtime/strings.h"
#include "zel/runtime/wire.h"

namespace zel::sal {

inline uint32_t WireSize(const ZELString& text) {
  return zel::wire::kLengthPrefixSize + text.getLength();
}

}  // namespace zel::sal
