#include "zel/subsystem/admin_store.h"

#include <algorithm>

#include "src/admin_entry.h"
#include "zel/directory/codes.h"
#include "zel/subsystem/codes.h"

namespace zel::subsystem {

namespace {

constexpr const char16_t* kContextName = u"ZelAdministratorContext";
constexpr const char16_t* kContextBinding = u"&ZelAdministratorContext";
constexpr const char16_t* kContextDN = u"ZelFarm/Administrators";

// A directory answer as the store's: a missing entry is a missing administrator.
int32_t StoreCode(int32_t code) {
  return code == zel::dir::kNoSuchEntry ? kNoSuchAdministrator : code;
}

// Loads the entry and checks what it holds.
int32_t Load(AdministratorEntry& entry) {
  if (const int32_t synced = entry.Sync()) return StoreCode(synced);
  return entry.damaged ? kInternalError : 0;
}

}  // namespace

bool Administrator::Holds(uint32_t privilege) const {
  return std::find(privileges.begin(), privileges.end(), privilege) != privileges.end();
}

int32_t AdministratorStore::Open() {
  if (context_ != 0) return 0;
  if (const int32_t created = directory_.CreateDataContext(kContextName, kContextDN)) {
    return created;
  }
  return directory_.BindLDAP(kContextBinding, context_);
}

int32_t AdministratorStore::Any(bool* any) {
  std::vector<Administrator> all;
  const int32_t listed = List(&all);
  *any = !all.empty();
  return listed;
}

bool AdministratorStore::CacheFresh() {
  if (perRequest_ && stampRead_) return cache_.usable;
  stampRead_ = true;
  ZEL_DIR_ChangeStamp now;
  const bool known = directory_.ChangeStamp(&now) == 0 && !now.inScope;
  if (known && cache_.usable && now == cache_.stamp) return true;
  cache_.byUID.clear();
  cache_.byAccount.clear();
  cache_.stamp = now;
  cache_.usable = known;
  return false;
}

void AdministratorStore::Forget() {
  cache_.byUID.clear();
  cache_.byAccount.clear();
  cache_.usable = false;
}

void AdministratorStore::Remember(const Administrator& admin) {
  if (!cache_.usable) return;  // what a transaction reads may still be rolled back
  cache_.byUID[admin.uid] = admin;
  cache_.byAccount[admin.account.Text()] = admin.uid;
}

void AdministratorStore::RememberAbsent(const Account& account) {
  if (cache_.usable) cache_.byAccount[account.Text()] = 0;
}

int32_t AdministratorStore::Find(uint64_t uid, Administrator* out) {
  if (const int32_t opened = Open()) return opened;
  if (CacheFresh()) {
    const auto cached = cache_.byUID.find(uid);
    if (cached != cache_.byUID.end()) {
      *out = cached->second;
      return 0;
    }
  }
  AdministratorEntry entry(&directory_, uid);
  if (const int32_t loaded = Load(entry)) return loaded;
  if (entry.GetContextID() != context_) return kNoSuchAdministrator;
  Remember(entry.admin);
  *out = std::move(entry.admin);
  return 0;
}

int32_t AdministratorStore::FindByAccount(const Account& account, Administrator* out) {
  if (!account.Valid()) return kNoSuchAdministrator;
  if (const int32_t opened = Open()) return opened;
  if (CacheFresh()) {
    const auto cached = cache_.byAccount.find(account.Text());
    if (cached != cache_.byAccount.end()) {
      if (cached->second == 0) return kNoSuchAdministrator;
      *out = cache_.byUID.at(cached->second);
      return 0;
    }
  }
  AdministratorEntry entry(&directory_, account, context_);
  const int32_t loaded = Load(entry);
  if (loaded == kNoSuchAdministrator) RememberAbsent(account);
  if (loaded != 0) return loaded;
  Remember(entry.admin);
  *out = std::move(entry.admin);
  return 0;
}

namespace {

// The administrators directly below the context, optionally those whose account name is `name`.
int32_t Search(ZEL_PS_LDAPSAL& directory, uint32_t context, std::u16string_view name,
               std::vector<Administrator>* out) {
  out->clear();
  ZELString filter;
  if (!name.empty()) {
    filter = ZELString(std::u16string(kAccountNameAttribute) + u"=" + std::u16string(name));
  }
  ZEL_DIR_SearchHelper search(&directory, ZEL_DIR_SearchHelper::kOneLevel, ZELString(), context,
                              filter, ZELString(u"*"));
  uint32_t count = 0;
  if (const int32_t searched = search.Search(count)) return searched;
  out->reserve(count);
  ZELString found;
  AdministratorEntry entry(&directory, context);
  for (int32_t got = search.GetFirstEntry(found, entry); got != zel::dir::kNoMore;
       got = search.GetNextEntry(found, entry)) {
    if (got != 0) return got;
    if (entry.damaged) return kInternalError;
    out->push_back(std::move(entry.admin));
  }
  std::sort(out->begin(), out->end(),
            [](const Administrator& a, const Administrator& b) { return a.uid < b.uid; });
  return 0;
}

}  // namespace

int32_t AdministratorStore::FindByName(std::u16string_view name, std::vector<Administrator>* out) {
  out->clear();
  if (name.empty()) return 0;
  if (const int32_t opened = Open()) return opened;
  return Search(directory_, context_, name, out);
}

int32_t AdministratorStore::List(std::vector<Administrator>* out) {
  out->clear();
  if (const int32_t opened = Open()) return opened;
  return Search(directory_, context_, {}, out);
}

int32_t AdministratorStore::Put(Administrator* admin) {
  Forget();
  if (!admin->account.Valid()) return kInvalidAccount;
  if (const int32_t opened = Open()) return opened;
  AdministratorEntry entry(&directory_, admin->account, context_);
  const int32_t loaded = Load(entry);
  if (loaded != 0 && loaded != kNoSuchAdministrator) return loaded;
  const std::string credential = loaded == 0 ? entry.admin.credential : std::string();
  entry.admin = *admin;
  entry.admin.credential = credential;
  const int32_t written = loaded == 0 ? entry.Update() : entry.Add();
  if (written != 0) return written == zel::dir::kEntryExists ? kInternalError : written;
  admin->uid = entry.GetUID();
  return 0;
}

int32_t AdministratorStore::Insert(Administrator* admin) {
  Forget();
  if (!admin->account.Valid()) return kInvalidAccount;
  if (const int32_t opened = Open()) return opened;
  AdministratorEntry entry(&directory_, admin->account, context_);
  entry.admin = *admin;
  entry.admin.credential.clear();
  const int32_t added = entry.Add();
  if (added != 0) return added == zel::dir::kEntryExists ? kInternalError : added;
  admin->uid = entry.GetUID();
  return 0;
}

int32_t AdministratorStore::Update(const Administrator& admin) {
  Forget();
  if (const int32_t opened = Open()) return opened;
  AdministratorEntry entry(&directory_, admin.uid);
  if (const int32_t loaded = Load(entry)) return loaded;
  if (entry.GetContextID() != context_) return kNoSuchAdministrator;
  const Account account = entry.admin.account;
  const std::string credential = entry.admin.credential;
  entry.admin = admin;
  entry.admin.account = account;
  entry.admin.credential = credential;
  return StoreCode(entry.Update());
}

int32_t AdministratorStore::SetCredential(uint64_t uid, const std::string& hash) {
  Forget();
  if (const int32_t opened = Open()) return opened;
  AdministratorEntry entry(&directory_, uid);
  if (const int32_t loaded = Load(entry)) return loaded;
  if (entry.GetContextID() != context_) return kNoSuchAdministrator;
  entry.admin.credential = hash;
  return StoreCode(entry.Update());
}

int32_t AdministratorStore::Remove(uint64_t uid) {
  Forget();
  if (const int32_t opened = Open()) return opened;
  AdministratorEntry entry(&directory_, uid);
  if (const int32_t loaded = Load(entry)) return loaded;
  if (entry.GetContextID() != context_) return kNoSuchAdministrator;
  return StoreCode(entry.DelEntry());
}

int32_t AdministratorStore::GetDefaultUser(DefaultUser* out) {
  if (const int32_t opened = Open()) return opened;
  DefaultUserEntry entry(&directory_, context_);
  if (const int32_t synced = entry.Sync()) return StoreCode(synced);
  *out = entry.user;
  return 0;
}

int32_t AdministratorStore::SetDefaultUser(const DefaultUser& user) {
  if (const int32_t opened = Open()) return opened;
  DefaultUserEntry entry(&directory_, context_);
  entry.user = user;
  const int32_t added = entry.Add();
  if (added != zel::dir::kEntryExists) return added;
  return entry.Update();
}

}  // namespace zel::subsystem
