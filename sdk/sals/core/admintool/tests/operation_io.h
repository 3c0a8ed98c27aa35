// Every administrator operation's inputs and outputs in one place, so that a table row is one
// call; the outputs are released when it goes.
#pragma once

#include "test_support.h"
#include "zel/admintool/zel_admintoolsal5.h"

namespace zel::sal::testing {

using Sal = ZEL_AdminToolSAL6;

inline UM_AcctIDBlobWriter Account() {
  return UM_AcctIDBlobWriter(
      UM_AccountIdentity{ZELString(u"NT"), ZELString(u"NORTH"), ZELString(u"jane"), {1, 2, 3}});
}

// A logon ticket of the bytes 0 to 119.
inline uint8_t* Ticket() {
  static uint8_t ticket[120];
  for (int i = 0; i < 120; ++i) ticket[i] = static_cast<uint8_t>(i);
  return ticket;
}

struct Io {
  // Users jane (privilege 7) and joe (none), attributes 1 and 2; contact "mail"; folder 70 with
  // tasks {1, 2}, then folder 71.
  explicit Io(Sal& s) : sal(s) {
    users[0].Init(ZELString(u"jane"), ZELString(u"NT"), 1, 2, 0);
    users[0].AddOnePriv(7);
    users[1].Init(ZELString(u"joe"), ZELString(u"NT"), 1, 2, 0);
    contacts[0].contact1 = u"mail";
    contacts[0].contact2 = u"c2";
    contacts[0].contact3 = u"c3";
    folders += &withTasks;
    folders += uint64_t{71};
    info.accountName = u"not sent";
    info.adminUID = 0x77;
    info.allowedFolders = folders;
  }
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

  // Logon2 of `name` with every output here.
  int32_t Logon2(uint32_t length = 0, uint8_t* credentials = nullptr) {
    return sal.Logon2(name, length, credentials, u32, resolved, a1, &n, &values, &m, &uids, 0);
  }

  // Whether every output an operation allocates is empty.
  bool NoOutputs() const {
    return values == nullptr && array == nullptr && uids == nullptr && caps == nullptr &&
           records == nullptr && record2 == nullptr && records2 == nullptr &&
           contacts2 == nullptr && permitted == nullptr && accounts == nullptr &&
           firstName == nullptr && secondName == nullptr;
  }

  ZEL_ADMIN_USERINFO users[2];
  ZEL_ADMIN_CONTACTINFO contacts[1];
  const uint32_t tasks[2] = {1, 2};
  FolderPermissions withTasks{2, tasks, 70};
  AllowedFolders folders;
  ZEL_ADMIN_USERINFO2 info;
  UM_AcctIDBlobWriter account = Account();
  ZELString name{u"jane"}, first{u"admin"}, second{u"NORTH"}, empty{u""}, group{u"G"}, resolved;
  ZELMultiString dns;
  uint8_t secret[3] = {0xC0, 0xFF, 0xEE};
  uint8_t flag;
  uint32_t u32 = 0xDEAD, a1, a2, n = 77, m = 77, privileges[2] = {5, 6};
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
};

}  // namespace zel::sal::testing
