// The SQLite store under the directory: one connection, the schema, cached statements, and the
// few operations entries and searches are made of.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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

class Store {
 public:
  // Opens the store at `path` (a file name or a "file:" URI; "?mode=ro" opens it for reading
  // only); 0 or a negative directory code. Opening writes only to create the schema in a new
  // store or to migrate an older one; a store newer than this program is refused
  // (kStoreNewer) and left as it is. A file that cannot be written is opened for reading.
  static int32_t Open(const std::string& path, std::unique_ptr<Store>* out);
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  ~Store();

  sqlite3* db() const { return db_; }
  bool readOnly() const { return sqlite3_db_readonly(db_, "main") == 1; }
  // A statement for `sql` (a string that lives for the whole process), prepared once.
  Statement prepare(const char* sql);

  // Transactions: every write of an entry is one, unless a scope is open, which it joins.
  // kStoreReadOnly on a read-only store.
  int32_t begin();
  int32_t commit();
  void rollback();

  // Transaction scopes (ZEL_DIR_Transaction): the outermost begins; writes inside join it and
  // report failures to it; the outermost commits or rolls back.
  int32_t enterScope();
  // Ends one level; the outermost commits (when `commit` and nothing failed) or rolls back.
  // Answers 0, the first failure seen, or kStoreError.
  int32_t leaveScope(bool commit);
  bool inScope() const { return scopeDepth_ > 0; }
  uint64_t scopesEnded() const { return scopesEnded_; }
  void failScope(int32_t code) {
    if (scopeFailure_ == 0) scopeFailure_ = code;
  }

  // The entry at `dn` in `context` when it is of class `className`: 0, kNoSuchEntry or
  // kStoreError.
  int32_t findByDN(uint32_t context, std::u16string_view dn, std::u16string_view className,
                   int64_t* id);
  // 0 when the entry `id` exists and is of class `className` (and in `context`, unless that is
  // 0); kNoSuchEntry or kStoreError.
  int32_t checkID(int64_t id, uint32_t context, std::u16string_view className);
  // kStoreError for an entry whose DN holds a NUL (written behind the directory's back).
  int32_t load(int64_t id, StoredEntry* entry);
  // Inserts an entry (an empty DN is made up from its id) and its values; the id and DN used.
  int32_t insert(uint32_t context, std::u16string_view dn, std::u16string_view className,
                 const std::vector<StoredValue>& values, int64_t* id, std::u16string* madeDN);
  // Replaces the stored values of `attributes` with `values` (which hold only those).
  int32_t replaceValues(int64_t id, const std::vector<std::u16string>& attributes,
                        const std::vector<StoredValue>& values);
  int32_t remove(int64_t id);
  // The entries whose parent DN is `base` in `context` (with `subtree`: also those further below
  // it; an empty base then takes the whole context), only those with a value of `attribute`
  // whose text form is `text` when `attribute` is not empty, with their values, in DN order: one
  // pass over the store.
  int32_t search(uint32_t context, std::u16string_view base, bool subtree,
                 std::u16string_view attribute, std::u16string_view text,
                 std::vector<StoredEntry>* matches);

 private:
  explicit Store(sqlite3* db) : db_(db) {}
  // A connection to `path` (a file name or URI), its settings made; no read, no write yet.
  static int32_t Connect(const std::string& path, std::unique_ptr<Store>* out);
  int32_t schemaVersion(int64_t* version);
  int32_t createSchema();
  int32_t insertValues(int64_t id, const std::vector<StoredValue>& values);

  sqlite3* db_;
  int scopeDepth_ = 0;
  uint64_t scopesEnded_ = 0;  // outermost scopes committed or rolled back
  int32_t scopeFailure_ = 0;
  std::unordered_map<const char*, sqlite3_stmt*> statements_;
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
