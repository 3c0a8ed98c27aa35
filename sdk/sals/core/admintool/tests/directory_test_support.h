// A SAL object on a scripted host whose directory is a fresh store file, with the
// process-wide context state reset.
#pragma once

#include <sqlite3.h>

#include <string>

#include "test_support.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/directory/testing/temp_store.h"

namespace zel::sal::testing {

class DirectoryTest : public SalTest {
 protected:
  DirectoryTest() {
    host_.Plugins().Offer(kZelDirectoryStoreInterface, &store_);
    host_.SetNeighborhoodName(ZELString(u"North"));
    ZEL_AdminToolSAL::s_adminToolContext = ZELString();
    ZEL_AdminToolSAL::s_cid = ZEL_AdminToolSAL::s_objCid = 0;
    ZEL_AdminToolSAL::s_iconCid = ZEL_AdminToolSAL::s_pluginCid = 0;
    TraceCapture().records.clear();
  }

  // One number from the store file, read with plain SQL.
  int64_t Query(const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open(store_.StorePath().c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
    const int64_t value = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return value;
  }

  zel::dir::testing::TempStore store_;
  ZEL_AdminToolSAL sal_{host_};
};

}  // namespace zel::sal::testing
