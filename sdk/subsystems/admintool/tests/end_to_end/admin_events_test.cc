// The administrator events end to end: consoles call the library's operations (every SAL version
// that has them) in an in-process farm, the subsystem answers from a real store file, and the
// tests check what each console then sees.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "console_views.h"
#include "subsystem_farm.h"
#include "zel/protocol/audit.h"
#include "zel/subsystem/codes.h"

namespace zel::subsystem {
namespace {

using testing::Blob;
using testing::Record;
using testing::Seen;

constexpr uint32_t kManage = static_cast<uint32_t>(Privilege::kManageAdministrators);
constexpr uint32_t kAudit = static_cast<uint32_t>(Privilege::kReadAudit);
constexpr uint16_t kOwnerUID = 5, kAliceUID = 6, kDaveUID = 7, kEveUID = 8;

// A farm where the owner added alice (may manage administrators and read the audit) with
// AddUsers2, and bob and carol (folders, contact data) with AddUsers3.
class AdminEvents : public testing::FarmTest {
 protected:
  AdminEvents() {
    ZEL_AdminToolSAL6& owner = farm_.Owner();
    ZEL_ADMIN_USERINFO alice[] = {Record("unix:alice", {kManage, kAudit, 4000}, 1, 2)};
    EXPECT_EQ(static_cast<AdminToolInterface2&>(owner).AddUsers2(1, alice), 0);
    ZEL_ADMIN_USERINFO pair[] = {Record("NT:NORTH\\bob", {1}), Record("NT:NORTH\\carol", {})};
    ZEL_ADMIN_CONTACTINFO contacts[] = {testing::ContactRecord({u"bob@north", u"+1", u""}),
                                        testing::ContactRecord({u"", u"", u"desk 3"})};
    AllowedFolders folders = testing::Folders(kFolders);
    EXPECT_EQ(owner.AddUsers3(2, pair, &folders, contacts), 0);
    alice_ = UIDOf(u"alice", u"unix");
    bob_ = UIDOf(u"NORTH\\bob", u"NT");
    carol_ = UIDOf(u"NORTH\\carol", u"NT");
  }

  uint64_t UIDOf(const char16_t* name, const char16_t* authority) {
    uint64_t uid = 0;
    EXPECT_EQ(farm_.Owner().GetAdminUIDByName(name, authority, uid), 0) << Text(name);
    return uid;
  }
  static std::string Text(const char16_t* s) { return ZELString(s).toUtf8(); }
  std::vector<Seen> Everyone() {
    int32_t result = 0;
    std::vector<Seen> seen = testing::Enumerate2(farm_.Owner(), &result);
    EXPECT_EQ(result, 0);
    return seen;
  }

  const std::vector<FolderGrant> kFolders{{0x0121000000000010, {1, 2}}, {0x20, {}}};
  uint64_t alice_ = 0, bob_ = 0, carol_ = 0;
};

TEST_P(AdminEvents, EveryGenerationSeesTheSameAdministrators) {
  ZEL_PIF_ISubSystem& host = farm_.ConsoleHost(kOwnerUID);
  ZEL_AdminToolSAL3 sal3(host);
  ZEL_AdminToolSAL4 sal4(host);
  ZEL_AdminToolSAL5 sal5(host);
  const std::vector<Seen> second = {{"unix:alice", 1, 2, {kManage, kAudit, 4000}},
                                    {"NT:NORTH\\bob", 0, 0, {1}},
                                    {"NT:NORTH\\carol", 0, 0, {}}};
  for (ZEL_AdminToolSAL3* sal :
       {&sal3, static_cast<ZEL_AdminToolSAL3*>(&sal4), static_cast<ZEL_AdminToolSAL3*>(&sal5),
        static_cast<ZEL_AdminToolSAL3*>(&farm_.Owner())}) {
    int32_t result = -1;
    EXPECT_EQ(testing::Enumerate(*sal, &result), second);
    EXPECT_EQ(result, 0);
  }
  const std::vector<Seen> third = {
      {"unix:alice", 1, 2, {kManage, kAudit, 4000}, {}, {}, alice_},
      {"NT:NORTH\\bob", 0, 0, {1}, kFolders, {u"bob@north", u"+1", u""}, bob_},
      {"NT:NORTH\\carol", 0, 0, {}, kFolders, {u"", u"", u"desk 3"}, carol_}};
  for (ZEL_AdminToolSAL5* sal : {&sal5, static_cast<ZEL_AdminToolSAL5*>(&farm_.Owner())}) {
    int32_t result = -1;
    EXPECT_EQ(testing::Enumerate2(*sal, &result), third);
    EXPECT_EQ(result, 0);
  }

  // Names resolve both ways; an empty authority takes the one administrator of that name.
  EXPECT_EQ(UIDOf(u"alice", u""), alice_);
  char16_t* name = nullptr;
  char16_t* authority = nullptr;
  EXPECT_EQ(sal5.GetAdminNameByUID(bob_, name, authority), 0);
  EXPECT_EQ(Text(name) + "|" + Text(authority), "NORTH\\bob|NT");
  sal5.FreeAdminName(name, authority);

  // IsUserKeldraAdmin, on every version that has it, and GetPrivilegesByBlob answer from the
  // same accounts; the blob's domain and name make the account name.
  ZEL_AdminToolSAL2 sal2(host);
  struct Account {
    UM_AcctIDBlobWriter blob;
    uint32_t answer, attribute, privileges;  // attribute: an administrator's only
  } accounts[] = {{Blob("unix", "", "alice"), 1, 1, 3},
                  {Blob("NT", "NORTH", "bob"), 1, 0, 1},
                  {Blob("NT", "SOUTH", "bob"), 0, 0, 0},
                  {Blob("unix", "", "bob"), 0, 0, 0}};
  for (Account& a : accounts) {
    for (ZEL_AdminToolInterface2* sal : std::initializer_list<ZEL_AdminToolInterface2*>{
             &sal2, &sal3, &sal4, &sal5, &farm_.Owner()}) {
      uint32_t answer = 7;
      EXPECT_EQ(sal->IsUserKeldraAdmin(a.blob, &answer), 0);
      EXPECT_EQ(answer, a.answer);
    }
    uint8_t flag = 9;
    uint32_t attribute = 9, count = 0;
    uint32_t* privileges = nullptr;
    EXPECT_EQ(sal5.GetPrivilegesByBlob(a.blob, flag, attribute, count, &privileges), 0);
    EXPECT_EQ(flag, a.answer);
    if (a.answer == 1) {
      EXPECT_EQ(attribute, a.attribute);
    }
    EXPECT_EQ(count, a.privileges);
    sal5.FreeMemory(privileges, ZEL_AdminToolSAL3::kFreePlainArray);
  }
}

TEST_P(AdminEvents, ChangesOfOneGenerationAreSeenByTheOthers) {
  ZEL_AdminToolSAL6& owner = farm_.Owner();
  AdminToolInterface2& second = owner;
  uint32_t privileges[] = {9, 8};
  ASSERT_EQ(second.SetPrivilege2(carol_, 3, 4, 2, privileges), 0);
  int32_t result = -1;
  EXPECT_EQ(testing::Privileges3(owner, carol_, &result),
            (Seen{"", 3, 4, {9, 8}, kFolders, {u"", u"", u"desk 3"}, carol_}))
      << "SetPrivilege2 keeps folders and contact";

  ZEL_ADMIN_USERINFO2* info = owner.CreateUserInfo2();
  info->adminUID = bob_;
  info->attribute1 = 5;
  info->ReplacePrivs(1, privileges);
  info->allowedFolders = testing::Folders({{0x30, {7}}});
  ZEL_ADMIN_CONTACTINFO contact = testing::ContactRecord({u"new", u"", u""});
  ASSERT_EQ(owner.SetPrivilege3(info, contact), 0);
  owner.FreeMemory(info, ZEL_AdminToolSAL3::kFreeUserInfo2);
  EXPECT_EQ(testing::Privileges2(owner, bob_, &result), (Seen{"", 5, 0, {9}}));
  EXPECT_EQ(Everyone()[1],
            (Seen{"NT:NORTH\\bob", 5, 0, {9}, {{0x30, {7}}}, Contact{u"new", u"", u""}, bob_}));

  // AddUsers2 of an account that is an administrator updates it and keeps its UID and folders.
  ZEL_ADMIN_USERINFO again[] = {Record("NT:NORTH\\bob", {2})};
  ASSERT_EQ(second.AddUsers2(1, again), 0);
  EXPECT_EQ(Everyone()[1],
            (Seen{"NT:NORTH\\bob", 0, 0, {2}, {{0x30, {7}}}, Contact{u"new", u"", u""}, bob_}));

  // DeleteUser deletes all it names or, when one is unknown, nothing.
  uint64_t unknown[] = {carol_, 0x0121000000000999};
  EXPECT_EQ(owner.DeleteUser(2, unknown), kNoSuchAdministrator);
  EXPECT_EQ(Everyone().size(), 3u);
  uint64_t both[] = {carol_, bob_};
  ASSERT_EQ(owner.DeleteUser(2, both), 0);
  ASSERT_EQ(Everyone().size(), 1u);
  EXPECT_EQ(Everyone()[0].account, "unix:alice");
  EXPECT_EQ(testing::Privileges2(owner, bob_, &result).privileges.size(), 0u);
  EXPECT_EQ(result, kNoSuchAdministrator);
}

TEST_P(AdminEvents, ChangesNeedThePrivilegeAndRefusedOnesChangeNothing) {
  // dave is an administrator without the privilege to manage others; eve is none.
  farm_.AddAdmin("unix:dave", {1});
  const std::vector<Seen> before = Everyone();
  using S = ZEL_AdminToolSAL6;
  const auto add2 = [](S& s, const char* account) {
    ZEL_ADMIN_USERINFO u[] = {Record(account, {kManage})};
    return static_cast<AdminToolInterface2&>(s).AddUsers2(1, u);
  };
  ZEL_ADMIN_USERINFO mallory[] = {Record("unix:mallory", {kManage})};
  ZEL_ADMIN_CONTACTINFO contact[1];
  AllowedFolders noFolders;
  ZEL_ADMIN_USERINFO2 carol;
  carol.adminUID = carol_;
  uint32_t manage[] = {kManage};
  uint64_t alice[] = {alice_};
  ZELString guest(u"guest"), unix(u"unix");
  const std::pair<const char*, std::function<int32_t(S&)>> cases[] = {
      {"AddUsers2", [&](S& s) { return add2(s, "unix:mallory"); }},
      {"AddUsers3", [&](S& s) { return s.AddUsers3(1, mallory, &noFolders, contact); }},
      {"AddUsers2 raising one's own privileges", [&](S& s) { return add2(s, "unix:dave"); }},
      {"SetPrivilege2",
       [&](S& s) {
         return static_cast<AdminToolInterface2&>(s).SetPrivilege2(bob_, 0, 0, 1, manage);
       }},
      {"SetPrivilege3", [&](S& s) { return s.SetPrivilege3(&carol, contact[0]); }},
      {"DeleteUser", [&](S& s) { return s.DeleteUser(1, alice); }},
      {"AddDefaultUser", [&](S& s) { return s.AddDefaultUser(guest, unix); }},
      {"AddDefaultUser2", [&](S& s) { return s.AddDefaultUser2(guest, unix, 1); }},
  };
  ZEL_AdminToolSAL6& daveConsole = farm_.Console(kDaveUID, "unix:dave");
  ZEL_AdminToolSAL6& eveConsole = farm_.Console(kEveUID, "unix:eve");
  ZEL_AdminToolSAL6& anonymous = farm_.Console(9, "");
  for (const auto& [name, change] : cases) {
    for (S* console : {&daveConsole, &eveConsole, &anonymous}) {
      EXPECT_EQ(change(*console), kAccessDenied) << name;
    }
    EXPECT_EQ(Everyone(), before) << name;
  }
  ZELMultiString users;
  ASSERT_EQ(farm_.Owner().GetUsersDNs(users), 0);
  EXPECT_EQ(users.count(), before.size()) << "no default user was set";
}

TEST_P(AdminEvents, ReadsNeedAnAdministratorButAnAccountMayAskAboutItself) {
  ZEL_AdminToolSAL6& eve = farm_.Console(kEveUID, "unix:eve");
  int32_t result = 0;
  testing::Enumerate(eve, &result);
  EXPECT_EQ(result, kAccessDenied);
  testing::Enumerate2(eve, &result);
  EXPECT_EQ(result, kAccessDenied);
  testing::Privileges2(eve, alice_, &result);
  EXPECT_EQ(result, kAccessDenied);
  testing::Privileges3(eve, alice_, &result);
  EXPECT_EQ(result, kAccessDenied);
  uint64_t uid = 0;
  EXPECT_EQ(eve.GetAdminUIDByName(u"alice", u"unix", uid), kAccessDenied);
  uint32_t answer = 9;
  UM_AcctIDBlobWriter alice = Blob("unix", "", "alice"), self = Blob("unix", "", "eve");
  EXPECT_EQ(eve.IsUserKeldraAdmin(alice, &answer), kAccessDenied);
  EXPECT_EQ(eve.IsUserKeldraAdmin(self, &answer), 0);
  EXPECT_EQ(answer, 0u);

  // An administrator without any privilege reads.
  farm_.AddAdmin("unix:dave", {});
  EXPECT_EQ(testing::Enumerate2(farm_.Console(kDaveUID, "unix:dave"), &result).size(), 4u);
  EXPECT_EQ(result, 0);
}

TEST_P(AdminEvents, TheFirstAdministratorComesOnlyFromTheOwner) {
  testing::SubsystemFarm fresh(GetParam());
  ZEL_ADMIN_USERINFO self[] = {Record("unix:alice", {kManage})};
  ZEL_ADMIN_USERINFO other[] = {Record("unix:bob", {})};
  AdminToolInterface2& alice = fresh.Console(kAliceUID, "unix:alice");
  AdminToolInterface2& anonymous = fresh.Console(9, "");
  EXPECT_EQ(alice.AddUsers2(1, self), kAccessDenied);
  EXPECT_EQ(anonymous.AddUsers2(1, self), kAccessDenied);
  EXPECT_EQ(static_cast<AdminToolInterface2&>(fresh.Owner()).AddUsers2(1, self), 0);
  EXPECT_EQ(alice.AddUsers2(1, other), 0) << "now alice holds the privilege";
}

TEST_P(AdminEvents, PermissionsAreTheActingIdentitysFolders) {
  struct Case {
    const char* name;
    ZEL_AdminToolSAL6* console;
    int32_t result;
    std::vector<FolderGrant> folders;
  } cases[] = {
      {"the owner has no limits", &farm_.Owner(), kUnrestricted, {}},
      {"bob has his folders", &farm_.Console(10, "NT:NORTH\\bob"), 0, kFolders},
      {"alice has none", &farm_.Console(kAliceUID, "unix:alice"), 0, {}},
      {"eve is no administrator", &farm_.Console(kEveUID, "unix:eve"), kNotAdministrator, {}},
  };
  for (const Case& c : cases) {
    AllowedFolders* folders = nullptr;
    EXPECT_EQ(c.console->GetPermissionsForCurrentUser(folders), c.result) << c.name;
    EXPECT_EQ(folders != nullptr ? testing::Grants(*folders) : std::vector<FolderGrant>{},
              c.folders)
        << c.name;
    delete folders;
  }
}

TEST_P(AdminEvents, StateAndTheDefaultUserSurviveARestartOnTheSameStore) {
  ZEL_AdminToolSAL6& owner = farm_.Owner();
  ZELString first(u"guest"), second(u"unix"), empty;
  ASSERT_EQ(owner.AddDefaultUser(first, second), 0);
  EXPECT_EQ(owner.AddDefaultUser(empty, second), kInvalidAccount);
  ZELString replaced(u"NORTH\\visitor"), nt(u"NT");
  ASSERT_EQ(owner.AddDefaultUser2(replaced, nt, 3), 0);
  const std::vector<Seen> before = Everyone();
  farm_.Restart();
  EXPECT_EQ(Everyone(), before);
  ZELMultiString users;
  ASSERT_EQ(ZEL_AdminToolSAL(farm_.ConsoleHost(kOwnerUID)).GetUsersDNs(users), 0);
  std::vector<std::string> texts;
  for (const ZELString& user : users.items()) texts.push_back(user.toUtf8());
  EXPECT_EQ(texts, (std::vector<std::string>{"unix:alice", "NT:NORTH\\bob", "NT:NORTH\\carol",
                                             "NT:NORTH\\visitor"}));
}

TEST_P(AdminEvents, ManyAdministratorsInOneRequestAreAddedAllOrNone) {
  ZEL_ADMIN_CONTACTINFO contacts[3];
  AllowedFolders folders;
  for (const char* invalid : {"unix:", "NT:NORTH\\"}) {  // no name, or none after the domain
    ZEL_ADMIN_USERINFO users[] = {Record("unix:x1", {}), Record("unix:x2", {}),
                                  Record(invalid, {})};
    EXPECT_EQ(farm_.Owner().AddUsers3(3, users, &folders, contacts), kInvalidAccount) << invalid;
    EXPECT_EQ(Everyone().size(), 3u);
  }
  ZEL_ADMIN_USERINFO users[] = {Record("unix:x1", {}), Record("unix:x2", {})};
  EXPECT_EQ(farm_.Owner().AddUsers3(2, users, &folders, contacts), 0);
  EXPECT_EQ(Everyone().size(), 5u);
}

ZEL_TABLES_OVER_TRANSPORTS(AdminEvents);

}  // namespace
}  // namespace zel::subsystem
