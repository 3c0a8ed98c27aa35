// The farm's administrators, kept in the directory in a data context of the subsystem's own
// (beside the library's contexts), one entry per administrator named by its account's text
// form, so that an account is an administrator at most once. An administrator's UID is the UID
// the directory gave its entry; it never changes, and the directory never gives it again.
//
// Every operation answers 0 or a code: kNoSuchAdministrator, kInvalidAccount, or the
// directory's own code (passed on). Writes made while a ZEL_DIR_Transaction is open on the
// directory join it.
//
// Lookups by UID and account keep what they read while the directory's change stamp stays the
// same (and no transaction is open); any change, here or by another process, empties that
// cache. A host that calls NewRequest before each request has the stamp read once per request
// (every write through this store empties the cache and stops keeping until the next request);
// otherwise it is read at every lookup.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "zel/directory/service.h"
#include "zel/subsystem/account.h"

namespace zel::subsystem {

struct FolderGrant {
  uint64_t folder = 0;
  std::vector<uint32_t> tasks;
  bool operator==(const FolderGrant&) const = default;
};

struct Contact {
  std::u16string contact1, contact2, contact3;
  bool operator==(const Contact&) const = default;
};

struct Administrator {
  uint64_t uid = 0;  // given by the store when added
  Account account;
  std::u16string displayName;  // what Logon2 answers as the resolved name
  uint32_t attribute1 = 0;
  uint32_t attribute2 = 0;
  std::vector<uint32_t> privileges;  // in the order given
  std::vector<FolderGrant> folders;  // allowed folders, each with its tasks
  Contact contact;
  // An opaque hash string ("$argon2id$..."), never clear text; empty: no password set.
  std::string credential;

  bool Holds(uint32_t privilege) const;
};

// The farm's default user: the two strings and the option byte AddDefaultUser(2) carries.
struct DefaultUser {
  std::u16string first;
  std::u16string second;
  uint8_t option = 0;
  bool operator==(const DefaultUser&) const = default;
};

class AdministratorStore {
 public:
  explicit AdministratorStore(ZEL_PS_LDAPSAL& directory) : directory_(directory) {}

  // Binds (creating when missing) the subsystem's context; every other operation does it first.
  int32_t Open();
  // A request begins: the next lookup reads the change stamp again.
  void NewRequest() {
    perRequest_ = true;
    stampRead_ = false;
  }

  // Whether any administrator exists.
  int32_t Any(bool* any);
  int32_t Find(uint64_t uid, Administrator* out);
  int32_t FindByAccount(const Account& account, Administrator* out);
  // Every administrator whose account name is `name`, whatever its authority.
  int32_t FindByName(std::u16string_view name, std::vector<Administrator>* out);
  // Every administrator, in UID order.
  int32_t List(std::vector<Administrator>* out);

  // Adds `admin` (its uid is set), or, when its account is an administrator already, replaces
  // that one's fields but its credential (admin->uid becomes the existing UID).
  int32_t Put(Administrator* admin);
  // Adds `admin` (its uid is set), whose account is no administrator yet (else kInternalError).
  int32_t Insert(Administrator* admin);
  // Replaces the fields of the administrator `admin.uid` (account and credential stay).
  int32_t Update(const Administrator& admin);
  // Replaces the credential slot of `uid` (an opaque hash; empty clears it).
  int32_t SetCredential(uint64_t uid, const std::string& hash);
  int32_t Remove(uint64_t uid);

  // The default user; kNoSuchAdministrator when none was set.
  int32_t GetDefaultUser(DefaultUser* out);
  int32_t SetDefaultUser(const DefaultUser& user);

  ZEL_PS_LDAPSAL& directory() { return directory_; }
  uint32_t context() const { return context_; }

 private:
  // Whether what the cache holds is still what the store holds; empties it when not.
  bool CacheFresh();
  void Remember(const Administrator& admin);
  void RememberAbsent(const Account& account);
  // A write through this store: nothing kept is trusted until the stamp is read again.
  void Forget();

  ZEL_PS_LDAPSAL& directory_;
  uint32_t context_ = 0;  // 0 until bound
  bool perRequest_ = false;
  bool stampRead_ = false;  // in this request
  struct Cache {
    ZEL_DIR_ChangeStamp stamp;
    bool usable = false;  // the stamp was read, outside any transaction
    std::map<uint64_t, Administrator> byUID;
    std::map<std::string, uint64_t> byAccount;  // text form -> UID; 0: no administrator
  } cache_;
};

}  // namespace zel::subsystem
