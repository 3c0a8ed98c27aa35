// Logons: the acting identity of each (connection, source subsystem UID). Without a logon a
// caller acts as its peer's account; a successful logon makes an administrator the acting
// identity of that pair until Logout or until its connection closes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "zel/runtime/caller.h"

namespace zel::subsystem {

class Sessions {
 public:
  void LogOn(const zel::rt::Caller& caller, uint64_t adminUID);
  void LogOut(const zel::rt::Caller& caller);
  // Ends every logon of the connection.
  void ConnectionClosed(uint64_t connection);
  // Ends every logon of an administrator (deleted).
  void Forget(uint64_t adminUID);
  // The administrator logged on for the caller, if any.
  std::optional<uint64_t> LoggedOn(const zel::rt::Caller& caller) const;

 private:
  std::map<std::pair<uint64_t, uint16_t>, uint64_t> logons_;
};

}  // namespace zel::subsystem
