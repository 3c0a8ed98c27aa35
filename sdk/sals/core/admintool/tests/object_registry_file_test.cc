// The object registry where only a store file shows it: writes whose call returned survive a
// killed process, and a value changed behind the directory's back.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "admintool/directory/capabilities.h"
#include "directory_test_support.h"
#include "zel/directory/codes.h"
#include "zel/runtime/testing/child_process.h"

namespace {

using zel::sal::testing::DirectoryTest;
using ObjectRegistryFileTest = DirectoryTest;

ZELString CrashObjectName(uint32_t i) {
  std::string name = "o";
  name += std::to_string(i);
  return ZELString::FromUtf8(name);
}

// Another process registers objects in the store at `path` until it is killed, and says
// "stored N" once object N's call returned.
const zel::rt::testing::ChildRole kCrashWriter("crash-writer", [](const std::string& path) {
  zel::dir::testing::StoreAt store(path);
  zel::rt::testing::ScriptedHost host;
  host.Plugins().Offer(kZelDirectoryStoreInterface, &store);
  host.SetNeighborhoodName(ZELString(u"North"));
  ZEL_AdminToolSAL writer(host);
  for (uint32_t i = 0;; ++i) {
    ZEL_AdminToolObject object(u"Root/Crash", nullptr);
    object.setName(CrashObjectName(i).getName());
    object.setUID(i + 1);
    if (writer.RegisterObject(object, false) != 0) return 1;
    std::printf("stored %u\n", i);
    std::fflush(stdout);
  }
});

TEST_F(ObjectRegistryFileTest, ObjectsWhoseCallReturnedSurviveAKilledProcess) {
  zel::rt::testing::ChildProcess child =
      zel::rt::testing::ChildProcess::StartRole("crash-writer", store_.StorePath());
  ASSERT_TRUE(child.Started());
  uint32_t last = 0;
  std::string line;
  for (int received = 0; received < 200;) {
    ASSERT_TRUE(child.ReadLine(&line)) << "the writer ended early";
    if (std::sscanf(line.c_str(), "stored %u", &last) == 1) ++received;
  }
  child.Kill();

  sqlite3* db = nullptr;
  sqlite3_open(store_.StorePath().c_str(), &db);
  sqlite3_stmt* check = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
  ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
  sqlite3_finalize(check);
  sqlite3_close(db);
  for (uint32_t i = 0; i <= last; ++i) {
    ZEL_AdminToolObject object(u"Root/Crash", nullptr);
    object.setName(CrashObjectName(i).getName());
    ASSERT_EQ(sal_.GetObjectW(object), 0) << "object " << i << " was reported stored";
    EXPECT_EQ(object.getUID(), i + 1);
  }
}

}  // namespace

// Directory failures in the capability paths reach the caller; before, they were dropped and
// the operation answered 0 (with a half-read capability).
TEST_F(ObjectRegistryFileTest, DirectoryFailuresOfCapabilityValuesReachTheCaller) {
  ZEL_AdminToolObject object(u"Root/Servers", u"a");
  object.setUID(1);
  ASSERT_EQ(sal_.RegisterObject(object, false), 0);
  ZELString dn(object.getDN());
  // No values yet: each value is added; a value the directory refuses ends the call.
  EXPECT_EQ(sal_.UpdateObject(dn, 2, nullptr), zel::dir::kInvalidArgument);

  uint32_t first = 7;
  ASSERT_EQ(sal_.UpdateObject(dn, 1, &first), 0);
  // A stored value wider than a privilege cannot be read into one.
  Query(
      "UPDATE attribute_values SET data = x'0102030405060708' WHERE attribute = "
      "'ATTRIBUTE-AdminGroupCapabilities'");
  uint32_t second = 8;
  EXPECT_EQ(sal_.UpdateObject(dn, 1, &second), zel::dir::kValueTooLarge);
  EXPECT_EQ(Query("SELECT count(*) FROM attribute_values WHERE attribute = "
                  "'ATTRIBUTE-AdminGroupCapabilities'"),
            1);  // untouched

  uint32_t count = 5;
  AdminObjectCapability* caps = nullptr;
  EXPECT_EQ(sal_.GetStaticGroupPermissionHelper(ZELString(u"Root/Servers"), count, &caps),
            zel::dir::kValueTooLarge);
  EXPECT_EQ(caps, nullptr);
  EXPECT_EQ(count, 0u);
}
