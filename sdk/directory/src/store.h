// The SQLite store under the directory service: one connection, the schema, and statements.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>

#include "zel/runtime/strings.h"

namespace zel::dir {

// A prepared statement, finalized when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql);
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  bool ok() const { return stmt_ != nullptr; }
  Statement& bind(int index, const ZELString& text);
  Statement& bind(int index, int64_t value);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step();
  int64_t columnInt(int index);

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

class Store {
 public:
  // Opens (creating when missing) the store at `path`; 0 or a negative directory code.
  static int32_t Open(const std::string& path, std::unique_ptr<Store>* out);
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  ~Store();

  sqlite3* db() const { return db_; }

 private:
  explicit Store(sqlite3* db) : db_(db) {}
  sqlite3* db_;
};

}  // namespace zel::dir
