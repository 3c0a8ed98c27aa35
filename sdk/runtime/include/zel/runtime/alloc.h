// The one allocation seam of the runtime and of every library built on it.
//
// Every allocation whose failure has a defined behaviour goes through Allocate(), so a test can
// make the Nth allocation fail and watch the failure path, and can check that what was taken was
// given back. The debug allocator (ZEL_BUF_Allocate_Debug) sits on top and also counts what is
// outstanding per source tag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>

#include "zel/runtime/export.h"

namespace zel::rt {

// Storage for `size` bytes, aligned for any scalar; null when none can be had (or when an
// injected failure is due). A size of 0 still yields a distinct block.
ZEL_RUNTIME_API void* Allocate(std::size_t size) noexcept;
// Gives back a block from Allocate(); null is ignored.
ZEL_RUNTIME_API void Free(void* block) noexcept;

struct AllocationStats {
  uint64_t allocations = 0;  // successful Allocate() calls
  uint64_t frees = 0;        // Free() calls with a non-null block
  uint64_t failures = 0;     // Allocate() calls that returned null
  uint64_t bytes = 0;        // bytes handed out by successful calls, in total
  uint64_t outstanding() const { return allocations - frees; }
};
ZEL_RUNTIME_API AllocationStats GetAllocationStats() noexcept;

// Makes the nth Allocate() call from now fail (1 = the next one), once. 0 disarms.
ZEL_RUNTIME_API void FailNthAllocation(uint64_t nth) noexcept;
// Makes every Allocate() call from the nth on fail, until disarmed with 0.
ZEL_RUNTIME_API void FailAllocationsFrom(uint64_t nth) noexcept;

// A base for classes whose heap objects take their storage through the seam, so a test can
// make their creation fail. The plain form throws std::bad_alloc; the nothrow form answers null.
struct ZEL_RUNTIME_API SeamAllocated {
  static void* operator new(std::size_t size);
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
  static void operator delete(void* block) noexcept;
  static void operator delete(void* block, const std::nothrow_t&) noexcept;
};

// Blocks from ZEL_BUF_Allocate_Debug that are still held, counted under the tag they were
// allocated with (the tag given at release is only a hint for diagnostics).
ZEL_RUNTIME_API uint64_t OutstandingDebugBlocks(const std::string& tag);
ZEL_RUNTIME_API uint64_t OutstandingDebugBlocks();  // all tags together

}  // namespace zel::rt

// The runtime's debug buffer allocator. `size` bytes into *out; 0 on success, zel::rt::kNoMemory
// (with *out null) when no storage can be had, zel::rt::kInvalidArgument when out is null.
// `tag` names the source that allocates (a string that lives for the whole process, usually a
// literal), `line` its line.
ZEL_RUNTIME_API int32_t ZEL_BUF_Allocate_Debug(uint32_t size, void** out, const char* tag,
                                               int line);
// Releases a block from ZEL_BUF_Allocate_Debug; null is ignored. Releasing anything else, or a
// block twice, is a programming error and aborts the process with a message.
ZEL_RUNTIME_API void ZEL_BUF_Free_Debug(void* block, const char* tag, int line);
