// Who acts, and whether it may. The acting identity of a caller is the administrator it logged
// on as, or else its peer's account (an administrator when that account is one). The farm's
// owner may do everything, over every store, empty or not: that is how the first administrator
// comes in (a farm without administrators has nobody else who holds a privilege).
#pragma once

#include <cstdint>
#include <string>

#include "zel/runtime/caller.h"
#include "zel/subsystem/account.h"
#include "zel/subsystem/admin_store.h"
#include "zel/subsystem/privileges.h"
#include "zel/subsystem/sessions.h"

namespace zel::subsystem {

struct Identity {
  bool owner = false;
  bool administrator = false;  // `admin` holds the administrator's record
  Account account;             // the acting account (the peer's, or the administrator's)
  Administrator admin;
  // "AUTHORITY:NAME" of the acting account, "owner" for the owner without one, "" for none.
  std::string Text() const;
};

class Authoriser {
 public:
  Authoriser(AdministratorStore& admins, Sessions& sessions)
      : admins_(admins), sessions_(sessions) {}

  // The caller's acting identity; 0 or a store code.
  int32_t Identify(const zel::rt::Caller& caller, Identity* out);
  // 0 when the caller is the owner or an administrator holding `privilege`; kAccessDenied, or a
  // store code. *who (when not null) is filled either way.
  int32_t Require(const zel::rt::Caller& caller, Privilege privilege, Identity* who = nullptr);
  // 0 when the caller is the owner or any administrator (what reads need); kAccessDenied.
  int32_t RequireAdministrator(const zel::rt::Caller& caller, Identity* who = nullptr);

 private:
  AdministratorStore& admins_;
  Sessions& sessions_;
};

}  // namespace zel::subsystem
