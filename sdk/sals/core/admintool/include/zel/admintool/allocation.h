// The library's allocation facility. Storage whose failure an operation reports goes through
// the runtime's allocation seam, so a test can make the Nth allocation fail. Nothing here
// throws: a request that cannot be met answers null.
//
// Plain arrays hold trivial values and are not initialised. Record arrays use the array form:
// the element count is kept in front of the elements, every element is default-constructed when
// the storage is obtained and destroyed when it is released, so a release takes no count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <type_traits>

#include "zel/runtime/alloc.h"

namespace zel::sal {

namespace detail {
// Bytes for `count` elements of `size` after `header` bytes; 0 when it does not fit in 32 bits.
inline std::size_t ArrayBytes(uint32_t count, std::size_t size, std::size_t header) {
  const uint64_t bytes = static_cast<uint64_t>(count) * size + header;
  return bytes > std::numeric_limits<uint32_t>::max() ? 0 : static_cast<std::size_t>(bytes);
}
}  // namespace detail

// A plain array of `count` trivial values, released with ReleasePlain; null when there is no
// storage or its byte size does not fit in 32 bits.
template <typename T>
T* AllocatePlainArray(uint32_t count) {
  static_assert(std::is_trivially_copyable_v<T>);
  const std::size_t bytes = detail::ArrayBytes(count, sizeof(T), 0);
  if (bytes == 0 && count != 0) return nullptr;
  return static_cast<T*>(zel::rt::Allocate(bytes));
}

inline void ReleasePlain(void* block) { zel::rt::Free(block); }

// The count of a record array is kept in a header of a fixed 16 bytes in front of the
// elements. It must be one constant for the whole program: alignof(std::max_align_t) is not
// (some toolchains give 8 or 16 depending on which standard header a file includes first), and
// an array made in one file and released in another would look for its count elsewhere.
inline constexpr std::size_t kArrayHeader = 16;
static_assert(kArrayHeader >= sizeof(uint32_t), "the header holds the count");

// A record array of `count` default-constructed elements; null when there is no storage.
template <typename T>
T* NewArray(uint32_t count) {
  static_assert(std::is_nothrow_default_constructible_v<T>);
  static_assert(alignof(T) <= kArrayHeader, "elements past the header would be misaligned");
  const std::size_t bytes = detail::ArrayBytes(count, sizeof(T), kArrayHeader);
  if (bytes == 0) return nullptr;
  auto* block = static_cast<unsigned char*>(zel::rt::Allocate(bytes));
  if (block == nullptr) return nullptr;
  *reinterpret_cast<uint32_t*>(block) = count;
  T* elements = reinterpret_cast<T*>(block + kArrayHeader);
  for (uint32_t i = 0; i < count; ++i) new (elements + i) T();
  return elements;
}

// The element count of a record array from NewArray.
template <typename T>
uint32_t ArrayCount(const T* elements) {
  return *reinterpret_cast<const uint32_t*>(reinterpret_cast<const unsigned char*>(elements) -
                                            kArrayHeader);
}

// Destroys every element of a record array from NewArray and releases it; null is ignored.
template <typename T>
void DeleteArray(T* elements) {
  if (elements == nullptr) return;
  const uint32_t count = ArrayCount(elements);
  for (uint32_t i = count; i > 0; --i) elements[i - 1].~T();
  zel::rt::Free(reinterpret_cast<unsigned char*>(elements) - kArrayHeader);
}

// One default-constructed object, released with DeleteObject; null when there is no storage.
template <typename T>
T* NewObject() {
  static_assert(std::is_nothrow_default_constructible_v<T>);
  void* block = zel::rt::Allocate(sizeof(T));
  return block != nullptr ? new (block) T() : nullptr;
}

template <typename T>
void DeleteObject(T* object) {
  if (object == nullptr) return;
  object->~T();
  zel::rt::Free(object);
}

}  // namespace zel::sal
