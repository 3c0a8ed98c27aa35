// The fourth interface: accounts (third version), resolution, permissions and ticket accounts.
#include <gtest/gtest.h>

#include <functional>

#include "test_support.h"
#include "zel/admintool/allocation.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/runtime/alloc.h"

namespace {

using zel::rt::testing::Bytes;
using zel::rt::testing::Write;
using zel::sal::testing::Contact;
using zel::sal::testing::FolderList;
using zel::sal::testing::kEnumerate2Reply;
using zel::sal::testing::SalTest;
using zel::sal::testing::TraceCapture;

// GetPrivilege3's reply: attributes 8 and 9, privileges {1, 2}, folder 70 with tasks {3}.
const Bytes kPrivilege3Reply = Write([](ZEL_BUF_BinBuffer& out) {
  const uint32_t privileges[] = {1, 2};
  out << int32_t{0} << uint32_t{8} << uint32_t{9} << uint32_t{2};
  out.AppendBytes(privileges, 8);
  FolderList(out, {{70, {3}}});
  Contact(out, u"mail");
});

class Accounts5Test : public SalTest {
 protected:
  Accounts5Test() { TraceCapture().records.clear(); }
  // Replies with `reply` to every send from now on.
  void AlwaysReply(const Bytes& reply) {
    host_.SetResponder([reply](const zel::rt::testing::RecordedEvent&, Bytes* out) {
      *out = reply;
      return int32_t{0};
    });
  }
  ZEL_AdminToolSAL6 sal_{host_};
};

TEST_F(Accounts5Test, AddUsers3AndSetPrivilege3WriteTheirRecordsInOrder) {
  ZEL_ADMIN_USERINFO users[1];
  users[0].accountName = u"jane";
  users[0].accountAuthority = u"NT";
  users[0].AddOnePriv(5);
  ZEL_ADMIN_CONTACTINFO contacts[1];
  contacts[0].contact1 = u"mail";
  contacts[0].contact2 = u"c2";
  contacts[0].contact3 = u"c3";
  AllowedFolders folders;
  const uint32_t tasks[] = {1, 2};
  FolderPermissions withTasks(2, tasks, 70);
  folders += &withTasks;
  folders += uint64_t{71};
  AlwaysReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{0}; }));
  ASSERT_EQ(sal_.AddUsers3(1, users, &folders, contacts), 0);
  const auto& add = host_.Sent()[0];
  EXPECT_EQ(add.eventID, 87);
  EXPECT_EQ(add.interfaceLevel, 4u);
  EXPECT_EQ(add.srcSubsystemUID, 5);
  EXPECT_EQ(add.payload, Write([](ZEL_BUF_BinBuffer& out) {
              const uint32_t privilege = 5;
              out << uint32_t{1} << ZELString(u"jane") << ZELString(u"NT") << uint32_t{0}
                  << uint32_t{0} << uint32_t{1};
              out.AppendBytes(&privilege, 4);
              Contact(out, u"mail");
              FolderList(out, {{70, {1, 2}}, {71, {}}});
            }));
  ASSERT_EQ(sal_.AddUsers3(0, nullptr, &folders, nullptr), 0);  // the count and the list alone
  EXPECT_EQ(host_.Sent()[1].payload.size(), 4 + 4 + (8 + 4 + 8) + (8 + 4));

  auto* info = sal_.CreateUserInfo2();
  ASSERT_NE(info, nullptr);
  info->accountName = u"not sent";
  info->adminUID = 0x77;
  info->allowedFolders = folders;
  ASSERT_EQ(sal_.SetPrivilege3(info, contacts[0]), 0);
  EXPECT_EQ(host_.Sent()[2].eventID, 88);
  EXPECT_EQ(host_.Sent()[2].payload, Write([](ZEL_BUF_BinBuffer& out) {
              out << uint64_t{0x77} << uint32_t{0} << uint32_t{0} << uint32_t{0};
              FolderList(out, {{70, {1, 2}}, {71, {}}});
              Contact(out, u"mail");
            }));

  // A raw append's code comes back as it is; a list that claims folders it lacks is a failed
  // write; neither is sent.
  host_.FailNthAppend(7, -44);  // users[0]'s privilege block
  EXPECT_EQ(sal_.AddUsers3(1, users, &folders, contacts), -44);
  ZEL_ADMIN_USERINFO2 liar;
  liar.allowedFolders.folderCount = 1;  // and no folders array
  EXPECT_EQ(sal_.SetPrivilege3(&liar, contacts[0]), ZEL_E_WRITE_FAILED);
  liar.allowedFolders.folderCount = 0;
  EXPECT_EQ(host_.Sent().size(), 3u);
  EXPECT_EQ(Traced(zel::trace::kAddUsers3Failed).size(), 1u);
  sal_.FreeMemory(info, ZEL_AdminToolSAL3::kFreeUserInfo2);
}

TEST_F(Accounts5Test, GetPrivilege3BuildsOneRecordAndReleasesItOnEveryFailure) {
  ZEL_ADMIN_USERINFO2* info = nullptr;
  ZEL_ADMIN_CONTACTINFO contact;
  auto call = [&] { return sal_.GetPrivilege3(0x55, info, contact); };
  host_.QueueReply(kPrivilege3Reply);
  ASSERT_EQ(call(), 0);
  EXPECT_EQ(host_.Sent()[0].sizeHint, 8u);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->adminUID, 0x55u);
  EXPECT_TRUE(info->accountName.isEmpty());
  EXPECT_EQ(info->attribute2, 9u);
  EXPECT_EQ(info->privilegeCapacity, 0u);
  ASSERT_EQ(info->allowedFolders.folderCount, 1u);
  EXPECT_EQ(info->allowedFolders.folders[0].tasks[0], 3u);
  EXPECT_EQ(contact.contact1, ZELString(u"mail"));
  sal_.FreeMemory(info, ZEL_AdminToolSAL3::kFreeUserInfo2);

  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) {
                     out << int32_t{1} << uint32_t{0} << uint32_t{0} << uint32_t{0} << uint32_t{0};
                     Contact(out, u"x");
                   }),
                   1);
  EXPECT_EQ(call(), 1);
  EXPECT_EQ(info->privileges, nullptr);
  EXPECT_EQ(info->allowedFolders.folders, nullptr);
  sal_.FreeMemory(info, ZEL_AdminToolSAL3::kFreeUserInfo2);
}

TEST_F(Accounts5Test, EnumerateKeldraAdmins2FillsTwoArraysAndLetsBadAllocThrough) {
  uint32_t count = 9;
  ZEL_ADMIN_USERINFO2* users = nullptr;
  ZEL_ADMIN_CONTACTINFO* contacts = nullptr;
  auto call = [&] { return sal_.EnumerateKeldraAdmins2(count, &users, contacts, 3, 4); };
  host_.QueueReply(kEnumerate2Reply);
  ASSERT_EQ(call(), 0);
  EXPECT_EQ(host_.Sent()[0].sizeHint, 2u);
  EXPECT_EQ(host_.Sent()[0].payload, (Bytes{3, 4}));
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(users[1].adminUID, 102u);
  EXPECT_EQ(users[1].allowedFolders.folders[0].folderUID, 1102u);
  EXPECT_EQ(users[0].privileges[0], 7u);
  EXPECT_EQ(contacts[1].contact1, ZELString(u"phone"));
  sal_.FreeKeldraAdminInfo(&users, contacts);
  EXPECT_EQ(users, nullptr);
  EXPECT_EQ(contacts, nullptr);
  sal_.FreeKeldraAdminInfo(&users, contacts);  // two null pointers: nothing

  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{0} << uint32_t{0}; }));
  EXPECT_EQ(call(), 0);
  EXPECT_EQ(users, nullptr);
  AlwaysReply(kEnumerate2Reply);
  zel::rt::FailNthAllocation(6);    // the contact array
  EXPECT_THROW(call(), bad_alloc);  // (the sweeps check what a failure leaves)
}

TEST_F(Accounts5Test, ALocalImplementationAnswersForwardedOperationsOnly) {
  zel::sal::testing::RecordingLocal local;
  host_.Plugins().Offer(2300, static_cast<AdminToolInterface4*>(&local));
  ZEL_AdminToolSAL6 sal(host_);
  uint8_t ticket[120] = {};
  _VoAdminAccounts* accounts = reinterpret_cast<_VoAdminAccounts*>(&local);
  ZEL_ADMIN_USERINFO2* info = reinterpret_cast<ZEL_ADMIN_USERINFO2*>(&local);
  ZEL_ADMIN_USERINFO2* users = info;
  ZEL_ADMIN_CONTACTINFO* contacts = reinterpret_cast<ZEL_ADMIN_CONTACTINFO*>(&local);
  AllowedFolders* folders = reinterpret_cast<AllowedFolders*>(&local);
  ZEL_ADMIN_CONTACTINFO contact;
  uint32_t count = 8;
  EXPECT_EQ(sal.GetVoAdminAccountsForTicket(ticket, accounts), 1);
  EXPECT_EQ(sal.AddUsers3(0, nullptr, nullptr, nullptr), 2);
  EXPECT_EQ(sal.GetPrivilege3(1, info, contact), 3);
  EXPECT_EQ(sal.SetPrivilege3(nullptr, contact), 4);
  EXPECT_EQ(sal.EnumerateKeldraAdmins2(count, &users, contacts, 0, 0), 5);
  EXPECT_EQ(sal.GetPermissionsForCurrentUser(folders), 6);
  EXPECT_EQ(sal.DeleteCapabilityObjectsInDB(), 7);
  EXPECT_EQ(local.calls.size(), 7u);
  EXPECT_TRUE(local.outputsCleared);
  EXPECT_TRUE(host_.Created().empty());

  // Resolution and GetPrivilegesByBlob always travel as events.
  uint64_t uid = 0;
  char16_t *first = nullptr, *second = nullptr;
  UM_AcctIDBlobWriter blob(UM_AccountIdentity{});
  uint8_t flag;
  uint32_t attribute, n;
  uint32_t* privileges = nullptr;
  AlwaysReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{-9}; }));
  sal.GetAdminUIDByName(u"a", nullptr, uid);
  sal.GetAdminNameByUID(1, first, second);
  sal.GetPrivilegesByBlob(blob, flag, attribute, n, &privileges);
  EXPECT_EQ(host_.Sent().size(), 3u);
}

TEST_F(Accounts5Test, NamesAndUidsResolveThroughTheirEvents) {
  uint64_t uid = 99;
  EXPECT_EQ(sal_.GetAdminUIDByName(nullptr, nullptr, uid), ZEL_E_INVALID_ARG);
  EXPECT_EQ(uid, 0u);
  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{0} << uint64_t{0x12}; }));
  EXPECT_EQ(sal_.GetAdminUIDByName(u"jane", nullptr, uid), 0);
  EXPECT_EQ(uid, 0x12u);
  EXPECT_EQ(host_.Sent()[0].eventID, 93);
  EXPECT_EQ(host_.Sent()[0].sizeHint, 4u);  // characters, terminators not counted
  EXPECT_EQ(host_.Sent()[0].payload, Write([](ZEL_BUF_BinBuffer& out) { out << u"jane" << u""; }));
  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{0} << uint32_t{1}; }));
  EXPECT_EQ(sal_.GetAdminUIDByName(u"", u"", uid), ZEL_E_SHORT_REPLY);
  EXPECT_EQ(host_.Sent()[1].sizeHint, 0u);
  EXPECT_EQ(uid, 0u);  // not read in full
  host_.QueueSendFailure(-70);
  EXPECT_EQ(sal_.GetAdminUIDByName(nullptr, u"NT", uid), -70);
  EXPECT_EQ(Traced(zel::trace::kAdminUIDByNameFailed).back().arguments[0],
            (std::vector<uint8_t>{0xBA, 0xFF, 0xFF, 0xFF}));

  char16_t *first = nullptr, *second = nullptr;
  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{0} << u"Jane" << u"NT"; }));
  EXPECT_EQ(sal_.GetAdminNameByUID(0x12, first, second), 0);
  EXPECT_EQ(host_.Sent()[3].sizeHint, 8u);
  EXPECT_EQ(std::u16string(first), u"Jane");
  EXPECT_EQ(std::u16string(second), u"NT");
  sal_.FreeAdminName(first, second);
  EXPECT_EQ(first, nullptr);
  sal_.FreeAdminName(first, second);  // twice: the first call nulled both
  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{0} << u"Jane"; }));
  EXPECT_EQ(sal_.GetAdminNameByUID(0x12, first, second), ZEL_E_SHORT_REPLY);
  ASSERT_NE(first, nullptr);  // read before the reply ran short: the caller's
  EXPECT_EQ(second, nullptr);
  sal_.FreeAdminName(first, second);
  host_.FailNthAppend(1);
  EXPECT_EQ(sal_.GetAdminNameByUID(0x12, first, second), ZEL_E_FAIL);

  uint64_t unresolved[] = {7, 8};
  uint64_t* list = unresolved;
  ASSERT_EQ(sal_.PostAdminNameUnResolvedNotification(list, 2, 5), 0);
  const auto& posted = host_.Posted().back();
  EXPECT_EQ(posted.eventID, 97);
  EXPECT_EQ(posted.srcHostID, 0x80000001u);
  EXPECT_EQ(posted.destHostID, 0x80000001u);
  EXPECT_EQ(posted.srcSubsystemUID, 22);
  EXPECT_EQ(posted.destSubsystemUID, 1);
  EXPECT_EQ(posted.payload, Write([](ZEL_BUF_BinBuffer& out) {
              out << uint32_t{5} << uint32_t{2} << uint64_t{7} << uint64_t{8};
            }));
  uint64_t* none = nullptr;
  ASSERT_EQ(sal_.PostAdminNameUnResolvedNotification(none, 0, 5), 0);
  EXPECT_EQ(host_.Posted().back().payload, (Bytes{5, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(Accounts5Test, PermissionQueriesDecodeTheirFoldersAndPrivileges) {
  AllowedFolders* folders = nullptr;
  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{0} << uint32_t{0}; }));
  ASSERT_EQ(sal_.GetPermissionsForCurrentUser(folders), 0);
  ASSERT_NE(folders, nullptr);  // empty, not null
  EXPECT_EQ(folders->folderCount, 0u);
  delete folders;
  const Bytes reply = Write([](ZEL_BUF_BinBuffer& out) {
    out << int32_t{0};
    FolderList(out, {{5, {}}, {6, {1, 2}}});
  });
  host_.QueueReply(reply);
  ASSERT_EQ(sal_.GetPermissionsForCurrentUser(folders), 0);
  EXPECT_EQ(host_.Sent()[1].eventID, 91);
  EXPECT_TRUE(host_.Sent()[1].payload.empty());
  EXPECT_EQ(folders->folders[0].tasks, nullptr);
  EXPECT_EQ(folders->folders[1].tasks[1], 2u);
  delete folders;
  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{3}; }), 3);
  EXPECT_EQ(sal_.DeleteCapabilityObjectsInDB(), 3);
  EXPECT_EQ(host_.Sent().back().eventID, 92);

  UM_AcctIDBlobWriter blob(UM_AccountIdentity{ZELString(u"NT"), {}, ZELString(u"jane"), {}});
  uint8_t flag = 0xEE;
  uint32_t attribute = 0xEE, count = 0xEE;
  uint32_t* privileges = nullptr;
  const Bytes privilegesReply = Write([](ZEL_BUF_BinBuffer& out) {
    const uint32_t raw[] = {4, 5};
    out << int32_t{0} << uint8_t{1} << uint32_t{2} << uint32_t{2};
    out.AppendBytes(raw, 8);
  });
  host_.QueueReply(privilegesReply);
  ASSERT_EQ(sal_.GetPrivilegesByBlob(blob, flag, attribute, count, &privileges), 0);
  ZEL_BUF_EventBuffer expected(96, ZELVersion(1, 0), 0);
  blob.WriteToEvent(&expected);
  EXPECT_EQ(host_.Sent().back().payload,
            Bytes(expected.GetData(), expected.GetData() + expected.GetSize()));
  EXPECT_EQ(flag, 1);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(privileges[1], 5u);
  sal_.FreeMemory(privileges, ZEL_AdminToolSAL3::kFreePlainArray);
  privileges = nullptr;
  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) {
    out << int32_t{0} << uint8_t{1} << uint32_t{2} << uint32_t{0};
  }));
  uint32_t untouched = 0;
  privileges = &untouched;
  EXPECT_EQ(sal_.GetPrivilegesByBlob(blob, flag, attribute, count, &privileges), 0);
  EXPECT_EQ(privileges, &untouched);  // a count of 0 leaves the pointer as it was
  host_.FailNthAppend(1);
  EXPECT_EQ(sal_.GetPrivilegesByBlob(blob, flag, attribute, count, &privileges), ZEL_E_FAIL);
}

TEST_F(Accounts5Test, TicketAccountsHaveTheirOwnStricterCodes) {
  uint8_t ticket[120];
  for (int i = 0; i < 120; ++i) ticket[i] = static_cast<uint8_t>(i);
  _VoAdminAccounts* accounts = nullptr;
  const Bytes reply = Write([](ZEL_BUF_BinBuffer& out) {
    const uint64_t uids[] = {0x10, 0x20};
    out << int32_t{0} << uint32_t{2};
    out.AppendBytes(uids, 16);
    out << uint32_t{1} << uint32_t{2} << uint32_t{3} << uint32_t{4};
  });
  host_.QueueReply(reply);
  ASSERT_EQ(sal_.GetVoAdminAccountsForTicket(ticket, accounts), 0);
  EXPECT_EQ(host_.Sent()[0].eventID, 86);
  EXPECT_EQ(host_.Sent()[0].sizeHint, 120u);
  EXPECT_EQ(host_.Sent()[0].payload, Bytes(ticket, ticket + 120));  // no length field
  ASSERT_NE(accounts, nullptr);
  EXPECT_EQ(accounts->accountUIDs[1], 0x20u);
  EXPECT_EQ(accounts->value4, 4u);
  sal_.FreeMemory(accounts->accountUIDs, ZEL_AdminToolSAL3::kFreePlainArray);
  sal_.FreeMemory(accounts, ZEL_AdminToolSAL3::kFreePlainArray);

  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) {
    out << int32_t{0} << uint32_t{0} << uint32_t{1} << uint32_t{2} << uint32_t{3} << uint32_t{4};
  }));
  ASSERT_EQ(sal_.GetVoAdminAccountsForTicket(ticket, accounts), 0);
  EXPECT_EQ(accounts->accountUIDs, nullptr);
  sal_.FreeMemory(accounts, ZEL_AdminToolSAL3::kFreePlainArray);

  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{1}; }));
  EXPECT_EQ(sal_.GetVoAdminAccountsForTicket(ticket, accounts), 1);  // a positive result
  EXPECT_EQ(accounts, nullptr);
  host_.QueueReply(reply, 2);  // a positive send answer: its reply is released, no output
  EXPECT_EQ(sal_.GetVoAdminAccountsForTicket(ticket, accounts), 2);
  EXPECT_EQ(accounts, nullptr);
  host_.FailNthAppend(1, -12);
  EXPECT_EQ(sal_.GetVoAdminAccountsForTicket(ticket, accounts), -12);
  EXPECT_FALSE(Traced(zel::trace::kTicketResult).empty());  // every call's result is traced
}

}  // namespace
