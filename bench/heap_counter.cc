#include "heap_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

// The replacement pairs malloc with free on purpose; GCC cannot see that through the pair.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
std::atomic<uint64_t> g_news{0};
}  // namespace

void* operator new(std::size_t size) {
  g_news.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace zel::bench {

uint64_t HeapAllocations() { return g_news.load(std::memory_order_relaxed); }

}  // namespace zel::bench
