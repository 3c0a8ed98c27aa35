// The directory Parts beside raw SQLite doing the same work in the same run.
#include <benchmark/benchmark.h>

#include <sqlite3.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "bench_hosts.h"
#include "zel/admintool/zel_admintoolsal.h"
#include "zel/directory/testing/temp_store.h"

namespace {

using zel::bench::SinkHost;

// A fresh store and a SAL object on it, with the context state reset.
struct Fixture {
  zel::dir::testing::TempStore store;
  SinkHost host;
  ZEL_AdminToolSAL* sal = nullptr;
  Fixture() {
    host.plugins.Offer(kZelDirectoryStoreInterface, &store);
    ZEL_AdminToolSAL::s_adminToolContext = ZELString();
    ZEL_AdminToolSAL::s_cid = ZEL_AdminToolSAL::s_objCid = 0;
    ZEL_AdminToolSAL::s_iconCid = ZEL_AdminToolSAL::s_pluginCid = 0;
    sal = new ZEL_AdminToolSAL(host);
  }
  ~Fixture() { delete sal; }
};

std::u16string Name(const char* prefix, int i) {
  const std::string text = prefix + std::to_string(i);
  return std::u16string(text.begin(), text.end());
}

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_RegisterObject(benchmark::State& state) {
  const int objects = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Fixture fixture;
    ZEL_AdminToolObject warm(u"Root", u"warm");  // the contexts, as the baseline has them
    fixture.sal->RegisterObject(warm, false);
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < objects; ++i) {
      ZEL_AdminToolObject object(u"Root/Servers", Name("server-", i).c_str());
      object.setUID(static_cast<uint64_t>(i + 1));
      if (fixture.sal->RegisterObject(object, false) != 0) state.SkipWithError("failed");
    }
    state.SetIterationTime(Seconds(start));
  }
  state.SetItemsProcessed(state.iterations() * objects);
}
BENCHMARK(BM_RegisterObject)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

// The baseline: the same rows (an entry and its five values) with prepared statements, one
// transaction per object, on a store with the same schema and settings.
void BM_RegisterObject_RawSQLiteBaseline(benchmark::State& state) {
  const int objects = static_cast<int>(state.range(0));
  for (auto _ : state) {
    Fixture fixture;
    ZEL_AdminToolObject warm(u"Root", u"warm");  // creates the schema and the contexts
    fixture.sal->RegisterObject(warm, false);
    sqlite3* db = nullptr;
    sqlite3_open(fixture.store.StorePath().c_str(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr,
                 nullptr);
    sqlite3_stmt *begin, *commit, *entry, *value;
    sqlite3_prepare_v2(db, "BEGIN IMMEDIATE", -1, &begin, nullptr);
    sqlite3_prepare_v2(db, "COMMIT", -1, &commit, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO entries(context, dn, parent, class) VALUES (2, ?1, "
                       "'Root/Servers', 'CLASS-AdminToolObjectClass2')",
                       -1, &entry, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO attribute_values(entry, attribute, position, type_name, "
                       "type_code, data, text) VALUES (?1, ?2, 0, 'uint16', 11, ?3, ?4)",
                       -1, &value, nullptr);
    const char* attributes[] = {"ATTRIBUTE-AdminTitle", "ATTRIBUTE-AdminSubsystemID",
                                "ATTRIBUTE-AdminIconID", "ATTRIBUTE-AdminObjectUID",
                                "ATTRIBUTE-AdminFlags"};
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < objects; ++i) {
      const std::string dn = "Root/Servers/server-" + std::to_string(i);
      sqlite3_step(begin);
      sqlite3_reset(begin);
      sqlite3_bind_text(entry, 1, dn.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(entry);
      sqlite3_reset(entry);
      const sqlite3_int64 id = sqlite3_last_insert_rowid(db);
      for (const char* attribute : attributes) {
        const uint64_t data = static_cast<uint64_t>(i);
        sqlite3_bind_int64(value, 1, id);
        sqlite3_bind_text(value, 2, attribute, -1, SQLITE_STATIC);
        sqlite3_bind_blob(value, 3, &data, 8, SQLITE_TRANSIENT);
        sqlite3_bind_text(value, 4, "0000000000000001", -1, SQLITE_STATIC);
        sqlite3_step(value);
        sqlite3_reset(value);
      }
      sqlite3_step(commit);
      sqlite3_reset(commit);
    }
    state.SetIterationTime(Seconds(start));
    for (sqlite3_stmt* stmt : {begin, commit, entry, value}) sqlite3_finalize(stmt);
    sqlite3_close(db);
  }
  state.SetItemsProcessed(state.iterations() * objects);
}
BENCHMARK(BM_RegisterObject_RawSQLiteBaseline)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);

// A group of 10,000 children, read back whole.
struct GroupFixture : Fixture {
  explicit GroupFixture(int children) {
    for (int i = 0; i < children; ++i) {
      ZEL_AdminToolObject object(u"Root/Servers", Name("server-", i).c_str());
      object.setUID(static_cast<uint64_t>(i + 1));
      sal->RegisterObject(object, false);
    }
  }
};

void BM_ReadGroupFromDirectory(benchmark::State& state) {
  GroupFixture fixture(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ZEL_AdminToolObject group(u"Root", u"Servers");
    fixture.sal->ReadGroupFromDirectory(&group);
    if (group.getNumChildren() != state.range(0)) state.SkipWithError("children missing");
    group.deleteChildren();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReadGroupFromDirectory)->Arg(2500)->Arg(10000)->Unit(benchmark::kMillisecond);

// The baseline: the same rows and their values through an indexed range scan.
void BM_ReadGroup_RawIndexedScanBaseline(benchmark::State& state) {
  GroupFixture fixture(static_cast<int>(state.range(0)));
  sqlite3* db = nullptr;
  sqlite3_open(fixture.store.StorePath().c_str(), &db);
  sqlite3_stmt *rows, *values;
  sqlite3_prepare_v2(db,
                     "SELECT id, dn FROM entries WHERE context = ?1 AND parent = ?2 ORDER BY "
                     "dn",
                     -1, &rows, nullptr);
  sqlite3_prepare_v2(db, "SELECT attribute, data FROM attribute_values WHERE entry = ?1", -1,
                     &values, nullptr);
  for (auto _ : state) {
    int64_t found = 0;
    sqlite3_bind_int64(rows, 1, ZEL_AdminToolSAL::s_objCid);
    sqlite3_bind_text(rows, 2, "Root/Servers", -1, SQLITE_STATIC);
    while (sqlite3_step(rows) == SQLITE_ROW) {
      sqlite3_bind_int64(values, 1, sqlite3_column_int64(rows, 0));
      while (sqlite3_step(values) == SQLITE_ROW)
        benchmark::DoNotOptimize(sqlite3_column_blob(values, 1));
      sqlite3_reset(values);
      ++found;
    }
    sqlite3_reset(rows);
    if (found != state.range(0)) state.SkipWithError("rows missing");
  }
  sqlite3_finalize(rows);
  sqlite3_finalize(values);
  sqlite3_close(db);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReadGroup_RawIndexedScanBaseline)
    ->Arg(2500)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);

// GetObjectW by DN: the time per call must not grow with the number of objects stored.
void BM_GetObjectW(benchmark::State& state) {
  GroupFixture fixture(static_cast<int>(state.range(0)));
  int next = 0;
  for (auto _ : state) {
    ZEL_AdminToolObject object(u"Root/Servers",
                               Name("server-", next++ % static_cast<int>(state.range(0))).c_str());
    if (fixture.sal->GetObjectW(object) != 0) state.SkipWithError("object missing");
  }
}
BENCHMARK(BM_GetObjectW)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

// Icons: the time per call must not grow with the number of icons stored.
struct IconFixture : Fixture {
  std::vector<std::u16string> names;
  explicit IconFixture(int icons) {
    for (int i = 0; i < icons; ++i) names.push_back(Register(i));
  }
  std::u16string Register(int seed) {
    void* bits = nullptr;
    ZEL_BUF_Allocate_Debug(640, &bits, "directory_bench", __LINE__);
    std::memset(bits, 0, 640);
    std::memcpy(bits, &seed, sizeof seed);
    ZEL_AdminToolIcon icon(7, Name("icon-", seed).c_str(), 1, 640, static_cast<uint8_t*>(bits));
    sal->RegisterIcon(icon);
    ZEL_AdminToolIcon byUID(icon.getUID());
    sal->GetIconByUID(byUID);
    return byUID.getName();
  }
};

void BM_RegisterIcon(benchmark::State& state) {
  IconFixture fixture(static_cast<int>(state.range(0)));
  int seed = static_cast<int>(state.range(0));
  for (auto _ : state) fixture.Register(seed++);
}
BENCHMARK(BM_RegisterIcon)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_GetIconByName(benchmark::State& state) {
  IconFixture fixture(static_cast<int>(state.range(0)));
  std::size_t next = 0;
  for (auto _ : state) {
    ZEL_AdminToolIcon icon(7, fixture.names[next++ % fixture.names.size()].c_str());
    if (fixture.sal->GetIconByName(icon) != 0) state.SkipWithError("icon missing");
  }
}
BENCHMARK(BM_GetIconByName)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_GetIconByUID(benchmark::State& state) {
  IconFixture fixture(static_cast<int>(state.range(0)));
  std::vector<uint64_t> uids;
  for (const std::u16string& name : fixture.names) {
    ZEL_AdminToolIcon icon(7, name.c_str());
    fixture.sal->GetIconByName(icon);
    uids.push_back(icon.getUID());
  }
  std::size_t next = 0;
  for (auto _ : state) {
    ZEL_AdminToolIcon icon(uids[next++ % uids.size()]);
    if (fixture.sal->GetIconByUID(icon) != 0) state.SkipWithError("icon missing");
  }
}
BENCHMARK(BM_GetIconByUID)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
