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
// Replication carries a change record and its entry each on its own, so the record may reach
// this replica first. A change is told only once its entry reads as the change left it: the
// entry's change number is the record's or a later one (added, changed), or the entry is gone
// or is another entry of that name (deleted). Until then it waits and is looked at again at
// each Follow, as are the later changes of the same node (told in their order); one whose entry
// has not come after `giveUpAfter` is dropped with a log line. An add or change whose entry is
// gone while the node's deletion waits behind it is dropped quietly: the deletion is told.
//
// Inner to the subsystem, called under its lock (AdminToolSubsystem::FollowOtherServers).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

#include "zel/runtime/pif.h"

namespace zel::subsystem {

class StoreFollower {
 public:
  using Log = std::function<void(std::string_view line)>;
  static constexpr std::chrono::milliseconds kGiveUpAfter{30000};

  // On the subsystem's host (its store location, its transport); `serverID` is this server's,
  // whose own changes are not announced again. `log` hears the changes given up.
  StoreFollower(ZEL_PIF_ISubSystem& host, uint16_t serverID, Log log = {},
                std::chrono::milliseconds giveUpAfter = kGiveUpAfter);
  StoreFollower(const StoreFollower&) = delete;
  StoreFollower& operator=(const StoreFollower&) = delete;
  ~StoreFollower();

  // Reads the changes made since the last call (the first call starts at the store's present)
  // and announces those of other servers whose entries have arrived (the others wait). 0;
  // kNotSupported where the store has no feed of others' changes (SQLite: one server per file); or
  // the store's code.
  int32_t Follow();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zel::subsystem
