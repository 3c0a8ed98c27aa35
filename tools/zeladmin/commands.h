// The commands of zeladmin. Each answers its exit status and prints its result (a table for
// people, JSON with --json) or one error line on stderr.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "farm_session.h"
#include "output.h"

namespace zeladmin {

struct Command {
  FarmSession& farm;
  Output out;
};

// "AUTHORITY:NAME" or "NAME" (any authority), as the farm reads names.
struct AccountName {
  std::string authority;
  std::string name;
  static AccountName Parse(const std::string& text);
};
// "AUTHORITY:NAME", or NAME alone when there is no authority.
std::string AccountText(const ZELString& name, const ZELString& authority);
// A privilege's name, or its number when the table has none.
std::string PrivilegeText(uint32_t id);
nlohmann::json PrivilegeList(uint32_t count, const uint32_t* ids);
// The names joined by commas, "-" for none.
std::string Joined(const nlohmann::json& names);
// A UID given as decimal or 0x hex; false when `text` is neither.
bool ParseUID(const std::string& text, uint64_t* uid);
// The UID of an administrator named by UID or by name.
bool FindAdmin(Command& c, const std::string& who, uint64_t* uid, Failure* failure);

// An administrator's record and contact lines as the farm holds them; the record is released
// with the object.
struct AdminRecord {
  explicit AdminRecord(Command& command) : c(command) {}
  AdminRecord(const AdminRecord&) = delete;
  AdminRecord& operator=(const AdminRecord&) = delete;
  ~AdminRecord();

  // Reads the record of the administrator with `uid`: the farm's result.
  int32_t Read(uint64_t adminUID);
  // Finds `who` (a UID or a name) and reads its record; false with *failure when either
  // fails, the reading failure named `doing` (e.g. "reading administrator jane").
  bool Read(const std::string& who, const std::string& doing, Failure* failure);
  // Writes the record back whole, with the contact lines: what was not changed is written as
  // it was read.
  int32_t Write();

  Command& c;
  uint64_t uid = 0;
  ZEL_ADMIN_USERINFO2* info = nullptr;
  ZEL_ADMIN_CONTACTINFO contact;
};

// A password from a file (its first line) or, with no file, a prompt without echo.
bool ReadPassword(const std::string& file, const char* prompt, std::string* password,
                  Failure* failure);

int Init(Command& c, const std::string& admin, const std::string& passwordFile);
int AdminsList(Command& c);
int AdminsShow(Command& c, const std::string& who);
int AdminsAdd(Command& c, const std::string& name, const std::string& authority,
              const std::string& domain, const std::string& passwordFile);
int AdminsRemove(Command& c, const std::vector<std::string>& who);
int PrivilegesGet(Command& c, const std::string& who);
int PrivilegesSet(Command& c, const std::string& who, const std::string& list);
int Password(Command& c, const std::string& who, const std::string& passwordFile);
int Unlock(Command& c, const std::string& who);
// An administrator's allowed folders: FOLDER[=TASK,TASK...], FOLDER a DN or a 0x UID.
int AdminFoldersGet(Command& c, const std::string& who);
int AdminFoldersSet(Command& c, const std::string& who, const std::vector<std::string>& folders);
// An administrator's three contact lines; lines not given become empty.
int ContactGet(Command& c, const std::string& who);
int ContactSet(Command& c, const std::string& who, const std::vector<std::string>& lines);
int DefaultUserSet(Command& c, const std::string& account);
int Logon(Command& c, const std::string& name, const std::string& passwordFile);
int ResolveName(Command& c, const std::string& name);
int ResolveUID(Command& c, const std::string& uid);
int Permissions(Command& c);
int IconsAdd(Command& c, const std::string& name, const std::string& file);
int IconsExport(Command& c, const std::string& name, const std::string& file);
int IconsRemove(Command& c, const std::string& name);
int IconsList(Command& c);
struct StoredIcon {
  std::string name;
  uint16_t ssid = 0;
  uint64_t uid = 0;  // the icon entry's
};
// Every icon by name, from a search of the icon context.
int32_t ListIcons(Command& c, std::vector<StoredIcon>* icons);
// The PNG of the icon whose entry is `uid`.
int32_t IconPng(Command& c, uint64_t uid, std::vector<uint8_t>* png);
// The farm as a document (the form import reads) into FILE, or stdout when FILE is "".
int Export(Command& c, const std::string& file, bool includeSecrets);
// The UID of the icon named `name` (its entry's), or ZEL_E_DIR_NOT_FOUND.
int32_t FindIconUID(Command& c, const std::string& name, uint64_t* uid);
bool IconExists(Command& c, const std::string& name);
// Makes the node exist with this title (its name when empty) and icon: 1 when it changed
// something, 0 when it was so already, minus the exit status on failure (the error printed).
int TreeEnsure(Command& c, const std::string& dn, const std::string& icon,
               const std::string& title);
struct TreeNode {
  std::string dn, title;
  uint64_t icon = 0;
  uint64_t uid = 0;
};
// Every node of the tree, parents before children, children in name order.
int32_t ListTree(Command& c, std::vector<TreeNode>* nodes);
// A ticket for the acting administrator, to `out` (mode 0600) or as hex to stdout.
int TicketIssue(Command& c, const std::string& out);
int TicketAccounts(Command& c, const std::string& file);
// A farm document onto the farm (docs/ZELADMIN.md).
int Import(Command& c, const std::string& file);
// depth 0: the whole subtree.
int TreeLs(Command& c, const std::string& dn, int depth);
int TreeShow(Command& c, const std::string& dn);
int TreeAdd(Command& c, const std::string& dn, const std::string& icon, const std::string& title);
int TreeRm(Command& c, const std::string& dn);
int TreeMv(Command& c, const std::string& dn, const std::string& newParent);
int TreeSet(Command& c, const std::string& dn, const std::vector<std::string>& assignments);
// Folders: requests of ours, each one transaction of the farm, announced by the farm.
int FoldersCreate(Command& c, const std::string& dn);
int FoldersRename(Command& c, const std::string& dn, const std::string& newName);
int FoldersRemove(Command& c, const std::string& dn);
int FoldersMove(Command& c, const std::vector<std::string>& members, const std::string& to);
// The UID of the node at `dn` ("" or "/": the root, 0), or of a 0x UID given as such.
int32_t FolderUID(Command& c, const std::string& dn, uint64_t* uid);
// The DN of each node by UID (the root's, "", under 0).
std::map<uint64_t, std::string> DNsByUID(Command& c);
// An administrator's folders as [{"folder": DN, "tasks": [N]}] (folders that are no node of the
// tree are left out) and its three contact lines.
int32_t ReadAdminDetails(Command& c, uint64_t uid, const std::map<uint64_t, std::string>& dns,
                         nlohmann::json* folders, nlohmann::json* contact);
// Plug-in records: names in the library's plug-in registry.
int PluginsAdd(Command& c, const std::string& name);
int PluginsShow(Command& c, const std::string& name);
int PluginsList(Command& c);
int32_t ListPlugins(Command& c, std::vector<std::string>* names);
// Until `count` events came (0: no limit), `timeoutSeconds` passed (0: none) or a signal.
int TreeWatch(Command& c, int count, int timeoutSeconds);
int Monitor(Command& c, int count, int timeoutSeconds);
// `since`: milliseconds or YYYY-MM-DD[THH:MM:SS] (UTC); `who`: an account ("": everyone).
int Audit(Command& c, const std::string& since, const std::string& who);

}  // namespace zeladmin
