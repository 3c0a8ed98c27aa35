// The store suite on SQLite, and what only a store file has: indexes, several processes, store
// files that cannot be used or written.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>

#include "zel/directory/codes.h"
#include "zel/directory/entry.h"
#include "zel/directory/testing/backend.h"
#include "zel/runtime/alloc.h"

namespace zel::dir::testing {
std::vector<Backend> BackendsUnderTest() { return {SqliteBackend()}; }
}  // namespace zel::dir::testing

namespace {

// A directory on a store location given as a text (a path or a "file:" URI), as another
// process would have it; the context "Notes" is 1 in every store made here.
struct Opened final : ZEL_DIR_StoreLocation {
  explicit Opened(std::string at) : path(std::move(at)) {
    host.Plugins().Offer(kZelDirectoryStoreInterface, this);
  }
  std::string StorePath() override { return path; }
  int32_t Bind() {
    uint32_t id = 0;
    return directory.BindLDAP(u"&Notes", id);
  }
  std::string path;
  zel::rt::testing::ScriptedHost host;
  ZEL_PS_LDAPSAL directory{host};
};

// Runs `sql` on the file behind the directory's back: `column` of every row, joined by "; ".
std::string Raw(const std::string& path, const std::string& sql, int column = 0) {
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

class SqliteStoreTest : public ::testing::Test {
 protected:
  SqliteStoreTest() { first_.directory.CreateDataContext(u"Notes", u"Root/Notes"); }
  // A store holding one entry, "kept", closed as a store is when nobody has it open.
  static void WriteAndClose(const std::string& path) {
    Opened writer(path);
    ASSERT_EQ(writer.directory.CreateDataContext(u"Notes", u"Root/Notes"), 0);
    ASSERT_EQ(ZEL_DIR_BaseEntry(&writer.directory, u"kept", 1).Add(), 0);
  }
  zel::dir::testing::TempStore store_;
  const std::string path_ = store_.StorePath();
  Opened first_{path_};
};

TEST_F(SqliteStoreTest, LookupsAndSearchesUseIndexes) {
  ZEL_DIR_BaseEntry(&first_.directory, u"Root/Notes/x", 1).Add();
  const std::string entries = "SELECT e.id, e.dn, e.class, v.attribute, v.data FROM ";
  const std::string values =
      "LEFT JOIN attribute_values v ON v.entry = e.id WHERE e.context = 1 "
      "AND e.parent = 'x' ORDER BY e.dn, v.attribute, v.position";
  for (const std::string& sql :
       {std::string("SELECT id FROM entries WHERE context = 1 AND dn = 'x'"),
        std::string("SELECT context, class FROM entries WHERE id = 1"),
        entries + "entries e " + values,
        entries +
            "(SELECT DISTINCT entry FROM attribute_values WHERE attribute = 'a' AND text = "
            "'b') m CROSS JOIN entries e ON e.id = m.entry " +
            values}) {
    const std::string plan = Raw(path_, "EXPLAIN QUERY PLAN " + sql, 3);
    EXPECT_EQ(plan.find("SCAN e"), std::string::npos) << sql << " -> " << plan;
    EXPECT_EQ(plan.find("SCAN attribute_values"), std::string::npos) << sql << " -> " << plan;
    // A filtered search starts from the value index, not from all the siblings.
    if (sql.find("m CROSS") != std::string::npos) {
      EXPECT_NE(plan.find("values_by_text"), std::string::npos) << plan;
    }
  }
}

TEST_F(SqliteStoreTest, ProcessesShareTheStore) {
  const int kChildren = 3, kEach = 20;
  for (int c = 0; c < kChildren; ++c) {
    if (fork() == 0) {
      Opened own(path_);
      int failures = own.directory.CreateDataContext(u"Child", u"C") != 0;
      for (int i = 0; i < kEach; ++i) {
        const std::string dn = "p" + std::to_string(c) + "-" + std::to_string(i);
        failures += ZEL_DIR_BaseEntry(&own.directory, ZELString::FromUtf8(dn), 1).Add() != 0;
      }
      _exit(failures);
    }
  }
  for (int c = 0; c < kChildren; ++c) {
    int status = 0;
    wait(&status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(Raw(path_, "SELECT count(*) FROM entries"), std::to_string(kChildren * kEach));
  uint32_t child = 0;
  EXPECT_EQ(first_.directory.BindLDAP(u"&Child", child), 0);
}

// A store this program cannot use answers why at the first operation and is left as it was.
TEST_F(SqliteStoreTest, UnusableStoresSayWhyAndAreLeftAlone) {
  const std::string foreign = store_.Folder() + "/not-a-store";
  std::ofstream(foreign) << std::string(4096, 'x');
  Raw(path_, "PRAGMA user_version=99");
  const struct {
    const char* what;
    std::string path;
    int32_t code;
  } cases[] = {
      {"not a store", foreign, zel::dir::kStoreError},
      {"newer than this program", path_, zel::dir::kStoreNewer},
      {"in a missing folder", "/nonexistent-folder/zel/directory.db", zel::dir::kStoreError},
  };
  for (const auto& c : cases) EXPECT_EQ(Opened(c.path).Bind(), c.code) << c.what;
  EXPECT_EQ(Raw(path_, "PRAGMA user_version"), "99");  // not stamped down
  EXPECT_EQ(Raw(path_, "SELECT count(*) FROM contexts"), "1");
  // A name with a NUL, written behind the directory's back, is damage, not its prefix's entry.
  Raw(path_, "PRAGMA user_version=2");
  ZEL_DIR_BaseEntry named(&first_.directory, u"a", 1);
  ASSERT_EQ(named.Add(), 0);
  Raw(path_, "UPDATE entries SET dn = 'a' || char(0) || 'b'");
  EXPECT_EQ(ZEL_DIR_Entry(&first_.directory, named.GetUID(), u"").Sync(), zel::dir::kStoreError);
  uint32_t count = 0;
  EXPECT_EQ(
      ZEL_DIR_SearchHelper(&first_.directory, 1, ZELString(), 1, ZELString(), u"*").Search(count),
      zel::dir::kStoreError);

  zel::rt::testing::ScriptedHost host;  // no store offered, or no table at all
  uint32_t id = 0;
  EXPECT_EQ(ZEL_PS_LDAPSAL(host).BindLDAP(u"&X", id), zel::dir::kNoStore);
  host.SetHasPluginApis(false);
  EXPECT_EQ(ZEL_PS_LDAPSAL(host).CreateDataContext(u"X", u"X"), zel::dir::kNoStore);
  zel::rt::FailNthAllocation(1);
  EXPECT_EQ(new (std::nothrow) ZEL_PS_LDAPSAL(host), nullptr);
}

// A store that cannot be written is read, in a child process each. Tests may run as root, where
// a file's mode does not stop writes: the "mode=ro" row makes SQLite itself refuse every write
// whatever the user, so reading is shown to need none; the first row checks the refused writes
// only when the mode binds (run the suite as another user to see it). A file size limit of 0
// stands in for a full disk.
TEST_F(SqliteStoreTest, StoresThatCannotBeWrittenAreRead) {
  const std::string folder = store_.Folder() + "/ro", path = folder + "/directory.db";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  WriteAndClose(path);
  const struct {
    const char* what;
    std::string location;
    mode_t fileMode, folderMode;
    bool fullDisk;
  } cases[] = {
      {"a read-only file in a read-only folder", path, 0444, 0555, false},
      {"opened for reading only", "file:" + path + "?mode=ro", 0644, 0755, false},
      {"on a full disk", path, 0644, 0755, true},
  };
  for (const auto& c : cases) {
    chmod(path.c_str(), c.fileMode);
    chmod(folder.c_str(), c.folderMode);
    const pid_t child = fork();
    if (child == 0) {
      const rlimit nothing{0, 0};
      if (c.fullDisk &&
          (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &nothing)))
        _exit(16);
      Opened reader(c.location);
      ZEL_DIR_SearchHelper all(&reader.directory, 1, ZELString(), 1, ZELString(), u"*");
      uint32_t count = 0;
      int failed = reader.Bind() != 0;
      failed |= (ZEL_DIR_BaseEntry(&reader.directory, u"kept", 1).Sync() != 0) << 1;
      failed |= (all.Search(count) != 0 || count != 1) << 2;
      if (c.fileMode == 0644 || geteuid() != 0) {  // a mode does not stop root
        failed |=
            (ZEL_DIR_BaseEntry(&reader.directory, u"new", 1).Add() != zel::dir::kStoreReadOnly ||
             reader.directory.CreateDataContext(u"M", u"M") != zel::dir::kStoreReadOnly)
            << 3;
      }
      _exit(failed);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << c.what;
    EXPECT_EQ(WEXITSTATUS(status), 0) << c.what << " (bits: bind, read, search, write refused)";
    chmod(folder.c_str(), 0755);
    chmod(path.c_str(), 0644);
  }
  EXPECT_EQ(Raw(path, "SELECT count(*) FROM entries"), "1");
}

}  // namespace
