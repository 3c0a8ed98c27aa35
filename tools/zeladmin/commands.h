// The commands of zeladmin. Each answers its exit status and prints its result (a table for
// people, JSON with --json) or one error line on stderr.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "farm_session.h"
#include "output.h"

namespace zeladmin {

struct Command {
  FarmSession& farm;
  Output out;
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
// Until `count` events came (0: no limit), `timeoutSeconds` passed (0: none) or a signal.
int TreeWatch(Command& c, int count, int timeoutSeconds);
int Monitor(Command& c, int count, int timeoutSeconds);
// `since`: milliseconds or YYYY-MM-DD[THH:MM:SS] (UTC); `who`: an account ("": everyone).
int Audit(Command& c, const std::string& since, const std::string& who);

}  // namespace zeladmin
