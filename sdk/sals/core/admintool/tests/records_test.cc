// Administrator records: privileges, copies, and the folder set's merge rules.
#include <gtest/gtest.h>

#include <vector>

#include "zel/admintool/admin_records.h"
#include "zel/runtime/alloc.h"

namespace {

std::vector<uint64_t> FolderIDs(const AllowedFolders& set) {
  std::vector<uint64_t> ids;
  for (uint32_t i = 0; i < set.folderCount; ++i) ids.push_back(set.folders[i].folderUID);
  return ids;
}

TEST(UserInfoTest, PrivilegesGrowByAHundredAndKeepOneSlotFree) {
  ZEL_ADMIN_USERINFO user;
  EXPECT_EQ(user.AddOnePriv(1), 0);
  EXPECT_EQ(user.privilegeCapacity, 100u);
  for (uint32_t v = 2; v <= 100; ++v) user.AddOnePriv(v);
  EXPECT_EQ(user.privilegeCount, 100u);
  EXPECT_EQ(user.privilegeCapacity, 199u);
  EXPECT_EQ(user.privileges[99], 100u);

  const uint32_t three[] = {7, 8, 9};
  EXPECT_EQ(user.ReplacePrivs(3, three), 0);
  EXPECT_EQ(user.privilegeCapacity, 199u);  // they fit: the storage is reused
  EXPECT_EQ(user.privileges[2], 9u);
  EXPECT_EQ(user.ReplacePrivs(0, nullptr), 0);
  EXPECT_EQ(user.privilegeCount, 0u);

  // A record without privileges assigned over one with them leaves nothing behind.
  user.AddOnePriv(5);
  user = ZEL_ADMIN_USERINFO();
  EXPECT_EQ(user.privileges, nullptr);
  EXPECT_EQ(user.privilegeCapacity, 0u);

  zel::rt::FailNthAllocation(1);
  EXPECT_EQ(user.AddOnePriv(1), static_cast<int32_t>(0x80000002));
  EXPECT_EQ(user.privilegeCount, 0u);
  zel::rt::FailNthAllocation(1);
  EXPECT_EQ(user.Init(ZELString(u"jane"), ZELString(u"NT"), 1, 2, 4),
            static_cast<int32_t>(0x80000002));
  EXPECT_EQ(user.privilegeCount, 0u);
  EXPECT_EQ(user.privileges, nullptr);
  EXPECT_EQ(user.Init(ZELString(u"jane"), ZELString(u"NT"), 1, 2, 4), 0);
  EXPECT_EQ(user.privilegeCapacity, 4u);
}

TEST(UserInfoTest, ACopyOfTheSecondRecordOutlivesItsSource) {
  auto* source = new ZEL_ADMIN_USERINFO2;
  source->accountName = u"jane";
  source->AddOnePriv(42);
  const uint32_t tasks[] = {1, 2};
  FolderPermissions folder(2, tasks, 77);
  source->allowedFolders += &folder;
  source->adminUID = 9;
  ZEL_ADMIN_USERINFO2 copy(*source);
  delete source;
  EXPECT_EQ(copy.accountName, ZELString(u"jane"));
  EXPECT_EQ(copy.privileges[0], 42u);
  EXPECT_EQ(copy.privilegeCapacity, 1u);
  ASSERT_EQ(copy.allowedFolders.folderCount, 1u);
  EXPECT_EQ(copy.allowedFolders.folders[0].tasks[1], 2u);
  EXPECT_EQ(copy.adminUID, 9u);

  ZEL_ADMIN_USERINFO2 starved;
  zel::rt::FailNthAllocation(1);
  starved = copy;  // no storage for the privileges: none, and nothing shared
  EXPECT_EQ(starved.privilegeCount, 0u);
  EXPECT_EQ(starved.privileges, nullptr);
}

TEST(AllowedFoldersTest, AddReplaceRemoveAndFindByFolder) {
  AllowedFolders set;
  set += uint64_t{7};
  set += uint64_t{9};
  set += uint64_t{7};
  set += uint64_t{0};
  EXPECT_EQ(FolderIDs(set), (std::vector<uint64_t>{7, 9}));
  const uint32_t tasks[] = {1, 2};
  FolderPermissions nine(2, tasks, 9);
  set += &nine;
  EXPECT_EQ(set.folderCount, 2u);
  EXPECT_EQ(set.folders[1].taskCount, 2u);
  set += uint64_t{9};  // already there: its tasks stay
  EXPECT_EQ(set.folders[1].taskCount, 2u);
  set += uint64_t{11};

  FolderPermissions* found = nullptr;
  EXPECT_EQ(set.InList(11, &found), 1);
  EXPECT_EQ(found, &set.folders[2]);
  set -= uint64_t{7};
  EXPECT_EQ(FolderIDs(set), (std::vector<uint64_t>{9, 11}));
  EXPECT_EQ(set.folders[0].tasks[1], 2u);   // records keep their tasks as they move down
  EXPECT_EQ(set.folders[2].folderUID, 0u);  // the vacated slot is empty
  set -= &nine;
  set -= uint64_t{42};
  EXPECT_EQ(FolderIDs(set), (std::vector<uint64_t>{11}));

  AllowedFolders empty;
  FolderPermissions* untouched = &nine;
  EXPECT_EQ(empty.InList(11, &untouched), 0);
  EXPECT_EQ(untouched, &nine);
  FolderPermissions none(0, nullptr, 3);
  EXPECT_EQ(none.tasks, nullptr);

  zel::rt::FailNthAllocation(1);
  set += uint64_t{12};  // no storage for a larger set: unchanged
  EXPECT_EQ(FolderIDs(set), (std::vector<uint64_t>{11}));
  AllowedFolders copy;
  copy = set;
  copy = copy;
  EXPECT_EQ(FolderIDs(copy), (std::vector<uint64_t>{11}));
}

TEST(RecordStorageTest, EveryRecordOperationWithoutStorageLeavesTheStateItsRuleGives) {
  ZEL_ADMIN_USERINFO user;
  user.AddOnePriv(1);  // capacity 100
  const uint32_t many[101] = {};
  zel::rt::FailNthAllocation(1);
  EXPECT_EQ(user.ReplacePrivs(101, many), static_cast<int32_t>(0x80000002));
  EXPECT_EQ(user.privilegeCount, 0u);
  EXPECT_EQ(user.privilegeCapacity, 0u);

  AdminObjectCapability capability;
  zel::rt::FailNthAllocation(1);
  EXPECT_EQ(capability.Init(5, 3), static_cast<int32_t>(0x80000002));
  EXPECT_EQ(capability.privilegeCount, 0u);
  EXPECT_EQ(capability.privileges, nullptr);

  const uint32_t tasks[] = {1, 2};
  zel::rt::FailNthAllocation(1);
  FolderPermissions starved(2, tasks, 9);
  EXPECT_EQ(starved.taskCount, 0u);
  EXPECT_EQ(starved.folderUID, 9u);
  zel::rt::FailNthAllocation(1);
  EXPECT_EQ(starved.ReplaceTasks(2, tasks), static_cast<int32_t>(0x80000002));
  EXPECT_EQ(starved.tasks, nullptr);

  AllowedFolders set;
  set += uint64_t{1};
  AllowedFolders copy;
  copy += uint64_t{2};
  zel::rt::FailNthAllocation(1);
  copy = set;  // no storage for the copy: it is left empty
  EXPECT_EQ(copy.folderCount, 0u);
  EXPECT_EQ(copy.folders, nullptr);
}

}  // namespace

namespace {

// A capability array handed to a caller is released with the plain array form; its storage and
// its privileges come through the allocation seam, so injected failures reach it.
TEST(CapabilityTest, TheArrayFormTakesAndReleasesThroughTheSeam) {
  const zel::rt::AllocationStats before = zel::rt::GetAllocationStats();
  auto* caps = new (std::nothrow) AdminObjectCapability[3];
  ASSERT_NE(caps, nullptr);
  ASSERT_EQ(caps[1].Init(5, 4), 0);
  caps[1].privileges[3] = 9;
  EXPECT_EQ(zel::rt::GetAllocationStats().outstanding(), before.outstanding() + 2);
  delete[] caps;  // every element's privileges, then the array
  EXPECT_EQ(zel::rt::GetAllocationStats().outstanding(), before.outstanding());

  zel::rt::FailNthAllocation(1);
  EXPECT_EQ(new (std::nothrow) AdminObjectCapability[2], nullptr);
  zel::rt::FailNthAllocation(1);
  EXPECT_THROW(delete[] new AdminObjectCapability[2], std::bad_alloc);
}

}  // namespace
