// The administrator store on a real store file: what it keeps from earlier reads follows every
// change; the stored forms refuse bytes that do not hold what they claim.
#include <gtest/gtest.h>

#include <functional>

#include "src/admin_entry.h"
#include "zel/directory/testing/temp_store.h"
#include "zel/directory/transaction.h"
#include "zel/runtime/farm.h"
#include "zel/subsystem/admin_store.h"
#include "zel/subsystem/codes.h"

namespace zel::subsystem {
namespace {

Administrator Alice() {
  Administrator a;
  a.account = Account::FromText("NT:NORTH\\alice");
  a.displayName = u"Alice";
  a.attribute1 = 7;
  a.attribute2 = 0xFFFFFFFF;
  a.privileges = {2, 1, 4000};
  a.folders = {{0x0121000000000009, {1, 2}}, {5, {}}};
  a.contact = {u"a@north", u"+1", u""};
  return a;
}

class AdminStoreTest : public ::testing::Test {
 protected:
  AdminStoreTest() { host_.Plugins().Offer(kZelDirectoryStoreInterface, &store_); }
  zel::dir::testing::TempStore store_;
  zel::rt::InProcessFarm farm_;
  zel::rt::FarmSubsystem& host_ = farm_.AddSubsystem(22);
};

TEST_F(AdminStoreTest, WhatIsKeptFromEarlierReadsFollowsEveryChange) {
  // Two connections to one store, as two servers of a farm (or a restore behind our back).
  ZEL_PS_LDAPSAL here(host_), there(host_);
  AdministratorStore admins(here), other(there);
  Administrator alice = Alice();
  ASSERT_EQ(admins.Put(&alice), 0);
  Administrator seen;
  struct Step {
    const char* name;
    std::function<void()> change;
    std::vector<uint32_t> privileges;  // what a read through `admins` sees afterwards
    int32_t found;
  } steps[] = {
      {"read twice, nothing changed", [] {}, {2, 1, 4000}, 0},
      {"changed through another connection",
       [&] {
         Administrator a = alice;
         a.privileges = {9};
         ASSERT_EQ(other.Update(a), 0);
       },
       {9},
       0},
      {"changed here, then rolled back",
       [&] {
         ZEL_DIR_Transaction scope(&here);
         Administrator a = alice;
         a.privileges = {7};
         ASSERT_EQ(admins.Update(a), 0);
         ASSERT_EQ(admins.Find(alice.uid, &seen), 0);  // read inside: not kept
         EXPECT_EQ(seen.privileges, std::vector<uint32_t>{7});
       },
       {9},
       0},
      {"removed through another connection",
       [&] { ASSERT_EQ(other.Remove(alice.uid), 0); },
       {},
       kNoSuchAdministrator},
  };
  for (const Step& step : steps) {
    step.change();
    for (int read = 0; read < 2; ++read) {
      seen = Administrator{};
      EXPECT_EQ(admins.Find(alice.uid, &seen), step.found) << step.name;
      EXPECT_EQ(admins.FindByAccount(alice.account, &seen), step.found) << step.name;
      EXPECT_EQ(seen.privileges, step.privileges) << step.name;
    }
  }
}

TEST(AdminEntryForms, FolderBytesThatDoNotHoldWhatTheyClaimAreRefused) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    bool decodes;
  } cases[] = {
      {"never written", {}, true},
      {"no folders", {0, 0, 0, 0}, true},
      {"one folder, one task", {1, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0}, true},
      {"a count it cannot hold",
       {0xFF, 0xFF, 0xFF, 0xFF, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       false},
      {"a task count it cannot hold",
       {1, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0},
       false},
      {"bytes after the last folder", {0, 0, 0, 0, 1}, false},
      {"a cut count", {1, 0}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeFolders(c.bytes).has_value(), c.decodes) << c.name;
  }
  const auto one = DecodeFolders(cases[2].bytes);
  ASSERT_TRUE(one.has_value());
  EXPECT_EQ(*one, (std::vector<FolderGrant>{{9, {3}}}));
  EXPECT_FALSE(DecodePrivileges({1, 2, 3}).has_value());
}

}  // namespace
}  // namespace zel::subsystem
