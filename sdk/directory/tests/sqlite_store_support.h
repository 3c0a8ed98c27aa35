// Helpers of the SQLite-only tests: a directory on a store location of its own, SQL behind the
// directory's back, and what is checked of a store that cannot be written.
#pragma once

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <string>

#include "zel/directory/codes.h"
#include "zel/directory/entry.h"
#include "zel/directory/testing/backend.h"

namespace zel::dir::testing {

// A directory on a store location given as a text (a path or a "file:" URI), as another
// process would have it; the context "Notes" is 1 in every store made here.
struct Opened final : DirectoryAt {
  using DirectoryAt::DirectoryAt;
  int32_t Bind() {
    uint32_t id = 0;
    return Directory().BindLDAP(u"&Notes", id);
  }
};

// Runs `sql` on the file behind the directory's back: `column` of every row, joined by "; ".
inline std::string Raw(const std::string& path, const std::string& sql, int column = 0) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
  std::string rows;
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    rows += (rows.empty() ? "" : "; ") +
            std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return rows;
}

// What goes wrong reading the store at `location`, which holds the entry "kept" (0: nothing):
// bit 0 binding, 1 reading the entry, 2 searching, 3 a write that was not refused (checked only
// when `writesRefused`).
inline int ReadOnlyFailures(const std::string& location, bool writesRefused) {
  Opened reader(location);
  ZEL_DIR_SearchHelper all(&reader.Directory(), 1, ZELString(), 1, ZELString(), u"*");
  uint32_t count = 0;
  int failed = reader.Bind() != 0;
  failed |= (ZEL_DIR_BaseEntry(&reader.Directory(), u"kept", 1).Sync() != 0) << 1;
  failed |= (all.Search(count) != 0 || count != 1) << 2;
  if (writesRefused) {
    failed |= (ZEL_DIR_BaseEntry(&reader.Directory(), u"new", 1).Add() != kStoreReadOnly ||
               reader.Directory().CreateDataContext(u"M", u"M") != kStoreReadOnly)
              << 3;
  }
  return failed;
}

class SqliteStoreTest : public ::testing::Test {
 protected:
  SqliteStoreTest() { first_.Directory().CreateDataContext(u"Notes", u"Root/Notes"); }
  // A store holding one entry, "kept", closed as a store is when nobody has it open.
  static void WriteAndClose(const std::string& path) {
    Opened writer(path);
    ASSERT_EQ(writer.Directory().CreateDataContext(u"Notes", u"Root/Notes"), 0);
    ASSERT_EQ(ZEL_DIR_BaseEntry(&writer.Directory(), u"kept", 1).Add(), 0);
  }
  TempStore store_;
  const std::string path_ = store_.StorePath();
  Opened first_{path_};
};

}  // namespace zel::dir::testing
