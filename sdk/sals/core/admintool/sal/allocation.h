// The library's allocation facility. Storage whose failure an operation reports goes through
// the runtime's allocation seam, so a test can make the Nth allocation fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "zel/runtime/alloc.h"

namespace zel::sal {

// A plain array of `count` trivial values, released with ReleasePlain; null when there is no
// storage, or when its byte size does not fit in 32 bits.
template <typename T>
T* AllocatePlainArray(uint32_t count) {
  static_assert(std::is_trivially_copyable_v<T>);
  const uint64_t bytes = static_cast<uint64_t>(count) * sizeof(T);
  if (bytes > std::numeric_limits<uint32_t>::max()) return nullptr;
  return static_cast<T*>(zel::rt::Allocate(static_cast<std::size_t>(bytes)));
}

inline void ReleasePlain(void* block) { zel::rt::Free(block); }

}  // namespace zel::sal
