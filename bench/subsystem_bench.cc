// The AdminTool subsystem through the library in an in-process farm (console SAL object,
// subsystem, SQLite store), beside raw SQLite doing the same work on the same store in the same
// run.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/directory/testing/temp_store.h"
#include "zel/protocol/events.h"
#include "zel/runtime/farm.h"
#include "zel/subsystem/admintool.h"

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A farm on a fresh store: the subsystem at 22, the owner's console at 5 and an administrator's
// console at 6 ("unix:bench", who may manage administrators).
struct Farm {
  zel::dir::testing::TempStore store;
  zel::rt::InProcessFarm farm;
  zel::rt::FarmSubsystem& host = farm.AddSubsystem(zel::protocol::kAdminToolSubsystemUID);
  std::unique_ptr<zel::subsystem::AdminToolSubsystem> subsystem;
  std::unique_ptr<ZEL_AdminToolSAL6> owner, admin;

  Farm() {
    host.Plugins().Offer(kZelDirectoryStoreInterface, &store);
    zel::subsystem::Options options;
    options.pwhashLimits = zel::subsystem::PwhashLimits::kMin;
    subsystem = std::make_unique<zel::subsystem::AdminToolSubsystem>(host, options);
    subsystem->Attach(host);
    zel::rt::FarmSubsystem& ownerHost = farm.AddSubsystem(5);
    ownerHost.SetPeer("unix:root", true);
    owner = std::make_unique<ZEL_AdminToolSAL6>(ownerHost);
    zel::rt::FarmSubsystem& adminHost = farm.AddSubsystem(6);
    adminHost.SetPeer("unix:bench", false);
    admin = std::make_unique<ZEL_AdminToolSAL6>(adminHost);
    std::vector<ZEL_ADMIN_USERINFO> bench(1);
    Fill(bench[0], "bench", 16);
    AllowedFolders none;
    ZEL_ADMIN_CONTACTINFO contact[1];
    owner->AddUsers3(1, bench.data(), &none, contact);
  }
  ~Farm() {
    admin.reset();
    owner.reset();
    subsystem.reset();
  }

  static void Fill(ZEL_ADMIN_USERINFO& record, const std::string& name, uint32_t privileges) {
    record.accountName = ZELString::FromUtf8(name);
    record.accountAuthority = ZELString(u"unix");
    std::vector<uint32_t> values(privileges);
    for (uint32_t i = 0; i < privileges; ++i) values[i] = i + 1;
    record.ReplacePrivs(privileges, values.data());
  }

  // Adds `count` administrators "user-N" through AddUsers3, `batch` per request.
  int32_t AddUsers(int first, int count, int batch) {
    for (int at = first; at < first + count; at += batch) {
      const int n = std::min(batch, first + count - at);
      std::vector<ZEL_ADMIN_USERINFO> users(static_cast<size_t>(n));
      std::vector<ZEL_ADMIN_CONTACTINFO> contacts(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) {
        Fill(users[static_cast<size_t>(i)], "user-" + std::to_string(at + i), 4);
        contacts[static_cast<size_t>(i)].contact1 = ZELString(u"someone@example.org");
      }
      AllowedFolders folders;
      if (const int32_t r =
              admin->AddUsers3(static_cast<uint32_t>(n), users.data(), &folders, contacts.data())) {
        return r;
      }
    }
    return 0;
  }

  uint64_t UIDOf(const char16_t* name) {
    uint64_t uid = 0;
    owner->GetAdminUIDByName(name, u"unix", uid);
    return uid;
  }
};

// A plain connection to the farm's store, for the baselines.
struct Raw {
  sqlite3* db = nullptr;
  explicit Raw(const std::string& path) {
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr,
                 nullptr);
  }
  ~Raw() { sqlite3_close(db); }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    return stmt;
  }
  int64_t Context() {
    sqlite3_stmt* s = Prepare("SELECT id FROM contexts WHERE name = 'ZelAdministratorContext'");
    sqlite3_step(s);
    const int64_t id = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    return id;
  }
};

void BM_SubsystemGetPrivilege2(benchmark::State& state) {
  Farm farm;
  const uint64_t uid = farm.UIDOf(u"bench");
  AdminToolInterface2& sal = *farm.admin;
  for (auto _ : state) {
    uint32_t a1 = 0, a2 = 0, count = 0;
    uint32_t* privileges = nullptr;
    if (sal.GetPrivilege2(uid, a1, a2, count, &privileges) != 0 || count != 16) {
      state.SkipWithError("GetPrivilege2 failed");
    }
    farm.admin->FreeMemory(privileges, ZEL_AdminToolSAL3::kFreePlainArray);
  }
}
BENCHMARK(BM_SubsystemGetPrivilege2)->Unit(benchmark::kMicrosecond);

// The baseline: one indexed point lookup of the same stored privileges, copied out.
void BM_GetPrivilege2_RawPointLookupBaseline(benchmark::State& state) {
  Farm farm;
  const int64_t id = static_cast<int64_t>(farm.UIDOf(u"bench") & 0xFFFFFFFF);
  Raw raw(farm.store.StorePath());
  sqlite3_stmt* lookup = raw.Prepare(
      "SELECT data FROM attribute_values WHERE entry = ?1 AND attribute = 'privileges'");
  for (auto _ : state) {
    sqlite3_bind_int64(lookup, 1, id);
    std::vector<uint32_t> privileges;
    if (sqlite3_step(lookup) == SQLITE_ROW) {
      const auto* data = static_cast<const uint32_t*>(sqlite3_column_blob(lookup, 0));
      privileges.assign(data, data + sqlite3_column_bytes(lookup, 0) / 4);
    }
    sqlite3_reset(lookup);
    if (privileges.size() != 16) state.SkipWithError("lookup failed");
    benchmark::DoNotOptimize(privileges.data());
  }
  sqlite3_finalize(lookup);
}
BENCHMARK(BM_GetPrivilege2_RawPointLookupBaseline)->Unit(benchmark::kMicrosecond);

void BM_SubsystemAddUsers3(benchmark::State& state) {
  const int users = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Farm farm;
    const Clock::time_point start = Clock::now();
    if (farm.AddUsers(0, users, users) != 0) state.SkipWithError("AddUsers3 failed");
    state.SetIterationTime(Seconds(start));
  }
  state.SetItemsProcessed(state.iterations() * users);
}
BENCHMARK(BM_SubsystemAddUsers3)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);

// The baseline: the same rows (an entry and its eleven values) inserted with prepared
// statements in one transaction.
void BM_AddUsers3_RawInsertsBaseline(benchmark::State& state) {
  const int users = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Farm farm;
    Raw raw(farm.store.StorePath());
    const int64_t context = raw.Context();
    sqlite3_stmt* entry = raw.Prepare(
        "INSERT INTO entries(context, dn, parent, class) VALUES (?1, ?2, '', 'zelAdministrator')");
    sqlite3_stmt* value = raw.Prepare(
        "INSERT INTO attribute_values(entry, attribute, position, type_name, type_code, data, "
        "text) VALUES (?1, ?2, 0, ?3, 7, ?4, ?5)");
    const char* attributes[] = {"authority",  "accountName", "displayName", "attribute1",
                                "attribute2", "privileges",  "folders",     "contact1",
                                "contact2",   "contact3",    "credential"};
    const Clock::time_point start = Clock::now();
    sqlite3_exec(raw.db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    for (int i = 0; i < users; ++i) {
      const std::string name = "user-" + std::to_string(i);
      const std::string dn = "acct:unix:" + name;
      sqlite3_bind_int64(entry, 1, context);
      sqlite3_bind_text(entry, 2, dn.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(entry);
      sqlite3_reset(entry);
      const sqlite3_int64 id = sqlite3_last_insert_rowid(raw.db);
      for (const char* attribute : attributes) {
        sqlite3_bind_int64(value, 1, id);
        sqlite3_bind_text(value, 2, attribute, -1, SQLITE_STATIC);
        sqlite3_bind_text(value, 3, "css", -1, SQLITE_STATIC);
        sqlite3_bind_blob(value, 4, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
        sqlite3_bind_text(value, 5, name.c_str(), -1, SQLITE_STATIC);
        sqlite3_step(value);
        sqlite3_reset(value);
      }
    }
    sqlite3_exec(raw.db, "COMMIT", nullptr, nullptr, nullptr);
    state.SetIterationTime(Seconds(start));
    sqlite3_finalize(entry);
    sqlite3_finalize(value);
  }
  state.SetItemsProcessed(state.iterations() * users);
}
BENCHMARK(BM_AddUsers3_RawInsertsBaseline)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);

// A farm of `count` administrators, made once for both sides.
Farm& Populated(int count) {
  static std::unique_ptr<Farm> farm;
  static int made = 0;
  if (made != count) {
    farm = std::make_unique<Farm>();
    farm->AddUsers(0, count - 1, 1000);  // beside the farm's first, "bench"
    made = count;
  }
  return *farm;
}

void BM_SubsystemEnumerateKeldraAdmins2(benchmark::State& state) {
  Farm& farm = Populated(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    uint32_t count = 0;
    ZEL_ADMIN_USERINFO2* records = nullptr;
    ZEL_ADMIN_CONTACTINFO* contacts = nullptr;
    if (farm.admin->EnumerateKeldraAdmins2(count, &records, contacts, 0, 0) != 0) {
      state.SkipWithError("EnumerateKeldraAdmins2 failed");
    }
    farm.admin->FreeKeldraAdminInfo(&records, contacts);
  }
}
BENCHMARK(BM_SubsystemEnumerateKeldraAdmins2)->Arg(10000)->Unit(benchmark::kMillisecond);

// The baseline: one ordered scan of the same entries and values, copied into plain vectors.
void BM_EnumerateKeldraAdmins2_RawScanBaseline(benchmark::State& state) {
  Farm& farm = Populated(static_cast<int>(state.range(0)));
  Raw raw(farm.store.StorePath());
  const int64_t context = raw.Context();
  sqlite3_stmt* scan = raw.Prepare(
      "SELECT e.id, e.dn, v.attribute, v.data FROM entries e LEFT JOIN attribute_values v "
      "ON v.entry = e.id WHERE e.context = ?1 AND e.parent = '' "
      "ORDER BY e.dn, v.attribute, v.position");
  for (auto _ : state) {
    struct Row {
      int64_t id;
      std::string attribute;
      std::vector<uint8_t> data;
    };
    std::vector<Row> rows;
    sqlite3_bind_int64(scan, 1, context);
    while (sqlite3_step(scan) == SQLITE_ROW) {
      const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(scan, 3));
      rows.push_back(Row{sqlite3_column_int64(scan, 0),
                         reinterpret_cast<const char*>(sqlite3_column_text(scan, 2)),
                         std::vector<uint8_t>(data, data + sqlite3_column_bytes(scan, 3))});
    }
    sqlite3_reset(scan);
    benchmark::DoNotOptimize(rows.data());
  }
  sqlite3_finalize(scan);
}
BENCHMARK(BM_EnumerateKeldraAdmins2_RawScanBaseline)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
