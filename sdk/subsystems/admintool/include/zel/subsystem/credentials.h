// Credentials of the farm's administrators at run time: the password hasher, the logon throttle
// and the farm's keys, and the one password check that Logon2, SetCredential (its old password)
// and event 82's credentials all go through. The handlers are in credential_handlers.cc.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "secrets/logon_throttle.h"
#include "secrets/password_hash.h"
#include "secrets/secret_key.h"
#include "zel/runtime/caller.h"
#include "zel/subsystem/account.h"
#include "zel/subsystem/admin_store.h"
#include "zel/subsystem/options.h"
#include "zel/usersal/credentials.h"

namespace zel::subsystem {

struct Context;

class Credentials {
 public:
  // Makes the hasher (and its dummy hash) with the options' limits, and reads the keys:
  // options.keys, else the files in options.keysFolder. The transport key becomes the
  // process's password key (ZEL_SECURE_SetKey under 0x3A), so event 82's password deciphers.
  // Keys that cannot be read leave the farm without tickets (keysError() says why).
  explicit Credentials(const Options& options);
  Credentials(const Credentials&) = delete;
  Credentials& operator=(const Credentials&) = delete;

  const zel::secrets::PasswordHasher& hasher() const { return hasher_; }
  zel::secrets::LogonThrottle& throttle() { return throttle_; }
  // Null when the farm has no ticket key.
  const zel::secrets::SecretKey* ticketKey() const { return ticketKey_ ? &*ticketKey_ : nullptr; }
  const std::string& keysError() const { return keysError_; }

 private:
  zel::secrets::PasswordHasher hasher_;
  zel::secrets::LogonThrottle throttle_;
  std::optional<zel::secrets::SecretKey> ticketKey_;
  std::string keysError_;
};

// The administrator a logon name stands for. "AUTHORITY:NAME" names one account; a name
// without authority stands for the one administrator of that name whatever its authority, and
// for nobody when several have it. 0 (with *found telling whether one was), or a store code.
int32_t FindForLogon(AdministratorStore& admins, const Account& name, Administrator* admin,
                     bool* found);

// Checks `password` (UTF-8) for the logon name `name` as Logon2 does: throttled per name and
// peer (never for the owner), the stored hash or the dummy one, the same refusal whatever was
// wrong. 0 and *admin; kLogonRefused, kLogonSlowed, or a store code. Changes no logon.
int32_t CheckPassword(Context& ctx, const zel::rt::Caller& caller, const Account& name,
                      std::string_view password, Administrator* admin);

// Event 82's credentials, as ParseEnumerateGroupEvent hands them over (its password already
// deciphered with the transport key): checked like a Logon2 of "DOMAIN\NAME" (or "NAME" when
// the domain is empty), throttle included. 0 and *admin; kLogonRefused, kLogonSlowed, or a
// store code. Changes no logon: the enumeration acts as *admin for this request only.
int32_t CheckGroupCredentials(Context& ctx, const zel::rt::Caller& caller,
                              const UM_Credentials& credentials, Administrator* admin);

// Forgets the failed logons of `account` (every peer, every form of its name).
void ClearFailedLogons(Credentials& credentials, const Account& account);

}  // namespace zel::subsystem
