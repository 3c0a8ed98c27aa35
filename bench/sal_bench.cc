// The trace site off and on, and one Logon2 round trip on the in-process farm.
#include <benchmark/benchmark.h>

#include "bench_hosts.h"
#include "heap_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "admintool/trace/trace.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/runtime/alloc.h"
#include "zel/runtime/farm.h"
#include "zel/runtime/reader.h"
#include "zel/tracedev/testing/capture_device.h"

namespace {

zel::trace::testing::CaptureDevice g_capture;

void SetCounters(benchmark::State& state, uint64_t news, uint64_t seam) {
  const double n = static_cast<double>(state.iterations());
  state.counters["heap_allocs_per_call"] =
      static_cast<double>(zel::bench::HeapAllocations() - news) / n;
  state.counters["seam_allocs_per_call"] =
      static_cast<double>(zel::rt::GetAllocationStats().allocations - seam) / n;
}

void BM_TraceSiteDisabled(benchmark::State& state) {
  g_capture.control.logger = 0;
  uint32_t value = 0;
  for (auto _ : state) {
    ZEL_TRACE(kInfo, kLogon2WriteFailed, TraceUInt32, ++value);
    benchmark::ClobberMemory();
  }
  if (g_capture.sends != 0) state.SkipWithError("a disabled site sent a record");
}
BENCHMARK(BM_TraceSiteDisabled);

// The baseline of a disabled site: one call through a virtual function.
struct Callee {
  virtual ~Callee() = default;
  virtual void Call(uint32_t value) = 0;
};
struct Counter final : Callee {
  uint32_t total = 0;
  void Call(uint32_t value) override { total += value; }
};

void BM_TraceSite_VirtualCallBaseline(benchmark::State& state) {
  Counter counter;
  Callee* callee = &counter;
  benchmark::DoNotOptimize(callee);
  uint32_t value = 0;
  for (auto _ : state) {
    callee->Call(++value);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_TraceSite_VirtualCallBaseline);

void BM_TraceSiteEnabled8Args(benchmark::State& state) {
  g_capture.EnableAll();
  g_capture.retain = false;
  const uint64_t news = zel::bench::HeapAllocations();
  const uint64_t seam = zel::rt::GetAllocationStats().allocations;
  const uint32_t v[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (auto _ : state) {
    if (const uint64_t logger = zel::trace::ActiveLogger(zel::trace::kInfo)) {
      zel::trace::Emit(static_cast<uint32_t>(logger), static_cast<uint32_t>(logger >> 32),
                       zel::trace::kMessageFlags, &zel::trace::GuidOf(zel::trace::Module::kSal), 10,
                       &v[0], 4u, &v[1], 4u, &v[2], 4u, &v[3], 4u, &v[4], 4u, &v[5], 4u, &v[6], 4u,
                       &v[7], 4u, nullptr);
    }
  }
  SetCounters(state, news, seam);
  g_capture.control.logger = 0;
}
BENCHMARK(BM_TraceSiteEnabled8Args);

// An AdminTool subsystem that answers every logon with 16 values and 16 UIDs.
int32_t AnswerLogon(const ZEL_BUF_EventBuffer& request, ZEL_BUF_EventBuffer** reply) {
  static const uint32_t values[16] = {};
  static const uint64_t uids[16] = {};
  if (request.CreateReplyEvent(reply, 65, ZELVersion(1, 0), 22, 4 + 16 + 4 + 4 + 64 + 4 + 128) <
      0) {
    return -1;
  }
  **reply << int32_t{0} << ZELString(u"admin") << uint32_t{1} << uint32_t{16};
  if ((*reply)->AppendData(values, sizeof values) < 0) return -1;
  **reply << uint32_t{16};
  return (*reply)->AppendData(uids, sizeof uids) < 0 ? -1 : 0;
}

void BM_Logon2RoundTrip16(benchmark::State& state) {
  zel::rt::InProcessFarm farm;
  zel::rt::FarmSubsystem& console = farm.AddSubsystem(5);
  farm.AddSubsystem(22).SetRequestHandler(AnswerLogon);
  ZEL_AdminToolSAL3 sal(console);
  ZELString name(u"admin");
  uint8_t credentials[32] = {};
  const uint64_t news = zel::bench::HeapAllocations();
  const uint64_t seam = zel::rt::GetAllocationStats().allocations;
  for (auto _ : state) {
    uint32_t status, value, valueCount, uidCount;
    uint32_t* values;
    uint64_t* uids;
    ZELString resolved;
    const int32_t result = sal.Logon2(name, sizeof credentials, credentials, status, resolved,
                                      value, &valueCount, &values, &uidCount, &uids, 0);
    if (result != 0 || uidCount != 16) state.SkipWithError("logon failed");
    zel::rt::Free(values);
    zel::rt::Free(uids);
  }
  SetCounters(state, news, seam);
}
BENCHMARK(BM_Logon2RoundTrip16);

void ReportEvents(benchmark::State& state, uint64_t events, uint64_t bytes, uint64_t heap,
                  uint64_t seam) {
  state.counters["events_per_s"] =
      benchmark::Counter(static_cast<double>(events), benchmark::Counter::kIsRate);
  state.counters["bytes_per_s"] =
      benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kIsRate);
  state.counters["heap_allocs_per_event"] =
      static_cast<double>(zel::bench::HeapAllocations() - heap) / static_cast<double>(events);
  state.counters["seam_allocs_per_event"] =
      static_cast<double>(zel::rt::GetAllocationStats().allocations - seam) /
      static_cast<double>(events);
}

void BM_MoveNodes100(benchmark::State& state) {
  zel::bench::SinkHost host;
  ZelPluginApis.Offer(kZelEventDispatcherInterface, static_cast<ZEL_PIF_EventDispatcher*>(&host));
  ZEL_AdminToolSAL sal(host);
  std::vector<ZEL_AdminToolObject> nodes;
  nodes.reserve(100);
  for (int i = 0; i < 100; ++i) {
    nodes.emplace_back(u"ServerNeighborhoods/North/AdminTool/Objects/Servers", u"server-node");
    nodes.back().setUID(static_cast<uint64_t>(i + 1));
  }
  ZELString from(u"ServerNeighborhoods/North/AdminTool/Objects/Servers");
  ZELString to(u"ServerNeighborhoods/North/AdminTool/Objects/Archive");
  const uint64_t heap = zel::bench::HeapAllocations();
  const uint64_t seam = zel::rt::GetAllocationStats().allocations;
  for (auto _ : state) {
    if (sal.MoveNodes(from, to, 100, nodes.data()) != 0) state.SkipWithError("MoveNodes failed");
  }
  ReportEvents(state, 2 * state.iterations(), host.bytes, heap, seam);
  ZelPluginApis.Withdraw(kZelEventDispatcherInterface);
}
BENCHMARK(BM_MoveNodes100);

void BM_GroupReply1000Children(benchmark::State& state) {
  zel::bench::SinkHost host;
  ZEL_AdminToolSAL sal(host);
  ZEL_AdminToolObject group(u"ServerNeighborhoods/North/AdminTool/Objects", u"Servers");
  for (int i = 0; i < 1000; ++i) {
    auto* child = new ZEL_AdminToolObject(&group, nullptr);
    child->setName((u"server-" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                    std::u16string(1, static_cast<char16_t>(u'A' + i / 26)))
                       .c_str());
    child->setUID(static_cast<uint64_t>(i + 1));
  }
  ZEL_BUF_EventBuffer request(82, ZELVersion(1, 0), 0);
  const uint64_t heap = zel::bench::HeapAllocations();
  const uint64_t seam = zel::rt::GetAllocationStats().allocations;
  for (auto _ : state) {
    if (sal.WriteGroupToEventBuffer(&request, 0, &group, 0) != 0) state.SkipWithError("failed");
  }
  ReportEvents(state, state.iterations(), host.bytes, heap, seam);
  group.deleteChildren();
}
BENCHMARK(BM_GroupReply1000Children);

// An AdminTool subsystem that answers every request with the same reply bytes.
void ServeReply(zel::rt::InProcessFarm& farm, const std::vector<uint8_t>& reply) {
  farm.AddSubsystem(22).SetRequestHandler(
      [&reply](const ZEL_BUF_EventBuffer& request, ZEL_BUF_EventBuffer** out) {
        if (request.CreateReplyEvent(out, request.GetEventID(), ZELVersion(1, 0), 22, 0) < 0) {
          return -1;
        }
        (*out)->SetMaxSize(64u << 20);
        return (*out)->AppendData(reply.data(), static_cast<uint32_t>(reply.size())) < 0 ? -1 : 0;
      });
}

const uint32_t kEightValues[8] = {1, 2, 3, 4, 5, 6, 7, 8};

// An account record with 8 privileges, as both generations of enumeration carry it.
void WriteBenchAccount(ZEL_BUF_BinBuffer& out, uint32_t i) {
  out << ZELString(u"administrator-name") << ZELString(u"NT") << i << i << uint32_t{8};
  out.AppendBytes(kEightValues, sizeof kEightValues);
}

// An EnumerateKeldraAdmins reply of `admins` administrators with 8 privileges each.
std::vector<uint8_t> AdminsReply(uint32_t admins) {
  ZEL_BUF_BinBuffer out;
  out.SetMaxSize(64u << 20);
  out << int32_t{0} << admins;
  for (uint32_t i = 0; i < admins; ++i) WriteBenchAccount(out, i);
  return std::vector<uint8_t>(out.GetData(), out.GetData() + out.GetSize());
}

void BM_GetPrivilege2RoundTrip16(benchmark::State& state) {
  static const std::vector<uint8_t> reply = [] {
    ZEL_BUF_BinBuffer out;
    const uint32_t privileges[16] = {};
    out << int32_t{0} << uint32_t{1} << uint32_t{2} << uint32_t{16};
    out.AppendBytes(privileges, sizeof privileges);
    return std::vector<uint8_t>(out.GetData(), out.GetData() + out.GetSize());
  }();
  zel::rt::InProcessFarm farm;
  zel::rt::FarmSubsystem& console = farm.AddSubsystem(5);
  ServeReply(farm, reply);
  ZEL_AdminToolSAL3 sal(console);
  const uint64_t heap = zel::bench::HeapAllocations();
  const uint64_t seam = zel::rt::GetAllocationStats().allocations;
  for (auto _ : state) {
    uint32_t a, b, count;
    uint32_t* privileges = nullptr;
    if (sal.GetPrivilege2(7, a, b, count, &privileges) != 0 || count != 16) {
      state.SkipWithError("GetPrivilege2 failed");
    }
    sal.FreeMemory(privileges, ZEL_AdminToolSAL3::kFreePlainArray);
  }
  SetCounters(state, heap, seam);
}
BENCHMARK(BM_GetPrivilege2RoundTrip16);

// The account fields both plain baselines decode alike: names, attributes, privileges.
template <typename Plain>
uint32_t ReadPlainAccount(ZEL_BUF_BufferReader& reader, ZELString& text, Plain& admin) {
  reader >> text;
  admin.name = text.view();
  reader >> text;
  admin.authority = text.view();
  uint32_t n;
  reader >> admin.attribute1 >> admin.attribute2 >> n;
  admin.privileges.resize(n);
  reader.ReadData(admin.privileges.data(), 4 * n);
  return n;
}

// Records per second and allocations per record for a run that decodes 10,000 per iteration.
void ReportRecords(benchmark::State& state, uint64_t heap, uint64_t seam) {
  const double records = 10000.0 * static_cast<double>(state.iterations());
  state.counters["records_per_s"] = benchmark::Counter(records, benchmark::Counter::kIsRate);
  state.counters["heap_allocs_per_record"] =
      static_cast<double>(zel::bench::HeapAllocations() - heap) / records;
  if (seam != UINT64_MAX) {
    state.counters["seam_allocs_per_record"] =
        static_cast<double>(zel::rt::GetAllocationStats().allocations - seam) / records;
  }
}

// The same bytes decoded into std::vector: the baseline of the record decoders.
void BM_EnumerateKeldraAdmins_PlainVectorBaseline(benchmark::State& state) {
  static const std::vector<uint8_t> reply = AdminsReply(10000);
  const uint64_t heap = zel::bench::HeapAllocations();
  for (auto _ : state) {
    ZEL_BUF_BufferReader reader(reply.data(), static_cast<uint32_t>(reply.size()));
    int32_t result;
    uint32_t count;
    reader >> result >> count;
    struct Plain {
      std::u16string name, authority;
      uint32_t attribute1, attribute2;
      std::vector<uint32_t> privileges;
    };
    std::vector<Plain> admins(count);
    ZELString text;
    for (Plain& admin : admins) {
      ReadPlainAccount(reader, text, admin);
    }
    benchmark::DoNotOptimize(admins.data());
  }
  ReportRecords(state, heap, UINT64_MAX);
}
BENCHMARK(BM_EnumerateKeldraAdmins_PlainVectorBaseline)->Unit(benchmark::kMillisecond);

void BM_EnumerateKeldraAdmins10000(benchmark::State& state) {
  static const std::vector<uint8_t> reply = AdminsReply(10000);
  zel::rt::InProcessFarm farm;
  zel::rt::FarmSubsystem& console = farm.AddSubsystem(5);
  ServeReply(farm, reply);
  ZEL_AdminToolSAL3 sal(console);
  const uint64_t heap = zel::bench::HeapAllocations();
  const uint64_t seam = zel::rt::GetAllocationStats().allocations;
  for (auto _ : state) {
    uint32_t count = 0;
    ZEL_ADMIN_USERINFO* records = nullptr;
    if (sal.EnumerateKeldraAdmins(count, &records, 0, 0) != 0 || count != 10000) {
      state.SkipWithError("enumeration failed");
    }
    sal.FreeMemory(records, ZEL_AdminToolSAL3::kFreeUserInfoArray);
  }
  ReportRecords(state, heap, seam);
}
BENCHMARK(BM_EnumerateKeldraAdmins10000)->Unit(benchmark::kMillisecond);

// An EnumerateKeldraAdmins2 reply: 10,000 administrators, each with 8 privileges, 4 folders of
// 4 tasks and three contact strings.
std::vector<uint8_t> Admins2Reply(uint32_t admins) {
  ZEL_BUF_BinBuffer out;
  out.SetMaxSize(64u << 20);
  out << int32_t{0} << admins;
  for (uint32_t i = 0; i < admins; ++i) {
    WriteBenchAccount(out, i);
    out << uint64_t{i} << uint32_t{4};
    for (uint64_t folder = 1; folder <= 4; ++folder) {
      out << folder << uint32_t{4};
      out.AppendBytes(kEightValues, 16);
    }
    out << ZELString(u"mail@example") << ZELString(u"555-0100") << ZELString(u"room 1");
  }
  return std::vector<uint8_t>(out.GetData(), out.GetData() + out.GetSize());
}

void BM_EnumerateKeldraAdmins2_10000(benchmark::State& state) {
  static const std::vector<uint8_t> reply = Admins2Reply(10000);
  zel::rt::InProcessFarm farm;
  zel::rt::FarmSubsystem& console = farm.AddSubsystem(5);
  console.SetHasPluginApis(false);
  ServeReply(farm, reply);
  ZEL_AdminToolSAL5 sal(console);
  const uint64_t heap = zel::bench::HeapAllocations();
  const uint64_t seam = zel::rt::GetAllocationStats().allocations;
  for (auto _ : state) {
    uint32_t count = 0;
    ZEL_ADMIN_USERINFO2* users = nullptr;
    ZEL_ADMIN_CONTACTINFO* contacts = nullptr;
    if (sal.EnumerateKeldraAdmins2(count, &users, contacts, 0, 0) != 0 || count != 10000) {
      state.SkipWithError("enumeration failed");
    }
    sal.FreeKeldraAdminInfo(&users, contacts);
  }
  ReportRecords(state, heap, seam);
}
BENCHMARK(BM_EnumerateKeldraAdmins2_10000)->Unit(benchmark::kMillisecond);

// The baseline: the same bytes decoded into plain std::vectors and std::u16strings.
struct PlainAdmin {
  std::u16string name, authority;
  uint32_t attribute1, attribute2;
  std::vector<uint32_t> privileges;
  uint64_t uid;
  std::vector<std::pair<uint64_t, std::vector<uint32_t>>> folders;
  std::u16string contact1, contact2, contact3;
};

void BM_EnumerateKeldraAdmins2_PlainVectorBaseline(benchmark::State& state) {
  static const std::vector<uint8_t> reply = Admins2Reply(10000);
  const uint64_t heap = zel::bench::HeapAllocations();
  for (auto _ : state) {
    ZEL_BUF_BufferReader reader(reply.data(), static_cast<uint32_t>(reply.size()));
    int32_t result;
    uint32_t count;
    reader >> result >> count;
    std::vector<PlainAdmin> admins(count);
    ZELString text;
    for (PlainAdmin& admin : admins) {
      uint32_t n = ReadPlainAccount(reader, text, admin);
      reader >> admin.uid >> n;
      admin.folders.resize(n);
      for (auto& [folder, tasks] : admin.folders) {
        uint32_t t;
        reader >> folder >> t;
        tasks.resize(t);
        reader.ReadData(tasks.data(), 4 * t);
      }
      reader >> text;
      admin.contact1 = text.view();
      reader >> text;
      admin.contact2 = text.view();
      reader >> text;
      admin.contact3 = text.view();
    }
    benchmark::DoNotOptimize(admins.data());
  }
  ReportRecords(state, heap, UINT64_MAX);
}
BENCHMARK(BM_EnumerateKeldraAdmins2_PlainVectorBaseline)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  zel::trace::InstallTraceDevice(&g_capture);
  zel::trace::OpenOnce();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
