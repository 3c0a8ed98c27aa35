// Where a virtual operation sits in its class's table, so that tests can pin slot orders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zel::rt::testing {

// True where VirtualSlot() can read member pointers (the Itanium C++ ABI on x86).
inline constexpr bool kCanReadVirtualSlots =
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && !defined(_MSC_VER)
    true;
#else
    false;
#endif

// The slot index of a virtual member function, or -1 when it is not virtual or unreadable here.
template <typename C, typename F>
std::ptrdiff_t VirtualSlot(F C::*member) {
  if constexpr (!kCanReadVirtualSlots) {
    return -1;
  } else {
    // A pointer to a virtual member holds 1 + its byte offset in the table.
    struct Representation {
      std::uintptr_t ptr;
      std::ptrdiff_t adjust;
    };
    static_assert(sizeof(member) == sizeof(Representation));
    Representation rep;
    std::memcpy(&rep, &member, sizeof rep);
    if ((rep.ptr & 1) == 0) return -1;
    return static_cast<std::ptrdiff_t>((rep.ptr - 1) / sizeof(void*));
  }
}

}  // namespace zel::rt::testing
