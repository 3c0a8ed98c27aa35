// The SQLite backend of the directory: one connection, the schema, cached statements, the
// change log.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "backend.h"
#include "zel/directory/value.h"
#include "zel/runtime/strings.h"

namespace zel::dir {

// A cached statement in use; reset (bindings cleared) when it goes.
class Statement {
 public:
  explicit Statement(sqlite3_stmt* stmt) : stmt_(stmt) {}
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  bool ok() const { return stmt_ != nullptr; }
  // Ready for another run with new bindings.
  void reset();
  Statement& bind(int index, std::u16string_view text);
  Statement& bind(int index, int64_t value);
  Statement& bindBlob(int index, const void* data, int size);
  Statement& bindNull(int index);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step();
  int64_t columnInt(int index);
  int columnType(int index);
  std::u16string columnText(int index);
  std::vector<uint8_t> columnBlob(int index);

 private:
  sqlite3_stmt* stmt_;
};

class SqliteStore final : public Store {
 public:
  // Opens the store at `path` (a file name or a "file:" URI; "?mode=ro" opens it for reading
  // only); 0 or a negative directory code. Opening writes only to create the schema in a new
  // store or to migrate an older one; a store newer than this program is refused
  // (kStoreNewer) and left as it is. A file that cannot be written is opened for reading.
  static int32_t Open(const std::string& path, std::unique_ptr<Store>* out);
  ~SqliteStore() override;

  int32_t bindContext(std::u16string_view key, bool byName, uint32_t* id) override;
  int32_t createContext(std::u16string_view name, std::u16string_view dn) override;
  int32_t contextName(uint32_t id, std::u16string* name) override;

  // kStoreReadOnly on a read-only store.
  int32_t begin() override;
  // Committed changes go to the listeners of their contexts.
  int32_t commit() override;
  void rollback() override;

  int32_t findByDN(uint32_t context, std::u16string_view dn, EntryHead* head) override;
  int32_t findByUID(uint64_t uid, EntryHead* head) override;
  int32_t load(uint64_t uid, StoredEntry* entry) override;
  int32_t insert(uint32_t context, std::u16string_view dn, std::u16string_view className,
                 const std::vector<StoredValue>& values, uint64_t* uid,
                 std::u16string* madeDN) override;
  int32_t replaceValues(uint64_t uid, const std::vector<std::u16string>& attributes,
                        const std::vector<StoredValue>& values) override;
  int32_t remove(uint64_t uid) override;
  // One pass over the store, on the indexes.
  int32_t search(const SearchQuery& query, std::vector<StoredEntry>* matches) override;

  // The change log: every write of an entry appends one row in its transaction.
  int32_t changeNumber(uint32_t context, uint64_t* number) override;
  int32_t changesSince(uint32_t context, uint64_t since, uint32_t maxCount,
                       std::vector<Change>* changes, bool* more) override;
  // Listeners hear the changes made through this store object (this connection); changes
  // that other processes write are read with changesSince.
  int32_t subscribe(uint32_t context, ChangeListener listener, uint32_t* subscription) override;
  int32_t unsubscribe(uint32_t subscription) override;
  // data_version moves with every commit of another connection; total_changes counts the rows
  // this connection changed (a rolled back change too, which only costs a reader a reload).
  int32_t changeStamp(ZEL_DIR_ChangeStamp* stamp) override;

  // The busy timeout: how long a write waits for another connection's.
  int32_t setTimeout(uint32_t milliseconds) override;

  sqlite3* db() const { return db_; }
  bool readOnly() const { return sqlite3_db_readonly(db_, "main") == 1; }
  // A statement for `sql` (a string that lives for the whole process), prepared once.
  Statement prepare(const char* sql);

 private:
  explicit SqliteStore(sqlite3* db) : db_(db) {}
  // A connection to `path` (a file name or URI), its settings made; no read, no write yet.
  static int32_t Connect(const std::string& path, std::unique_ptr<SqliteStore>* out);
  int32_t schemaVersion(int64_t* version);
  int32_t createSchema();
  int32_t insertValues(int64_t id, const std::vector<StoredValue>& values);
  // Appends a change of the entry `id` (its context and DN as stored now) to the log.
  int32_t logChange(int64_t id, Change::Kind kind);

  struct Listener {
    uint32_t context;
    ChangeListener listener;
  };

  sqlite3* db_;
  std::unordered_map<const char*, sqlite3_stmt*> statements_;
  std::vector<std::pair<uint32_t, Change>> pending_;  // logged in the open transaction
  std::map<uint32_t, Listener> listeners_;
  uint32_t lastSubscription_ = 0;
};

// UIDs the directory hands out: 0x0121 in bits 32-47 and the entry's id below.
inline constexpr uint64_t kUIDTag = 0x0121ull << 32;
inline uint64_t UIDOf(int64_t id) { return kUIDTag | static_cast<uint64_t>(id); }
// The id of a UID the directory handed out, or 0 when it is not one.
inline int64_t IDOf(uint64_t uid) {
  return (uid & 0xFFFFFFFF00000000ull) == kUIDTag ? static_cast<int64_t>(uid & 0xFFFFFFFF) : 0;
}

// The text form of a value that filters compare with: integers of 2, 4 and 8 bytes as
// lower-case hex of 4, 8 and 16 digits, "css" text as itself; others have none.
std::u16string TextForm(const StoredValue& value);

}  // namespace zel::dir
