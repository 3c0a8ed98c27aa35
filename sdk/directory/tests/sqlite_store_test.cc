// The store suite on SQLite, and what only a store file has: indexes, store files that cannot
// be used, a store opened for reading only.
#include <fstream>

#include "sqlite_store_support.h"
#include "zel/runtime/alloc.h"

namespace zel::dir::testing {
std::vector<Backend> BackendsUnderTest() { return {SqliteBackend()}; }
}  // namespace zel::dir::testing

namespace {

using zel::dir::testing::Opened;
using zel::dir::testing::Raw;
using zel::dir::testing::SqliteStoreTest;

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

// Opened for reading only, SQLite refuses every write whoever runs the test (root included):
// reading needs none.
TEST_F(SqliteStoreTest, AStoreOpenedForReadingOnlyIsRead) {
  const std::string path = store_.Folder() + "/kept.db";
  WriteAndClose(path);
  EXPECT_EQ(zel::dir::testing::ReadOnlyFailures("file:" + path + "?mode=ro", true), 0)
      << "bits: bind, read, search, write refused";
  EXPECT_EQ(Raw(path, "SELECT count(*) FROM entries"), "1");
}

}  // namespace
