// The value types: the checksum beside its byte-at-a-time form, a node's wire round trip, and
// growing a folder set one folder at a time.
#include <benchmark/benchmark.h>

#include <vector>

#include "admintool/types/crc16_tables.h"
#include "heap_counter.h"
#include "zel/admintool/admin_records.h"
#include "zel/admintool/zel_admintoolobject.h"
#include "zel/admintool/zel_crc16.h"
#include "zel/runtime/alloc.h"

namespace {

std::vector<uint8_t> IconBits() {
  std::vector<uint8_t> bits(640);
  for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<uint8_t>(i * 131 + 7);
  return bits;
}

void BM_Crc16_640(benchmark::State& state) {
  const std::vector<uint8_t> bits = IconBits();
  uint16_t crc = 0;
  for (auto _ : state) {
    ZEL_CRC16(bits.data(), 640, &crc);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 640);
}
BENCHMARK(BM_Crc16_640);

// The baseline: the same checksum one table step per byte.
void BM_Crc16_640_BytewiseBaseline(benchmark::State& state) {
  const std::vector<uint8_t> bits = IconBits();
  for (auto _ : state) {
    benchmark::DoNotOptimize(zel::crc16::ChecksumBytewise(bits.data(), 640));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 640);
}
BENCHMARK(BM_Crc16_640_BytewiseBaseline);

void BM_NodeWriteRead16Uids(benchmark::State& state) {
  ZEL_AdminToolObject node(u"ServerNeighborhoods/North/AdminTool/Objects", u"Printers");
  node.setUID(1);
  for (uint64_t uid = 2; uid <= 16; ++uid) node.addUIDs(&uid, 1);
  const uint64_t heap = zel::bench::HeapAllocations();
  const uint64_t seam = zel::rt::GetAllocationStats().allocations;
  for (auto _ : state) {
    ZEL_BUF_EventBuffer event(81, ZELVersion(1, 0), static_cast<uint32_t>(node.objectSize()));
    node.write(event);
    ZEL_AdminToolObject back(u"ServerNeighborhoods/North/AdminTool/Objects", nullptr);
    ZEL_BUF_BufferReader reader(&event, 0);
    back.read(reader);
    benchmark::DoNotOptimize(back.getUID());
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["seam_allocs_per_op"] =
      static_cast<double>(zel::rt::GetAllocationStats().allocations - seam) / n;
  state.counters["heap_allocs_per_op"] =
      static_cast<double>(zel::bench::HeapAllocations() - heap) / n;
}
BENCHMARK(BM_NodeWriteRead16Uids);

// The set grows by one record per new folder, as its rule says: the cost is quadratic in the
// number of folders (records are moved, not copied).
void BM_AllowedFoldersAdd1000(benchmark::State& state) {
  for (auto _ : state) {
    AllowedFolders set;
    for (uint64_t folder = 1; folder <= 1000; ++folder) set += folder;
    benchmark::DoNotOptimize(set.folderCount);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 1000);
}
BENCHMARK(BM_AllowedFoldersAdd1000);

}  // namespace

BENCHMARK_MAIN();
