// Administrators, logons, names and permissions: the library's operations, and the requests of
// ours for passwords and unlocking.
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>

#include "commands.h"
#include "zel/protocol/credentials.h"
#include "zel/protocol/privileges.h"
#include "zel/protocol/result_reply.h"

namespace zeladmin {
namespace {

using nlohmann::json;

int SetPassword(Command& c, uint64_t uid, const std::string& who, const std::string& password) {
  zel::protocol::SetCredentialRequest request;
  request.admin = uid;
  request.newPassword = zel::protocol::SecretBytes(std::string_view(password));
  zel::protocol::ResultReply reply;
  const int32_t result = c.farm.Ours(request, &reply);
  if (result < 0) return Fail({"setting the password of " + who, result, ""});
  return kExitOk;
}

// Adds one administrator with these privileges; its UID in *uid.
int AddOne(Command& c, const std::string& account, const std::string& authority,
           const std::vector<uint32_t>& privileges, uint64_t* uid) {
  ZEL_ADMIN_USERINFO user;
  if (user.Init(ZELString::FromUtf8(account), ZELString::FromUtf8(authority), 0, 0,
                static_cast<uint32_t>(privileges.size())) < 0) {
    return Fail({"preparing the record of " + account, static_cast<int32_t>(0x80000002u), ""});
  }
  for (std::size_t i = 0; i < privileges.size(); ++i) user.privileges[i] = privileges[i];
  user.privilegeCount = static_cast<uint32_t>(privileges.size());
  AllowedFolders folders;
  ZEL_ADMIN_CONTACTINFO contact;
  const int32_t added = c.farm.Sal().AddUsers3(1, &user, &folders, &contact);
  const std::string text = authority + ":" + account;
  if (added < 0) return Fail({"adding administrator " + text, added, ""});
  Failure failure;
  if (!FindAdmin(c, text, uid, &failure)) return Fail(failure);
  return kExitOk;
}

}  // namespace

AccountName AccountName::Parse(const std::string& text) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) return {"", text};
  return {text.substr(0, colon), text.substr(colon + 1)};
}

std::string AccountText(const ZELString& name, const ZELString& authority) {
  const std::string a = authority.toUtf8();
  return a.empty() ? name.toUtf8() : a + ":" + name.toUtf8();
}

std::string PrivilegeText(uint32_t id) {
  const std::string_view name = zel::protocol::PrivilegeNameOf(id);
  return name.empty() ? std::to_string(id) : std::string(name);
}

json PrivilegeList(uint32_t count, const uint32_t* ids) {
  json out = json::array();
  for (uint32_t i = 0; i < count; ++i) out.push_back(PrivilegeText(ids[i]));
  return out;
}

std::string Joined(const json& names) {
  std::string out;
  for (const auto& n : names) out += (out.empty() ? "" : ",") + n.get<std::string>();
  return out.empty() ? "-" : out;
}

// A UID given as decimal or 0x hex; false when `text` is neither.
bool ParseUID(const std::string& text, uint64_t* uid) {
  if (text.empty()) return false;
  char* end = nullptr;
  const bool hex = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0;
  if (!hex && text.find_first_not_of("0123456789") != std::string::npos) return false;
  *uid = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
  return end != nullptr && *end == '\0';
}

// The UID of an administrator named by UID or by name.
bool FindAdmin(Command& c, const std::string& who, uint64_t* uid, Failure* failure) {
  if (ParseUID(who, uid)) return true;
  const AccountName account = AccountName::Parse(who);
  const std::u16string name = ZELString::FromUtf8(account.name).getName();
  const std::u16string authority = ZELString::FromUtf8(account.authority).getName();
  const int32_t result = c.farm.Sal().GetAdminUIDByName(name.c_str(), authority.c_str(), *uid);
  if (result >= 0) return true;
  *failure = Failure{"finding administrator " + who, result, ""};
  return false;
}

AdminRecord::~AdminRecord() {
  if (info != nullptr) c.farm.Sal().FreeMemory(info, ZEL_AdminToolSAL3::kFreeUserInfo2);
}

int32_t AdminRecord::Read(uint64_t adminUID) {
  uid = adminUID;
  return c.farm.Sal().GetPrivilege3(uid, info, contact);
}

bool AdminRecord::Read(const std::string& who, const std::string& doing, Failure* failure) {
  if (!FindAdmin(c, who, &uid, failure)) return false;
  const int32_t result = Read(uid);
  if (result >= 0) return true;
  *failure = Failure{doing, result, ""};
  return false;
}

int32_t AdminRecord::Write() { return c.farm.Sal().SetPrivilege3(info, contact); }

bool ReadPassword(const std::string& file, const char* prompt, std::string* password,
                  Failure* failure) {
  if (!file.empty()) {
    std::ifstream in(file);
    if (!in || !std::getline(in, *password)) {
      *failure = Failure{"reading the password file " + file, static_cast<int32_t>(0x80010005u),
                         "cannot read it"};
      return false;
    }
    if (!password->empty() && password->back() == '\r') password->pop_back();
    return true;
  }
  if (isatty(STDIN_FILENO) == 0) {
    *failure = Failure{"reading the password", static_cast<int32_t>(0x80010005u),
                       "give --password-file or run on a terminal"};
    return false;
  }
  std::cerr << prompt << std::flush;
  termios saved{};
  tcgetattr(STDIN_FILENO, &saved);
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  std::getline(std::cin, *password);
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  std::cerr << '\n';
  return true;
}

int Init(Command& c, const std::string& admin, const std::string& passwordFile) {
  std::string password;
  Failure failure;
  if (!ReadPassword(passwordFile, "Password: ", &password, &failure)) return Fail(failure);
  std::vector<uint32_t> every;
  for (const auto& p : zel::protocol::Privileges()) every.push_back(static_cast<uint32_t>(p.id));
  const AccountName account = AccountName::Parse(admin);
  const std::string authority = account.authority.empty() ? "unix" : account.authority;
  uint64_t uid = 0;
  if (const int status = AddOne(c, account.name, authority, every, &uid); status != kExitOk) {
    return status;
  }
  if (const int status = SetPassword(c, uid, admin, password); status != kExitOk) return status;
  if (c.out.json) {
    std::cout << json{{"uid", Hex(uid)},
                      {"account", authority + ":" + account.name},
                      {"privileges",
                       PrivilegeList(static_cast<uint32_t>(every.size()), every.data())}}
                     .dump()
              << '\n';
  } else if (!c.out.quiet) {
    std::cout << "first administrator " << authority << ":" << account.name << " (" << Hex(uid)
              << ") with every privilege\n";
  }
  return kExitOk;
}

int AdminsList(Command& c) {
  uint32_t count = 0;
  ZEL_ADMIN_USERINFO2* records = nullptr;
  ZEL_ADMIN_CONTACTINFO* contacts = nullptr;
  const int32_t result = c.farm.Sal().EnumerateKeldraAdmins2(count, &records, contacts, 0, 0);
  if (result < 0) return Fail({"listing the administrators", result, ""});
  json list = json::array();
  std::vector<std::vector<std::string>> rows;
  for (uint32_t i = 0; i < count; ++i) {
    const ZEL_ADMIN_USERINFO2& r = records[i];
    json item{{"uid", Hex(r.adminUID)},
              {"account", AccountText(r.accountName, r.accountAuthority)},
              {"privileges", PrivilegeList(r.privilegeCount, r.privileges)},
              {"folders", r.allowedFolders.folderCount}};
    rows.push_back({item["uid"], item["account"], Joined(item["privileges"]),
                    std::to_string(r.allowedFolders.folderCount)});
    list.push_back(std::move(item));
  }
  c.farm.Sal().FreeKeldraAdminInfo(&records, contacts);
  if (c.out.json) {
    std::cout << json{{"administrators", list}}.dump() << '\n';
  } else {
    PrintTable({"UID", "ACCOUNT", "PRIVILEGES", "FOLDERS"}, rows);
  }
  return kExitOk;
}

int AdminsShow(Command& c, const std::string& who) {
  AdminRecord admin(c);
  Failure failure;
  if (!admin.Read(who, "reading administrator " + who, &failure)) return Fail(failure);
  const uint64_t uid = admin.uid;
  const ZEL_ADMIN_USERINFO2* info = admin.info;
  const ZEL_ADMIN_CONTACTINFO& contact = admin.contact;
  char16_t* name = nullptr;
  char16_t* authority = nullptr;
  const int32_t named = c.farm.Sal().GetAdminNameByUID(uid, name, authority);
  std::string account = named >= 0 ? AccountText(ZELString(name), ZELString(authority)) : who;
  if (named >= 0) c.farm.Sal().FreeAdminName(name, authority);
  json folders = json::array();
  for (uint32_t i = 0; i < info->allowedFolders.folderCount; ++i) {
    const FolderPermissions& f = info->allowedFolders.folders[i];
    folders.push_back({{"folder", Hex(f.folderUID)},
                       {"tasks", std::vector<uint32_t>(f.tasks, f.tasks + f.taskCount)}});
  }
  json item{{"uid", Hex(uid)},
            {"account", account},
            {"attribute1", info->attribute1},
            {"attribute2", info->attribute2},
            {"privileges", PrivilegeList(info->privilegeCount, info->privileges)},
            {"folders", folders},
            {"contact",
             {contact.contact1.toUtf8(), contact.contact2.toUtf8(), contact.contact3.toUtf8()}}};
  if (c.out.json) {
    std::cout << item.dump() << '\n';
    return kExitOk;
  }
  PrintTable({"FIELD", "VALUE"}, {{"uid", item["uid"]},
                                  {"account", account},
                                  {"privileges", Joined(item["privileges"])},
                                  {"folders", std::to_string(folders.size())},
                                  {"contact", contact.contact1.toUtf8()}});
  return kExitOk;
}

int AdminsAdd(Command& c, const std::string& name, const std::string& authority,
              const std::string& domain, const std::string& passwordFile) {
  std::string password;
  Failure failure;
  if (!passwordFile.empty() && !ReadPassword(passwordFile, "", &password, &failure)) {
    return Fail(failure);
  }
  const std::string account = domain.empty() ? name : domain + "\\" + name;
  uint64_t uid = 0;
  if (const int status = AddOne(c, account, authority, {}, &uid); status != kExitOk) {
    return status;
  }
  if (!passwordFile.empty()) {
    if (const int status = SetPassword(c, uid, account, password); status != kExitOk) {
      return status;
    }
  }
  if (c.out.json) {
    std::cout << json{{"uid", Hex(uid)}, {"account", authority + ":" + account}}.dump() << '\n';
  } else if (!c.out.quiet) {
    std::cout << "added " << authority << ":" << account << " (" << Hex(uid) << ")\n";
  }
  return kExitOk;
}

int AdminsRemove(Command& c, const std::vector<std::string>& who) {
  std::vector<uint64_t> uids;
  for (const std::string& w : who) {
    uint64_t uid = 0;
    Failure failure;
    if (!FindAdmin(c, w, &uid, &failure)) return Fail(failure);
    uids.push_back(uid);
  }
  const int32_t result = c.farm.Sal().DeleteUser(static_cast<uint32_t>(uids.size()), uids.data());
  if (result < 0) return Fail({"removing administrators", result, ""});
  if (c.out.json) {
    json removed = json::array();
    for (uint64_t uid : uids) removed.push_back(Hex(uid));
    std::cout << json{{"removed", removed}}.dump() << '\n';
  } else if (!c.out.quiet) {
    std::cout << "removed " << uids.size() << " administrator(s)\n";
  }
  return kExitOk;
}

int PrivilegesGet(Command& c, const std::string& who) {
  uint64_t uid = 0;
  Failure failure;
  if (!FindAdmin(c, who, &uid, &failure)) return Fail(failure);
  uint32_t a1 = 0, a2 = 0, count = 0;
  uint32_t* ids = nullptr;
  const int32_t result = c.farm.Sal().GetPrivilege2(uid, a1, a2, count, &ids);
  if (result < 0) return Fail({"reading the privileges of " + who, result, ""});
  const json names = PrivilegeList(count, ids);
  c.farm.Sal().FreeMemory(ids, ZEL_AdminToolSAL3::kFreePlainArray);
  if (c.out.json) {
    std::cout << json{{"uid", Hex(uid)}, {"privileges", names}}.dump() << '\n';
  } else {
    for (const auto& n : names) std::cout << n.get<std::string>() << '\n';
  }
  return kExitOk;
}

int PrivilegesSet(Command& c, const std::string& who, const std::string& list) {
  std::vector<uint32_t> ids;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    const std::string item = list.substr(start, comma - start);
    if (!item.empty()) {
      const auto privilege = zel::protocol::PrivilegeNamed(item);
      if (!privilege) return Usage("no privilege is named " + item);
      ids.push_back(static_cast<uint32_t>(*privilege));
    }
    start = comma + 1;
  }
  uint64_t uid = 0;
  Failure failure;
  if (!FindAdmin(c, who, &uid, &failure)) return Fail(failure);
  uint32_t a1 = 0, a2 = 0, count = 0;
  uint32_t* old = nullptr;
  int32_t result = c.farm.Sal().GetPrivilege2(uid, a1, a2, count, &old);
  if (result < 0) return Fail({"reading the privileges of " + who, result, ""});
  c.farm.Sal().FreeMemory(old, ZEL_AdminToolSAL3::kFreePlainArray);
  result = c.farm.Sal().SetPrivilege2(uid, a1, a2, static_cast<uint32_t>(ids.size()), ids.data());
  if (result < 0) return Fail({"setting the privileges of " + who, result, ""});
  if (c.out.json) {
    std::cout << json{{"uid", Hex(uid)},
                      {"privileges", PrivilegeList(static_cast<uint32_t>(ids.size()), ids.data())}}
                     .dump()
              << '\n';
  }
  return kExitOk;
}

int Password(Command& c, const std::string& who, const std::string& passwordFile) {
  std::string password;
  Failure failure;
  if (!ReadPassword(passwordFile, "New password: ", &password, &failure)) return Fail(failure);
  uint64_t uid = 0;
  if (!FindAdmin(c, who, &uid, &failure)) return Fail(failure);
  if (const int status = SetPassword(c, uid, who, password); status != kExitOk) return status;
  if (c.out.json) std::cout << json{{"uid", Hex(uid)}, {"password", "set"}}.dump() << '\n';
  return kExitOk;
}

int Unlock(Command& c, const std::string& who) {
  uint64_t uid = 0;
  Failure failure;
  if (!FindAdmin(c, who, &uid, &failure)) return Fail(failure);
  zel::protocol::UnlockRequest request;
  request.admin = uid;
  zel::protocol::ResultReply reply;
  const int32_t result = c.farm.Ours(request, &reply);
  if (result < 0) return Fail({"unlocking " + who, result, ""});
  if (c.out.json) std::cout << json{{"uid", Hex(uid)}, {"unlocked", true}}.dump() << '\n';
  return kExitOk;
}

int Logon(Command& c, const std::string& name, const std::string& passwordFile) {
  std::string password;
  Failure failure;
  if (!ReadPassword(passwordFile, "Password: ", &password, &failure)) return Fail(failure);
  ZELString logonName = ZELString::FromUtf8(name);
  std::vector<uint8_t> credentials(password.begin(), password.end());
  uint32_t status = 0, value = 0, valueCount = 0, uidCount = 0;
  ZELString resolved;
  uint32_t* values = nullptr;
  uint64_t* uids = nullptr;
  const int32_t result =
      c.farm.Sal().Logon2(logonName, static_cast<uint32_t>(credentials.size()), credentials.data(),
                          status, resolved, value, &valueCount, &values, &uidCount, &uids, 0);
  if (result < 0) return Fail({"logging on as " + name, result, ""});
  const json valueNames = PrivilegeList(valueCount, values);
  json uidList = json::array();
  for (uint32_t i = 0; i < uidCount; ++i) uidList.push_back(Hex(uids[i]));
  c.farm.Sal().FreeMemory(values, ZEL_AdminToolSAL3::kFreePlainArray);
  c.farm.Sal().FreeMemory(uids, ZEL_AdminToolSAL3::kFreePlainArray);
  const json item{{"resolvedName", resolved.toUtf8()},
                  {"value", value},
                  {"values", valueNames},
                  {"uids", uidList}};
  if (c.out.json) {
    std::cout << item.dump() << '\n';
  } else {
    PrintTable({"FIELD", "VALUE"},
               {{"resolved name", resolved.toUtf8()},
                {"value", std::to_string(value)},
                {"values", Joined(valueNames)},
                {"uids", uidList.empty() ? "-" : uidList[0].get<std::string>()}});
  }
  return kExitOk;
}

int ResolveName(Command& c, const std::string& name) {
  uint64_t uid = 0;
  Failure failure;
  if (!FindAdmin(c, name, &uid, &failure)) return Fail(failure);
  if (c.out.json) {
    std::cout << json{{"name", name}, {"uid", Hex(uid)}}.dump() << '\n';
  } else {
    std::cout << Hex(uid) << '\n';
  }
  return kExitOk;
}

int ResolveUID(Command& c, const std::string& text) {
  uint64_t uid = 0;
  if (!ParseUID(text, &uid)) return Usage("not a UID: " + text);
  char16_t* name = nullptr;
  char16_t* authority = nullptr;
  const int32_t result = c.farm.Sal().GetAdminNameByUID(uid, name, authority);
  if (result < 0) return Fail({"resolving " + text, result, ""});
  const std::string account = AccountText(ZELString(name), ZELString(authority));
  c.farm.Sal().FreeAdminName(name, authority);
  if (c.out.json) {
    std::cout << json{{"uid", Hex(uid)}, {"account", account}}.dump() << '\n';
  } else {
    std::cout << account << '\n';
  }
  return kExitOk;
}

int Permissions(Command& c) {
  AllowedFolders* folders = nullptr;
  const int32_t result = c.farm.Sal().GetPermissionsForCurrentUser(folders);
  if (result < 0) return Fail({"reading the caller's permissions", result, ""});
  // 1: the farm's owner, whom no folder limits.
  const bool unrestricted = result == 1;
  json list = json::array();
  std::vector<std::vector<std::string>> rows;
  for (uint32_t i = 0; folders != nullptr && i < folders->folderCount; ++i) {
    const FolderPermissions& f = folders->folders[i];
    std::vector<uint32_t> tasks(f.tasks, f.tasks + f.taskCount);
    std::string taskText;
    for (uint32_t t : tasks) taskText += (taskText.empty() ? "" : ",") + std::to_string(t);
    rows.push_back({Hex(f.folderUID), taskText.empty() ? "-" : taskText});
    list.push_back({{"folder", Hex(f.folderUID)}, {"tasks", tasks}});
  }
  delete folders;
  if (c.out.json) {
    std::cout << json{{"unrestricted", unrestricted}, {"folders", list}}.dump() << '\n';
  } else if (unrestricted) {
    std::cout << "unrestricted (the farm's owner)\n";
  } else {
    PrintTable({"FOLDER", "TASKS"}, rows);
  }
  return kExitOk;
}

}  // namespace zeladmin
