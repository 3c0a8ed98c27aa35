#include "zel/subsystem/authoriser.h"

#include "zel/subsystem/codes.h"

namespace zel::subsystem {

std::string Identity::Text() const {
  if (!account.name.empty()) return account.Text();
  return owner ? "owner" : "";
}

int32_t Authoriser::Identify(const zel::rt::Caller& caller, Identity* out) {
  *out = Identity{};
  out->owner = caller.owner;
  if (const std::optional<uint64_t> logon = sessions_.LoggedOn(caller)) {
    const int32_t found = admins_.Find(*logon, &out->admin);
    if (found == 0) {
      out->administrator = true;
      out->account = out->admin.account;
      return 0;
    }
    // The administrator was deleted since it logged on: the caller acts as its peer again.
    if (found != kNoSuchAdministrator) return found;
    sessions_.Forget(*logon);
  }
  if (caller.peer.empty()) return 0;
  out->account = Account::FromText(caller.peer);
  const int32_t found = admins_.FindByAccount(out->account, &out->admin);
  if (found == 0) out->administrator = true;
  return found == kNoSuchAdministrator ? 0 : found;
}

int32_t Authoriser::Require(const zel::rt::Caller& caller, Privilege privilege, Identity* who) {
  if (caller.owner && who == nullptr) return 0;  // no need to look the owner up
  Identity identity;
  const int32_t identified = Identify(caller, &identity);
  const bool allowed = identity.owner || (identity.administrator &&
                                          identity.admin.Holds(static_cast<uint32_t>(privilege)));
  if (who != nullptr) *who = identity;
  if (identified != 0) return identified;
  return allowed ? 0 : kAccessDenied;
}

int32_t Authoriser::RequireAdministrator(const zel::rt::Caller& caller, Identity* who) {
  if (caller.owner && who == nullptr) return 0;
  Identity identity;
  const int32_t identified = Identify(caller, &identity);
  const bool allowed = identity.owner || identity.administrator;
  if (who != nullptr) *who = identity;
  if (identified != 0) return identified;
  return allowed ? 0 : kAccessDenied;
}

}  // namespace zel::subsystem
