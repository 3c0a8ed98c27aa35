// An account record of the user SAL: a name and a 32-bit value that the caller gives meaning.
#pragma once

#include <cstdint>

#include "zel/runtime/strings.h"

struct UM_AccountInfo {
  ZELString name;
  uint32_t value = 0;
};
