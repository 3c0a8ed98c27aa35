// Changes other servers make to a shared store, told to this server's consoles.
//
// Several farm servers may share one directory (providers of a replicated LDAP directory). A
// console hears the tree changes made through its own server from whoever made them (the
// library's node operations, or the subsystem's folder requests); the changes another server
// made reach this one only through the store. The follower reads the store's change feed of the
// object context and announces each tree change whose change number carries another server's
// ID with the library's node operations (event 81 to the notification hub): an added node as
// AddNode, a changed one as ChangeNodeAttr, a deleted one as DeleteNode. A move or rename,
// which another server writes as adds and deletes, is heard as those.
//
// Inner to the subsystem, called under its lock (AdminToolSubsystem::FollowOtherServers).
#pragma once

#include <cstdint>
#include <memory>

#include "zel/runtime/pif.h"

namespace zel::subsystem {

class StoreFollower {
 public:
  // On the subsystem's host (its store location, its transport); `serverID` is this server's,
  // whose own changes are not announced again.
  StoreFollower(ZEL_PIF_ISubSystem& host, uint16_t serverID);
  StoreFollower(const StoreFollower&) = delete;
  StoreFollower& operator=(const StoreFollower&) = delete;
  ~StoreFollower();

  // Reads the changes made since the last call (the first call starts at the store's present)
  // and announces those of other servers. 0; kNotSupported where the store has no feed of
  // others' changes (SQLite: one server per file); or the store's code.
  int32_t Follow();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zel::subsystem
