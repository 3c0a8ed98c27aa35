// Writing and reading back a representative event: a string, a few scalars and a 64-entry
// uint32 raw block. Reports ns per event and heap allocations per event.
#include <benchmark/benchmark.h>

#include "heap_counter.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "zel/runtime/alloc.h"
#include "zel/runtime/pif.h"
#include "zel/runtime/reader.h"

namespace {

const ZELString kName(u"ServerNeighborhoods/North/AdminTool");
uint32_t g_block[64];

uint32_t PayloadSize() { return 4 + kName.getLength() + 2 + 4 + 8 + 4 + sizeof g_block; }

void WriteAndRead(benchmark::State& state, bool exactHint) {
  for (uint32_t i = 0; i < 64; ++i) g_block[i] = i * 2654435761u;
  const uint32_t hint = exactHint ? PayloadSize() : 0;
  const zel::rt::AllocationStats before = zel::rt::GetAllocationStats();
  const uint64_t newsBefore = zel::bench::HeapAllocations();
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
  // Each event takes two blocks through the seam: the event object and its storage.
  const double seam =
      static_cast<double>(zel::rt::GetAllocationStats().allocations - before.allocations) / events;
  state.counters["seam_allocs_per_event"] = seam;
  state.counters["buffer_allocs_per_event"] = seam - 1;
  state.counters["new_calls_per_event"] =
      static_cast<double>(zel::bench::HeapAllocations() - newsBefore) / events;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * PayloadSize());
}

// The baseline: the same bytes copied into a buffer and out again.
void BM_EventWriteRead_MemcpyBaseline(benchmark::State& state) {
  std::vector<uint8_t> source(PayloadSize(), 7), target(PayloadSize());
  for (auto _ : state) {
    std::vector<uint8_t> buffer(source.size());
    std::memcpy(buffer.data(), source.data(), source.size());
    std::memcpy(target.data(), buffer.data(), buffer.size());
    benchmark::DoNotOptimize(target.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * PayloadSize());
}
BENCHMARK(BM_EventWriteRead_MemcpyBaseline);

void BM_EventWriteRead_ExactHint(benchmark::State& state) { WriteAndRead(state, true); }
void BM_EventWriteRead_NoHint(benchmark::State& state) { WriteAndRead(state, false); }
BENCHMARK(BM_EventWriteRead_ExactHint);
BENCHMARK(BM_EventWriteRead_NoHint);

}  // namespace

BENCHMARK_MAIN();
