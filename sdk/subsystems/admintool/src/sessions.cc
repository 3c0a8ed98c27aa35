#include "zel/subsystem/sessions.h"

#include <iterator>

namespace zel::subsystem {

void Sessions::LogOn(const zel::rt::Caller& caller, uint64_t adminUID) {
  logons_[{caller.connection, caller.sourceUID}] = adminUID;
}

void Sessions::LogOut(const zel::rt::Caller& caller) {
  logons_.erase({caller.connection, caller.sourceUID});
}

void Sessions::ConnectionClosed(uint64_t connection) {
  auto it = logons_.lower_bound({connection, 0});
  while (it != logons_.end() && it->first.first == connection) it = logons_.erase(it);
}

void Sessions::Forget(uint64_t adminUID) {
  std::erase_if(logons_, [adminUID](const auto& logon) { return logon.second == adminUID; });
}

std::optional<uint64_t> Sessions::LoggedOn(const zel::rt::Caller& caller) const {
  const auto found = logons_.find({caller.connection, caller.sourceUID});
  if (found == logons_.end()) return std::nullopt;
  return found->second;
}

}  // namespace zel::subsystem
