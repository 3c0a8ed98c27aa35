// Who a request or a one-way event comes from, as the host that delivered it vouches.
#pragma once

#include <cstdint>
#include <string>

namespace zel::rt {

struct Caller {
  // The connection the event came in on; 0 for the in-process farm. A subsystem keys what it
  // keeps per caller (a logon, for one) by (connection, sourceUID).
  uint64_t connection = 0;
  // The sending subsystem's UID, from the event's header.
  uint16_t sourceUID = 0;
  // The peer's account in its text form ("unix:alice", "NT:NORTH\alice"); empty when the
  // channel carries no identity (plain TCP for tests, or an in-process subsystem given none).
  std::string peer;
  // The farm's owner over a local channel: may bootstrap a fresh store and recover it.
  bool owner = false;

  bool operator==(const Caller& other) const {
    return connection == other.connection && sourceUID == other.sourceUID && peer == other.peer &&
           owner == other.owner;
  }
};

}  // namespace zel::rt
