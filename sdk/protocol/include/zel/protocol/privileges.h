// The privileges of the farm: uint32 IDs with names, in one table that the subsystem (which
// refuses a request by the privilege it needs), the consoles (which accept names and numbers and
// print names) and the web console share. An administrator holds the IDs in its privilege list
// (SetPrivilege2, SetPrivilege3, AddUsers2/3). Values that are not in the table may be stored
// (consoles keep their own meanings beside ours); they grant nothing. The table is append-only:
// an ID once given keeps its meaning and its name.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "zel/protocol/export.h"

namespace zel::protocol {

enum class Privilege : uint32_t {
  kReadFarm = 1,              // read the tree, icons and plug-ins through the farm directory
  kManageAdministrators = 2,  // add, change and delete administrators; set their passwords
  kChangeTree = 3,            // register, change and delete tree objects and folders
  kManageIcons = 4,           // register and delete icons
  kManagePlugins = 5,         // register and delete plug-in records
  kReadAudit = 6,             // read the audit
  kMonitor = 7,               // subscribe to every event (the monitor)
  kManageDefaultUser = 8,     // set the farm's default user
  kManageCapabilities = 9,    // delete the capability objects of the tree
};

struct PrivilegeName {
  Privilege id;
  std::string_view name;  // what tools accept and print
};

// Every privilege, in ID order.
ZEL_PROTOCOL_API std::span<const PrivilegeName> Privileges();
// The name of a privilege ID; empty for a value that is not in the table.
ZEL_PROTOCOL_API std::string_view PrivilegeNameOf(uint32_t id);
// The privilege named `name` (its name or its decimal ID); none when there is no such one.
ZEL_PROTOCOL_API std::optional<Privilege> PrivilegeNamed(std::string_view name);

}  // namespace zel::protocol
