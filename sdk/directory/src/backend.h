// The backend seam of the directory: the few operations entries, searches, contexts and change
// tracking are made of. The entry and search classes keep the rules (names, classes, contexts);
// a backend only stores and finds. One backend object per directory service, used by one
// thread at a time; listeners may be called from another thread (see subscribe).
//
// Backends: SQLite (sqlite_store.h), the consoles' `farm:` store (farm_store.h), LDAP
// (ldap_store.h, server side only). Which one a
// service gets depends on the form of its store location (OpenBackend).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zel/directory/service.h"
#include "zel/directory/value.h"
#include "zel/runtime/buffers.h"
#include "zel/runtime/pif.h"

namespace zel::dir {

// What a lookup learns of an entry before loading it.
struct EntryHead {
  uint64_t uid = 0;
  uint32_t context = 0;
  std::u16string className;
};

// The entries directly below `base` in `context` (with `subtree`: at any depth below it; an
// empty base then takes the whole context), in DN order; only those holding a value of
// `attribute` whose text form is `text` when `attribute` is not empty. Paged: only DNs after
// `after` ("" from the start), at most `limit` entries (0: all).
struct SearchQuery {
  uint32_t context = 0;
  std::u16string_view base;
  bool subtree = false;
  std::u16string_view attribute;
  std::u16string_view text;
  std::u16string_view after;
  uint32_t limit = 0;
};

class Store {
 public:
  Store() = default;
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  virtual ~Store();

  // --- Contexts -------------------------------------------------------------------------
  // The ID of the context named `key` (byName) or at the DN `key`: 0 or kNoSuchContext.
  virtual int32_t bindContext(std::u16string_view key, bool byName, uint32_t* id) = 0;
  // Creates the context (0 also when it exists with that DN; kContextConflict with another).
  virtual int32_t createContext(std::u16string_view name, std::u16string_view dn) = 0;
  // The name a context was created with.
  virtual int32_t contextName(uint32_t id, std::u16string* name) = 0;

  // --- Transactions ---------------------------------------------------------------------
  // Every write of an entry is one; a backend whose every write is atomic by itself answers 0
  // and does nothing.
  virtual int32_t begin() = 0;
  virtual int32_t commit() = 0;
  virtual void rollback() = 0;
  // What a transaction scope (ZEL_DIR_Transaction) is on this backend: writes that succeed or
  // fail together (kAtomic); writes that stand one by one, in the order made, while the scope
  // gathers the first failure for its Commit (kOrdered: a server without transactions over
  // several entries, whose callers order their writes so that any prefix is consistent); or
  // no scope at all (kRefused).
  enum class Scopes { kAtomic, kOrdered, kRefused };
  virtual Scopes scopes() const { return Scopes::kAtomic; }

  // Transaction scopes: the outermost begins; writes inside join it and report failures to it;
  // the outermost commits or rolls back (an ordered scope has nothing to roll back).
  // kNotSupported where the backend refuses scopes.
  int32_t enterScope();
  // Ends one level; the outermost commits (when `commit` and nothing failed) or rolls back.
  // Answers 0, the first failure seen, or kStoreError.
  int32_t leaveScope(bool commit);
  bool inScope() const { return scopeDepth_ > 0; }
  uint64_t scopesEnded() const { return scopesEnded_; }
  void failScope(int32_t code) {
    if (scopeFailure_ == 0) scopeFailure_ = code;
  }

  // --- Entries --------------------------------------------------------------------------
  // The entry at `dn` in `context`, any class: 0, kNoSuchEntry or a store code.
  virtual int32_t findByDN(uint32_t context, std::u16string_view dn, EntryHead* head) = 0;
  // The entry with that UID, any context and class.
  virtual int32_t findByUID(uint64_t uid, EntryHead* head) = 0;
  // kStoreError for an entry whose DN holds a NUL (written behind the directory's back).
  virtual int32_t load(uint64_t uid, StoredEntry* entry) = 0;
  // Inserts an entry (an empty DN is made up from its UID) and its values: the UID and DN
  // used, or kEntryExists when an entry is at that DN.
  virtual int32_t insert(uint32_t context, std::u16string_view dn, std::u16string_view className,
                         const std::vector<StoredValue>& values, uint64_t* uid,
                         std::u16string* madeDN) = 0;
  // Replaces the stored values of `attributes` with `values` (which hold only those).
  virtual int32_t replaceValues(uint64_t uid, const std::vector<std::u16string>& attributes,
                                const std::vector<StoredValue>& values) = 0;
  virtual int32_t remove(uint64_t uid) = 0;
  // Appends the matches of `query`, with their values, in DN order.
  virtual int32_t search(const SearchQuery& query, std::vector<StoredEntry>* matches) = 0;

  // --- Changes --------------------------------------------------------------------------
  // The number of the context's last change (0: none yet). Numbers only grow.
  virtual int32_t changeNumber(uint32_t context, uint64_t* number) = 0;
  // Up to `maxCount` (0: as many as the backend gives at once) changes of the context numbered
  // above `since`, oldest first; *more when there are others after them.
  virtual int32_t changesSince(uint32_t context, uint64_t since, uint32_t maxCount,
                               std::vector<Change>* changes, bool* more) = 0;
  // Calls `listener` once for each change of the context after it is committed. The listener
  // must not call back into this store.
  virtual int32_t subscribe(uint32_t context, ChangeListener listener, uint32_t* subscription) = 0;
  virtual int32_t unsubscribe(uint32_t subscription) = 0;
  // What tells a reader that the store may have changed since it last looked (the commit
  // counters; the scope fields are the base's). kNotSupported where the backend cannot tell.
  virtual int32_t changeStamp(ZEL_DIR_ChangeStamp* stamp) = 0;
  // A change notification that reached the service's host (the `farm:` store takes them).
  virtual int32_t deliver(const ZEL_BUF_EventBuffer& notification);
  // How long an operation waits for the store (a busy file, a server's answer).
  virtual int32_t setTimeout(uint32_t milliseconds);
  // Reads the subscribed contexts' changes made elsewhere (other processes, other servers)
  // since the last look and tells their listeners, each change once. kNotSupported where the
  // backend cannot look (SQLite's readers use changesSince; `farm:` is told by the server).
  virtual int32_t poll();
  // The UID of the entry at `dn` in `context` and the number of the change that last wrote it
  // (0 for an entry written before entries kept it): 0 or kNoSuchEntry. kNotSupported where
  // entries keep no change number (their changes are committed with them).
  virtual int32_t entryChange(uint32_t context, std::u16string_view dn, uint64_t* uid,
                              uint64_t* number);

 private:
  int scopeDepth_ = 0;
  uint64_t scopesEnded_ = 0;  // outermost scopes committed or rolled back
  int32_t scopeFailure_ = 0;
};

// The backend for a store location: "farm:" (the farm server's store, through `host`'s send
// path), "sqlite:PATH", a "file:" URI or a plain path (SQLite); "ldap://", "ldaps://" and
// "ldapi://" URLs (LDAP; kNotSupported in builds without it). 0, or why there is none.
int32_t OpenBackend(const std::string& location, ZEL_PIF_ISubSystem& host,
                    std::unique_ptr<Store>* out);

}  // namespace zel::dir
