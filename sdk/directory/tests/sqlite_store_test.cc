// The store suite on SQLite, and what only a store file has: indexes, several processes, store
// files that cannot be used or written.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "zel/directory/codes.h"
#include "zel/directory/entry.h"
#include "zel/directory/testing/backend.h"
#include "zel/runtime/alloc.h"

namespace zel::dir::testing {
std::vector<Backend> BackendsUnderTest() { return {SqliteBackend()}; }
}  // namespace zel::dir::testing

namespace {

using zel::dir::testing::SqliteDirectory;

// A store location given as a fixed text (a path or a "file:" URI).
struct Location final : ZEL_DIR_StoreLocation {
  explicit Location(std::string at) : path(std::move(at)) {}
  std::string path;
  std::string StorePath() override { return path; }
};

// Runs `sql` on the file behind the directory's back; the first column of the first row.
int64_t Raw(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
  const int64_t value = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return value;
}

class SqliteStoreTest : public ::testing::Test {
 protected:
  SqliteStoreTest() {
    first_.Directory().CreateDataContext(ZELString(u"Notes"), ZELString(u"Root/Notes"));
    first_.Directory().BindLDAP(ZELString(u"&Notes"), notes_);
  }
  const std::string& Path() { return path_; }
  // A directory of its own on `location`, as another process would have it.
  int32_t BindOn(ZEL_DIR_StoreLocation& location, ZEL_PS_LDAPSAL** out = nullptr) {
    hosts_.emplace_back(std::make_unique<zel::rt::testing::ScriptedHost>());
    hosts_.back()->Plugins().Offer(kZelDirectoryStoreInterface, &location);
    directories_.emplace_back(std::make_unique<ZEL_PS_LDAPSAL>(*hosts_.back()));
    if (out != nullptr) *out = directories_.back().get();
    uint32_t id = 0;
    return directories_.back()->BindLDAP(ZELString(u"&Notes"), id);
  }

  SqliteDirectory first_;
  std::string path_ = first_.Store().StorePath();
  uint32_t notes_ = 0;
  std::vector<std::unique_ptr<zel::rt::testing::ScriptedHost>> hosts_;
  std::vector<std::unique_ptr<ZEL_PS_LDAPSAL>> directories_;
};

TEST_F(SqliteStoreTest, LookupsAndSearchesUseIndexes) {
  ZEL_DIR_BaseEntry(&first_.Directory(), ZELString(u"Root/Notes/x"), notes_).Add();
  for (const char* sql :
       {"SELECT id FROM entries WHERE context = 1 AND dn = 'x'",
        "SELECT context, class FROM entries WHERE id = 1",
        "SELECT e.id, e.dn, e.class, v.attribute, v.type_name, v.type_code, v.data FROM entries "
        "e LEFT JOIN attribute_values v ON v.entry = e.id WHERE e.context = 1 AND e.parent = 'x' "
        "ORDER BY e.dn, v.attribute, v.position",
        "SELECT e.id, e.dn, e.class, v.attribute, v.type_name, v.type_code, v.data FROM (SELECT "
        "DISTINCT entry FROM attribute_values WHERE attribute = 'a' AND text = 'b') m CROSS JOIN "
        "entries e ON e.id = m.entry LEFT JOIN attribute_values v ON v.entry = e.id WHERE "
        "e.context = 1 AND e.parent = '' ORDER BY e.dn, v.attribute, v.position"}) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Path().c_str(), &db), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, (std::string("EXPLAIN QUERY PLAN ") + sql).c_str(), -1, &stmt, nullptr);
    std::string plan;
    while (sqlite3_step(stmt) == SQLITE_ROW)
      plan += std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3))) + "; ";
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    EXPECT_EQ(plan.find("SCAN e"), std::string::npos) << sql << " -> " << plan;
    EXPECT_EQ(plan.find("SCAN attribute_values"), std::string::npos) << sql << " -> " << plan;
    // A filtered search starts from the value index, not from all the siblings.
    if (std::string(sql).find("text = 'b'") != std::string::npos) {
      EXPECT_NE(plan.find("values_by_text"), std::string::npos) << plan;
    }
  }
}

TEST_F(SqliteStoreTest, ProcessesShareTheStore) {
  const int kChildren = 3, kEach = 20;
  for (int c = 0; c < kChildren; ++c) {
    if (fork() == 0) {
      ZEL_PS_LDAPSAL own(first_.Host());
      int failures = 0;
      for (int i = 0; i < kEach; ++i) {
        const std::string dn = "Root/Notes/p" + std::to_string(c) + "-" + std::to_string(i);
        failures += ZEL_DIR_BaseEntry(&own, ZELString::FromUtf8(dn), notes_).Add() != 0;
      }
      failures += own.CreateDataContext(ZELString(u"Child"), ZELString(u"C")) != 0;
      _exit(failures);
    }
  }
  for (int c = 0; c < kChildren; ++c) {
    int status = 0;
    wait(&status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(Raw(Path(), "SELECT count(*) FROM entries"), kChildren * kEach);
  uint32_t child = 0;
  EXPECT_EQ(first_.Directory().BindLDAP(ZELString(u"&Child"), child), 0);
}

// A store this program cannot use answers why at the first operation and is left as it was.
TEST_F(SqliteStoreTest, UnusableStoresSayWhyAndAreLeftAlone) {
  const std::string foreign = first_.Store().Folder() + "/not-a-store";
  std::ofstream(foreign) << std::string(4096, 'x');
  Raw(Path(), "PRAGMA user_version=99");
  struct Case {
    const char* what;
    std::string path;
    int32_t code;
  } const cases[] = {
      {"not a store", foreign, zel::dir::kStoreError},
      {"newer than this program", Path(), zel::dir::kStoreNewer},
      {"in a missing folder", "/nonexistent-folder/zel/directory.db", zel::dir::kStoreError},
  };
  for (const Case& c : cases) {
    Location location(c.path);
    EXPECT_EQ(BindOn(location), c.code) << c.what;
  }
  EXPECT_EQ(Raw(Path(), "PRAGMA user_version"), 99);  // not stamped down
  EXPECT_EQ(Raw(Path(), "SELECT count(*) FROM contexts"), 1);

  zel::rt::testing::ScriptedHost host;  // no store offered, or no table at all
  uint32_t id = 0;
  EXPECT_EQ(ZEL_PS_LDAPSAL(host).BindLDAP(ZELString(u"&X"), id), zel::dir::kNoStore);
  host.SetHasPluginApis(false);
  EXPECT_EQ(ZEL_PS_LDAPSAL(host).CreateDataContext(u"X", u"X"), zel::dir::kNoStore);
  zel::rt::FailNthAllocation(1);
  EXPECT_EQ(new (std::nothrow) ZEL_PS_LDAPSAL(host), nullptr);
}

// A store that cannot be written is read without a write. Tests may run as root, where a file's
// mode does not stop writes: the "mode=ro" row makes SQLite itself refuse every write whatever
// the user, so the read path is shown to need none; the first row checks writes only when the
// mode binds.
TEST_F(SqliteStoreTest, ReadOnlyStoresAreReadWithoutWriting) {
  const std::string folder = first_.Store().Folder() + "/ro", path = folder + "/directory.db";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  {  // written and closed, as a store is when nobody has it open
    Location writable(path);
    zel::rt::testing::ScriptedHost host;
    host.Plugins().Offer(kZelDirectoryStoreInterface, &writable);
    ZEL_PS_LDAPSAL writer(host);
    ASSERT_EQ(writer.CreateDataContext(u"Notes", u"Root/Notes"), 0);
    ASSERT_EQ(ZEL_DIR_BaseEntry(&writer, ZELString(u"kept"), 1).Add(), 0);
  }
  struct Case {
    const char* what;
    std::string location;
    mode_t fileMode, folderMode;
  } const cases[] = {
      {"a read-only file in a read-only folder", path, 0444, 0555},
      {"opened for reading only", "file:" + path + "?mode=ro", 0644, 0755},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    chmod(path.c_str(), c.fileMode);
    chmod(folder.c_str(), c.folderMode);
    Location location(c.location);
    ZEL_PS_LDAPSAL* reader = nullptr;
    ASSERT_EQ(BindOn(location, &reader), 0);
    EXPECT_EQ(ZEL_DIR_BaseEntry(reader, ZELString(u"kept"), 1).Sync(), 0);
    ZEL_DIR_SearchHelper all(reader, 1, ZELString(), 1, ZELString(), u"*");
    uint32_t count = 0;
    EXPECT_EQ(all.Search(count), 0);
    EXPECT_EQ(count, 1u);
    if (c.fileMode == 0644 || geteuid() != 0) {
      EXPECT_EQ(ZEL_DIR_BaseEntry(reader, ZELString(u"new"), 1).Add(), zel::dir::kStoreReadOnly);
      EXPECT_EQ(reader->CreateDataContext(u"More", u"M"), zel::dir::kStoreReadOnly);
    }
    directories_.clear();
    chmod(folder.c_str(), 0755);
    chmod(path.c_str(), 0644);
  }
  EXPECT_EQ(Raw(path, "SELECT count(*) FROM entries"), 1);
}

}  // namespace
