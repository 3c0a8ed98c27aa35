#include "zel/runtime/alloc.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "zel/runtime/codes.h"

namespace zel::rt {
namespace {

std::atomic<uint64_t> g_allocations{0};
std::atomic<uint64_t> g_frees{0};
std::atomic<uint64_t> g_failures{0};
std::atomic<uint64_t> g_bytes{0};
std::atomic<uint64_t> g_calls{0};
// Call numbers (counted by g_calls) at which injected failures start; 0 = none armed.
std::atomic<uint64_t> g_failOnce{0};
std::atomic<uint64_t> g_failFrom{0};

bool InjectedFailureDue(uint64_t call) {
  const uint64_t once = g_failOnce.load(std::memory_order_relaxed);
  if (once != 0 && call == once) {
    g_failOnce.store(0, std::memory_order_relaxed);
    return true;
  }
  const uint64_t from = g_failFrom.load(std::memory_order_relaxed);
  return from != 0 && call >= from;
}

}  // namespace

void* Allocate(std::size_t size) noexcept {
  const uint64_t call = g_calls.fetch_add(1, std::memory_order_relaxed) + 1;
  void* block = InjectedFailureDue(call) ? nullptr : std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    g_failures.fetch_add(1, std::memory_order_relaxed);
    return nullptr;
  }
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  g_bytes.fetch_add(size, std::memory_order_relaxed);
  return block;
}

void Free(void* block) noexcept {
  if (block == nullptr) return;
  g_frees.fetch_add(1, std::memory_order_relaxed);
  std::free(block);
}

AllocationStats GetAllocationStats() noexcept {
  AllocationStats stats;
  stats.allocations = g_allocations.load(std::memory_order_relaxed);
  stats.frees = g_frees.load(std::memory_order_relaxed);
  stats.failures = g_failures.load(std::memory_order_relaxed);
  stats.bytes = g_bytes.load(std::memory_order_relaxed);
  return stats;
}

void FailNthAllocation(uint64_t nth) noexcept {
  g_failOnce.store(nth == 0 ? 0 : g_calls.load(std::memory_order_relaxed) + nth,
                   std::memory_order_relaxed);
}

void FailAllocationsFrom(uint64_t nth) noexcept {
  g_failFrom.store(nth == 0 ? 0 : g_calls.load(std::memory_order_relaxed) + nth,
                   std::memory_order_relaxed);
}

void* SeamAllocated::operator new(std::size_t size) {
  if (void* block = Allocate(size)) return block;
  throw std::bad_alloc();
}

void* SeamAllocated::operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}

void SeamAllocated::operator delete(void* block) noexcept { Free(block); }

void SeamAllocated::operator delete(void* block, const std::nothrow_t&) noexcept { Free(block); }

// --- Debug allocator -------------------------------------------------------------------------

namespace {

// Every debug block starts with this header; the caller's bytes follow it.
struct alignas(16) DebugHeader {
  uint32_t magic;
  uint32_t size;
  uint32_t tagIndex;
  int32_t line;
};
static_assert(sizeof(DebugHeader) == 16);

constexpr uint32_t kLiveMagic = 0x5A454C42;  // "ZELB"
constexpr uint32_t kDeadMagic = 0x44454144;  // "DEAD"

struct TagCount {
  std::string tag;
  uint64_t outstanding = 0;
};

// Tags are few (one per source), so a list searched by text is enough.
struct TagTable {
  std::mutex mutex;
  std::vector<TagCount> tags;

  uint32_t indexOf(const char* tag) {
    const char* text = tag != nullptr ? tag : "";
    for (uint32_t i = 0; i < tags.size(); ++i) {
      if (tags[i].tag == text) return i;
    }
    tags.push_back(TagCount{text, 0});
    return static_cast<uint32_t>(tags.size() - 1);
  }
};

TagTable& Tags() {
  static TagTable* table = new TagTable;  // lives to the end of the process, past static dtors
  return *table;
}

[[noreturn]] void BadRelease(const void* block, const char* tag, int line, const char* why) {
  std::fprintf(stderr, "ZEL_BUF_Free_Debug(%p) from %s:%d: %s\n", block, tag ? tag : "?", line,
               why);
  std::abort();
}

}  // namespace

uint64_t OutstandingDebugBlocks(const std::string& tag) {
  TagTable& table = Tags();
  std::lock_guard<std::mutex> lock(table.mutex);
  for (const TagCount& entry : table.tags) {
    if (entry.tag == tag) return entry.outstanding;
  }
  return 0;
}

uint64_t OutstandingDebugBlocks() {
  TagTable& table = Tags();
  std::lock_guard<std::mutex> lock(table.mutex);
  uint64_t total = 0;
  for (const TagCount& entry : table.tags) total += entry.outstanding;
  return total;
}

}  // namespace zel::rt

int32_t ZEL_BUF_Allocate_Debug(uint32_t size, void** out, const char* tag, int line) {
  using zel::rt::DebugHeader;
  if (out == nullptr) return zel::rt::kInvalidArgument;
  *out = nullptr;
  void* raw = zel::rt::Allocate(sizeof(DebugHeader) + static_cast<std::size_t>(size));
  if (raw == nullptr) return zel::rt::kNoMemory;
  auto* header = static_cast<DebugHeader*>(raw);
  header->magic = zel::rt::kLiveMagic;
  header->size = size;
  header->line = line;
  {
    zel::rt::TagTable& table = zel::rt::Tags();
    std::lock_guard<std::mutex> lock(table.mutex);
    header->tagIndex = table.indexOf(tag);
    ++table.tags[header->tagIndex].outstanding;
  }
  *out = header + 1;
  return zel::rt::kOk;
}

void ZEL_BUF_Free_Debug(void* block, const char* tag, int line) {
  using zel::rt::DebugHeader;
  if (block == nullptr) return;
  auto* header = static_cast<DebugHeader*>(block) - 1;
  // Best effort: a block released twice usually still carries the mark set below.
  if (header->magic == zel::rt::kDeadMagic) {
    zel::rt::BadRelease(block, tag, line, "block released twice");
  }
  if (header->magic != zel::rt::kLiveMagic) {
    zel::rt::BadRelease(block, tag, line, "not a block of ZEL_BUF_Allocate_Debug");
  }
  {
    zel::rt::TagTable& table = zel::rt::Tags();
    std::lock_guard<std::mutex> lock(table.mutex);
    --table.tags[header->tagIndex].outstanding;
  }
  header->magic = zel::rt::kDeadMagic;
  zel::rt::Free(header);
}
