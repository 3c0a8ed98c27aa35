// The administrator events of the library, all views of one state (the administrator store):
// an administrator added by AddUsers2 is enumerated by EnumerateKeldraAdmins2, resolved by
// GetAdminUIDByName and answered yes by IsUserKeldraAdmin. docs/SUBSYSTEM.md gives each event's
// meaning and codes.
#include <algorithm>
#include <string>

#include "src/records.h"
#include "zel/admintool/protocol/messages.h"
#include "zel/directory/transaction.h"
#include "zel/protocol/grammar.h"
#include "zel/subsystem/codes.h"
#include "zel/subsystem/handlers.h"

namespace zel::subsystem {

namespace {

namespace at = zel::admintool;
namespace ev = zel::protocol::event;

std::string UIDText(uint64_t uid) { return zel::protocol::ShowUID(uid); }

// The fields the library's records carry, laid over what the store holds for that account (a
// new administrator when it holds none): the first and second generation carry no folders and
// no contact, so an update keeps those.
Administrator Merged(const Administrator* stored, const ZEL_ADMIN_USERINFO& record) {
  Administrator admin;
  if (stored != nullptr) {
    admin = *stored;
  } else {
    admin.account = Account::FromRecord(record.accountName, record.accountAuthority);
    admin.displayName = admin.account.name;
  }
  admin.attribute1 = record.attribute1;
  admin.attribute2 = record.attribute2;
  admin.privileges = PrivilegesOf(record.privilegeCount, record.privileges);
  return admin;
}

// Adds or updates each administrator the records name, in one transaction; `extend` adds what
// the request carries beside the record (folders, contact).
template <typename Extend>
int32_t AddOrUpdate(Context& ctx, Call& call, uint32_t count, const ZEL_ADMIN_USERINFO* users,
                    Extend&& extend) {
  call.what = "add or update";
  for (uint32_t i = 0; i < count; ++i) {
    call.what.append(" ").append(
        Account::FromRecord(users[i].accountName, users[i].accountAuthority).Text());
  }
  call.what += ":";
  if (const int32_t denied =
          ctx.authoriser.Require(call.caller, Privilege::kManageAdministrators)) {
    return denied;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (!Account::FromRecord(users[i].accountName, users[i].accountAuthority).Valid()) {
      return kInvalidAccount;
    }
  }
  ZEL_DIR_Transaction scope(&ctx.directory);
  if (scope.status() != 0) return scope.status();
  for (uint32_t i = 0; i < count; ++i) {
    const Account account = Account::FromRecord(users[i].accountName, users[i].accountAuthority);
    Administrator stored;
    const int32_t found = ctx.admins.FindByAccount(account, &stored);
    if (found != 0 && found != kNoSuchAdministrator) return found;
    Administrator admin = Merged(found == 0 ? &stored : nullptr, users[i]);
    extend(i, admin);
    const int32_t written = found == 0 ? ctx.admins.Update(admin) : ctx.admins.Insert(&admin);
    if (written != 0) return written;
    call.what.append(found == 0 ? " updated " : " added ").append(UIDText(admin.uid));
  }
  return scope.Commit();
}

// --- 67 AddUsers2 -------------------------------------------------------------------------------
int32_t AddUsers2(Context& ctx, Call& call) {
  at::AddUsers2Request request;
  Released released(request);
  ReadWhole(call.in, request);
  return AddOrUpdate(ctx, call, request.count, request.users, [](uint32_t, Administrator&) {});
}

// --- 87 AddUsers3: the one folder list goes to every administrator added ------------------------
int32_t AddUsers3(Context& ctx, Call& call) {
  AllowedFolders folders;
  at::AddUsers3Request request{0, nullptr, nullptr, folders};
  Released released(request);
  ReadWhole(call.in, request);
  const std::vector<FolderGrant> grants = FoldersOf(folders);
  return AddOrUpdate(ctx, call, request.count, request.users,
                     [&](uint32_t i, Administrator& admin) {
                       admin.folders = grants;
                       admin.contact = ContactOf(request.contacts[i]);
                     });
}

// --- 27 DeleteUser ------------------------------------------------------------------------------
int32_t DeleteUser(Context& ctx, Call& call) {
  at::DeleteUserRequest request;
  Released released(request);
  ReadWhole(call.in, request);
  if (const int32_t denied =
          ctx.authoriser.Require(call.caller, Privilege::kManageAdministrators)) {
    return denied;
  }
  if (request.count == 0) return kInvalidRequest;
  ZEL_DIR_Transaction scope(&ctx.directory);
  if (scope.status() != 0) return scope.status();
  call.what = "deleted";
  for (uint32_t i = 0; i < request.count; ++i) {
    call.what.append(" ").append(UIDText(request.uids[i]));
    Administrator gone;
    if (const int32_t found = ctx.admins.Find(request.uids[i], &gone)) return found;
    call.what.append(" (").append(gone.account.Text()).append(")");
    if (const int32_t removed = ctx.admins.Remove(request.uids[i])) return removed;
  }
  const int32_t committed = scope.Commit();
  if (committed == 0) {
    for (uint32_t i = 0; i < request.count; ++i) ctx.sessions.Forget(request.uids[i]);
  }
  return committed;
}

// --- 69 SetPrivilege2, 88 SetPrivilege3 ---------------------------------------------------------
template <typename Change>
int32_t ChangeAdministrator(Context& ctx, Call& call, uint64_t uid, Change&& change) {
  call.what = "changed " + UIDText(uid);
  if (const int32_t denied =
          ctx.authoriser.Require(call.caller, Privilege::kManageAdministrators)) {
    return denied;
  }
  ZEL_DIR_Transaction scope(&ctx.directory);
  if (scope.status() != 0) return scope.status();
  Administrator admin;
  if (const int32_t found = ctx.admins.Find(uid, &admin)) return found;
  call.what.append(" (").append(admin.account.Text()).append(")");
  change(admin);
  if (const int32_t updated = ctx.admins.Update(admin)) return updated;
  return scope.Commit();
}

int32_t SetPrivilege2(Context& ctx, Call& call) {
  at::SetPrivilege2Request request;
  Released released(request);
  ReadWhole(call.in, request);
  return ChangeAdministrator(ctx, call, request.adminUID, [&](Administrator& admin) {
    admin.attribute1 = request.attribute1;
    admin.attribute2 = request.attribute2;
    admin.privileges = PrivilegesOf(request.privilegeCount, request.privileges);
  });
}

int32_t SetPrivilege3(Context& ctx, Call& call) {
  ZEL_ADMIN_USERINFO2 info;
  ZEL_ADMIN_CONTACTINFO contact;
  at::SetPrivilege3Request request{info, contact};
  Released released(request);
  ReadWhole(call.in, request);
  return ChangeAdministrator(ctx, call, info.adminUID, [&](Administrator& admin) {
    admin.attribute1 = info.attribute1;
    admin.attribute2 = info.attribute2;
    admin.privileges = PrivilegesOf(info.privilegeCount, info.privileges);
    admin.folders = FoldersOf(info.allowedFolders);
    admin.contact = ContactOf(contact);
  });
}

// --- Reads
// ----------------------------------------------------------------------------------------

// The administrator `uid`, for an administrator or the owner.
int32_t ReadAdministrator(Context& ctx, Call& call, uint64_t uid, Administrator* admin) {
  if (const int32_t denied = ctx.authoriser.RequireAdministrator(call.caller)) return denied;
  return ctx.admins.Find(uid, admin);
}

// --- 71 GetPrivilege2
// -----------------------------------------------------------------------------
int32_t GetPrivilege2(Context& ctx, Call& call) {
  at::GetPrivilege2Request request;
  Released released(request);
  ReadWhole(call.in, request);
  Administrator admin;
  if (const int32_t read = ReadAdministrator(ctx, call, request.adminUID, &admin)) return read;
  uint32_t count = static_cast<uint32_t>(admin.privileges.size());
  uint32_t* privileges = admin.privileges.data();
  at::GetPrivilege2Reply reply{admin.attribute1, admin.attribute2, count, privileges};
  at::WriteMessage(call.out, reply);
  return 0;
}

// --- 89 GetPrivilege3
// -----------------------------------------------------------------------------
int32_t GetPrivilege3(Context& ctx, Call& call) {
  at::GetPrivilege3Request request;
  Released released(request);
  ReadWhole(call.in, request);
  Administrator admin;
  if (const int32_t read = ReadAdministrator(ctx, call, request.adminUID, &admin)) return read;
  ZEL_ADMIN_USERINFO2 info;
  ZEL_ADMIN_CONTACTINFO contact;
  if (!ToRecord(admin, &info)) return kInternalError;
  ToContact(admin.contact, &contact);
  at::GetPrivilege3Reply reply{info, contact};
  at::WriteMessage(call.out, reply);
  return 0;
}

// --- 75 EnumerateKeldraAdmins, 90 EnumerateKeldraAdmins2 (selectors: any value, every one) -------
int32_t EnumerateKeldraAdmins(Context& ctx, Call& call) {
  at::EnumerateKeldraAdminsRequest request;
  Released released(request);
  ReadWhole(call.in, request);
  if (const int32_t denied = ctx.authoriser.RequireAdministrator(call.caller)) return denied;
  std::vector<Administrator> all;
  if (const int32_t listed = ctx.admins.List(&all)) return listed;
  std::vector<ZEL_ADMIN_USERINFO> records(all.size());
  for (size_t i = 0; i < all.size(); ++i) {
    if (!ToRecord(all[i], &records[i])) return kInternalError;
  }
  uint32_t count = static_cast<uint32_t>(records.size());
  ZEL_ADMIN_USERINFO* items = records.data();
  at::EnumerateKeldraAdminsReply reply{count, items};
  at::WriteMessage(call.out, reply);
  return 0;
}

int32_t EnumerateKeldraAdmins2(Context& ctx, Call& call) {
  at::EnumerateKeldraAdmins2Request request;
  Released released(request);
  ReadWhole(call.in, request);
  if (const int32_t denied = ctx.authoriser.RequireAdministrator(call.caller)) return denied;
  std::vector<Administrator> all;
  if (const int32_t listed = ctx.admins.List(&all)) return listed;
  std::vector<ZEL_ADMIN_USERINFO2> records(all.size());
  std::vector<ZEL_ADMIN_CONTACTINFO> contacts(all.size());
  for (size_t i = 0; i < all.size(); ++i) {
    if (!ToRecord(all[i], &records[i])) return kInternalError;
    ToContact(all[i].contact, &contacts[i]);
  }
  uint32_t count = static_cast<uint32_t>(records.size());
  ZEL_ADMIN_USERINFO2* items = records.data();
  ZEL_ADMIN_CONTACTINFO* contactItems = contacts.data();
  at::EnumerateKeldraAdmins2Reply reply{count, items, contactItems};
  at::WriteMessage(call.out, reply);
  return 0;
}

// May the caller ask about `account`: the owner, an administrator, or the account itself.
int32_t RequireAdministratorOrSelf(Context& ctx, Call& call, const Account& account) {
  Identity who;
  const int32_t allowed = ctx.authoriser.RequireAdministrator(call.caller, &who);
  if (allowed == kAccessDenied && !who.account.name.empty() && who.account == account) return 0;
  return allowed;
}

// --- 48 IsUserKeldraAdmin: 1 when the account is an administrator, else 0 -----------------------
int32_t IsUserKeldraAdmin(Context& ctx, Call& call) {
  at::IsUserKeldraAdminRequest request;
  Released released(request);
  ReadWhole(call.in, request);
  const Account account = Account::FromIdentity(request.identity);
  if (const int32_t denied = RequireAdministratorOrSelf(ctx, call, account)) return denied;
  Administrator admin;
  const int32_t found = ctx.admins.FindByAccount(account, &admin);
  if (found != 0 && found != kNoSuchAdministrator) return found;
  at::IsUserKeldraAdminReply reply;
  reply.answer = found == 0 ? 1 : 0;
  at::WriteMessage(call.out, reply);
  return 0;
}

// --- 96 GetPrivilegesByBlob: flag 1 and the administrator's attribute1 and privileges, or flag 0
int32_t GetPrivilegesByBlob(Context& ctx, Call& call) {
  at::GetPrivilegesByBlobRequest request;
  Released released(request);
  ReadWhole(call.in, request);
  const Account account = Account::FromIdentity(request.identity);
  if (const int32_t denied = RequireAdministratorOrSelf(ctx, call, account)) return denied;
  Administrator admin;
  const int32_t found = ctx.admins.FindByAccount(account, &admin);
  if (found != 0 && found != kNoSuchAdministrator) return found;
  uint8_t flag = found == 0 ? 1 : 0;
  uint32_t count = static_cast<uint32_t>(admin.privileges.size());
  uint32_t* privileges = admin.privileges.data();
  at::GetPrivilegesByBlobReply reply{flag, admin.attribute1, count, privileges};
  at::WriteMessage(call.out, reply);
  return 0;
}

// --- 91 GetPermissionsForCurrentUser ------------------------------------------------------------
int32_t GetPermissionsForCurrentUser(Context& ctx, Call& call) {
  at::GetPermissionsForCurrentUserRequest request;
  Released released(request);
  ReadWhole(call.in, request);
  Identity who;
  if (const int32_t identified = ctx.authoriser.Identify(call.caller, &who)) return identified;
  if (!who.administrator && !who.owner) return kNotAdministrator;
  AllowedFolders folders;
  if (who.administrator && !ToFolders(who.admin.folders, &folders)) return kInternalError;
  at::GetPermissionsForCurrentUserReply reply{folders};
  at::WriteMessage(call.out, reply);
  return who.administrator ? 0 : kUnrestricted;
}

// --- 93 GetAdminUIDByName: (account name, authority); an empty authority takes the one
// administrator of that name --------------------------------------------------------------------
int32_t GetAdminUIDByName(Context& ctx, Call& call) {
  at::GetAdminUIDByNameRequest request;
  Released released(request);
  ReadWhole(call.in, request);
  if (const int32_t denied = ctx.authoriser.RequireAdministrator(call.caller)) return denied;
  const std::u16string name = request.firstName != nullptr ? request.firstName : u"";
  const std::u16string authority = request.secondName != nullptr ? request.secondName : u"";
  Administrator admin;
  if (!authority.empty()) {
    if (const int32_t found = ctx.admins.FindByAccount(Account{authority, name}, &admin)) {
      return found;
    }
  } else {
    std::vector<Administrator> named;
    if (const int32_t found = ctx.admins.FindByName(name, &named)) return found;
    if (named.empty()) return kNoSuchAdministrator;
    if (named.size() > 1) return kInvalidRequest;  // the name alone does not say which
    admin = named.front();
  }
  at::GetAdminUIDByNameReply reply{admin.uid};
  at::WriteMessage(call.out, reply);
  return 0;
}

// --- 94 GetAdminNameByUID: (account name, authority) --------------------------------------------
int32_t GetAdminNameByUID(Context& ctx, Call& call) {
  at::GetAdminNameByUIDRequest request;
  Released released(request);
  ReadWhole(call.in, request);
  Administrator admin;
  if (const int32_t read = ReadAdministrator(ctx, call, request.uid, &admin)) return read;
  call.out << admin.account.name.c_str() << admin.account.authority.c_str();
  return 0;
}

// --- 30 GetUsersDNs: every administrator's account (UID order), then the default user's -------
int32_t GetUsersDNs(Context& ctx, Call& call) {
  at::GetUsersDNsRequest request;
  Released released(request);
  ReadWhole(call.in, request);
  if (const int32_t denied = ctx.authoriser.RequireAdministrator(call.caller)) return denied;
  std::vector<Administrator> all;
  if (const int32_t listed = ctx.admins.List(&all)) return listed;
  ZELMultiString dns;
  for (const Administrator& admin : all) dns.add(ZELString::FromUtf8(admin.account.Text()));
  DefaultUser user;
  const int32_t found = ctx.admins.GetDefaultUser(&user);
  if (found != 0 && found != kNoSuchAdministrator) return found;
  if (found == 0) dns.add(ZELString::FromUtf8(Account{user.second, user.first}.Text()));
  at::GetUsersDNsReply reply{dns};
  at::WriteMessage(call.out, reply);
  return 0;
}

// --- 31 AddDefaultUser, 83 AddDefaultUser2: (account name, authority[, option]) ------------------
int32_t SetDefaultUser(Context& ctx, Call& call, const DefaultUser& user) {
  call.what = "default user ";
  call.what.append(Account{user.second, user.first}.Text())
      .append(" option ")
      .append(std::to_string(user.option));
  if (const int32_t denied = ctx.authoriser.Require(call.caller, Privilege::kManageDefaultUser)) {
    return denied;
  }
  if (!Account{user.second, user.first}.Valid()) return kInvalidAccount;
  return ctx.admins.SetDefaultUser(user);
}

int32_t AddDefaultUser(Context& ctx, Call& call) {
  ZELString first, second;
  at::AddDefaultUserRequest request{first, second};
  Released released(request);
  ReadWhole(call.in, request);
  return SetDefaultUser(
      ctx, call, DefaultUser{std::u16string(first.view()), std::u16string(second.view()), 0});
}

int32_t AddDefaultUser2(Context& ctx, Call& call) {
  ZELString first, second;
  at::AddDefaultUser2Request request{first, second};
  Released released(request);
  ReadWhole(call.in, request);
  return SetDefaultUser(
      ctx, call,
      DefaultUser{std::u16string(first.view()), std::u16string(second.view()), request.option});
}

}  // namespace

void RegisterAdminHandlers(DispatchTable& table) {
  table.Add(ev::kDeleteUser, Effect::kChanges, DeleteUser);
  table.Add(ev::kGetUsersDNs, Effect::kReads, GetUsersDNs);
  table.Add(ev::kAddDefaultUser, Effect::kChanges, AddDefaultUser);
  table.Add(ev::kIsUserKeldraAdmin, Effect::kReads, IsUserKeldraAdmin);
  table.Add(ev::kAddUsers2, Effect::kChanges, AddUsers2);
  table.Add(ev::kSetPrivilege2, Effect::kChanges, SetPrivilege2);
  table.Add(ev::kGetPrivilege2, Effect::kReads, GetPrivilege2);
  table.Add(ev::kEnumerateKeldraAdmins, Effect::kReads, EnumerateKeldraAdmins);
  table.Add(ev::kAddDefaultUser2, Effect::kChanges, AddDefaultUser2);
  table.Add(ev::kAddUsers3, Effect::kChanges, AddUsers3);
  table.Add(ev::kSetPrivilege3, Effect::kChanges, SetPrivilege3);
  table.Add(ev::kGetPrivilege3, Effect::kReads, GetPrivilege3);
  table.Add(ev::kEnumerateKeldraAdmins2, Effect::kReads, EnumerateKeldraAdmins2);
  table.Add(ev::kGetPermissionsForCurrentUser, Effect::kReads, GetPermissionsForCurrentUser);
  table.Add(ev::kGetAdminUIDByName, Effect::kReads, GetAdminUIDByName);
  table.Add(ev::kGetAdminNameByUID, Effect::kReads, GetAdminNameByUID);
  table.Add(ev::kGetPrivilegesByBlob, Effect::kReads, GetPrivilegesByBlob);
}

}  // namespace zel::subsystem
