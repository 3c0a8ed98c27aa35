// Writing and reading back a representative event: a string, a few scalars and a 64-entry
// uint32 raw block. Reports ns per event and heap allocations per event.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "zel/runtime/alloc.h"
#include "zel/runtime/pif.h"
#include "zel/runtime/reader.h"

// Counts every operator new of the process, to show what an event costs beyond its buffer.
// The replacement pairs malloc with free on purpose; GCC cannot see that through the pair.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
namespace {
std::atomic<uint64_t> g_news{0};
}
void* operator new(std::size_t size) {
  g_news.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

const ZELString kName(u"ServerNeighborhoods/North/AdminTool");
uint32_t g_block[64];

uint32_t PayloadSize() { return 4 + kName.getLength() + 2 + 4 + 8 + 4 + sizeof g_block; }

void WriteAndRead(benchmark::State& state, bool exactHint) {
  for (uint32_t i = 0; i < 64; ++i) g_block[i] = i * 2654435761u;
  const uint32_t hint = exactHint ? PayloadSize() : 0;
  const zel::rt::AllocationStats before = zel::rt::GetAllocationStats();
  const uint64_t newsBefore = g_news.load();
  for (auto _ : state) {
    ZEL_BUF_EventBuffer2* event = CreateSALEvent2(71, ZELVersion(1, 0), hint, 5, 22, 2);
    *event << kName << uint16_t{7} << int32_t{-1} << uint64_t{0x1122334455667788} << uint32_t{64};
    event->AppendData(g_block, sizeof g_block);

    ZEL_BUF_BufferReader reader(event, 1);
    ZELString name;
    uint16_t ssid;
    int32_t result;
    uint64_t uid;
    uint32_t count;
    uint32_t block[64];
    reader >> name >> ssid >> result >> uid >> count;
    reader.ReadData(block, count * 4);
    benchmark::DoNotOptimize(block[63] + uid + name.charCount());
  }
  const double events = static_cast<double>(state.iterations());
  state.counters["buffer_allocs_per_event"] =
      static_cast<double>(zel::rt::GetAllocationStats().allocations - before.allocations) / events;
  state.counters["new_calls_per_event"] = static_cast<double>(g_news.load() - newsBefore) / events;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * PayloadSize());
}

void BM_EventWriteRead_ExactHint(benchmark::State& state) { WriteAndRead(state, true); }
void BM_EventWriteRead_NoHint(benchmark::State& state) { WriteAndRead(state, false); }
BENCHMARK(BM_EventWriteRead_ExactHint);
BENCHMARK(BM_EventWriteRead_NoHint);

}  // namespace

BENCHMARK_MAIN();
