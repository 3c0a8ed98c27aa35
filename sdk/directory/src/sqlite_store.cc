#include "sqlite_store.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "zel/directory/codes.h"
#include "zel/runtime/wire.h"

namespace zel::dir {
namespace {

// Another process may hold the write lock; wait this long before giving up.
constexpr int kBusyTimeoutMs = 5000;
// 3: the change log.
constexpr int kSchemaVersion = 3;

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
  CREATE TABLE IF NOT EXISTS changes (
    number  INTEGER PRIMARY KEY AUTOINCREMENT,
    context INTEGER NOT NULL,
    kind    INTEGER NOT NULL,
    uid     INTEGER NOT NULL,
    dn      TEXT NOT NULL
  );
  CREATE INDEX IF NOT EXISTS changes_by_context ON changes(context, number);
)sql";

// Most changes one changesSince answers.
constexpr uint32_t kMaxChangesAtOnce = 1000;

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

int32_t SqliteStore::Open(const std::string& path, std::unique_ptr<Store>* out) {
  std::unique_ptr<SqliteStore> store;
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

int32_t SqliteStore::Connect(const std::string& path, std::unique_ptr<SqliteStore>* out) {
  sqlite3* db = nullptr;
  const int flags =
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI;
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return kStoreError;
  }
  out->reset(new SqliteStore(db));
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // Settings of this connection only: neither writes to the file. NORMAL syncing keeps every
  // committed write across a crash of the process (not of the machine's power).
  return Exec(db, "PRAGMA synchronous=NORMAL;") && Exec(db, "PRAGMA foreign_keys=ON;")
             ? 0
             : kStoreError;
}

int32_t SqliteStore::schemaVersion(int64_t* version) {
  Statement read = prepare("PRAGMA user_version");
  if (read.step() != SQLITE_ROW) return kStoreError;
  *version = read.columnInt(0);
  return 0;
}

// Creating or migrating is the one time opening writes. WAL (kept in the file) lets readers in
// other processes go on while one process writes; it cannot be switched on inside a transaction.
// The version is read again under the write lock: another process may have been first. Every
// table is created only when missing, so an older store gains what it lacks (version 2: the
// change log, which starts empty: its entries' earlier history was never kept).
int32_t SqliteStore::createSchema() {
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

SqliteStore::~SqliteStore() {
  for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
  sqlite3_close(db_);
}

Statement SqliteStore::prepare(const char* sql) {
  sqlite3_stmt*& cached = statements_[sql];
  if (cached == nullptr &&
      sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &cached, nullptr) != SQLITE_OK) {
    cached = nullptr;
  }
  return Statement(cached);
}

int32_t SqliteStore::bindContext(std::u16string_view key, bool byName, uint32_t* id) {
  Statement lookup = prepare(byName ? "SELECT id FROM contexts WHERE name = ?1"
                                    : "SELECT id FROM contexts WHERE dn = ?1");
  lookup.bind(1, key);
  const int stepped = lookup.step();
  if (stepped == SQLITE_DONE) return kNoSuchContext;
  if (stepped != SQLITE_ROW) return kStoreError;
  *id = static_cast<uint32_t>(lookup.columnInt(0));
  return 0;
}

int32_t SqliteStore::createContext(std::u16string_view name, std::u16string_view dn) {
  // One statement: a context that exists with the same DN is not an error, so processes that
  // race to create it all succeed.
  Statement insert =
      prepare("INSERT INTO contexts(name, dn) VALUES(?1, ?2) ON CONFLICT(name) DO NOTHING");
  insert.bind(1, name).bind(2, dn);
  if (insert.step() != SQLITE_DONE) return readOnly() ? kStoreReadOnly : kStoreError;
  Statement check = prepare("SELECT dn = ?2 FROM contexts WHERE name = ?1");
  check.bind(1, name).bind(2, dn);
  if (check.step() != SQLITE_ROW) return kStoreError;
  return check.columnInt(0) != 0 ? 0 : kContextConflict;
}

int32_t SqliteStore::contextName(uint32_t id, std::u16string* name) {
  Statement lookup = prepare("SELECT name FROM contexts WHERE id = ?1");
  lookup.bind(1, static_cast<int64_t>(id));
  const int stepped = lookup.step();
  if (stepped == SQLITE_DONE) return kNoSuchContext;
  if (stepped != SQLITE_ROW) return kStoreError;
  *name = lookup.columnText(0);
  return 0;
}

int32_t SqliteStore::begin() {
  if (readOnly()) return kStoreReadOnly;
  Statement stmt = prepare("BEGIN IMMEDIATE");
  pending_.clear();
  return stmt.step() == SQLITE_DONE ? 0 : kStoreError;
}

int32_t SqliteStore::commit() {
  Statement stmt = prepare("COMMIT");
  if (stmt.step() != SQLITE_DONE) return kStoreError;
  // Told only now, so a listener never hears of a change that was rolled back. A listener
  // may unsubscribe others (or itself): each is looked up again.
  std::vector<std::pair<uint32_t, Change>> committed = std::move(pending_);
  pending_.clear();
  for (const auto& [context, change] : committed) {
    for (auto found = listeners_.begin(); found != listeners_.end();) {
      const uint32_t id = found->first;
      if (found->second.context == context) {
        const ChangeListener listener = found->second.listener;
        listener(context, change);
      }
      found = listeners_.upper_bound(id);
    }
  }
  return 0;
}

void SqliteStore::rollback() {
  Exec(db_, "ROLLBACK");
  pending_.clear();
}

int32_t SqliteStore::findByDN(uint32_t context, std::u16string_view dn, EntryHead* head) {
  Statement find = prepare("SELECT id, class FROM entries WHERE context = ?1 AND dn = ?2");
  find.bind(1, static_cast<int64_t>(context)).bind(2, dn);
  const int stepped = find.step();
  if (stepped == SQLITE_DONE) return kNoSuchEntry;
  if (stepped != SQLITE_ROW) return kStoreError;
  *head = EntryHead{UIDOf(find.columnInt(0)), context, find.columnText(1)};
  return 0;
}

int32_t SqliteStore::findByUID(uint64_t uid, EntryHead* head) {
  const int64_t id = IDOf(uid);
  if (id == 0) return kNoSuchEntry;
  Statement find = prepare("SELECT context, class FROM entries WHERE id = ?1");
  find.bind(1, id);
  const int stepped = find.step();
  if (stepped == SQLITE_DONE) return kNoSuchEntry;
  if (stepped != SQLITE_ROW) return kStoreError;
  *head = EntryHead{uid, static_cast<uint32_t>(find.columnInt(0)), find.columnText(1)};
  return 0;
}

int32_t SqliteStore::load(uint64_t uid, StoredEntry* entry) {
  const int64_t id = IDOf(uid);
  if (id == 0) return kNoSuchEntry;
  Statement head = prepare("SELECT context, dn, class FROM entries WHERE id = ?1");
  head.bind(1, id);
  const int stepped = head.step();
  if (stepped == SQLITE_DONE) return kNoSuchEntry;
  if (stepped != SQLITE_ROW) return kStoreError;
  entry->uid = uid;
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

int32_t SqliteStore::insertValues(int64_t id, const std::vector<StoredValue>& values) {
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

int32_t SqliteStore::logChange(int64_t id, Change::Kind kind) {
  Statement log = prepare(
      "INSERT INTO changes(context, kind, uid, dn) SELECT context, ?2, ?3, dn FROM entries "
      "WHERE id = ?1 RETURNING number, context, dn");
  log.bind(1, id).bind(2, static_cast<int64_t>(kind)).bind(3, static_cast<int64_t>(UIDOf(id)));
  const int stepped = log.step();
  if (stepped == SQLITE_DONE) return kNoSuchEntry;  // no such entry: nothing logged
  if (stepped != SQLITE_ROW) return kStoreError;
  pending_.emplace_back(static_cast<uint32_t>(log.columnInt(1)),
                        Change{static_cast<uint64_t>(log.columnInt(0)), static_cast<uint8_t>(kind),
                               UIDOf(id), log.columnText(2)});
  return log.step() == SQLITE_DONE ? 0 : kStoreError;
}

int32_t SqliteStore::insert(uint32_t context, std::u16string_view dn, std::u16string_view className,
                            const std::vector<StoredValue>& values, uint64_t* uid,
                            std::u16string* madeDN) {
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
  const int64_t id = sqlite3_last_insert_rowid(db_);
  *uid = UIDOf(id);
  *madeDN = std::u16string(dn);
  if (dn.empty()) {
    *madeDN = u"@" + Hex(*uid, 16);
    Statement rename = prepare("UPDATE entries SET dn = ?2 WHERE id = ?1");
    rename.bind(1, id).bind(2, *madeDN);
    if (rename.step() != SQLITE_DONE) return kStoreError;
  }
  int32_t status = insertValues(id, values);
  if (status == 0) status = logChange(id, Change::kAdded);
  return status;
}

int32_t SqliteStore::replaceValues(uint64_t uid, const std::vector<std::u16string>& attributes,
                                   const std::vector<StoredValue>& values) {
  const int64_t id = IDOf(uid);
  Statement clear = prepare("DELETE FROM attribute_values WHERE entry = ?1 AND attribute = ?2");
  for (const std::u16string& attribute : attributes) {
    clear.bind(1, id).bind(2, attribute);
    if (clear.step() != SQLITE_DONE) return kStoreError;
    clear.reset();
  }
  int32_t status = insertValues(id, values);
  if (status == 0) status = logChange(id, Change::kUpdated);
  return status;
}

int32_t SqliteStore::remove(uint64_t uid) {
  const int64_t id = IDOf(uid);
  // Logged first, while the entry's context and DN can still be read.
  if (const int32_t logged = logChange(id, Change::kDeleted)) return logged;
  Statement erase = prepare("DELETE FROM entries WHERE id = ?1");
  erase.bind(1, id);
  if (erase.step() != SQLITE_DONE) return kStoreError;
  return sqlite3_changes(db_) == 0 ? kNoSuchEntry : 0;
}

namespace {

// The search statements: one level (the parent is the base) or the whole subtree (the parent is
// the base or below it; an empty base takes the whole context), each with or without a filter,
// each whole or as a page. Filtered forms are driven from the value index (CROSS JOIN keeps that
// order): the entries that hold the value are few, the siblings they are among may be many. A
// page picks its entries first (after a DN, up to a limit), so that the limit counts entries,
// not their values.
#define ZEL_SEARCH_COLUMNS \
  "SELECT e.id, e.dn, e.class, v.attribute, v.type_name, v.type_code, v.data "
#define ZEL_SEARCH_FILTERED                                                                  \
  "FROM (SELECT DISTINCT entry FROM attribute_values WHERE attribute = ?3 AND text = ?4) m " \
  "CROSS JOIN entries e ON e.id = m.entry "
#define ZEL_SEARCH_ALL "FROM entries e "
#define ZEL_SEARCH_VALUES "LEFT JOIN attribute_values v ON v.entry = e.id "
#define ZEL_SEARCH_ONE_LEVEL "WHERE e.context = ?1 AND e.parent = ?2 "
#define ZEL_SEARCH_SUBTREE                                               \
  "WHERE e.context = ?1 AND (coalesce(?2, '') = '' OR e.parent = ?2 OR " \
  "substr(e.parent, 1, length(?2) + 1) = ?2 || '/') "
#define ZEL_SEARCH_ORDER "ORDER BY e.dn, v.attribute, v.position"
#define ZEL_SEARCH_WHOLE(source, scope) \
  ZEL_SEARCH_COLUMNS source ZEL_SEARCH_VALUES scope ZEL_SEARCH_ORDER
#define ZEL_SEARCH_PAGE(source, scope)                                \
  ZEL_SEARCH_COLUMNS "FROM (SELECT e.id, e.dn, e.class " source scope \
                     "AND e.dn > ?5 ORDER BY e.dn LIMIT ?6) e " ZEL_SEARCH_VALUES ZEL_SEARCH_ORDER

// By [subtree][filtered][paged].
constexpr const char* kSearches[2][2][2] = {
    {{ZEL_SEARCH_WHOLE(ZEL_SEARCH_ALL, ZEL_SEARCH_ONE_LEVEL),
      ZEL_SEARCH_PAGE(ZEL_SEARCH_ALL, ZEL_SEARCH_ONE_LEVEL)},
     {ZEL_SEARCH_WHOLE(ZEL_SEARCH_FILTERED, ZEL_SEARCH_ONE_LEVEL),
      ZEL_SEARCH_PAGE(ZEL_SEARCH_FILTERED, ZEL_SEARCH_ONE_LEVEL)}},
    {{ZEL_SEARCH_WHOLE(ZEL_SEARCH_ALL, ZEL_SEARCH_SUBTREE),
      ZEL_SEARCH_PAGE(ZEL_SEARCH_ALL, ZEL_SEARCH_SUBTREE)},
     {ZEL_SEARCH_WHOLE(ZEL_SEARCH_FILTERED, ZEL_SEARCH_SUBTREE),
      ZEL_SEARCH_PAGE(ZEL_SEARCH_FILTERED, ZEL_SEARCH_SUBTREE)}},
};

#undef ZEL_SEARCH_COLUMNS
#undef ZEL_SEARCH_FILTERED
#undef ZEL_SEARCH_ALL
#undef ZEL_SEARCH_VALUES
#undef ZEL_SEARCH_ONE_LEVEL
#undef ZEL_SEARCH_SUBTREE
#undef ZEL_SEARCH_ORDER
#undef ZEL_SEARCH_WHOLE
#undef ZEL_SEARCH_PAGE

}  // namespace

int32_t SqliteStore::search(const SearchQuery& query, std::vector<StoredEntry>* matches) {
  const bool filtered = !query.attribute.empty();
  const bool paged = query.limit != 0 || !query.after.empty();
  Statement search = prepare(kSearches[query.subtree][filtered][paged]);
  search.bind(1, static_cast<int64_t>(query.context)).bind(2, query.base);
  if (filtered) search.bind(3, query.attribute).bind(4, query.text);
  if (paged) {
    search.bind(5, query.after).bind(6, query.limit == 0 ? int64_t{-1} : int64_t{query.limit});
  }
  int row;
  int64_t last = 0;
  bool first = true;  // ids are any integer in a store written behind our back, 0 included
  while ((row = search.step()) == SQLITE_ROW) {
    const int64_t id = search.columnInt(0);
    if (first || last != id) {
      first = false;
      if (search.columnText(1).find(u'\0') != std::u16string::npos) return kStoreError;
      matches->push_back(
          StoredEntry{UIDOf(id), query.context, search.columnText(1), search.columnText(2), {}});
      last = id;
    }
    if (search.columnType(3) != SQLITE_NULL) {  // an entry without values joins one NULL row
      matches->back().values.push_back(StoredValue{search.columnText(3), search.columnText(4),
                                                   static_cast<uint16_t>(search.columnInt(5)),
                                                   search.columnBlob(6)});
    }
  }
  return row == SQLITE_DONE ? 0 : kStoreError;
}

int32_t SqliteStore::changeNumber(uint32_t context, uint64_t* number) {
  Statement last = prepare("SELECT max(number) FROM changes WHERE context = ?1");
  last.bind(1, static_cast<int64_t>(context));
  if (last.step() != SQLITE_ROW) return kStoreError;
  *number = static_cast<uint64_t>(last.columnInt(0));  // NULL (no change yet) reads as 0
  return 0;
}

int32_t SqliteStore::changesSince(uint32_t context, uint64_t since, uint32_t maxCount,
                                  std::vector<Change>* changes, bool* more) {
  const uint32_t count =
      maxCount == 0 || maxCount > kMaxChangesAtOnce ? kMaxChangesAtOnce : maxCount;
  Statement read = prepare(
      "SELECT number, kind, uid, dn FROM changes WHERE context = ?1 AND number > ?2 "
      "ORDER BY number LIMIT ?3");
  // One more than asked tells whether others follow.
  read.bind(1, static_cast<int64_t>(context)).bind(2, static_cast<int64_t>(since));
  read.bind(3, int64_t{count} + 1);
  *more = false;
  int row;
  while ((row = read.step()) == SQLITE_ROW) {
    if (changes->size() == count) {
      *more = true;
      break;
    }
    changes->push_back(Change{static_cast<uint64_t>(read.columnInt(0)),
                              static_cast<uint8_t>(read.columnInt(1)),
                              static_cast<uint64_t>(read.columnInt(2)), read.columnText(3)});
  }
  return row == SQLITE_DONE || row == SQLITE_ROW ? 0 : kStoreError;
}

int32_t SqliteStore::subscribe(uint32_t context, ChangeListener listener, uint32_t* subscription) {
  *subscription = ++lastSubscription_;
  listeners_.emplace(*subscription, Listener{context, std::move(listener)});
  return 0;
}

int32_t SqliteStore::changeStamp(ZEL_DIR_ChangeStamp* stamp) {
  Statement version = prepare("PRAGMA data_version");
  if (version.step() != SQLITE_ROW) return kStoreError;
  stamp->commitsElsewhere = static_cast<uint64_t>(version.columnInt(0));
  stamp->changesHere = static_cast<uint64_t>(sqlite3_total_changes64(db_));
  return 0;
}

int32_t SqliteStore::unsubscribe(uint32_t subscription) {
  return listeners_.erase(subscription) != 0 ? 0 : kInvalidArgument;
}

int32_t SqliteStore::setTimeout(uint32_t milliseconds) {
  const int capped = milliseconds > INT32_MAX ? INT32_MAX : static_cast<int>(milliseconds);
  return sqlite3_busy_timeout(db_, capped) == SQLITE_OK ? 0 : kStoreError;
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
