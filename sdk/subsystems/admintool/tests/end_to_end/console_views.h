// The library's operations as a console calls them, with their outputs turned into plain values
// (and released as the library says), so that tests compare what a console sees.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/subsystem/admin_store.h"

namespace zel::subsystem::testing {

// One administrator as a console sees it.
struct Seen {
  std::string account;  // "AUTHORITY:NAME"
  uint32_t attribute1 = 0;
  uint32_t attribute2 = 0;
  std::vector<uint32_t> privileges;
  std::vector<FolderGrant> folders = {};  // third generation only
  Contact contact = {};                   // third generation only
  uint64_t uid = 0;                       // third generation only
  bool operator==(const Seen&) const = default;
};

inline std::string Text(const ZELString& s) { return s.toUtf8(); }

// A record the library sends: account "AUTHORITY:NAME" split at the first ':'.
inline ZEL_ADMIN_USERINFO Record(const std::string& account, std::vector<uint32_t> privileges,
                                 uint32_t attribute1 = 0, uint32_t attribute2 = 0) {
  const Account a = Account::FromText(account);
  ZEL_ADMIN_USERINFO r;
  r.accountName = ZELString(std::u16string_view(a.name));
  r.accountAuthority = ZELString(std::u16string_view(a.authority));
  r.attribute1 = attribute1;
  r.attribute2 = attribute2;
  r.ReplacePrivs(static_cast<uint32_t>(privileges.size()), privileges.data());
  return r;
}

inline std::vector<FolderGrant> Grants(const AllowedFolders& folders) {
  std::vector<FolderGrant> grants;
  for (uint32_t i = 0; i < folders.folderCount; ++i) {
    const FolderPermissions& f = folders.folders[i];
    grants.push_back({f.folderUID, std::vector<uint32_t>(f.tasks, f.tasks + f.taskCount)});
  }
  return grants;
}

inline AllowedFolders Folders(const std::vector<FolderGrant>& grants) {
  AllowedFolders folders;
  for (const FolderGrant& g : grants) {
    FolderPermissions f(static_cast<uint32_t>(g.tasks.size()), g.tasks.data(), g.folder);
    folders += &f;
  }
  return folders;
}

inline ZEL_ADMIN_CONTACTINFO ContactRecord(const Contact& c) {
  ZEL_ADMIN_CONTACTINFO r;
  r.contact1 = ZELString(std::u16string_view(c.contact1));
  r.contact2 = ZELString(std::u16string_view(c.contact2));
  r.contact3 = ZELString(std::u16string_view(c.contact3));
  return r;
}

// A third-generation record and its contact (`account` given apart: GetPrivilege3 has none).
inline Seen SeenOf(const ZEL_ADMIN_USERINFO2& r, const ZEL_ADMIN_CONTACTINFO& c,
                   std::string account) {
  return {std::move(account),
          r.attribute1,
          r.attribute2,
          std::vector<uint32_t>(r.privileges, r.privileges + r.privilegeCount),
          Grants(r.allowedFolders),
          Contact{std::u16string(c.contact1.view()), std::u16string(c.contact2.view()),
                  std::u16string(c.contact3.view())},
          r.adminUID};
}

// EnumerateKeldraAdmins (second generation); *result takes the operation's result.
inline std::vector<Seen> Enumerate(ZEL_AdminToolSAL3& sal, int32_t* result) {
  uint32_t count = 0;
  ZEL_ADMIN_USERINFO* records = nullptr;
  *result = static_cast<AdminToolInterface2&>(sal).EnumerateKeldraAdmins(count, &records, 0, 0);
  std::vector<Seen> seen;
  for (uint32_t i = 0; i < count; ++i) {
    const ZEL_ADMIN_USERINFO& r = records[i];
    seen.push_back({Text(r.accountAuthority) + ":" + Text(r.accountName), r.attribute1,
                    r.attribute2,
                    std::vector<uint32_t>(r.privileges, r.privileges + r.privilegeCount)});
  }
  sal.FreeMemory(records, ZEL_AdminToolSAL3::kFreeUserInfoArray);
  return seen;
}

// EnumerateKeldraAdmins2 (third generation).
inline std::vector<Seen> Enumerate2(ZEL_AdminToolSAL5& sal, int32_t* result) {
  uint32_t count = 0;
  ZEL_ADMIN_USERINFO2* records = nullptr;
  ZEL_ADMIN_CONTACTINFO* contacts = nullptr;
  *result = sal.EnumerateKeldraAdmins2(count, &records, contacts, 0, 0);
  std::vector<Seen> seen;
  for (uint32_t i = 0; i < count; ++i) {
    const ZEL_ADMIN_USERINFO2& r = records[i];
    seen.push_back(SeenOf(r, contacts[i], Text(r.accountAuthority) + ":" + Text(r.accountName)));
  }
  sal.FreeKeldraAdminInfo(&records, contacts);
  return seen;
}

// GetPrivilege2: attributes and privileges.
inline Seen Privileges2(ZEL_AdminToolSAL3& sal, uint64_t uid, int32_t* result) {
  Seen seen;
  uint32_t count = 0;
  uint32_t* privileges = nullptr;
  *result = static_cast<AdminToolInterface2&>(sal).GetPrivilege2(
      uid, seen.attribute1, seen.attribute2, count, &privileges);
  if (privileges != nullptr) seen.privileges.assign(privileges, privileges + count);
  sal.FreeMemory(privileges, ZEL_AdminToolSAL3::kFreePlainArray);
  return seen;
}

// GetPrivilege3: attributes, privileges, folders, contact (the account is not carried).
inline Seen Privileges3(ZEL_AdminToolSAL5& sal, uint64_t uid, int32_t* result) {
  Seen seen;
  ZEL_ADMIN_USERINFO2* info = nullptr;
  ZEL_ADMIN_CONTACTINFO contact;
  *result = sal.GetPrivilege3(uid, info, contact);
  if (info != nullptr) seen = SeenOf(*info, contact, "");
  sal.FreeMemory(info, ZEL_AdminToolSAL3::kFreeUserInfo2);
  return seen;
}

// Logon2: its result, the name it resolved, the values and the administrators' UIDs.
struct Logon {
  int32_t result = 0;
  std::string resolved;
  std::vector<uint32_t> values;
  std::vector<uint64_t> uids;
};
inline Logon LogOn(ZEL_AdminToolSAL6& sal, const std::string& name, std::string password) {
  ZELString logonName = ZELString::FromUtf8(name), resolved;
  uint32_t status = 0, value = 0, valueCount = 0, uidCount = 0;
  uint32_t* values = nullptr;
  uint64_t* uids = nullptr;
  Logon out;
  out.result = sal.Logon2(logonName, static_cast<uint32_t>(password.size()),
                          reinterpret_cast<uint8_t*>(password.data()), status, resolved, value,
                          &valueCount, &values, &uidCount, &uids, 0);
  out.resolved = resolved.toUtf8();
  out.values.assign(values, values + valueCount);
  out.uids.assign(uids, uids + uidCount);
  sal.FreeMemory(values, ZEL_AdminToolSAL3::kFreePlainArray);
  sal.FreeMemory(uids, ZEL_AdminToolSAL3::kFreePlainArray);
  return out;
}

inline UM_AcctIDBlobWriter Blob(const std::string& authority, const std::string& domain,
                                const std::string& name) {
  return UM_AcctIDBlobWriter(UM_AccountIdentity{
      ZELString::FromUtf8(authority), ZELString::FromUtf8(domain), ZELString::FromUtf8(name), {}});
}

}  // namespace zel::subsystem::testing
