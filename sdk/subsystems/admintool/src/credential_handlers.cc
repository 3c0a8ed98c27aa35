// Credentials: Logon2 (65), GetVoAdminAccountsForTicket (86), and ours: SetCredential (1005),
// Unlock (1006), IssueTicket (1007), Logout (1008), ExportCredentials (1022),
// ImportCredentials (1023). What each reads, changes and answers is in docs/SUBSYSTEM.md.
#include <sodium.h>

#include <set>
#include <vector>

#include "secrets/password_hash.h"
#include "secrets/ticket.h"
#include "zel/admintool/protocol/messages.h"
#include "zel/directory/transaction.h"
#include "zel/protocol/credentials.h"
#include "zel/subsystem/codes.h"
#include "zel/subsystem/credentials.h"
#include "zel/subsystem/handlers.h"

namespace zel::subsystem {
namespace {

namespace ev = zel::protocol::event;
using zel::protocol::SecretBytes;
using zel::protocol::ShowUID;

// Logon2's request as the library's reader leaves it: the credential bytes are wiped and
// released however the handler ends.
struct Logon2Read {
  ZELString name;
  zel::admintool::Logon2Request request{name};
  ~Logon2Read() {
    if (request.credentials != nullptr) {
      sodium_memzero(request.credentials, request.credentialLength);
    }
    zel::admintool::ReleaseMessage(request);
  }
  std::string_view password() const {
    return {reinterpret_cast<const char*>(request.credentials), request.credentialLength};
  }
};

// A new hash for `uid` in one transaction; kInvalidRequest for a password that cannot be one.
int32_t StoreHash(Context& ctx, uint64_t uid, const SecretBytes& password) {
  SecretBytes hash;
  switch (ctx.credentials.hasher().Hash(password.view(), &hash)) {
    case zel::secrets::HashResult::kOk:
      break;
    case zel::secrets::HashResult::kInvalidPassword:
      return kInvalidRequest;
    case zel::secrets::HashResult::kFailed:
      return kInternalError;
  }
  ZEL_DIR_Transaction scope(&ctx.directory);
  int32_t status = scope.status();
  if (status == kOk) status = ctx.admins.SetCredential(uid, std::string(hash.view()));
  if (status == kOk) status = scope.Commit();
  return status;
}

int32_t Logon2(Context& ctx, Call& call) {
  Logon2Read read;
  if (zel::admintool::ReadMessage(call.in, read.request) != 0) return kInternalError;
  ExpectEnd(call.in);
  const std::string name = read.name.toUtf8();
  // The name is the caller's text: the audit keeps no more of it than a name needs.
  constexpr std::size_t kMostAudited = 256;
  call.what = "logon as " + name.substr(0, kMostAudited);
  Administrator admin;
  const int32_t checked =
      CheckPassword(ctx, call.caller, Account::FromText(name), read.password(), &admin);
  if (checked != kOk) return checked;
  ctx.sessions.LogOn(call.caller, admin.uid);
  call.what += " (" + ShowUID(admin.uid) + ")";
  // A hash made under other limits is made again now that the password is at hand.
  if (ctx.credentials.hasher().NeedsRehash(SecretBytes(std::string_view(admin.credential)))) {
    StoreHash(ctx, admin.uid, SecretBytes(read.password()));
  }

  ZELString resolved(std::u16string_view(admin.displayName));
  if (resolved.isEmpty()) resolved = ZELString::FromUtf8(admin.account.Text());
  uint32_t logonValue = admin.attribute1;
  uint32_t valueCount = static_cast<uint32_t>(admin.privileges.size());
  uint32_t* values = admin.privileges.data();
  uint32_t uidCount = 1;
  uint64_t* uids = &admin.uid;
  zel::admintool::Logon2Reply reply{resolved, logonValue, valueCount, values, uidCount, uids};
  zel::admintool::WriteMessage(call.out, reply);
  return kOk;
}

int32_t SetCredential(Context& ctx, Call& call) {
  zel::protocol::SetCredentialRequest request;
  zel::protocol::Decode(call.in, request);
  ExpectEnd(call.in);
  call.what = "set the password of " + ShowUID(request.admin);
  Identity who;
  const int32_t identified = ctx.authoriser.Identify(call.caller, &who);
  if (identified != kOk) return identified;
  const bool manager =
      who.owner || (who.administrator &&
                    who.admin.Holds(static_cast<uint32_t>(Privilege::kManageAdministrators)));
  const bool self = who.administrator && who.admin.uid == request.admin;
  if (!manager && !self) return kAccessDenied;
  Administrator target;
  const int32_t found = ctx.admins.Find(request.admin, &target);
  if (found != kOk) return found;
  if (request.newPassword.size() == 0) return kInvalidRequest;
  if (!manager) {
    call.what += " (its own, old password given)";
    // Without a password yet, the administrator (acting by its peer's account) sets its first
    // one with an empty old password; otherwise the old one is checked like a logon.
    const bool first = target.credential.empty() && request.oldPassword.size() == 0;
    if (!first) {
      Administrator checked;
      const int32_t result =
          CheckPassword(ctx, call.caller, target.account, request.oldPassword.view(), &checked);
      if (result != kOk) return result;
    }
  }
  const int32_t stored = StoreHash(ctx, target.uid, request.newPassword);
  if (stored == kOk) ClearFailedLogons(ctx.credentials, target.account);
  return stored;
}

int32_t Unlock(Context& ctx, Call& call) {
  zel::protocol::UnlockRequest request;
  zel::protocol::Decode(call.in, request);
  ExpectEnd(call.in);
  call.what = "unlock " + ShowUID(request.admin);
  const int32_t allowed = ctx.authoriser.Require(call.caller, Privilege::kManageAdministrators);
  if (allowed != kOk) return allowed;
  Administrator target;
  const int32_t found = ctx.admins.Find(request.admin, &target);
  if (found != kOk) return found;
  ClearFailedLogons(ctx.credentials, target.account);
  return kOk;
}

int32_t IssueTicket(Context& ctx, Call& call) {
  zel::protocol::IssueTicketRequest request;
  zel::protocol::Decode(call.in, request);
  ExpectEnd(call.in);
  call.what = "issue a ticket";
  Identity who;
  const int32_t identified = ctx.authoriser.Identify(call.caller, &who);
  if (identified != kOk) return identified;
  if (!who.administrator) return kNotAdministrator;
  const zel::secrets::SecretKey* key = ctx.credentials.ticketKey();
  if (key == nullptr) return kNoFarmKeys;
  const uint32_t seconds =
      request.lifetimeSeconds == 0 ? zel::secrets::kDefaultTicketSeconds : request.lifetimeSeconds;
  if (seconds > zel::secrets::kMaxTicketSeconds) return kInvalidRequest;
  const uint64_t now = ctx.Now();
  const zel::secrets::TicketClaims claims{who.admin.uid, now, now + uint64_t{seconds} * 1000};
  zel::protocol::IssueTicketReply reply;
  reply.ticket = zel::secrets::IssueTicket(*key, claims);
  call.what =
      "issue a ticket for " + ShowUID(who.admin.uid) + " for " + std::to_string(seconds) + " s";
  WriteReplyOfOurs(call, reply, kOk);
  sodium_memzero(reply.ticket.data(), reply.ticket.size());
  return kOk;
}

int32_t Logout(Context& ctx, Call& call) {
  zel::protocol::LogoutRequest request;
  zel::protocol::Decode(call.in, request);
  ExpectEnd(call.in);
  const std::optional<uint64_t> logon = ctx.sessions.LoggedOn(call.caller);
  call.what = logon ? "logout of " + ShowUID(*logon) : "logout (none)";
  ctx.sessions.LogOut(call.caller);
  return kOk;
}

// Audited although it changes nothing: a ticket stands in for a password, so every check, and
// why one failed, is kept.
int32_t GetVoAdminAccountsForTicket(Context& ctx, Call& call) {
  zel::admintool::GetVoAdminAccountsForTicketRequest request;
  struct Release {
    zel::admintool::GetVoAdminAccountsForTicketRequest& r;
    ~Release() { zel::admintool::ReleaseMessage(r); }
  } release{request};
  if (zel::admintool::ReadMessage(call.in, request) != 0) return kInternalError;
  ExpectEnd(call.in);
  zel::protocol::Ticket ticket;
  std::copy(request.ticket, request.ticket + ticket.size(), ticket.begin());
  call.what = "check a ticket";
  const zel::secrets::SecretKey* key = ctx.credentials.ticketKey();
  if (key == nullptr) return kNoFarmKeys;
  const uint64_t now = ctx.Now();
  zel::secrets::TicketClaims claims;
  const zel::secrets::TicketCheck check = zel::secrets::CheckTicket(*key, ticket, now, &claims);
  if (check != zel::secrets::TicketCheck::kValid) {
    call.what += std::string(": ") + zel::secrets::TicketCheckName(check);
    return kTicketInvalid;
  }
  call.what = "check a ticket of " + ShowUID(claims.admin);
  Administrator admin;
  const int32_t found = ctx.admins.Find(claims.admin, &admin);
  if (found == kNoSuchAdministrator) {
    call.what += ": the administrator is gone";
    return kTicketInvalid;
  }
  if (found != kOk) return found;
  call.what += ": valid";

  uint64_t uid = admin.uid;
  _VoAdminAccounts accounts{};
  accounts.accountCount = 1;
  accounts.accountUIDs = &uid;
  accounts.value1 = static_cast<uint32_t>((claims.expiresMs - now) / 1000);  // seconds left
  accounts.value2 = static_cast<uint32_t>(claims.issuedMs / 1000);           // issued (s)
  accounts.value3 = static_cast<uint32_t>(claims.expiresMs / 1000);          // expires (s)
  accounts.value4 = zel::secrets::kTicketVersion;
  zel::admintool::GetVoAdminAccountsForTicketReply reply{accounts};
  zel::admintool::WriteMessage(call.out, reply);
  return kOk;
}

// Audited although it changes nothing: it hands out every password hash.
int32_t ExportCredentials(Context& ctx, Call& call) {
  zel::protocol::ExportCredentialsRequest request;
  zel::protocol::Decode(call.in, request);
  ExpectEnd(call.in);
  call.what = "export the password hashes";
  if (!call.caller.owner) return kAccessDenied;
  std::vector<Administrator> all;
  const int32_t listed = ctx.admins.List(&all);
  if (listed != kOk) return listed;
  zel::protocol::ExportCredentialsReply reply;
  for (Administrator& admin : all) {
    if (admin.credential.empty()) continue;
    reply.credentials.push_back({admin.uid, SecretBytes(std::string_view(admin.credential))});
    sodium_memzero(admin.credential.data(), admin.credential.size());
  }
  call.what += " of " + std::to_string(reply.credentials.size()) + " administrators";
  WriteReplyOfOurs(call, reply, kOk);
  return kOk;
}

// Sets each listed hash, in one transaction; a hash already stored is left alone, so importing
// the same list again changes nothing.
int32_t ImportCredentials(Context& ctx, Call& call) {
  zel::protocol::ImportCredentialsRequest request;
  zel::protocol::Decode(call.in, request);
  ExpectEnd(call.in);
  call.what = "import " + std::to_string(request.credentials.size()) + " password hashes";
  if (!call.caller.owner) return kAccessDenied;
  std::set<uint64_t> seen;
  std::vector<const zel::protocol::StoredCredential*> changed;
  for (const zel::protocol::StoredCredential& credential : request.credentials) {
    if (!seen.insert(credential.admin).second) return kInvalidRequest;
    if (!zel::secrets::IsStoredHash(credential.hash.view())) return kInvalidRequest;
    Administrator admin;
    const int32_t found = ctx.admins.Find(credential.admin, &admin);
    if (found != kOk) return found;
    if (admin.credential != credential.hash.view()) changed.push_back(&credential);
  }
  ZEL_DIR_Transaction scope(&ctx.directory);
  int32_t status = scope.status();
  for (const zel::protocol::StoredCredential* credential : changed) {
    if (status == kOk) {
      status = ctx.admins.SetCredential(credential->admin, std::string(credential->hash.view()));
    }
  }
  if (status == kOk) status = scope.Commit();
  call.what += ", " + std::to_string(changed.size()) + " changed";
  return status;
}

}  // namespace

void RegisterCredentialHandlers(DispatchTable& table) {
  table.Add(ev::kLogon2, Effect::kChanges, Logon2);
  table.Add(ev::kGetVoAdminAccountsForTicket, Effect::kChanges, GetVoAdminAccountsForTicket);
  table.Add(ev::kSetCredential, Effect::kChanges, SetCredential);
  table.Add(ev::kUnlock, Effect::kChanges, Unlock);
  table.Add(ev::kIssueTicket, Effect::kChanges, IssueTicket);
  table.Add(ev::kLogout, Effect::kChanges, Logout);
  table.Add(ev::kExportCredentials, Effect::kChanges, ExportCredentials);
  table.Add(ev::kImportCredentials, Effect::kChanges, ImportCredentials);
}

}  // namespace zel::subsystem
