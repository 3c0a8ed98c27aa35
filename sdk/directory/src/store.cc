#include "store.h"

#include "zel/directory/codes.h"

namespace zel::dir {
namespace {

// Another process may hold the write lock; wait this long before giving up.
constexpr int kBusyTimeoutMs = 5000;
constexpr int kSchemaVersion = 1;

constexpr const char* kSchema = R"sql(
  CREATE TABLE IF NOT EXISTS contexts (
    id   INTEGER PRIMARY KEY AUTOINCREMENT,
    name TEXT NOT NULL UNIQUE,
    dn   TEXT NOT NULL
  );
  CREATE INDEX IF NOT EXISTS contexts_by_dn ON contexts(dn);
)sql";

}  // namespace

Statement::Statement(sqlite3* db, const char* sql) {
  if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::bind(int index, const ZELString& text) {
  sqlite3_bind_text16(stmt_, index, text.getName(), static_cast<int>(text.charCount() * 2),
                      SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::bind(int index, int64_t value) {
  sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

int Statement::step() { return stmt_ == nullptr ? SQLITE_ERROR : sqlite3_step(stmt_); }

int64_t Statement::columnInt(int index) { return sqlite3_column_int64(stmt_, index); }

int32_t Store::Open(const std::string& path, std::unique_ptr<Store>* out) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return kStoreError;
  }
  std::unique_ptr<Store> store(new Store(db));
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // WAL lets readers in other processes go on while one process writes.
  if (sqlite3_exec(db, "PRAGMA journal_mode=WAL;", nullptr, nullptr, nullptr) != SQLITE_OK ||
      sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
    return kStoreError;
  }
  const std::string version = "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
  if (sqlite3_exec(db, version.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    return kStoreError;
  }
  *out = std::move(store);
  return 0;
}

Store::~Store() { sqlite3_close(db_); }

}  // namespace zel::dir
