#include "store.h"

#include <cstdio>
#include <cstring>

#include "zel/directory/codes.h"
#include "zel/runtime/wire.h"

namespace zel::dir {
namespace {

// Another process may hold the write lock; wait this long before giving up.
constexpr int kBusyTimeoutMs = 5000;
constexpr int kSchemaVersion = 2;

constexpr const char* kSchema = R"sql(
  CREATE TABLE IF NOT EXISTS contexts (
    id   INTEGER PRIMARY KEY AUTOINCREMENT,
    name TEXT NOT NULL UNIQUE,
    dn   TEXT NOT NULL
  );
  CREATE INDEX IF NOT EXISTS contexts_by_dn ON contexts(dn);
  CREATE TABLE IF NOT EXISTS entries (
    id      INTEGER PRIMARY KEY AUTOINCREMENT,
    context INTEGER NOT NULL,
    dn      TEXT NOT NULL,
    parent  TEXT NOT NULL,
    class   TEXT NOT NULL,
    UNIQUE (context, dn)
  );
  CREATE INDEX IF NOT EXISTS entries_by_parent ON entries(context, parent, dn);
  CREATE TABLE IF NOT EXISTS attribute_values (
    entry     INTEGER NOT NULL REFERENCES entries(id) ON DELETE CASCADE,
    attribute TEXT NOT NULL,
    position  INTEGER NOT NULL,
    type_name TEXT NOT NULL,
    type_code INTEGER NOT NULL,
    data      BLOB NOT NULL,
    text      TEXT,
    PRIMARY KEY (entry, attribute, position)
  ) WITHOUT ROWID;
  CREATE INDEX IF NOT EXISTS values_by_text ON attribute_values(attribute, text, entry);
)sql";

bool Exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::u16string Hex(uint64_t value, int digits) {
  char text[20];
  std::snprintf(text, sizeof text, "%0*llx", digits, static_cast<unsigned long long>(value));
  return std::u16string(text, text + std::strlen(text));
}

// `path` as a URI with `parameter` added; a "file:" URI keeps the parameters it has.
std::string WithParameter(const std::string& path, const char* parameter) {
  if (path.rfind("file:", 0) == 0) {
    return path + (path.find('?') == std::string::npos ? "?" : "&") + parameter;
  }
  std::string uri = "file:";
  for (const char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
      uri += escaped;
    } else {
      uri += c;
    }
  }
  return uri + "?" + parameter;
}

}  // namespace

Statement::~Statement() { reset(); }

void Statement::reset() {
  if (stmt_ == nullptr) return;
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

Statement& Statement::bind(int index, std::u16string_view text) {
  sqlite3_bind_text16(stmt_, index, text.data(), static_cast<int>(text.size() * 2),
                      SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::bind(int index, int64_t value) {
  sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

Statement& Statement::bindBlob(int index, const void* data, int size) {
  // A zero-length blob still binds as a blob, not as NULL.
  sqlite3_bind_blob(stmt_, index, size == 0 ? "" : data, size, SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::bindNull(int index) {
  sqlite3_bind_null(stmt_, index);
  return *this;
}

int Statement::step() { return stmt_ == nullptr ? SQLITE_ERROR : sqlite3_step(stmt_); }

int64_t Statement::columnInt(int index) { return sqlite3_column_int64(stmt_, index); }

int Statement::columnType(int index) { return sqlite3_column_type(stmt_, index); }

std::u16string Statement::columnText(int index) {
  const auto* text = static_cast<const char16_t*>(sqlite3_column_text16(stmt_, index));
  const int bytes = sqlite3_column_bytes16(stmt_, index);
  return text == nullptr ? std::u16string() : std::u16string(text, bytes / 2);
}

std::vector<uint8_t> Statement::columnBlob(int index) {
  const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, index));
  const int bytes = sqlite3_column_bytes(stmt_, index);
  return data == nullptr ? std::vector<uint8_t>() : std::vector<uint8_t>(data, data + bytes);
}

int32_t Store::Open(const std::string& path, std::unique_ptr<Store>* out) {
  std::unique_ptr<Store> store;
  int32_t status = Connect(path, &store);
  int64_t version = 0;
  if (status == 0) status = store->schemaVersion(&version);
  // A WAL store that no process has open needs its shared-memory index made beside it. Where
  // that cannot be (a folder this process cannot write, a full disk) the store is read as an
  // immutable file, for reading only. Other failures (a busy store, a file that is no store)
  // are not retried: an immutable view of a store others write would fall behind.
  const int failure = store != nullptr ? sqlite3_errcode(store->db()) & 0xFF : SQLITE_OK;
  if (status != 0 && (failure == SQLITE_CANTOPEN || failure == SQLITE_READONLY ||
                      failure == SQLITE_IOERR || failure == SQLITE_FULL)) {
    status = Connect(WithParameter(path, "mode=ro&immutable=1"), &store);
    if (status == 0) status = store->schemaVersion(&version);
  }
  if (status == 0 && version > kSchemaVersion) status = kStoreNewer;
  if (status == 0 && version < kSchemaVersion) status = store->createSchema();
  if (status == 0) *out = std::move(store);
  return status;
}

int32_t Store::Connect(const std::string& path, std::unique_ptr<Store>* out) {
  sqlite3* db = nullptr;
  const int flags =
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return kStoreError;
  }
  out->reset(new Store(db));
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // Settings of this connection only: neither writes to the file. NORMAL syncing keeps every
  // committed write across a crash of the process (not of the machine's power).
  return Exec(db, "PRAGMA synchronous=NORMAL;") && Exec(db, "PRAGMA foreign_keys=ON;")
             ? 0
             : kStoreError;
}

int32_t Store::schemaVersion(int64_t* version) {
  Statement read = prepare("PRAGMA user_version");
  if (read.step() != SQLITE_ROW) return kStoreError;
  *version = read.columnInt(0);
  return 0;
}

// Creating or migrating is the one time opening writes. WAL (kept in the file) lets readers in
// other processes go on while one process writes; it cannot be switched on inside a transaction.
// The version is read again under the write lock: another process may have been first.
int32_t Store::createSchema() {
  if (readOnly()) return kStoreReadOnly;
  if (!Exec(db_, "PRAGMA journal_mode=WAL;")) return kStoreError;
  int32_t status = begin();
  int64_t version = 0;
  if (status == 0) status = schemaVersion(&version);
  if (status == 0 && version > kSchemaVersion) status = kStoreNewer;
  const std::string stamp = "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
  if (status == 0 && version < kSchemaVersion &&
      (!Exec(db_, kSchema) || !Exec(db_, stamp.c_str()))) {
    status = kStoreError;
  }
  if (status == 0) return commit();
  rollback();
  return status;
}

Store::~Store() {
  for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
  sqlite3_close(db_);
}

Statement Store::prepare(const char* sql) {
  sqlite3_stmt*& cached = statements_[sql];
  if (cached == nullptr &&
      sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &cached, nullptr) != SQLITE_OK) {
    cached = nullptr;
  }
  return Statement(cached);
}

int32_t Store::begin() {
  if (readOnly()) return kStoreReadOnly;
  Statement stmt = prepare("BEGIN IMMEDIATE");
  return stmt.step() == SQLITE_DONE ? 0 : kStoreError;
}

int32_t Store::commit() {
  Statement stmt = prepare("COMMIT");
  return stmt.step() == SQLITE_DONE ? 0 : kStoreError;
}

void Store::rollback() { Exec(db_, "ROLLBACK"); }

int32_t Store::enterScope() {
  if (scopeDepth_ == 0) {
    if (const int32_t begun = begin()) return begun;
    scopeFailure_ = 0;
  }
  ++scopeDepth_;
  return 0;
}

int32_t Store::leaveScope(bool commit) {
  if (!commit) failScope(kStoreError);
  if (--scopeDepth_ > 0) return scopeFailure_;
  ++scopesEnded_;
  if (scopeFailure_ != 0) {
    rollback();
    return scopeFailure_;
  }
  if (this->commit() == 0) return 0;
  rollback();  // a failed COMMIT leaves the transaction open
  return kStoreError;
}

int32_t Store::findByDN(uint32_t context, std::u16string_view dn, std::u16string_view className,
                        int64_t* id) {
  Statement find = prepare("SELECT id, class FROM entries WHERE context = ?1 AND dn = ?2");
  find.bind(1, static_cast<int64_t>(context)).bind(2, dn);
  const int stepped = find.step();
  if (stepped == SQLITE_DONE) return kNoSuchEntry;
  if (stepped != SQLITE_ROW) return kStoreError;
  if (find.columnText(1) != className) return kNoSuchEntry;
  *id = find.columnInt(0);
  return 0;
}

int32_t Store::checkID(int64_t id, uint32_t context, std::u16string_view className) {
  Statement find = prepare("SELECT context, class FROM entries WHERE id = ?1");
  find.bind(1, id);
  const int stepped = find.step();
  if (stepped == SQLITE_DONE) return kNoSuchEntry;
  if (stepped != SQLITE_ROW) return kStoreError;
  const bool inContext = context == 0 || find.columnInt(0) == static_cast<int64_t>(context);
  return inContext && find.columnText(1) == className ? 0 : kNoSuchEntry;
}

int32_t Store::load(int64_t id, StoredEntry* entry) {
  Statement head = prepare("SELECT context, dn, class FROM entries WHERE id = ?1");
  head.bind(1, id);
  const int stepped = head.step();
  if (stepped == SQLITE_DONE) return kNoSuchEntry;
  if (stepped != SQLITE_ROW) return kStoreError;
  entry->id = id;
  entry->context = static_cast<uint32_t>(head.columnInt(0));
  entry->dn = head.columnText(1);
  entry->className = head.columnText(2);
  if (entry->dn.find(u'\0') != std::u16string::npos) return kStoreError;
  entry->values.clear();
  Statement values = prepare(
      "SELECT attribute, type_name, type_code, data FROM attribute_values WHERE entry = ?1 "
      "ORDER BY attribute, position");
  values.bind(1, id);
  int row;
  while ((row = values.step()) == SQLITE_ROW) {
    entry->values.push_back(StoredValue{values.columnText(0), values.columnText(1),
                                        static_cast<uint16_t>(values.columnInt(2)),
                                        values.columnBlob(3)});
  }
  return row == SQLITE_DONE ? 0 : kStoreError;
}

int32_t Store::insertValues(int64_t id, const std::vector<StoredValue>& values) {
  Statement insert = prepare(
      "INSERT INTO attribute_values(entry, attribute, position, type_name, type_code, data, "
      "text) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
  int64_t position = 0;
  const std::u16string* previous = nullptr;
  for (const StoredValue& value : values) {
    position = (previous != nullptr && *previous == value.attribute) ? position + 1 : 0;
    previous = &value.attribute;
    const std::u16string text = TextForm(value);
    insert.bind(1, id).bind(2, value.attribute).bind(3, position).bind(4, value.typeName);
    insert.bind(5, static_cast<int64_t>(value.typeCode));
    insert.bindBlob(6, value.bytes.data(), static_cast<int>(value.bytes.size()));
    if (text.empty()) {
      insert.bindNull(7);
    } else {
      insert.bind(7, text);
    }
    if (insert.step() != SQLITE_DONE) return kStoreError;
    insert.reset();
  }
  return 0;
}

int32_t Store::insert(uint32_t context, std::u16string_view dn, std::u16string_view className,
                      const std::vector<StoredValue>& values, int64_t* id, std::u16string* madeDN) {
  const ZELString name{std::u16string(dn)};
  Statement add = prepare(
      "INSERT INTO entries(context, dn, parent, class) VALUES (?1, ?2, ?3, ?4) "
      "ON CONFLICT(context, dn) DO NOTHING");
  // An empty DN is replaced once the id is known; meanwhile "@", a name no caller can add at,
  // holds its place.
  const std::u16string placeholder = u"@";
  add.bind(1, static_cast<int64_t>(context));
  add.bind(2, dn.empty() ? std::u16string_view(placeholder) : dn);
  add.bind(3, name.parentDistinguishedName().view()).bind(4, className);
  if (add.step() != SQLITE_DONE) return kStoreError;
  if (sqlite3_changes(db_) == 0) return kEntryExists;
  *id = sqlite3_last_insert_rowid(db_);
  *madeDN = std::u16string(dn);
  if (dn.empty()) {
    *madeDN = u"@" + Hex(UIDOf(*id), 16);
    Statement rename = prepare("UPDATE entries SET dn = ?2 WHERE id = ?1");
    rename.bind(1, *id).bind(2, *madeDN);
    if (rename.step() != SQLITE_DONE) return kStoreError;
  }
  return insertValues(*id, values);
}

int32_t Store::replaceValues(int64_t id, const std::vector<std::u16string>& attributes,
                             const std::vector<StoredValue>& values) {
  Statement clear = prepare("DELETE FROM attribute_values WHERE entry = ?1 AND attribute = ?2");
  for (const std::u16string& attribute : attributes) {
    clear.bind(1, id).bind(2, attribute);
    if (clear.step() != SQLITE_DONE) return kStoreError;
    clear.reset();
  }
  return insertValues(id, values);
}

int32_t Store::remove(int64_t id) {
  Statement erase = prepare("DELETE FROM entries WHERE id = ?1");
  erase.bind(1, id);
  if (erase.step() != SQLITE_DONE) return kStoreError;
  return sqlite3_changes(db_) == 0 ? kNoSuchEntry : 0;
}

namespace {

// The search statements: one level (the parent is the base) or the whole subtree (the parent is
// the base or below it; an empty base takes the whole context), each with or without a filter.
// Filtered forms are driven from the value index (CROSS JOIN keeps that order): the entries that
// hold the value are few, the siblings they are among may be many.
#define ZEL_SEARCH_COLUMNS \
  "SELECT e.id, e.dn, e.class, v.attribute, v.type_name, v.type_code, v.data "
#define ZEL_SEARCH_FILTERED                                                                  \
  "FROM (SELECT DISTINCT entry FROM attribute_values WHERE attribute = ?3 AND text = ?4) m " \
  "CROSS JOIN entries e ON e.id = m.entry LEFT JOIN attribute_values v ON v.entry = e.id "
#define ZEL_SEARCH_ALL "FROM entries e LEFT JOIN attribute_values v ON v.entry = e.id "
#define ZEL_SEARCH_ONE_LEVEL "WHERE e.context = ?1 AND e.parent = ?2 "
#define ZEL_SEARCH_SUBTREE                                               \
  "WHERE e.context = ?1 AND (coalesce(?2, '') = '' OR e.parent = ?2 OR " \
  "substr(e.parent, 1, length(?2) + 1) = ?2 || '/') "
#define ZEL_SEARCH_ORDER "ORDER BY e.dn, v.attribute, v.position"

const char* SearchStatement(bool subtree, bool filtered) {
  if (subtree) {
    return filtered ? ZEL_SEARCH_COLUMNS ZEL_SEARCH_FILTERED ZEL_SEARCH_SUBTREE ZEL_SEARCH_ORDER
                    : ZEL_SEARCH_COLUMNS ZEL_SEARCH_ALL ZEL_SEARCH_SUBTREE ZEL_SEARCH_ORDER;
  }
  return filtered ? ZEL_SEARCH_COLUMNS ZEL_SEARCH_FILTERED ZEL_SEARCH_ONE_LEVEL ZEL_SEARCH_ORDER
                  : ZEL_SEARCH_COLUMNS ZEL_SEARCH_ALL ZEL_SEARCH_ONE_LEVEL ZEL_SEARCH_ORDER;
}

#undef ZEL_SEARCH_COLUMNS
#undef ZEL_SEARCH_FILTERED
#undef ZEL_SEARCH_ALL
#undef ZEL_SEARCH_ONE_LEVEL
#undef ZEL_SEARCH_SUBTREE
#undef ZEL_SEARCH_ORDER

}  // namespace

int32_t Store::search(uint32_t context, std::u16string_view base, bool subtree,
                      std::u16string_view attribute, std::u16string_view text,
                      std::vector<StoredEntry>* matches) {
  Statement search = prepare(SearchStatement(subtree, !attribute.empty()));
  search.bind(1, static_cast<int64_t>(context)).bind(2, base);
  if (!attribute.empty()) search.bind(3, attribute).bind(4, text);
  int row;
  while ((row = search.step()) == SQLITE_ROW) {
    const int64_t id = search.columnInt(0);
    if (matches->empty() || matches->back().id != id) {
      if (search.columnText(1).find(u'\0') != std::u16string::npos) return kStoreError;
      matches->push_back(StoredEntry{id, context, search.columnText(1), search.columnText(2), {}});
    }
    if (search.columnType(3) != SQLITE_NULL) {  // an entry without values joins one NULL row
      matches->back().values.push_back(StoredValue{search.columnText(3), search.columnText(4),
                                                   static_cast<uint16_t>(search.columnInt(5)),
                                                   search.columnBlob(6)});
    }
  }
  return row == SQLITE_DONE ? 0 : kStoreError;
}

std::u16string TextForm(const StoredValue& value) {
  if (value.typeName == u"css") {  // whole, but for the terminator ZELString writes
    std::u16string text(value.bytes.size() / 2, u'\0');
    if (!text.empty()) std::memcpy(text.data(), value.bytes.data(), text.size() * 2);
    if (!text.empty() && text.back() == u'\0') text.pop_back();
    return text;
  }
  if (value.typeName == u"bin") return std::u16string();
  switch (value.bytes.size()) {
    case 2:
      return Hex(zel::wire::Load<uint16_t>(value.bytes.data()), 4);
    case 4:
      return Hex(zel::wire::Load<uint32_t>(value.bytes.data()), 8);
    case 8:
      return Hex(zel::wire::Load<uint64_t>(value.bytes.data()), 16);
    default:
      return std::u16string();
  }
}

}  // namespace zel::dir
