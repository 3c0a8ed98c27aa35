#include "zel/subsystem/credentials.h"

#include <sodium.h>

#include <vector>

#include "secrets/farm_keys.h"
#include "secrets/logon_gate.h"
#include "zel/runtime/secure.h"
#include "zel/subsystem/codes.h"
#include "zel/subsystem/handlers.h"

namespace zel::subsystem {
namespace {

// The throttle counts per name as the caller gave it (one form of it), so that the delay
// behaves alike for names that are an administrator's and names that are nobody's.
std::string ThrottleKey(const Account& name) {
  return name.authority.empty() ? ZELString(std::u16string_view(name.name)).toUtf8() : name.Text();
}

}  // namespace

Credentials::Credentials(const Options& options)
    : hasher_(options.pwhashLimits),
      throttle_(options.clock ? zel::secrets::LogonThrottle::Clock(options.clock)
                              : zel::secrets::LogonThrottle::SteadyClock()) {
  if (options.keys) {
    zel::secrets::SecretKey ticket;
    std::copy(options.keys->ticket.begin(), options.keys->ticket.end(), ticket.data());
    ticketKey_ = std::move(ticket);
    if (ZEL_SECURE_SetKey(zel::secrets::kTransportKeyID, options.keys->transport.data(),
                          zel::secrets::SecretKey::kSize) != 0) {
      keysError_ = "the transport key cannot be set";
    }
  } else if (!options.keysFolder.empty()) {
    zel::secrets::FarmKeys keys;
    if (zel::secrets::LoadFarmKeys(options.keysFolder, &keys, &keysError_)) {
      ticketKey_ = std::move(keys.ticket);
    }
  } else {
    keysError_ = "no keys were configured";
  }
}

int32_t FindForLogon(AdministratorStore& admins, const Account& name, Administrator* admin,
                     bool* found) {
  *found = false;
  if (!name.Valid()) return kOk;
  if (!name.authority.empty()) {
    const int32_t result = admins.FindByAccount(name, admin);
    *found = result == kOk;
    return result == kNoSuchAdministrator ? kOk : result;
  }
  std::vector<Administrator> named;
  const int32_t result = admins.FindByName(name.name, &named);
  if (result != kOk) return result == kNoSuchAdministrator ? kOk : result;
  if (named.size() == 1) {
    *admin = std::move(named.front());
    *found = true;
  }
  return kOk;
}

int32_t CheckPassword(Context& ctx, const zel::rt::Caller& caller, const Account& name,
                      std::string_view password, Administrator* admin) {
  bool found = false;
  const int32_t looked = FindForLogon(ctx.admins, name, admin, &found);
  if (looked != kOk) return looked;
  const zel::protocol::SecretBytes hash(
      std::string_view(found ? admin->credential : std::string()));
  zel::secrets::LogonAttempt attempt;
  attempt.account = ThrottleKey(name);
  attempt.peer = caller.peer;
  attempt.password = password;
  attempt.hash = hash.size() != 0 ? &hash : nullptr;  // no password set: nothing matches
  attempt.owner = caller.owner;
  zel::secrets::LogonGate gate(ctx.credentials.hasher(), ctx.credentials.throttle());
  switch (gate.Check(attempt)) {
    case zel::secrets::LogonOutcome::kAccepted:
      return kOk;
    case zel::secrets::LogonOutcome::kSlowedDown:
      return kLogonSlowed;
    case zel::secrets::LogonOutcome::kRefused:
      break;
  }
  return kLogonRefused;
}

int32_t CheckGroupCredentials(Context& ctx, const zel::rt::Caller& caller,
                              const UM_Credentials& credentials, Administrator* admin) {
  Account name;
  name.name = std::u16string(credentials.domain.view());
  if (!name.name.empty()) name.name += u'\\';
  name.name += credentials.userName.view();
  char password[zel::secrets::kMaxPasswordBytes];
  std::size_t length = 0;
  // A password that is no text cannot match; it still goes through the check, so that it
  // counts as a failure like any wrong password.
  const bool text = zel::secrets::PasswordToUtf8(credentials.password.view(), password, &length);
  const int32_t result =
      CheckPassword(ctx, caller, name, text ? std::string_view(password, length) : "\xff", admin);
  sodium_memzero(password, sizeof password);
  return result;
}

void ClearFailedLogons(Credentials& credentials, const Account& account) {
  credentials.throttle().Unlock(ThrottleKey(account));
  Account bare = account;
  bare.authority.clear();
  credentials.throttle().Unlock(ThrottleKey(bare));
}

}  // namespace zel::subsystem
