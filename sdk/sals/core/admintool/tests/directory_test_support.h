// A SAL object on a scripted host whose directory is a fresh store, with the process-wide
// context state reset: RegistryTest runs on each store a test program lists (a SQLite file, a
// directory server), DirectoryTest on a SQLite file whose tables a test reads with SQL.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "test_support.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/directory/testing/temp_store.h"

namespace zel::sal::testing {

// A kind of store: a fresh, empty one for each test.
struct StoreKind {
  std::string name;  // the instance name: letters and digits
  std::function<std::shared_ptr<ZEL_DIR_StoreLocation>()> make;
  bool isFile = true;  // a SQLite file, whose tables a test may read with SQL
};
inline void PrintTo(const StoreKind& kind, std::ostream* out) { *out << kind.name; }

// The stores the registry suites run on: defined once by each test program.
std::vector<StoreKind> StoresUnderTest();

inline std::string StoreName(const ::testing::TestParamInfo<StoreKind>& info) {
  return info.param.name;
}

// Offers `location` to the host and forgets the contexts an earlier test bound.
inline void PrepareDirectory(zel::rt::testing::ScriptedHost& host,
                             ZEL_DIR_StoreLocation* location) {
  host.Plugins().Offer(kZelDirectoryStoreInterface, location);
  host.SetNeighborhoodName(ZELString(u"North"));
  ZEL_AdminToolSAL::s_adminToolContext = ZELString();
  ZEL_AdminToolSAL::s_cid = ZEL_AdminToolSAL::s_objCid = 0;
  ZEL_AdminToolSAL::s_iconCid = ZEL_AdminToolSAL::s_pluginCid = 0;
  TraceCapture().records.clear();
}

// One number from a store file, read with plain SQL.
inline int64_t QueryFile(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
  const int64_t value = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return value;
}

class RegistryTest : public SalTest, public ::testing::WithParamInterface<StoreKind> {
 protected:
  RegistryTest() : location_(GetParam().make()) { PrepareDirectory(host_, location_.get()); }

  // Whether the store is a file whose tables Query reads (the other stores are checked
  // through the library alone).
  bool OnFile() const { return GetParam().isFile; }
  int64_t Query(const std::string& sql) { return QueryFile(location_->StorePath(), sql); }

  std::shared_ptr<ZEL_DIR_StoreLocation> location_;
  ZEL_AdminToolSAL sal_{host_};
};

class DirectoryTest : public SalTest {
 protected:
  DirectoryTest() { PrepareDirectory(host_, &store_); }
  int64_t Query(const std::string& sql) { return QueryFile(store_.StorePath(), sql); }

  zel::dir::testing::TempStore store_;
  ZEL_AdminToolSAL sal_{host_};
};

}  // namespace zel::sal::testing
