// Folders of the console tree: the farm's folder requests (requests of ours, each one directory
// transaction on the farm, which announces the change to every console), and the folders an
// administrator is allowed, which the library reads and writes with its other data.
#include <iostream>
#include <map>

#include "commands.h"
#include "zel/admintool/zel_admintoolobject.h"
#include "zel/protocol/folders.h"

namespace zeladmin {
namespace {

using nlohmann::json;

std::string ParentOf(const std::string& dn) {
  return ZELString::FromUtf8(dn).parentDistinguishedName().toUtf8();
}

std::string NameOf(const std::string& dn) {
  return ZELString::FromUtf8(dn).lastDistinguishedNameComponent().toUtf8();
}

std::string Below(const std::string& parent, const std::string& name) {
  if (parent.empty())
    return ZELString().appendDistinguishedName(ZELString::FromUtf8(name)).toUtf8();
  return ZELString::FromUtf8(parent).appendDistinguishedName(ZELString::FromUtf8(name)).toUtf8();
}

template <class Request>
int32_t Send(Command& c, const Request& request, uint64_t* uid = nullptr) {
  zel::protocol::FolderOperationReply reply;
  const int32_t result = c.farm.Ours(request, &reply);
  if (result >= 0 && uid != nullptr) *uid = reply.uid;
  return result;
}

json FoldersJson(Command& c, const AllowedFolders& folders) {
  const auto dns = DNsByUID(c);
  json list = json::array();
  for (uint32_t i = 0; i < folders.folderCount; ++i) {
    const FolderPermissions& f = folders.folders[i];
    const auto dn = dns.find(f.folderUID);
    list.push_back({{"folder", Hex(f.folderUID)},
                    {"dn", dn == dns.end() ? json() : json(dn->second)},
                    {"tasks", std::vector<uint32_t>(f.tasks, f.tasks + f.taskCount)}});
  }
  return list;
}

void PrintFolders(const std::string& uid, const json& folders) {
  std::vector<std::vector<std::string>> rows;
  for (const json& f : folders) {
    std::string tasks;
    for (const json& t : f["tasks"]) tasks += (tasks.empty() ? "" : ",") + t.dump();
    const std::string dn = f["dn"].is_null() ? "(no such node)" : f["dn"].get<std::string>();
    rows.push_back({f["folder"], dn.empty() ? "/" : dn, tasks.empty() ? "-" : tasks});
  }
  std::cout << "administrator " << uid << '\n';
  PrintTable({"FOLDER", "DN", "TASKS"}, rows);
}

}  // namespace

std::map<uint64_t, std::string> DNsByUID(Command& c) {
  std::vector<TreeNode> nodes;
  std::map<uint64_t, std::string> out{{0, ""}};
  if (ListTree(c, &nodes) < 0) return out;
  for (const TreeNode& n : nodes) out.emplace(n.uid, n.dn);
  return out;
}

int32_t ReadAdminDetails(Command& c, uint64_t uid, const std::map<uint64_t, std::string>& dns,
                         json* folders, json* contact) {
  AdminRecord admin(c);
  const int32_t result = admin.Read(uid);
  if (result < 0) return result;
  *folders = json::array();
  const AllowedFolders& allowed = admin.info->allowedFolders;
  for (uint32_t i = 0; i < allowed.folderCount; ++i) {
    const FolderPermissions& f = allowed.folders[i];
    const auto dn = dns.find(f.folderUID);
    if (dn == dns.end()) continue;
    folders->push_back(
        {{"folder", dn->second}, {"tasks", std::vector<uint32_t>(f.tasks, f.tasks + f.taskCount)}});
  }
  const ZEL_ADMIN_CONTACTINFO& lines = admin.contact;
  *contact =
      json::array({lines.contact1.toUtf8(), lines.contact2.toUtf8(), lines.contact3.toUtf8()});
  return 0;
}

int32_t FolderUID(Command& c, const std::string& dn, uint64_t* uid) {
  if (dn.empty() || dn == "/") {
    *uid = 0;
    return 0;
  }
  if (dn.rfind("0x", 0) == 0 && ParseUID(dn, uid)) return 0;
  const ZELString full = ZELString::FromUtf8(dn);
  ZEL_AdminToolObject node(full.parentDistinguishedName().getName(),
                           full.lastDistinguishedNameComponent().getName());
  const int32_t result = c.farm.Sal().GetObjectW(node);
  if (result >= 0) *uid = node.getUID();
  return result;
}

int FoldersCreate(Command& c, const std::string& dn) {
  if (dn.empty() || dn == "/") return Usage("a folder needs a DN below the root");
  zel::protocol::CreateFolderRequest request;
  int32_t result = FolderUID(c, ParentOf(dn), &request.uid);
  request.name = ZELString::FromUtf8(NameOf(dn));
  uint64_t made = 0;
  if (result >= 0) result = Send(c, request, &made);
  if (result < 0) return Fail({"creating folder " + dn, result, ""});
  if (c.out.json) {
    std::cout << json{{"dn", dn}, {"uid", Hex(made)}}.dump() << '\n';
  } else if (!c.out.quiet) {
    std::cout << "created folder " << dn << " (" << Hex(made) << ")\n";
  }
  return kExitOk;
}

int FoldersRename(Command& c, const std::string& dn, const std::string& newName) {
  zel::protocol::RenameFolderRequest request;
  int32_t result = FolderUID(c, dn, &request.uid);
  request.name = ZELString::FromUtf8(newName);
  if (result >= 0) result = Send(c, request);
  if (result < 0) return Fail({"renaming folder " + dn + " to " + newName, result, ""});
  const std::string to = Below(ParentOf(dn), newName);
  if (c.out.json) {
    std::cout << json{{"from", dn}, {"to", to}, {"uid", Hex(request.uid)}}.dump() << '\n';
  } else if (!c.out.quiet) {
    std::cout << "renamed " << dn << " to " << to << '\n';
  }
  return kExitOk;
}

int FoldersRemove(Command& c, const std::string& dn) {
  zel::protocol::DeleteFolderRequest request;
  int32_t result = FolderUID(c, dn, &request.uid);
  if (result >= 0) result = Send(c, request);
  if (result < 0) return Fail({"removing folder " + dn, result, ""});
  if (c.out.json) {
    std::cout << json{{"removed", dn}, {"uid", Hex(request.uid)}}.dump() << '\n';
  } else if (!c.out.quiet) {
    std::cout << "removed folder " << dn << '\n';
  }
  return kExitOk;
}

// One request per folder the members come from: each request is one transaction, so members of
// one folder move together or not at all.
int FoldersMove(Command& c, const std::vector<std::string>& members, const std::string& to) {
  std::map<std::string, std::vector<std::string>> byParent;
  for (const std::string& m : members) byParent[ParentOf(m)].push_back(m);
  uint64_t toUID = 0;
  int32_t result = FolderUID(c, to, &toUID);
  if (result < 0) return Fail({"finding folder " + to, result, ""});
  json moved = json::array();
  std::size_t done = 0;
  for (const auto& [parent, dns] : byParent) {
    zel::protocol::MoveFolderMembersRequest request;
    request.toFolder = toUID;
    result = FolderUID(c, parent, &request.fromFolder);
    for (std::size_t i = 0; result >= 0 && i < dns.size(); ++i) {
      uint64_t uid = 0;
      result = FolderUID(c, dns[i], &uid);
      request.members.push_back(uid);
    }
    if (result >= 0) result = Send(c, request);
    if (result < 0) {
      return Fail({"moving " + std::to_string(dns.size()) + " member(s) of \"" + parent +
                       "\" to \"" + to + "\"",
                   result, ""});
    }
    for (const std::string& dn : dns) {
      moved.push_back({{"from", dn}, {"to", Below(to == "/" ? "" : to, NameOf(dn))}});
    }
    Progress("move", done += dns.size(), members.size());
  }
  if (c.out.json) {
    std::cout << json{{"moved", moved}}.dump() << '\n';
  } else if (!c.out.quiet) {
    for (const json& m : moved) {
      std::cout << "moved " << m["from"].get<std::string>() << " to " << m["to"].get<std::string>()
                << '\n';
    }
  }
  return kExitOk;
}

int AdminFoldersGet(Command& c, const std::string& who) {
  AdminRecord admin(c);
  Failure failure;
  if (!admin.Read(who, "reading the folders of " + who, &failure)) return Fail(failure);
  const uint64_t uid = admin.uid;
  const json folders = FoldersJson(c, admin.info->allowedFolders);
  if (c.out.json) {
    std::cout << json{{"uid", Hex(uid)}, {"folders", folders}}.dump() << '\n';
  } else {
    PrintFolders(Hex(uid), folders);
  }
  return kExitOk;
}

int AdminFoldersSet(Command& c, const std::string& who, const std::vector<std::string>& folders) {
  // Parsed before anything is read or changed: a usage error changes nothing.
  struct Wanted {
    std::string folder;
    std::vector<uint32_t> tasks;
  };
  std::vector<Wanted> wanted;
  for (const std::string& item : folders) {
    const auto equals = item.find('=');
    Wanted w{item.substr(0, equals), {}};
    for (std::size_t at = equals; at != std::string::npos && at + 1 <= item.size();) {
      const std::size_t comma = std::min(item.find(',', at + 1), item.size());
      const std::string task = item.substr(at + 1, comma - at - 1);
      uint64_t value = 0;
      if (!ParseUID(task, &value) || value > 0xFFFFFFFFu) {
        return Usage("not a task number: \"" + task + "\" in " + item);
      }
      w.tasks.push_back(static_cast<uint32_t>(value));
      at = comma < item.size() ? comma : std::string::npos;
    }
    wanted.push_back(std::move(w));
  }
  uint64_t uid = 0;
  Failure failure;
  if (!FindAdmin(c, who, &uid, &failure)) return Fail(failure);
  AllowedFolders allowed;
  for (const Wanted& w : wanted) {
    uint64_t folder = 0;
    const int32_t found = FolderUID(c, w.folder, &folder);
    if (found < 0) return Fail({"finding folder " + w.folder, found, ""});
    const FolderPermissions record(static_cast<uint32_t>(w.tasks.size()), w.tasks.data(), folder);
    allowed += &record;
  }
  AdminRecord admin(c);
  int32_t result = admin.Read(uid);
  if (result >= 0) {
    admin.info->allowedFolders = allowed;
    result = admin.Write();
  }
  if (result < 0) return Fail({"setting the folders of " + who, result, ""});
  if (c.out.json) {
    std::cout << json{{"uid", Hex(uid)}, {"folders", FoldersJson(c, allowed)}}.dump() << '\n';
  } else if (!c.out.quiet) {
    PrintFolders(Hex(uid), FoldersJson(c, allowed));
  }
  return kExitOk;
}

}  // namespace zeladmin
