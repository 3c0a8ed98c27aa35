// The store suite on SQLite, and what only a store file has: indexes, store files that cannot
// be used, a store opened for reading only.
#include <fstream>

#include "sqlite_store_support.h"
#include "zel/directory/records.h"
#include "zel/runtime/alloc.h"

namespace zel::dir::testing {
std::vector<Backend> BackendsUnderTest() { return {SqliteBackend()}; }
}  // namespace zel::dir::testing

namespace {

using zel::dir::testing::Opened;
using zel::dir::testing::Raw;
using zel::dir::testing::SqliteStoreTest;

// Lookups, searches and a page of a search (as the farm server reads one, from its cursor)
// scan no table: each starts from the index named.
TEST_F(SqliteStoreTest, LookupsAndSearchesUseIndexes) {
  ZEL_DIR_BaseEntry(&first_.Directory(), u"Root/Notes/x", 1).Add();
  const std::string entries = "SELECT e.id, e.dn, e.class, v.attribute, v.data FROM ";
  const std::string values =
      " LEFT JOIN attribute_values v ON v.entry = e.id WHERE e.context = 1 AND e.parent = 'x' "
      "ORDER BY e.dn, v.attribute, v.position";
  const struct {
    std::string sql, index;  // the query, and the index its plan names
  } cases[] = {
      {"SELECT id FROM entries WHERE context = 1 AND dn = 'x'", ""},
      {"SELECT context, class FROM entries WHERE id = 1", ""},
      {entries + "entries e" + values, ""},
      {entries +
           "(SELECT DISTINCT entry FROM attribute_values WHERE attribute = 'a' AND text = "
           "'b') m CROSS JOIN entries e ON e.id = m.entry" +
           values,
       "values_by_text"},
      {entries + "(SELECT e.id, e.dn, e.class FROM entries e WHERE e.context = 1 AND e.parent = "
                 "'x' AND e.dn > 'a' ORDER BY e.dn LIMIT 5) e LEFT JOIN attribute_values v ON "
                 "v.entry = e.id ORDER BY e.dn, v.attribute, v.position",
       "entries_by_parent (context=? AND parent=? AND dn>?)"},
  };
  for (const auto& c : cases) {
    const std::string plan = Raw(path_, "EXPLAIN QUERY PLAN " + c.sql, 3);
    // A page scans only the few rows its cursor found.
    const std::size_t scan = plan.find("SCAN e"), page = plan.find("CO-ROUTINE e");
    EXPECT_TRUE(scan == std::string::npos || page < scan) << c.sql << " -> " << plan;
    EXPECT_EQ(plan.find("SCAN attribute_values"), std::string::npos) << c.sql << " -> " << plan;
    EXPECT_NE(plan.find(c.index), std::string::npos) << c.sql << " -> " << plan;
  }
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
  ZEL_DIR_BaseEntry named(&first_.Directory(), u"a", 1);
  ASSERT_EQ(named.Add(), 0);
  Raw(path_, "UPDATE entries SET dn = 'a' || char(0) || 'b'");
  EXPECT_EQ(ZEL_DIR_Entry(&first_.Directory(), named.GetUID(), u"").Sync(), zel::dir::kStoreError);
  uint32_t count = 0;
  EXPECT_EQ(
      ZEL_DIR_SearchHelper(&first_.Directory(), 1, ZELString(), 1, ZELString(), u"*").Search(count),
      zel::dir::kStoreError);
  // An id rewritten to 0 behind its back is still an entry of its own in a search.
  Raw(path_, "UPDATE entries SET dn = 'a', id = 0");
  EXPECT_EQ(
      ZEL_DIR_SearchHelper(&first_.Directory(), 1, ZELString(), 1, ZELString(), u"*").Search(count),
      0);
  EXPECT_EQ(count, 1u);

  zel::rt::testing::ScriptedHost host;  // no store offered, or no table at all
  uint32_t id = 0;
  EXPECT_EQ(ZEL_PS_LDAPSAL(host).BindLDAP(u"&X", id), zel::dir::kNoStore);
  host.SetHasPluginApis(false);
  EXPECT_EQ(ZEL_PS_LDAPSAL(host).CreateDataContext(u"X", u"X"), zel::dir::kNoStore);
  zel::rt::FailNthAllocation(1);
  EXPECT_EQ(new (std::nothrow) ZEL_PS_LDAPSAL(host), nullptr);
}

// Opened for reading only, SQLite refuses every write whoever runs the test (root included):
// reading needs none.
TEST_F(SqliteStoreTest, AStoreOpenedForReadingOnlyIsRead) {
  const std::string path = store_.Folder() + "/kept.db";
  WriteAndClose(path);
  EXPECT_EQ(zel::dir::testing::ReadOnlyFailures("file:" + path + "?mode=ro", true), 0)
      << "bits: bind, read, search, write refused";
  EXPECT_EQ(Raw(path, "SELECT count(*) FROM entries"), "1");
}

// The location's form names the backend: SQLite for a path, a "file:" URI or "sqlite:PATH";
// LDAP for LDAP URLs (here nobody listens), not supported where the build has no LDAP backend;
// a location that names nothing is refused.
TEST_F(SqliteStoreTest, LocationsNameTheirBackendByForm) {
  const std::string folder = store_.Folder();
#if defined(ZEL_DIRECTORY_LDAP)
  const int32_t ldap = zel::dir::kServerUnreachable;
#else
  const int32_t ldap = zel::dir::kNotSupported;
#endif
  const struct {
    const char* what;
    std::string location;
    std::string file;  // the store file made, when one is
    int32_t code;
  } cases[] = {
      {"sqlite: and a path", "sqlite:" + folder + "/named.db", folder + "/named.db", 0},
      {"sqlite: and a URI", "sqlite:file:" + folder + "/both.db", folder + "/both.db", 0},
      {"a file: URI", "file:" + folder + "/uri.db", folder + "/uri.db", 0},
      {"a plain path", folder + "/plain.db", folder + "/plain.db", 0},
      {"an ldap URL", "ldap://127.0.0.1:1/dc=farm", "", ldap},
      {"an ldaps URL", "ldaps://127.0.0.1:1/dc=farm", "", ldap},
      {"an ldapi URL", "ldapi://%2Fnonexistent%2Fldapi/dc=farm", "", ldap},
      {"farm: with something after it", "farm:elsewhere", "", zel::dir::kInvalidArgument},
      {"sqlite: alone", "sqlite:", "", zel::dir::kInvalidArgument},
      {"nothing", "", "", zel::dir::kInvalidArgument},
  };
  for (const auto& c : cases) {
    Opened opened(c.location);
    EXPECT_EQ(opened.Directory().CreateDataContext(u"Notes", u"Root/Notes"), c.code) << c.what;
    if (!c.file.empty()) {
      EXPECT_EQ(Raw(c.file, "SELECT name FROM contexts"), "Notes") << c.what;
    }
  }
}

// A store of the schema before the change log gains the log when first opened, keeps its
// entries, and logs the changes made from then on.
TEST_F(SqliteStoreTest, AnOlderStoreGainsTheChangeLog) {
  const std::string path = store_.Folder() + "/older.db";
  WriteAndClose(path);
  Raw(path, "DROP TABLE changes");
  Raw(path, "PRAGMA user_version=2");
  ASSERT_EQ(Raw(path, "SELECT count(*) FROM sqlite_master WHERE name = 'changes'"), "0");
  Opened reopened(path);
  ASSERT_EQ(reopened.Bind(), 0);
  EXPECT_EQ(Raw(path, "PRAGMA user_version"), "3");
  ZEL_DIR_BaseEntry kept(&reopened.Directory(), u"kept", 1);
  ASSERT_EQ(kept.Sync(), 0);
  EXPECT_EQ(Raw(path, "SELECT count(*) FROM changes"), "0");
  ASSERT_EQ(kept.DelEntry(), 0);
  EXPECT_EQ(Raw(path, "SELECT kind || ' ' || dn FROM changes"), "3 kept");
  uint64_t number = 0;
  ASSERT_EQ(zel::dir::ChangeNumber(reopened.Directory(), 1, &number), 0);
  EXPECT_EQ(std::to_string(number), Raw(path, "SELECT number FROM changes"));
}

}  // namespace
