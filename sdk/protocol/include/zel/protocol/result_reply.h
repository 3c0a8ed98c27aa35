// The reply that carries only a result: result:i32 (negative: failure).
#pragma once

#include <cstdint>

#include "zel/protocol/grammar.h"

namespace zel::protocol {

struct ResultReply {
  int32_t result = 0;

  template <class V>
  void Fields(V& v) {
    v.I32("result", result);
  }
};

}  // namespace zel::protocol
