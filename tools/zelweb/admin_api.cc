// Administrators: the list, one administrator (privileges, allowed folders and tasks, contact
// data), adding, removing and changing privileges; and the audit.

#include "api.h"
#include "zel/console/audit.h"
#include "zel/console/requests.h"
#include "zel/console/tree.h"
#include "zel/subsystem/privileges.h"

namespace zelweb {
namespace {

using nlohmann::json;
using zel::console::HexUID;

std::string AccountText(const ZELString& name, const ZELString& authority) {
  const std::string a = authority.toUtf8();
  return a.empty() ? name.toUtf8() : a + ":" + name.toUtf8();
}

json PrivilegeList(uint32_t count, const uint32_t* ids) {
  json out = json::array();
  for (uint32_t i = 0; i < count; ++i) {
    const std::string_view name = zel::subsystem::PrivilegeNameOf(ids[i]);
    out.push_back(name.empty() ? json(ids[i]) : json(std::string(name)));
  }
  return out;
}

json FolderList(const AllowedFolders& folders) {
  json out = json::array();
  for (uint32_t i = 0; i < folders.folderCount; ++i) {
    const FolderPermissions& f = folders.folders[i];
    out.push_back({{"folder", HexUID(f.folderUID)},
                   {"tasks", std::vector<uint32_t>(f.tasks, f.tasks + f.taskCount)}});
  }
  return out;
}

// Privileges given by name or number; false at the first one the farm does not name.
bool PrivilegeIDs(const json& body, std::vector<uint32_t>* ids) {
  const auto list = body.find("privileges");
  if (list == body.end() || !list->is_array() || list->size() > 64) return false;
  for (const json& item : *list) {
    if (item.is_number_unsigned()) {
      ids->push_back(item.get<uint32_t>());
      continue;
    }
    if (!item.is_string()) return false;
    const auto privilege = zel::subsystem::PrivilegeNamed(item.get<std::string>());
    if (!privilege) return false;
    ids->push_back(static_cast<uint32_t>(*privilege));
  }
  return true;
}

bool UIDField(const json& body, uint64_t* uid) {
  std::string text;
  return TextField(body, "uid", 20, &text) && ParseUID(text, uid);
}

}  // namespace

Reply Api::AdminList(Call& call) {
  uint32_t count = 0;
  ZEL_ADMIN_USERINFO2* records = nullptr;
  ZEL_ADMIN_CONTACTINFO* contacts = nullptr;
  json list = json::array();
  int32_t result = 0;
  {
    auto lock = farm_.Locked();
    ZEL_AdminToolSAL6& sal = *call.session.seat->sal;
    result = sal.EnumerateKeldraAdmins2(count, &records, contacts, 0, 0);
    for (uint32_t i = 0; result >= 0 && i < count; ++i) {
      const ZEL_ADMIN_USERINFO2& r = records[i];
      list.push_back({{"uid", HexUID(r.adminUID)},
                      {"account", AccountText(r.accountName, r.accountAuthority)},
                      {"privileges", PrivilegeList(r.privilegeCount, r.privileges)},
                      {"folders", r.allowedFolders.folderCount}});
    }
    if (result >= 0) sal.FreeKeldraAdminInfo(&records, contacts);
  }
  if (result < 0) return FarmErrorReply(call.request, "listing the administrators", result);
  return JsonReply(call.request, http::status::ok, json{{"administrators", list}});
}

Reply Api::AdminShow(Call& call) {
  uint64_t uid = 0;
  if (!ParseUID(call.query["uid"], &uid)) {
    return ErrorReply(call.request, http::status::bad_request,
                      "an administrator's UID is expected");
  }
  json item;
  int32_t result = 0;
  {
    auto lock = farm_.Locked();
    ZEL_AdminToolSAL6& sal = *call.session.seat->sal;
    ZEL_ADMIN_USERINFO2* info = nullptr;
    ZEL_ADMIN_CONTACTINFO contact;
    result = sal.GetPrivilege3(uid, info, contact);
    if (result >= 0) {
      char16_t* name = nullptr;
      char16_t* authority = nullptr;
      std::string account;
      if (sal.GetAdminNameByUID(uid, name, authority) >= 0) {
        account = AccountText(ZELString(name), ZELString(authority));
        sal.FreeAdminName(name, authority);
      }
      item = {{"uid", HexUID(uid)},
              {"account", account},
              {"privileges", PrivilegeList(info->privilegeCount, info->privileges)},
              {"folders", FolderList(info->allowedFolders)},
              {"contact",
               {contact.contact1.toUtf8(), contact.contact2.toUtf8(), contact.contact3.toUtf8()}}};
      sal.FreeMemory(info, ZEL_AdminToolSAL3::kFreeUserInfo2);
    }
  }
  if (result < 0) return FarmErrorReply(call.request, "reading the administrator", result);
  return JsonReply(call.request, http::status::ok, item);
}

Reply Api::AdminAdd(Call& call) {
  std::string account;
  std::vector<uint32_t> ids;
  if (!TextField(call.body, "account", 256, &account) || account.empty() ||
      (call.body.contains("privileges") && !PrivilegeIDs(call.body, &ids))) {
    return ErrorReply(call.request, http::status::bad_request,
                      "an account (AUTHORITY:NAME) and privileges by name are expected");
  }
  // "AUTHORITY:NAME"; a name alone is a Unix account.
  const std::size_t colon = account.find(':');
  const std::string authority = colon == std::string::npos ? "unix" : account.substr(0, colon);
  const std::string name = colon == std::string::npos ? account : account.substr(colon + 1);
  if (authority.empty() || name.empty()) {
    return ErrorReply(call.request, http::status::bad_request, "not AUTHORITY:NAME: " + account);
  }
  ZEL_ADMIN_USERINFO user;
  if (user.Init(ZELString::FromUtf8(name), ZELString::FromUtf8(authority), 0, 0,
                static_cast<uint32_t>(ids.size())) < 0) {
    return FarmErrorReply(call.request, "preparing the record", static_cast<int32_t>(0x80010001u));
  }
  for (std::size_t i = 0; i < ids.size(); ++i) user.privileges[i] = ids[i];
  user.privilegeCount = static_cast<uint32_t>(ids.size());
  AllowedFolders folders;
  ZEL_ADMIN_CONTACTINFO contact;
  uint64_t uid = 0;
  int32_t result = 0;
  {
    auto lock = farm_.Locked();
    ZEL_AdminToolSAL6& sal = *call.session.seat->sal;
    result = sal.AddUsers3(1, &user, &folders, &contact);
    if (result >= 0) {
      const std::u16string n = ZELString::FromUtf8(name).getName();
      const std::u16string a = ZELString::FromUtf8(authority).getName();
      result = sal.GetAdminUIDByName(n.c_str(), a.c_str(), uid);
    }
  }
  if (result < 0) return FarmErrorReply(call.request, "adding administrator " + account, result);
  return JsonReply(call.request, http::status::ok,
                   json{{"uid", HexUID(uid)}, {"account", authority + ":" + name}});
}

Reply Api::AdminRemove(Call& call) {
  uint64_t uid = 0;
  if (!UIDField(call.body, &uid)) {
    return ErrorReply(call.request, http::status::bad_request,
                      "an administrator's UID is expected");
  }
  int32_t result = 0;
  {
    auto lock = farm_.Locked();
    result = call.session.seat->sal->DeleteUser(1, &uid);
  }
  if (result < 0) return FarmErrorReply(call.request, "removing the administrator", result);
  return JsonReply(call.request, http::status::ok, json{{"removed", HexUID(uid)}});
}

Reply Api::AdminPrivileges(Call& call) {
  uint64_t uid = 0;
  std::vector<uint32_t> ids;
  if (!UIDField(call.body, &uid) || !PrivilegeIDs(call.body, &ids)) {
    return ErrorReply(call.request, http::status::bad_request,
                      "an administrator's UID and privileges by name are expected");
  }
  int32_t result = 0;
  {
    auto lock = farm_.Locked();
    ZEL_AdminToolSAL6& sal = *call.session.seat->sal;
    // The attributes stay as they are.
    uint32_t a1 = 0, a2 = 0, count = 0;
    uint32_t* old = nullptr;
    result = sal.GetPrivilege2(uid, a1, a2, count, &old);
    if (result >= 0) {
      sal.FreeMemory(old, ZEL_AdminToolSAL3::kFreePlainArray);
      result = sal.SetPrivilege2(uid, a1, a2, static_cast<uint32_t>(ids.size()), ids.data());
    }
  }
  if (result < 0) return FarmErrorReply(call.request, "setting the privileges", result);
  return JsonReply(
      call.request, http::status::ok,
      json{{"uid", HexUID(uid)},
           {"privileges", PrivilegeList(static_cast<uint32_t>(ids.size()), ids.data())}});
}

// Who is logged on, what the farm lets them do now, and the farm's privilege names.
Reply Api::Me(Call& call) {
  Session& s = call.session;
  json privileges = PrivilegeList(static_cast<uint32_t>(s.privileges.size()), s.privileges.data());
  json folders = json::array();
  bool unrestricted = false;
  {
    auto lock = farm_.Locked();
    ZEL_AdminToolSAL6& sal = *s.seat->sal;
    uint32_t a1 = 0, a2 = 0, count = 0;
    uint32_t* ids = nullptr;
    if (s.adminUID != 0 && sal.GetPrivilege2(s.adminUID, a1, a2, count, &ids) >= 0) {
      privileges = PrivilegeList(count, ids);
      sal.FreeMemory(ids, ZEL_AdminToolSAL3::kFreePlainArray);
    }
    AllowedFolders* allowed = nullptr;
    const int32_t result = sal.GetPermissionsForCurrentUser(allowed);
    unrestricted = result == 1;
    if (result >= 0 && allowed != nullptr) folders = FolderList(*allowed);
    delete allowed;
  }
  json names = json::array();
  for (const auto& p : zel::subsystem::Privileges()) names.push_back(std::string(p.name));
  return JsonReply(call.request, http::status::ok,
                   json{{"account", s.account},
                        {"uid", HexUID(s.adminUID)},
                        {"csrf", s.csrf},
                        {"privileges", privileges},
                        {"unrestricted", unrestricted},
                        {"folders", folders},
                        {"privilegeNames", names}});
}

// The audit, oldest first: `since` (milliseconds), `who` (an account) and `text` (a part of
// what was done) filter it; at most the newest 1000 records.
Reply Api::Audit(Call& call) {
  zel::protocol::AuditQueryRequest request;
  const std::string since = call.query["since"];
  if (!since.empty()) {
    if (since.size() > 15 || since.find_first_not_of("0123456789") != std::string::npos) {
      return ErrorReply(call.request, http::status::bad_request, "since: milliseconds expected");
    }
    request.from = std::stoull(since);
  }
  const std::string text = call.query["text"];
  request.actor = ZELString::FromUtf8(call.query["who"]);
  json records = json::array();
  const int32_t result = zel::console::ReadAudit(
      [&](const zel::protocol::AuditQueryRequest& page, zel::protocol::AuditQueryReply* reply) {
        auto lock = farm_.Locked();
        return zel::console::Ours(farm_.Client(), call.session.seat->uid, page, reply);
      },
      request,
      [&](const zel::console::AuditLine& r) {
        if (!text.empty() && r.what.find(text) == std::string::npos) return;
        records.push_back({{"when", r.when},
                           {"actor", r.actor},
                           {"peer", r.peer},
                           {"event", r.eventID},
                           {"what", r.what},
                           {"result", r.code}});
      });
  if (result < 0) return FarmErrorReply(call.request, "reading the audit", result);
  if (records.size() > 1000) records.erase(records.begin(), records.end() - 1000);
  return JsonReply(call.request, http::status::ok, json{{"records", records}});
}

}  // namespace zelweb
