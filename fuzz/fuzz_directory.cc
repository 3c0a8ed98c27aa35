// The directory's value readers on a store damaged behind the component's back. A store file is
// built once through the library (objects with capabilities, icons, a plug-in, an entry with a
// value of every type); each input starts from a copy of it, damages it through plain SQL
// (hostile values, types and rows) and by changing its bytes, then reads it back through the
// component and the library. Every call answers a code; nothing is left allocated; and while
// only values and rows were changed (pages intact, schema as written), what a search delivers is
// what plain SQL reads from the same file.
//
// Input: a list of damages, each an opcode byte and its arguments (see Damage); a typed value
// is a kind byte and its bytes (see BindValue).
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "zel/admintool/zel_admintoolsal.h"
#include "zel/directory/codes.h"
#include "zel/directory/entry.h"
#include "zel/runtime/alloc.h"
#include "zel/runtime/testing/scripted_host.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The bytes of the input, taken front to back; zeros once they run out.
class Cursor {
 public:
  Cursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool done() const { return offset_ >= size_; }
  uint8_t byte() { return offset_ < size_ ? data_[offset_++] : 0; }
  uint32_t number(int bytes) {
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | byte();
    return value;
  }
  int64_t wide() {
    const uint64_t high = number(4);
    return static_cast<int64_t>(high << 32 | number(4));
  }
  Bytes take(size_t length) {
    const size_t n = std::min(length, size_ - std::min(offset_, size_));
    Bytes out(data_ + offset_, data_ + offset_ + n);
    offset_ += n;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};

class Location final : public ZEL_DIR_StoreLocation {
 public:
  std::string StorePath() override { return path; }
  std::string path;
};

// What the template store holds, found once when it is built.
struct Template {
  std::string folder;
  Location location;
  Bytes image;
  std::vector<std::u16string> iconNames;                    // DNs of the icon entries
  std::vector<std::pair<int64_t, std::u16string>> parents;  // (context, parent DN) of every entry
  std::vector<std::u16string> attributes;
  int64_t lastID = 0;
};

// A SAL object on a scripted host that offers the store, with the process-wide context state
// reset (each input binds its contexts again).
struct Session {
  explicit Session(Location& location) {
    host.Plugins().Offer(kZelDirectoryStoreInterface, &location);
    host.SetNeighborhoodName(ZELString(u"North"));
    ZEL_AdminToolSAL::s_adminToolContext = ZELString();
    ZEL_AdminToolSAL::s_cid = ZEL_AdminToolSAL::s_objCid = 0;
    ZEL_AdminToolSAL::s_iconCid = ZEL_AdminToolSAL::s_pluginCid = 0;
  }
  zel::rt::testing::ScriptedHost host;
  ZEL_AdminToolSAL sal{host};
  ZEL_PS_LDAPSAL store{host};
};

ZEL_AdminToolIcon IconOf(uint16_t ssid, const char16_t* name, uint8_t seed) {
  void* block = nullptr;
  ZEL_FUZZ_CHECK(ZEL_BUF_Allocate_Debug(640, &block, "fuzz_directory", __LINE__) == 0);
  auto* bits = static_cast<uint8_t*>(block);
  for (int i = 0; i < 640; ++i) bits[i] = static_cast<uint8_t>(i * seed + 1);
  return ZEL_AdminToolIcon(ssid, name, 1, 640, bits);
}

ZEL_AdminToolObject ObjectOf(const char16_t* parent, const char16_t* name, uint64_t uid) {
  ZEL_AdminToolObject object(parent, name);
  object.setTitle(u"A title");
  object.setFlags(0x21);
  object.setSSID(7);
  object.setIcon(0x0000012100000003);
  object.setUID(uid);
  return object;
}

// Rows of a plain SQL query on the store file.
template <typename Row>
bool Query(sqlite3* db, const char* sql, Row&& row, int64_t a = 0,
           const std::u16string* b = nullptr) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) return false;
  sqlite3_bind_int64(stmt, 1, a);
  if (b != nullptr)
    sqlite3_bind_text16(stmt, 2, b->data(), static_cast<int>(b->size() * 2), SQLITE_TRANSIENT);
  int stepped;
  while ((stepped = sqlite3_step(stmt)) == SQLITE_ROW) row(stmt);
  sqlite3_finalize(stmt);
  return stepped == SQLITE_DONE;
}

std::u16string Text16(sqlite3_stmt* stmt, int column) {
  const auto* text = static_cast<const char16_t*>(sqlite3_column_text16(stmt, column));
  return text == nullptr ? std::u16string()
                         : std::u16string(text, sqlite3_column_bytes16(stmt, column) / 2);
}

Bytes Blob(sqlite3_stmt* stmt, int column) {
  const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(stmt, column));
  return data == nullptr ? Bytes() : Bytes(data, data + sqlite3_column_bytes(stmt, column));
}

Bytes ReadFile(const std::string& path) {
  Bytes bytes;
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
      bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(file);
  }
  return bytes;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  ZEL_FUZZ_CHECK(file != nullptr);
  ZEL_FUZZ_CHECK(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
  std::fclose(file);
}

// The store every input starts from, written through the library and the component.
Template& Built() {
  static Template* built = [] {
    auto* t = new Template;
    const char* shm = "/dev/shm";
    struct stat info;
    std::string pattern = (::stat(shm, &info) == 0 ? std::string(shm) : std::string("/tmp")) +
                          "/zel-fuzz-directory-XXXXXX";
    ZEL_FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
    t->folder = pattern;
    // The folder goes when the run ends (a finding leaves it for a look).
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(Built().folder, ignored);
    });
    t->location.path = t->folder + "/directory.db";
    {
      Session session(t->location);
      ZEL_AdminToolSAL& sal = session.sal;
      ZEL_AdminToolObject group = ObjectOf(u"Root", u"Servers", 10);
      ZEL_FUZZ_CHECK(sal.RegisterObject(group, false) == 0);
      for (const char16_t* name : {u"web01", u"web02", u"db\\/01"}) {
        ZEL_AdminToolObject child = ObjectOf(u"Root/Servers", name, 11);
        ZEL_FUZZ_CHECK(sal.RegisterObject(child, false) == 0);
        ZELString dn(child.getDN());
        uint32_t capabilities[] = {1, 2, 3};
        ZEL_FUZZ_CHECK(sal.UpdateObject(dn, 3, capabilities) == 0);
      }
      for (uint8_t seed : {3, 5}) {
        ZEL_AdminToolIcon icon = IconOf(7, seed == 3 ? u"Server" : u"Disk", seed);
        ZEL_FUZZ_CHECK(sal.RegisterIcon(icon) == 0);
      }
      ZEL_AdminToolPlugin plugin;
      plugin.setName(u"Reports");
      ZEL_FUZZ_CHECK(sal.RegisterPlugin(plugin) == 0);
      // One entry with a value of every type the component knows.
      uint32_t values = 0;
      ZEL_FUZZ_CHECK(session.store.CreateDataContext(ZELString(u"Values"), ZELString(u"V")) == 0);
      ZEL_FUZZ_CHECK(session.store.BindLDAP(ZELString(u"&Values"), values) == 0);
      ZEL_DIR_BaseEntry entry(&session.store, ZELString(u"all"), values);
      const uint16_t u16 = 0xBEEF;
      const uint32_t u32 = 0xDEADBEEF;
      const uint64_t u64 = 0x0123456789ABCDEF;
      entry.AddValue(u"text", u"css", 7, u"hello", 12);
      entry.AddValue(u"bits", u"bin", 9, "\x01\x02\x03", 3);
      entry.AddValue(u"empty", u"bin", 9, nullptr, 0);
      entry.AddValue(u"short", u"uint16", 11, &u16, 2);
      entry.AddValue(u"long", u"uint32", 12, &u32, 4);
      entry.AddValue(u"long", u"uint32", 12, &u32, 4);
      entry.AddValue(u"wide", u"uidvalue", 16, &u64, 8);
      ZEL_FUZZ_CHECK(entry.Add() == 0);
    }
    sqlite3* db = nullptr;
    ZEL_FUZZ_CHECK(sqlite3_open_v2(t->location.path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
                   SQLITE_OK);
    ZEL_FUZZ_CHECK(Query(db, "SELECT DISTINCT context, parent FROM entries ORDER BY 1, 2",
                         [&](sqlite3_stmt* s) {
                           t->parents.emplace_back(sqlite3_column_int64(s, 0), Text16(s, 1));
                         }));
    ZEL_FUZZ_CHECK(Query(db, "SELECT DISTINCT attribute FROM attribute_values ORDER BY 1",
                         [&](sqlite3_stmt* s) { t->attributes.push_back(Text16(s, 0)); }));
    ZEL_FUZZ_CHECK(Query(db, "SELECT max(id) FROM entries",
                         [&](sqlite3_stmt* s) { t->lastID = sqlite3_column_int64(s, 0); }));
    ZEL_FUZZ_CHECK(Query(db, "SELECT dn FROM entries WHERE class = 'CLASS-AdminToolIconClass'",
                         [&](sqlite3_stmt* s) { t->iconNames.push_back(Text16(s, 0)); }));
    sqlite3_close(db);
    // The last connection closed: the log is folded into the file, which now stands alone.
    t->image = ReadFile(t->location.path);
    ZEL_FUZZ_CHECK(!t->image.empty() && t->iconNames.size() == 2 && t->parents.size() >= 4);
    return t;
  }();
  return *built;
}

// --- Damage -------------------------------------------------------------------------------------

enum Damage : uint8_t {
  kValueColumn,    // row, column, typed value: one column of one stored value
  kEntryColumn,    // row, column, typed value: one column of one entry
  kContextColumn,  // row, column, typed value: one column of one context
  kInsertValue,    // row of entries, attribute, typed value: one more value of an entry
  kManyValues,     // row of entries, attribute, count (2 bytes): up to 1,024 more values
  kDeleteRow,      // table, row
  kLooseTable,     // table: rebuilt without its types, keys and constraints
  kUserVersion,    // 4 bytes: the schema version
  kFlipByte,       // offset (3 bytes), mask: one byte of the file changed
  kTruncate,       // length (3 bytes): the file cut short
  kDamageCount
};

constexpr const char* kTables[] = {"attribute_values", "entries", "contexts"};
constexpr const char* kValueColumns[] = {"entry",     "attribute", "position", "type_name",
                                         "type_code", "data",      "text"};
constexpr const char* kEntryColumns[] = {"id", "context", "dn", "parent", "class"};
constexpr const char* kContextColumns[] = {"id", "name", "dn"};
constexpr const char* kTypeNames[] = {"css", "bin", "uint16", "uint32", "uidvalue", "int16", ""};
constexpr int kBigSizes[] = {0, 1, 639, 640, 641, 65536, 1 << 20, 4 << 20};

// Binds a typed value of the input: text from UTF-16 units (an odd length and lone surrogates
// included), text from raw bytes (not checked as UTF-8), a blob, an integer, NULL, a real, or
// a large zero blob.
void BindValue(sqlite3_stmt* stmt, int index, Cursor& in) {
  const uint8_t kind = in.byte() % 7;
  if (kind == 3) {
    sqlite3_bind_int64(stmt, index, in.wide());
  } else if (kind == 4) {
    sqlite3_bind_null(stmt, index);
  } else if (kind == 5) {
    sqlite3_bind_double(stmt, index, static_cast<double>(in.wide()) / 7.0);
  } else if (kind == 6) {
    sqlite3_bind_zeroblob(stmt, index, kBigSizes[in.byte() % 8]);
  } else {
    const Bytes bytes = in.take(in.byte());
    const void* data = bytes.empty() ? "" : static_cast<const void*>(bytes.data());
    const int size = static_cast<int>(bytes.size());
    if (kind == 0) sqlite3_bind_text16(stmt, index, data, size, SQLITE_TRANSIENT);
    if (kind == 1)
      sqlite3_bind_text(stmt, index, static_cast<const char*>(data), size, SQLITE_TRANSIENT);
    if (kind == 2) sqlite3_bind_blob(stmt, index, data, size, SQLITE_TRANSIENT);
  }
}

// Runs one statement whose ?1 is a typed value of the input (when `typed`) and whose ?2 is the
// row number; a failure (a constraint, a type) is part of the game.
void Run(sqlite3* db, const std::string& sql, Cursor& in, uint32_t row, bool typed) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) return;
  if (typed) BindValue(stmt, 1, in);
  sqlite3_bind_int64(stmt, 2, row);
  sqlite3_step(stmt);
  sqlite3_finalize(stmt);
}

std::string RowOf(const char* table) {
  return std::string(table) == "attribute_values"
             ? "(entry, attribute, position) IN (SELECT entry, attribute, position FROM "
               "attribute_values ORDER BY 1, 2, 3 LIMIT 1 OFFSET ?2)"
             : std::string("id IN (SELECT id FROM ") + table + " ORDER BY id LIMIT 1 OFFSET ?2)";
}

// What the damages did to the file: whether the store still has its pages and schema.
struct Damaged {
  bool pages = false;
  bool schema = false;
};

Damaged Damage(const std::string& path, Cursor& in) {
  Damaged damaged;
  std::vector<std::pair<uint32_t, uint8_t>> flips;
  int64_t cut = -1;
  sqlite3* db = nullptr;
  ZEL_FUZZ_CHECK(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK);
  const std::vector<std::u16string>& attributes = Built().attributes;
  for (int steps = 0; steps < 16 && !in.done(); ++steps) {
    const uint8_t op = in.byte() % kDamageCount;
    const uint32_t row = op <= kManyValues ? in.byte() : 0;
    switch (op) {
      case kValueColumn:
        Run(db,
            std::string("UPDATE attribute_values SET ") + kValueColumns[in.byte() % 7] +
                " = ?1 WHERE " + RowOf("attribute_values"),
            in, row, true);
        break;
      case kEntryColumn:
        Run(db,
            std::string("UPDATE entries SET ") + kEntryColumns[in.byte() % 5] + " = ?1 WHERE " +
                RowOf("entries"),
            in, row, true);
        break;
      case kContextColumn:
        Run(db,
            std::string("UPDATE contexts SET ") + kContextColumns[in.byte() % 3] + " = ?1 WHERE " +
                RowOf("contexts"),
            in, row, true);
        break;
      case kInsertValue: {
        const std::u16string& attribute = attributes[in.byte() % attributes.size()];
        const std::string name(attribute.begin(), attribute.end());  // ASCII names
        const char* type = kTypeNames[in.byte() % 7];
        const uint8_t position = in.byte();
        Run(db,
            "INSERT INTO attribute_values SELECT id, '" + name + "', 1000 + ?2, '" + type +
                "', 12, ?1, NULL FROM entries ORDER BY id LIMIT 1 OFFSET " + std::to_string(row),
            in, position, true);
        break;
      }
      case kManyValues: {
        const std::u16string& attribute = attributes[in.byte() % attributes.size()];
        const std::string name(attribute.begin(), attribute.end());
        const uint32_t count = in.number(2) % 1025;
        Run(db,
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                std::to_string(count) + ") INSERT INTO attribute_values SELECT e.id, '" + name +
                "', 2000 + n.i, 'uint32', 12, CAST(n.i AS BLOB), NULL FROM n, (SELECT id FROM "
                "entries ORDER BY id LIMIT 1 OFFSET ?2) e",
            in, row, false);
        break;
      }
      case kDeleteRow: {
        const char* table = kTables[in.byte() % 3];
        const uint8_t which = in.byte();
        Run(db, std::string("DELETE FROM ") + table + " WHERE " + RowOf(table), in, which, false);
        break;
      }
      case kLooseTable: {
        const std::string table = kTables[in.byte() % 3];
        damaged.schema = true;
        sqlite3_exec(db,
                     ("CREATE TABLE loose AS SELECT * FROM " + table + "; DROP TABLE " + table +
                      "; ALTER TABLE loose RENAME TO " + table + ";")
                         .c_str(),
                     nullptr, nullptr, nullptr);
        break;
      }
      case kUserVersion:
        damaged.schema = true;
        sqlite3_exec(
            db,
            ("PRAGMA user_version = " + std::to_string(static_cast<int32_t>(in.number(4)))).c_str(),
            nullptr, nullptr, nullptr);
        break;
      case kFlipByte: {
        const uint32_t offset = in.number(3);
        flips.emplace_back(offset, in.byte() | 1);
        break;
      }
      default:
        cut = in.number(3);
        break;
    }
  }
  ZEL_FUZZ_CHECK(sqlite3_close(db) == SQLITE_OK);
  // Page damage comes last, on the file as the store left it.
  if (!flips.empty() || cut >= 0) {
    Bytes file = ReadFile(path);
    for (const auto& [offset, mask] : flips) {
      if (!file.empty()) file[offset % file.size()] ^= mask;
    }
    if (cut >= 0 && !file.empty()) file.resize(static_cast<size_t>(cut) % file.size());
    WriteFile(path, file);
    damaged.pages = true;
  }
  return damaged;
}

// --- Reading ------------------------------------------------------------------------------------

bool IsDirectoryAnswer(int32_t code) {
  return code == 0 || code == zel::dir::kEntryExists || code == zel::dir::kNoSuchEntry ||
         code == zel::dir::kNoMore || (static_cast<uint32_t>(code) & 0xFFFF0000u) == 0x80030000u;
}

bool IsLibraryAnswer(int32_t code) {
  return IsDirectoryAnswer(code) || code == ZEL_E_FAIL || code == ZEL_E_NO_EVENT;
}

// Every value of `attribute`, read through the entry: asked with no room, each answers its
// size; asked again with exactly that room, its bytes; with one byte less, the size it needs.
std::vector<Bytes> ValuesOf(ZEL_DIR_Entry& entry, const std::u16string& attribute) {
  const char16_t* name = attribute.c_str();
  const auto get = [&](bool first, void* data, uint32_t& size) {
    uint32_t type = 0;
    return first ? entry.GetFirstValue(name, data, size, type)
                 : entry.GetNextValue(name, data, size, type);
  };
  uint32_t count = 0;
  ZEL_FUZZ_CHECK(entry.GetValueCount(name, count) == 0);
  std::vector<Bytes> values;
  for (uint32_t i = 0; i <= count; ++i) {
    uint32_t size = 0;
    const int32_t answer = get(i == 0, nullptr, size);
    if (i == count) {
      ZEL_FUZZ_CHECK(answer == zel::dir::kNoMore);
      break;
    }
    ZEL_FUZZ_CHECK(answer == (size == 0 ? 0 : zel::dir::kValueTooLarge));
    values.emplace_back(size);
  }
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t size = static_cast<uint32_t>(values[i].size());
    ZEL_FUZZ_CHECK(get(i == 0, values[i].data(), size) == 0 && size == values[i].size());
  }
  if (count != 0 && !values[0].empty()) {
    uint32_t size = static_cast<uint32_t>(values[0].size()) - 1;
    Bytes room(size + 1, 0xA5);
    ZEL_FUZZ_CHECK(get(true, room.data(), size) == zel::dir::kValueTooLarge &&
                   size == values[0].size() && room == Bytes(size, 0xA5));
  }
  return values;
}

// Each match's values, by attribute.
using Entry = std::map<std::u16string, std::vector<Bytes>>;

// The matches of one search as plain SQL reads them from the file, in the order searches
// deliver them.
bool PlainSearch(sqlite3* db, int64_t context, const std::u16string& parent,
                 std::vector<Entry>* out) {
  int64_t last = 0;
  bool first = true;
  return Query(
      db,
      "SELECT e.id, v.attribute, v.data FROM entries e LEFT JOIN attribute_values v ON v.entry = "
      "e.id "
      "WHERE e.context = ?1 AND e.parent = ?2 ORDER BY e.dn, e.id, v.attribute, v.position",
      [&](sqlite3_stmt* s) {
        const int64_t id = sqlite3_column_int64(s, 0);
        if (first || id != last) out->emplace_back();
        first = false;
        last = id;
        if (sqlite3_column_type(s, 1) != SQLITE_NULL)
          out->back()[Text16(s, 1)].push_back(Blob(s, 2));
      },
      context, &parent);
}

// Every entry below every parent the template has, through the component; compared with plain
// SQL when `compare`.
void SearchEverything(ZEL_PS_LDAPSAL& store, const std::string& path, bool compare) {
  sqlite3* db = nullptr;
  if (compare && sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    db = nullptr;
  }
  for (const auto& [context, parent] : Built().parents) {
    ZEL_DIR_SearchHelper search(&store, ZEL_DIR_SearchHelper::kOneLevel,
                                ZELString(std::u16string_view(parent)),
                                static_cast<uint32_t>(context), ZELString(), ZELString(u"*"));
    uint32_t count = 0;
    const int32_t searched = search.Search(count);
    ZEL_FUZZ_CHECK(IsDirectoryAnswer(searched));
    std::vector<Entry> plain;
    const bool comparable =
        searched == 0 && db != nullptr && PlainSearch(db, context, parent, &plain);
    if (comparable) ZEL_FUZZ_CHECK(plain.size() == count);
    ZEL_DIR_BaseEntry entry(&store, ZELString(), static_cast<uint32_t>(context));
    ZELString name;
    uint32_t delivered = 0;
    for (int32_t walk = search.GetFirstEntry(name, entry); walk != zel::dir::kNoMore;
         walk = search.GetNextEntry(name, entry)) {
      ZEL_FUZZ_CHECK(IsDirectoryAnswer(walk));
      if (walk != 0) break;
      ZEL_FUZZ_CHECK(delivered < count);
      for (const std::u16string& attribute : Built().attributes) ValuesOf(entry, attribute);
      if (comparable) {
        for (const auto& [attribute, values] : plain[delivered]) {
          if (attribute.find(u'\0') != std::u16string::npos) continue;  // cannot be asked for
          ZEL_FUZZ_CHECK(ValuesOf(entry, attribute) == values);
        }
      }
      ++delivered;
    }
    if (searched == 0) ZEL_FUZZ_CHECK(delivered == count);
  }
  sqlite3_close(db);
}

// An icon holds exactly 640 bytes of bits or none; one that was read (`answer` 0) and has none
// says so with flags 255, whatever the store held.
void CheckIcon(const ZEL_AdminToolIcon& icon, int32_t answer) {
  ZEL_FUZZ_CHECK(IsLibraryAnswer(answer));
  ZEL_FUZZ_CHECK((icon.getData() != nullptr) == (icon.getSize() == ZEL_AdminToolIcon::kBitsSize));
  if (answer == 0 && icon.getData() == nullptr) {
    ZEL_FUZZ_CHECK(icon.getFlags() == ZEL_AdminToolIcon::kNoBits);
  }
}

void FreeChildren(ZEL_AdminToolObject& group) {
  for (ZEL_AdminToolObject* child = group.getChild(); child != nullptr;) {
    ZEL_AdminToolObject* next = child->getSibling();
    delete child;
    child = next;
  }
}

// The library's readers of stored values, then its writers on the damaged store.
void ThroughTheLibrary(ZEL_AdminToolSAL& sal) {
  const Template& t = Built();
  for (const char16_t* name : {u"Servers", u"web01", u"web02"}) {
    ZEL_AdminToolObject object = ObjectOf(name[0] == u'S' ? u"Root" : u"Root/Servers", name, 1);
    ZEL_FUZZ_CHECK(IsLibraryAnswer(sal.GetObjectW(object)));
  }
  ZEL_AdminToolObject group(u"Root", u"Servers");
  ZEL_FUZZ_CHECK(IsLibraryAnswer(sal.ReadGroupFromDirectory(&group)));
  FreeChildren(group);
  uint32_t count = 0;
  AdminObjectCapability* capabilities = nullptr;
  ZEL_FUZZ_CHECK(IsLibraryAnswer(
      sal.GetStaticGroupPermissionHelper(ZELString(u"Root/Servers"), count, &capabilities)));
  sal.FreeCapabilities(capabilities);
  // Every entry by UID (the template's and one past them), and the icons by name.
  for (int64_t id = 1; id <= t.lastID + 1; ++id) {
    ZEL_AdminToolIcon icon(uint64_t{0x0007000000000000} | static_cast<uint64_t>(id));
    CheckIcon(icon, sal.GetIconByUID(icon));
  }
  for (const std::u16string& dn : t.iconNames) {
    ZEL_AdminToolIcon icon(7, dn.c_str());
    CheckIcon(icon, sal.GetIconByName(icon));
  }
  ZEL_AdminToolPlugin plugin;
  plugin.setName(u"Reports");
  ZEL_FUZZ_CHECK(IsLibraryAnswer(sal.GetPlugin(plugin)));
  // Writers read first: a capability merge and an icon looked up by its checksum.
  ZELString web01(u"Root/Servers/web01");
  uint32_t more[] = {3, 4};
  ZEL_FUZZ_CHECK(IsLibraryAnswer(sal.UpdateObject(web01, 2, more)));
  ZEL_AdminToolIcon icon = IconOf(7, u"Server", 3);
  ZEL_FUZZ_CHECK(IsLibraryAnswer(sal.RegisterIcon(icon)));
}

}  // namespace

// Each input opens four connections to the store, whose page caches then pass through the
// sanitizer's quarantine; a smaller one halves the time per input and keeps the process small.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Template& t = Built();
  const std::string& path = t.location.path;
  ::unlink((path + "-wal").c_str());
  ::unlink((path + "-shm").c_str());
  WriteFile(path, t.image);
  Cursor in(data, size);
  const Damaged damaged = Damage(path, in);
  const uint64_t allocations = zel::rt::GetAllocationStats().outstanding();
  const uint64_t blocks = zel::rt::OutstandingDebugBlocks();
  {
    Session session(t.location);
    SearchEverything(session.store, path, !damaged.pages && !damaged.schema);
    ThroughTheLibrary(session.sal);
  }
  ZEL_FUZZ_CHECK(zel::rt::GetAllocationStats().outstanding() == allocations);
  ZEL_FUZZ_CHECK(zel::rt::OutstandingDebugBlocks() == blocks);
  return 0;
}
