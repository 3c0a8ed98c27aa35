// The administrator operations against the scripted host: every request byte for byte (one row
// per operation and notable argument shape), the arguments and write failures that send
// nothing, and what each reply leaves in the outputs.
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
using zel::sal::testing::SalTest;
using Sal = ZEL_AdminToolSAL6;

Bytes AccountRecord(const char16_t* name, const std::vector<uint32_t>& privileges) {
  return Write([&](ZEL_BUF_BinBuffer& out) {
    out << ZELString(name) << ZELString(u"NT") << uint32_t{1} << uint32_t{2}
        << static_cast<uint32_t>(privileges.size());
    if (!privileges.empty()) out.AppendBytes(privileges.data(), 4 * privileges.size());
  });
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

UM_AcctIDBlobWriter Account() {
  return UM_AcctIDBlobWriter(
      UM_AccountIdentity{ZELString(u"NT"), ZELString(u"NORTH"), ZELString(u"jane"), {1, 2, 3}});
}

// The account blob as its own writer puts it in an event (the blob is not what is under test).
Bytes AccountBlob() {
  ZEL_BUF_EventBuffer event(48, ZELVersion(1, 0), 0);
  Account().WriteToEvent(&event);
  return Bytes(event.GetData(), event.GetData() + event.GetSize());
}

// Users jane (privilege 7) and joe (none), attributes 1 and 2.
void TwoUsers(ZEL_ADMIN_USERINFO* users) {
  users[0].Init(ZELString(u"jane"), ZELString(u"NT"), 1, 2, 0);
  users[0].AddOnePriv(7);
  users[1].Init(ZELString(u"joe"), ZELString(u"NT"), 1, 2, 0);
}

ZEL_ADMIN_CONTACTINFO MailContact() {
  ZEL_ADMIN_CONTACTINFO contact;
  contact.contact1 = u"mail";
  contact.contact2 = u"c2";
  contact.contact3 = u"c3";
  return contact;
}

uint8_t* Ticket() {
  static uint8_t ticket[120];
  for (int i = 0; i < 120; ++i) ticket[i] = static_cast<uint8_t>(i);
  return ticket;
}

// Every operation's inputs and outputs, so that a row is one call; released when done.
struct Io {
  explicit Io(Sal& s) : sal(s) {
    TwoUsers(users);
    folders += &withTasks;
    folders += uint64_t{71};
    info.accountName = u"not sent";
    info.adminUID = 0x77;
    info.allowedFolders = folders;
  }
  ZEL_ADMIN_USERINFO users[2];
  ZEL_ADMIN_CONTACTINFO contacts[1] = {MailContact()};
  const uint32_t tasks[2] = {1, 2};
  FolderPermissions withTasks{2, tasks, 70};  // folder 70 with tasks {1, 2}, then 71
  AllowedFolders folders;
  ZEL_ADMIN_USERINFO2 info;
  UM_AcctIDBlobWriter account = Account();
  ZELString name{u"jane"}, first{u"admin"}, second{u"NORTH"}, empty{u""}, group{u"G"}, resolved;
  ZELMultiString dns;
  uint8_t secret[3] = {0xC0, 0xFF, 0xEE};
  uint8_t flag;
  uint32_t u32 = 0xDEAD, a1, a2, n = 77, m, privileges[2] = {5, 6};
  uint32_t *values = nullptr, *array = nullptr;
  uint64_t uid = 0xABCDEF;
  uint64_t* uids = nullptr;
  AdminObjectCapability* caps = nullptr;
  ZEL_ADMIN_USERINFO* records = nullptr;
  ZEL_ADMIN_USERINFO2 *record2 = nullptr, *records2 = nullptr;
  ZEL_ADMIN_CONTACTINFO* contacts2 = nullptr;
  AllowedFolders* permitted = nullptr;
  _VoAdminAccounts* accounts = nullptr;
  char16_t *firstName = nullptr, *secondName = nullptr;
  ZEL_ADMIN_CONTACTINFO contact;
  Sal& sal;
  ~Io() {
    sal.FreeMemory(values, ZEL_AdminToolSAL3::kFreePlainArray);
    sal.FreeMemory(uids, ZEL_AdminToolSAL3::kFreePlainArray);
    sal.FreeMemory(array, ZEL_AdminToolSAL3::kFreePlainArray);
    sal.FreeCapabilities(caps);
    sal.FreeMemory(records, ZEL_AdminToolSAL3::kFreeUserInfoArray);
    sal.FreeMemory(record2, ZEL_AdminToolSAL3::kFreeUserInfo2);
    sal.FreeKeldraAdminInfo(&records2, contacts2);
    delete permitted;
    if (accounts != nullptr) sal.FreeMemory(accounts->accountUIDs, 1);
    sal.FreeMemory(accounts, ZEL_AdminToolSAL3::kFreePlainArray);
    sal.FreeAdminName(firstName, secondName);
  }
};

struct RequestRow {
  const char* what;
  std::function<void(Sal&, Io&)> call;
  uint16_t event;
  uint32_t level;
  uint32_t hint;
  Bytes payload;
};

const Bytes kTwoFolders = Write([](ZEL_BUF_BinBuffer& out) {
  FolderList(out, {{70, {1, 2}}, {71, {}}});
});
const Bytes kMail = Write([](ZEL_BUF_BinBuffer& out) { Contact(out, u"mail"); });
const Bytes kJane = Bytes{10, 0, 0, 0, 'j', 0, 'a', 0, 'n', 0, 'e', 0, 0, 0};

std::vector<RequestRow> Requests() {
  return {
      {"GetUsersDNs", [](Sal& s, Io& o) { s.GetUsersDNs(o.dns); }, 30, 0, 0, {}},
      {"AddDefaultUser", [](Sal& s, Io& o) { s.AddDefaultUser(o.first, o.second); }, 31, 0, 0,
       Write([](ZEL_BUF_BinBuffer& out) { out << ZELString(u"admin") << ZELString(u"NORTH"); })},
      {"IsUserKeldraAdmin", [](Sal& s, Io& o) { s.IsUserKeldraAdmin(o.account, &o.u32); }, 48, 1, 0,
       AccountBlob()},
      {"Logon2: name, credential length, raw credentials",
       [](Sal& s, Io& o) {
         s.Logon2(o.name, 3, o.secret, o.u32, o.resolved, o.a1, &o.n, &o.values, &o.m, &o.uids, 0);
       },
       65, 2, 0, Join({kJane, Bytes{3, 0, 0, 0, 0xC0, 0xFF, 0xEE}})},
      {"Logon2 without credentials still carries their length",
       [](Sal& s, Io& o) {
         s.Logon2(o.name, 0, nullptr, o.u32, o.resolved, o.a1, &o.n, &o.values, &o.m, &o.uids, 0);
       },
       65, 2, 0, Join({kJane, Bytes{0, 0, 0, 0}})},
      {"AddUsers2", [](Sal& s, Io& o) { s.AddUsers2(2, o.users); }, 67, 2, 0,
       Join({Bytes{2, 0, 0, 0}, AccountRecord(u"jane", {7}), AccountRecord(u"joe", {})})},
      {"AddUsers2 of none", [](Sal& s, Io&) { s.AddUsers2(0, nullptr); }, 67, 2, 0,
       Bytes{0, 0, 0, 0}},
      {"SetPrivilege2", [](Sal& s, Io& o) { s.SetPrivilege2(0x1122, 8, 9, 2, o.privileges); }, 69,
       2, 0, Write([](ZEL_BUF_BinBuffer& out) {
         out << uint64_t{0x1122} << uint32_t{8} << uint32_t{9} << uint32_t{2} << uint32_t{5}
             << uint32_t{6};
       })},
      {"SetPrivilege2 without privileges has no raw block",
       [](Sal& s, Io&) { s.SetPrivilege2(0x1122, 8, 9, 0, nullptr); }, 69, 2, 0,
       Write([](ZEL_BUF_BinBuffer& out) {
         out << uint64_t{0x1122} << uint32_t{8} << uint32_t{9} << uint32_t{0};
       })},
      {"GetPrivilege2", [](Sal& s, Io& o) { s.GetPrivilege2(0x44, o.a1, o.a2, o.n, &o.array); }, 71,
       2, 0, Write([](ZEL_BUF_BinBuffer& out) { out << uint64_t{0x44}; })},
      {"GetStaticGroupPermission",
       [](Sal& s, Io& o) { s.GetStaticGroupPermission(o.group, o.n, &o.caps); }, 73, 2, 0,
       Write([](ZEL_BUF_BinBuffer& out) { out << ZELString(u"G"); })},
      {"EnumerateKeldraAdmins",
       [](Sal& s, Io& o) { s.EnumerateKeldraAdmins(o.n, &o.records, 1, 2); }, 75, 2, 0,
       Bytes{1, 2}},
      {"DeleteUser", [](Sal& s, Io& o) { s.DeleteUser(1, &o.uid); }, 27, 3, 12,
       Write([](ZEL_BUF_BinBuffer& out) { out << uint32_t{1} << uint64_t{0xABCDEF}; })},
      {"AddDefaultUser2 of empty names",
       [](Sal& s, Io& o) { s.AddDefaultUser2(o.empty, o.empty, 3); }, 83, 3, 13,
       Bytes{2, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 3}},
      {"GetVoAdminAccountsForTicket: the ticket without a length",
       [](Sal& s, Io& o) { s.GetVoAdminAccountsForTicket(Ticket(), o.accounts); }, 86, 4, 120,
       Bytes(Ticket(), Ticket() + 120)},
      {"AddUsers3: users, contacts, then the folder list",
       [](Sal& s, Io& o) { s.AddUsers3(1, o.users, &o.folders, o.contacts); }, 87, 4, 0,
       Join({Bytes{1, 0, 0, 0}, AccountRecord(u"jane", {7}), kMail, kTwoFolders})},
      {"AddUsers3 of no users: the count and the list",
       [](Sal& s, Io& o) { s.AddUsers3(0, nullptr, &o.folders, nullptr); }, 87, 4, 0,
       Join({Bytes{0, 0, 0, 0}, kTwoFolders})},
      {"SetPrivilege3: the UID, not the name; folders before contacts",
       [](Sal& s, Io& o) { s.SetPrivilege3(&o.info, o.contacts[0]); }, 88, 4, 0,
       Join({Write([](ZEL_BUF_BinBuffer& out) {
               out << uint64_t{0x77} << uint32_t{0} << uint32_t{0} << uint32_t{0};
             }),
             kTwoFolders, kMail})},
      {"GetPrivilege3", [](Sal& s, Io& o) { s.GetPrivilege3(0x55, o.record2, o.contacts[0]); }, 89,
       4, 8, Write([](ZEL_BUF_BinBuffer& out) { out << uint64_t{0x55}; })},
      {"EnumerateKeldraAdmins2",
       [](Sal& s, Io& o) { s.EnumerateKeldraAdmins2(o.n, &o.records2, o.contacts2, 3, 4); }, 90, 4,
       2, Bytes{3, 4}},
      {"GetPermissionsForCurrentUser",
       [](Sal& s, Io& o) { s.GetPermissionsForCurrentUser(o.permitted); },
       91,
       4,
       0,
       {}},
      {"DeleteCapabilityObjectsInDB",
       [](Sal& s, Io&) { s.DeleteCapabilityObjectsInDB(); },
       92,
       4,
       0,
       {}},
      {"GetAdminUIDByName: the hint counts characters without terminators",
       [](Sal& s, Io& o) { s.GetAdminUIDByName(u"jane", nullptr, o.uid); }, 93, 4, 4,
       Write([](ZEL_BUF_BinBuffer& out) { out << u"jane" << u""; })},
      {"GetAdminUIDByName of empty names",
       [](Sal& s, Io& o) { s.GetAdminUIDByName(u"", u"", o.uid); }, 93, 4, 0,
       Write([](ZEL_BUF_BinBuffer& out) { out << u"" << u""; })},
      {"GetAdminNameByUID",
       [](Sal& s, Io& o) { s.GetAdminNameByUID(0x12, o.firstName, o.secondName); }, 94, 4, 8,
       Write([](ZEL_BUF_BinBuffer& out) { out << uint64_t{0x12}; })},
      {"GetPrivilegesByBlob",
       [](Sal& s, Io& o) { s.GetPrivilegesByBlob(o.account, o.flag, o.a1, o.n, &o.array); }, 96, 4,
       0, AccountBlob()},
  };
}

class RequestTest : public SalTest {
 protected:
  RequestTest() {
    host_.SetHasPluginApis(false);  // no local implementation: events only
    host_.SetResponder([](const zel::rt::testing::RecordedEvent&, Bytes* reply) {
      *reply = Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{-5}; });
      return int32_t{0};
    });
  }
  Sal sal_{host_};
};

TEST_F(RequestTest, EveryOperationSendsItsEventLevelHintAndBytes) {
  for (const RequestRow& row : Requests()) {
    SCOPED_TRACE(row.what);
    Io io(sal_);
    const std::size_t before = host_.Sent().size();
    row.call(sal_, io);
    ASSERT_EQ(host_.Sent().size(), before + 1);
    const auto& sent = host_.Sent().back();
    EXPECT_EQ(sent.eventID, row.event);
    EXPECT_EQ(sent.interfaceLevel, row.level);
    EXPECT_EQ(sent.sizeHint, row.hint);
    EXPECT_EQ(sent.srcSubsystemUID, 5);  // the caller's subsystem, to the AdminTool's
    EXPECT_EQ(sent.destSubsystemUID, 22);
    EXPECT_EQ(sent.payload, row.payload);
  }
}

struct RefusalRow {
  const char* what;
  uint32_t failAppend;  // which append fails (0: none), with `appendCode`
  int32_t appendCode;
  std::function<int32_t(Sal&, Io&)> call;
  int32_t code;
};

std::vector<RefusalRow> Refusals() {
  const auto logon = [](Sal& s, Io& o) {
    return s.Logon2(o.name, 2, o.secret, o.u32, o.resolved, o.a1, &o.n, &o.values, &o.m, &o.uids,
                    0);
  };
  return {
      {"DeleteUser of no UIDs", 0, 0, [](Sal& s, Io& o) { return s.DeleteUser(0, &o.uid); },
       ZEL_E_INVALID_ARG},
      {"DeleteUser without a list", 0, 0, [](Sal& s, Io&) { return s.DeleteUser(3, nullptr); },
       ZEL_E_INVALID_ARG},
      {"GetAdminUIDByName of no name", 0, 0,
       [](Sal& s, Io& o) {
         const int32_t r = s.GetAdminUIDByName(nullptr, nullptr, o.uid);
         EXPECT_EQ(o.uid, 0u);
         return r;
       },
       ZEL_E_INVALID_ARG},
      {"Logon2 without a count", 0, 0,
       [](Sal& s, Io& o) {
         return s.Logon2(o.name, 0, nullptr, o.u32, o.resolved, o.a1, nullptr, &o.values, &o.m,
                         &o.uids, 0);
       },
       ZEL_E_INVALID_ARG},
      {"SetPrivilege3 of a folder list that claims a folder it lacks", 0, 0,
       [](Sal& s, Io& o) {
         ZEL_ADMIN_USERINFO2 liar;
         liar.allowedFolders.folderCount = 1;
         const int32_t r = s.SetPrivilege3(&liar, o.contacts[0]);
         liar.allowedFolders.folderCount = 0;
         return r;
       },
       ZEL_E_WRITE_FAILED},
      {"AddUsers3 passes a raw append's own code", 7, -44,  // jane's privilege block
       [](Sal& s, Io& o) { return s.AddUsers3(1, o.users, &o.folders, o.contacts); }, -44},
      {"the ticket passes an append's own code", 1, -12,
       [](Sal& s, Io& o) { return s.GetVoAdminAccountsForTicket(Ticket(), o.accounts); }, -12},
      {"an account that cannot write itself", 1, zel::rt::kNoMemory,
       [](Sal& s, Io& o) { return s.IsUserKeldraAdmin(o.account, &o.u32); }, ZEL_E_FAIL},
      {"GetAdminNameByUID", 1, zel::rt::kNoMemory,
       [](Sal& s, Io& o) { return s.GetAdminNameByUID(1, o.firstName, o.secondName); }, ZEL_E_FAIL},
      {"GetPrivilegesByBlob", 1, zel::rt::kNoMemory,
       [](Sal& s, Io& o) { return s.GetPrivilegesByBlob(o.account, o.flag, o.a1, o.n, &o.array); },
       ZEL_E_FAIL},
      {"AddDefaultUser", 2, zel::rt::kNoMemory,
       [](Sal& s, Io& o) { return s.AddDefaultUser(o.first, o.second); }, ZEL_E_WRITE_FAILED},
      {"Logon2's raw credentials: unlike AddUsers3's, a failed write", 3, -66, logon,
       ZEL_E_WRITE_FAILED},
  };
}

TEST_F(RequestTest, BadArgumentsAndFailedWritesSendNothing) {
  for (const RefusalRow& row : Refusals()) {
    SCOPED_TRACE(row.what);
    Io io(sal_);
    if (row.failAppend != 0) host_.FailNthAppend(row.failAppend, row.appendCode);
    EXPECT_EQ(row.call(sal_, io), row.code);
  }
  EXPECT_TRUE(host_.Sent().empty());
}

template <typename... T>
Bytes Reply(int32_t result, T... values) {
  return Write([&](ZEL_BUF_BinBuffer& out) { (out << result << ... << values); });
}

struct ReplyRow {
  const char* what;
  Bytes reply;
  int32_t sendAnswer;  // what the host's send answers
  std::function<int32_t(Sal&, Io&)> call;
  int32_t code;
  std::function<void(Sal&, Io&)> check;
};

std::vector<ReplyRow> Replies() {
  const auto isAdmin = [](Sal& s, Io& o) { return s.IsUserKeldraAdmin(o.account, &o.u32); };
  const auto logon = [](Sal& s, Io& o) {
    return s.Logon2(o.name, 0, nullptr, o.u32, o.resolved, o.a1, &o.n, &o.values, &o.m, &o.uids, 0);
  };
  const auto group = [](Sal& s, Io& o) {
    return s.GetStaticGroupPermission(o.group, o.n, &o.caps);
  };
  const auto privilege3 = [](Sal& s, Io& o) { return s.GetPrivilege3(0x55, o.record2, o.contact); };
  const auto enumerate2 = [](Sal& s, Io& o) {
    return s.EnumerateKeldraAdmins2(o.n, &o.records2, o.contacts2, 3, 4);
  };
  const auto permissions = [](Sal& s, Io& o) {
    return s.GetPermissionsForCurrentUser(o.permitted);
  };
  const auto byBlob = [](Sal& s, Io& o) {
    return s.GetPrivilegesByBlob(o.account, o.flag, o.a1, o.n, &o.array);
  };
  const auto ticket = [](Sal& s, Io& o) {
    return s.GetVoAdminAccountsForTicket(Ticket(), o.accounts);
  };
  const auto byName = [](Sal& s, Io& o) { return s.GetAdminUIDByName(u"jane", nullptr, o.uid); };
  const auto byUID = [](Sal& s, Io& o) {
    return s.GetAdminNameByUID(0x12, o.firstName, o.secondName);
  };
  const auto dns = [](Sal& s, Io& o) { return s.GetUsersDNs(o.dns); };
  const uint32_t u0 = 0, u1 = 1, u2 = 2, u3 = 3, u4 = 4, u5 = 5;
  const Bytes ticketReply = Write([](ZEL_BUF_BinBuffer& out) {
    out << int32_t{0} << uint32_t{2} << uint64_t{0x10} << uint64_t{0x20} << uint32_t{1}
        << uint32_t{2} << uint32_t{3} << uint32_t{4};
  });
  return {
      {"IsUserKeldraAdmin reads one answer", Reply(2, u1), 2, isAdmin, 2,
       [](Sal&, Io& o) { EXPECT_EQ(o.u32, 1u); }},
      {"IsUserKeldraAdmin: a failure leaves the answer", Reply(-21, u1), 0, isAdmin, -21,
       [](Sal&, Io& o) { EXPECT_EQ(o.u32, 0xDEADu); }},
      {"IsUserKeldraAdmin: a short answer leaves it too", Reply(0, uint16_t{1}), 0, isAdmin,
       ZEL_E_SHORT_REPLY, [](Sal&, Io& o) { EXPECT_EQ(o.u32, 0xDEADu); }},
      {"Logon2: the raw reads decide the result",
       Reply(1, ZELString(u"Jane Doe"), uint32_t{77}, u2, uint32_t{10}, uint32_t{20}, u3,
             uint64_t{1}, uint64_t{2}, ~uint64_t{0}),
       1, logon, 0,
       [](Sal&, Io& o) {
         EXPECT_EQ(o.u32, 1u);
         EXPECT_EQ(o.resolved, ZELString(u"Jane Doe"));
         EXPECT_EQ(o.a1, 77u);
         ASSERT_TRUE(o.n == 2 && o.m == 3);
         EXPECT_EQ(o.values[1], 20u);
         EXPECT_EQ(o.uids[2], ~uint64_t{0});
       }},
      {"Logon2 without arrays keeps its result", Reply(1, ZELString(), u0, u0, u0), 1, logon, 1,
       [](Sal&, Io& o) {
         EXPECT_TRUE(o.values == nullptr && o.uids == nullptr && o.n == 0 && o.m == 0);
       }},
      {"Logon2: a negative result reads nothing, not even the status", Reply(-4), 0, logon, -4,
       [](Sal&, Io& o) { EXPECT_EQ(o.u32, 0xDEADu); }},
      {"GetPrivilege2 reads its array whatever the positive result",
       Reply(1, uint32_t{8}, uint32_t{9}, u3, uint32_t{10}, uint32_t{20}, uint32_t{30}), 1,
       [](Sal& s, Io& o) { return s.GetPrivilege2(0x44, o.a1, o.a2, o.n, &o.array); }, 1,
       [](Sal&, Io& o) {
         ASSERT_EQ(o.n, 3u);
         EXPECT_EQ(o.array[2], 30u);
       }},
      {"GetStaticGroupPermission replaces the group and builds capabilities",
       Reply(0, ZELString(u"Resolved"), u2, uint64_t{100}, u0, uint64_t{200}, u2, u4, u5), 0, group,
       0,
       [](Sal&, Io& o) {
         EXPECT_EQ(o.group, ZELString(u"Resolved"));
         ASSERT_EQ(o.n, 2u);
         EXPECT_EQ(o.caps[0].privileges, nullptr);  // none for it: nothing read
         EXPECT_EQ(o.caps[1].objectUID, 200u);
         EXPECT_EQ(o.caps[1].privileges[1], 5u);
       }},
      {"GetStaticGroupPermission: a failure leaves group and count", Reply(-3), 0, group, -3,
       [](Sal&, Io& o) {
         EXPECT_EQ(o.n, 77u);
         EXPECT_EQ(o.group, ZELString(u"G"));
       }},
      {"EnumerateKeldraAdmins: records without spare capacity",
       Join({Reply(0, u2), AccountRecord(u"jane", {1, 2, 3}), AccountRecord(u"joe", {})}), 0,
       [](Sal& s, Io& o) { return s.EnumerateKeldraAdmins(o.n, &o.records, 1, 2); }, 0,
       [](Sal&, Io& o) {
         ASSERT_EQ(o.n, 2u);
         EXPECT_EQ(o.records[0].accountName, ZELString(u"jane"));
         EXPECT_EQ(o.records[0].privilegeCount, 3u);
         EXPECT_EQ(o.records[0].privilegeCapacity, 0u);
         EXPECT_EQ(o.records[1].privileges, nullptr);
         o.records[0].AddOnePriv(4);  // a record read from a reply grows on its first change
         EXPECT_EQ(o.records[0].privilegeCapacity, 103u);
       }},
      {"GetPrivilege3 builds one record",
       Join({Reply(0, uint32_t{8}, uint32_t{9}, u2, u1, u2), Write([](ZEL_BUF_BinBuffer& out) {
               FolderList(out, {{70, {3}}});
               Contact(out, u"mail");
             })}),
       0, privilege3, 0,
       [](Sal&, Io& o) {
         ASSERT_NE(o.record2, nullptr);
         EXPECT_EQ(o.record2->adminUID, 0x55u);  // the reply does not repeat it
         EXPECT_TRUE(o.record2->accountName.isEmpty());
         EXPECT_EQ(o.record2->attribute2, 9u);
         EXPECT_EQ(o.record2->privilegeCapacity, 0u);
         ASSERT_EQ(o.record2->allowedFolders.folderCount, 1u);
         EXPECT_EQ(o.record2->allowedFolders.folders[0].tasks[0], 3u);
         EXPECT_EQ(o.contact.contact1, ZELString(u"mail"));
       }},
      {"GetPrivilege3: a positive result without lists",
       Join({Reply(1, u0, u0, u0, u0), Write([](ZEL_BUF_BinBuffer& out) { Contact(out, u"x"); })}),
       1, privilege3, 1,
       [](Sal&, Io& o) {
         EXPECT_EQ(o.record2->privileges, nullptr);
         EXPECT_EQ(o.record2->allowedFolders.folders, nullptr);
       }},
      {"EnumerateKeldraAdmins2 fills two arrays", zel::sal::testing::kEnumerate2Reply, 0,
       enumerate2, 0,
       [](Sal& s, Io& o) {
         ASSERT_EQ(o.n, 2u);
         EXPECT_EQ(o.records2[1].adminUID, 102u);
         EXPECT_EQ(o.records2[1].allowedFolders.folders[0].folderUID, 1102u);
         EXPECT_EQ(o.records2[0].privileges[0], 7u);
         EXPECT_EQ(o.contacts2[1].contact1, ZELString(u"phone"));
         s.FreeKeldraAdminInfo(&o.records2, o.contacts2);
         EXPECT_TRUE(o.records2 == nullptr && o.contacts2 == nullptr);
       }},
      {"EnumerateKeldraAdmins2 of none", Reply(0, u0), 0, enumerate2, 0,
       [](Sal&, Io& o) { EXPECT_EQ(o.records2, nullptr); }},
      {"GetPermissionsForCurrentUser of none: an empty list, not none", Reply(0, u0), 0,
       permissions, 0,
       [](Sal&, Io& o) {
         ASSERT_NE(o.permitted, nullptr);
         EXPECT_EQ(o.permitted->folderCount, 0u);
       }},
      {"GetPermissionsForCurrentUser", Join({Reply(0), Write([](ZEL_BUF_BinBuffer& out) {
                                               FolderList(out, {{5, {}}, {6, {1, 2}}});
                                             })}),
       0, permissions, 0,
       [](Sal&, Io& o) {
         EXPECT_EQ(o.permitted->folders[0].tasks, nullptr);
         EXPECT_EQ(o.permitted->folders[1].tasks[1], 2u);
       }},
      {"GetPrivilegesByBlob", Reply(0, uint8_t{1}, u2, u2, u4, u5), 0, byBlob, 0,
       [](Sal&, Io& o) {
         EXPECT_EQ(o.flag, 1);
         ASSERT_EQ(o.n, 2u);
         EXPECT_EQ(o.array[1], 5u);
       }},
      {"GetPrivilegesByBlob: a count of 0 leaves the pointer as it was",
       Reply(0, uint8_t{1}, u2, u0), 0,
       [&](Sal& s, Io& o) {
         o.array = &o.u32;
         return byBlob(s, o);
       },
       0,
       [](Sal&, Io& o) {
         EXPECT_EQ(o.array, &o.u32);
         o.array = nullptr;
       }},
      {"ticket accounts", ticketReply, 0, ticket, 0,
       [](Sal&, Io& o) {
         ASSERT_NE(o.accounts, nullptr);
         EXPECT_EQ(o.accounts->accountUIDs[1], 0x20u);
         EXPECT_EQ(o.accounts->value4, 4u);
       }},
      {"ticket accounts without UIDs", Reply(0, u0, u1, u2, u3, u4), 0, ticket, 0,
       [](Sal&, Io& o) { EXPECT_EQ(o.accounts->accountUIDs, nullptr); }},
      {"ticket: a positive result gives no accounts", Reply(1), 0, ticket, 1,
       [](Sal&, Io& o) { EXPECT_EQ(o.accounts, nullptr); }},
      {"ticket: a positive send answer releases the reply", ticketReply, 2, ticket, 2,
       [](Sal&, Io& o) { EXPECT_EQ(o.accounts, nullptr); }},
      {"GetAdminUIDByName", Reply(0, uint64_t{0x12}), 0, byName, 0,
       [](Sal&, Io& o) { EXPECT_EQ(o.uid, 0x12u); }},
      {"GetAdminUIDByName: a UID not read in full is 0", Reply(0, u1), 0, byName, ZEL_E_SHORT_REPLY,
       [](Sal&, Io& o) { EXPECT_EQ(o.uid, 0u); }},
      {"GetAdminNameByUID", Reply(0, u"Jane", u"NT"), 0, byUID, 0,
       [](Sal& s, Io& o) {
         EXPECT_EQ(std::u16string(o.firstName), u"Jane");
         EXPECT_EQ(std::u16string(o.secondName), u"NT");
         s.FreeAdminName(o.firstName, o.secondName);
         EXPECT_EQ(o.firstName, nullptr);
       }},
      {"GetAdminNameByUID: a name read before the reply ran short is the caller's",
       Reply(0, u"Jane"), 0, byUID, ZEL_E_SHORT_REPLY,
       [](Sal&, Io& o) {
         EXPECT_NE(o.firstName, nullptr);
         EXPECT_EQ(o.secondName, nullptr);
       }},
      {"GetUsersDNs: a nonzero result reads no list", Reply(2), 0, dns, 2,
       [](Sal&, Io& o) { EXPECT_EQ(o.dns.count(), 0u); }},
      {"GetUsersDNs", Write([](ZEL_BUF_BinBuffer& out) {
         ZELMultiString list;
         list.add(ZELString(u"CN=a"));
         list.add(ZELString(u"CN=b"));
         out << int32_t{0} << list;
       }),
       0, dns, 0, [](Sal&, Io& o) { EXPECT_EQ(o.dns.count(), 2u); }},
      {"GetUsersDNs: a short list", Reply(0, u5), 0, dns, ZEL_E_SHORT_REPLY, [](Sal&, Io&) {}},
      {"GetUsersDNs: any nonzero send answer ends it", Reply(0), 3, dns, 3, [](Sal&, Io&) {}},
  };
}

TEST_F(RequestTest, EveryReplyLeavesTheOutputsItsOperationPromises) {
  for (const ReplyRow& row : Replies()) {
    SCOPED_TRACE(row.what);
    Io io(sal_);
    host_.QueueReply(row.reply, row.sendAnswer);
    EXPECT_EQ(row.call(sal_, io), row.code);
    row.check(sal_, io);
  }
}

TEST_F(RequestTest, EnumerateKeldraAdmins2LetsBadAllocThrough) {
  host_.SetResponder([](const zel::rt::testing::RecordedEvent&, Bytes* out) {
    *out = zel::sal::testing::kEnumerate2Reply;
    return int32_t{0};
  });
  Io io(sal_);
  zel::rt::FailNthAllocation(6);  // the contact array (the sweeps check what a failure leaves)
  EXPECT_THROW(sal_.EnumerateKeldraAdmins2(io.n, &io.records2, io.contacts2, 3, 4), bad_alloc);
}

TEST_F(RequestTest, ALocalImplementationAnswersForwardedOperationsOnly) {
  zel::sal::testing::RecordingLocal local;
  host_.SetHasPluginApis(true);
  host_.Plugins().Offer(2300, static_cast<AdminToolInterface4*>(&local));
  Sal sal(host_);
  Io o(sal);
  uint8_t ticket[120] = {};
  // Outputs that the forwarding must clear before the local implementation sees them.
  o.accounts = reinterpret_cast<_VoAdminAccounts*>(&local);
  o.record2 = o.records2 = reinterpret_cast<ZEL_ADMIN_USERINFO2*>(&local);
  o.contacts2 = reinterpret_cast<ZEL_ADMIN_CONTACTINFO*>(&local);
  o.permitted = reinterpret_cast<AllowedFolders*>(&local);
  o.n = 8;
  EXPECT_EQ(sal.GetVoAdminAccountsForTicket(ticket, o.accounts), 1);
  EXPECT_EQ(sal.AddUsers3(0, nullptr, nullptr, nullptr), 2);
  EXPECT_EQ(sal.GetPrivilege3(1, o.record2, o.contact), 3);
  EXPECT_EQ(sal.SetPrivilege3(nullptr, o.contact), 4);
  EXPECT_EQ(sal.EnumerateKeldraAdmins2(o.n, &o.records2, o.contacts2, 0, 0), 5);
  EXPECT_EQ(sal.GetPermissionsForCurrentUser(o.permitted), 6);
  EXPECT_EQ(sal.DeleteCapabilityObjectsInDB(), 7);
  EXPECT_EQ(local.calls.size(), 7u);
  EXPECT_TRUE(local.outputsCleared);
  EXPECT_TRUE(host_.Created().empty());

  // Resolution and GetPrivilegesByBlob always travel as events.
  sal.GetAdminUIDByName(u"a", nullptr, o.uid);
  sal.GetAdminNameByUID(1, o.firstName, o.secondName);
  sal.GetPrivilegesByBlob(o.account, o.flag, o.a1, o.n, &o.array);
  EXPECT_EQ(host_.Sent().size(), 3u);
}

TEST_F(RequestTest, UnresolvedNamesArePostedToTheFarmAsTheyAre) {
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

TEST_F(RequestTest, DeleteAdminNodeAnnouncesTheNodeWithItsWireForm) {
  ZEL_AdminToolObject node(u"Root/Admins", u"jane");
  node.setUID(5);
  ZELString parent(u"Root/Admins"), name(u"jane");
  ASSERT_EQ(sal_.DeleteAdminNode(node, parent, name), 0);
  ASSERT_EQ(host_.Posted().size(), 2u);
  ZEL_BUF_EventBuffer wire(0, ZELVersion(1, 0), 0);
  node.write(wire);
  Bytes expected = Write([&](ZEL_BUF_BinBuffer& out) {
    out << int32_t{0} << int16_t{1} << int16_t{2} << parent << int16_t{1} << name;
  });
  expected.insert(expected.end(), wire.GetData(), wire.GetData() + wire.GetSize());
  EXPECT_EQ(host_.Posted()[0].payload, expected);
  host_.SetDispatchResult(-2);
  EXPECT_EQ(sal_.DeleteAdminNode(node, parent, name), -2);
  EXPECT_EQ(host_.Posted().size(), 3u);
}

TEST_F(RequestTest, FreeMemoryReleasesEachKindAndTracesAnUnknownOne) {
  sal_.FreeMemory(zel::sal::AllocatePlainArray<uint32_t>(4), 1);
  sal_.FreeMemory(zel::sal::NewArray<ZEL_ADMIN_USERINFO>(2), 2);
  sal_.FreeMemory(zel::sal::NewObject<ZEL_ADMIN_USERINFO2>(), 3);
  auto* twos = zel::sal::NewArray<ZEL_ADMIN_USERINFO2>(2);
  twos[1].allowedFolders += uint64_t{7};
  sal_.FreeMemory(twos, 4);
  sal_.FreeMemory(zel::sal::NewArray<ZEL_ADMIN_CONTACTINFO>(3), 5);
  zel::sal::testing::TraceCapture().records.clear();  // (the fixture checks nothing is left)
  uint32_t kept = 0;
  EXPECT_EQ(sal_.FreeMemory(&kept, 0), 0);
  EXPECT_EQ(sal_.FreeMemory(&kept, 6), 0);
  EXPECT_EQ(sal_.FreeMemory(nullptr, 9), 0);  // a null pointer traces nothing
  EXPECT_EQ(Traced(zel::trace::kFreeMemoryUnknownType).size(), 2u);
}

}  // namespace
