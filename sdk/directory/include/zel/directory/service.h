// The directory service: data contexts of the farm's directory, kept in the store the host
// subsystem names: an embedded SQLite file, an LDAP directory server, or (for a console) the farm
// server's store.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "zel/directory/export.h"
#include "zel/directory/value.h"
#include "zel/runtime/alloc.h"
#include "zel/runtime/buffers.h"
#include "zel/runtime/pif.h"
#include "zel/runtime/strings.h"

// Interface number, in the host subsystem's plug-in API table, of the store location.
inline constexpr uint32_t kZelDirectoryStoreInterface = 2400;

// What a host offers under kZelDirectoryStoreInterface: where the farm's directory lives.
class ZEL_DIR_StoreLocation {
 public:
  // The store location (UTF-8):
  // - "farm:": the farm server's store. Every operation is a request of ours to the AdminTool
  //   subsystem (UID 22) through the host's send path, which the server runs after checking
  //   the caller's privileges; only the library's contexts are reached. A transaction scope
  //   answers kNotSupported (each write is atomic by itself).
  // - "sqlite:PATH", a plain path or a "file:" URI: a SQLite store file, created when missing;
  //   a URI's "?mode=ro" opens it for reading only. A store that cannot be written is read;
  //   writes to it answer kStoreReadOnly.
  // - "ldap://", "ldaps://", "ldapi://" URLs (RFC 4516, the path is the base DN): an LDAP
  //   directory server with the directory's schema (docs/LDAP.md); kNotSupported in builds
  //   without the LDAP backend (the portable core).
  // An empty location, "sqlite:" alone or anything after "farm:" is kInvalidArgument.
  virtual std::string StorePath() = 0;

 protected:
  ~ZEL_DIR_StoreLocation() = default;
};

namespace zel::dir {
class Store;
}

// What tells a reader that the store may have changed since it last looked: commits by other
// connections (other processes, other services on the file), changes made through this one, and
// transaction scopes ended (a rollback undoes changes without counting any). Equal stamps, with
// no scope open, mean nothing changed in between; inside a scope what is read may still be
// rolled back.
struct ZEL_DIR_ChangeStamp {
  uint64_t commitsElsewhere = 0;
  uint64_t changesHere = 0;
  uint64_t scopesEnded = 0;
  bool inScope = false;
  bool operator==(const ZEL_DIR_ChangeStamp&) const = default;
};

// The service the entry and search classes work through. It has no virtual operations of its
// own, so that the table of ZEL_PS_LDAPSAL starts with that class's first operation.
class ZEL_DIRECTORY_API ZEL_DIR_ServiceInterface {
 public:
  // The open store backend, or null with the reason in *code.
  zel::dir::Store* OpenStore(int32_t* code) { return opener_(this, code); }

 protected:
  using Opener = zel::dir::Store* (*)(ZEL_DIR_ServiceInterface* self, int32_t* code);
  explicit ZEL_DIR_ServiceInterface(Opener opener) : opener_(opener) {}
  ZEL_DIR_ServiceInterface(const ZEL_DIR_ServiceInterface&) = delete;
  ZEL_DIR_ServiceInterface& operator=(const ZEL_DIR_ServiceInterface&) = delete;
  ~ZEL_DIR_ServiceInterface() = default;

 private:
  Opener opener_;
};

// The persistent-store access object, built on a host subsystem. It opens the store at its
// first operation (and again after a failure to open), never at construction. Its virtual
// operations keep a fixed slot order (a test pins it). Every operation answers 0 or a code of
// codes.h; entries are named by UID (any context) or by DN in a context, always with their
// class ("" for classless): an entry of another class is kNoSuchEntry, as for ZEL_DIR_Entry,
// whose rules (names, text values, parents) every write here follows.
class ZEL_DIRECTORY_API ZEL_PS_LDAPSAL : public ZEL_DIR_ServiceInterface,
                                         public zel::rt::SeamAllocated {
 public:
  using Values = std::vector<zel::dir::StoredValue>;

  explicit ZEL_PS_LDAPSAL(ZEL_PIF_ISubSystem& host);
  ZEL_PS_LDAPSAL(const ZEL_PS_LDAPSAL&) = delete;
  ZEL_PS_LDAPSAL& operator=(const ZEL_PS_LDAPSAL&) = delete;

  // Makes the store ready for use: a SQLite store file is created with its schema; on LDAP the
  // credentials, the base entry and the schema (share/ldap, loaded by the server's
  // administrator) are checked. 0, or why the store cannot be used.
  virtual int32_t InstallLDAP();
  // The ID of a context into contextID: 0, or a negative code. A name that begins with '&'
  // names the context by the name it was created with; any other names it by its DN.
  virtual int32_t BindLDAP(const ZELString& contextName, uint32_t& contextID);
  // Declares the attributes entries of `className` may hold ("," between names). AddEntry,
  // UpdateEntry and the attribute operations then refuse other attributes for that class
  // (kInvalidArgument); undeclared classes take any. Kept by this object, for its life.
  virtual int32_t RegObjectClass(const ZELString& className, const ZELString& attributes);
  // Adds an entry with its values (an empty DN: the directory gives one); its UID into uid.
  // 5 when an entry is at that DN.
  virtual int32_t AddEntry(uint32_t contextID, const ZELString& dn, const ZELString& className,
                           const Values& values, uint64_t& uid);

  virtual int32_t DelEntry(uint64_t uid, const ZELString& className);
  virtual int32_t DelEntry(uint32_t contextID, const ZELString& dn, const ZELString& className);
  // The whole entry: DN, UID, context, class and every value.
  virtual int32_t ReadEntry(uint64_t uid, const ZELString& className, zel::dir::StoredEntry& entry);
  virtual int32_t ReadEntry(uint32_t contextID, const ZELString& dn, const ZELString& className,
                            zel::dir::StoredEntry& entry);
  // Replaces the values of each attribute named in `values` (the others keep theirs).
  virtual int32_t UpdateEntry(uint64_t uid, const ZELString& className, const Values& values);
  virtual int32_t UpdateEntry(uint32_t contextID, const ZELString& dn, const ZELString& className,
                              const Values& values);
  // 0 when the entry is there, kNoSuchEntry when not.
  virtual int32_t DoesEntryExist(uint64_t uid, const ZELString& className);
  virtual int32_t DoesEntryExist(uint32_t contextID, const ZELString& dn,
                                 const ZELString& className);
  // The values of one attribute, in order (none: an empty list).
  virtual int32_t ReadAttribute(uint64_t uid, const ZELString& className,
                                const ZELString& attribute, Values& values);
  virtual int32_t ReadAttribute(uint32_t contextID, const ZELString& dn, const ZELString& className,
                                const ZELString& attribute, Values& values);
  // Replaces one attribute's values (an empty list removes the attribute).
  virtual int32_t UpdateAttribute(uint64_t uid, const ZELString& className,
                                  const ZELString& attribute, const Values& values);
  virtual int32_t UpdateAttribute(uint32_t contextID, const ZELString& dn,
                                  const ZELString& className, const ZELString& attribute,
                                  const Values& values);
  // Appends a value to its attribute; 5 (and nothing written) when an equal value is there.
  virtual int32_t AddAttributeValue(uint64_t uid, const ZELString& className,
                                    const zel::dir::StoredValue& value);
  virtual int32_t AddAttributeValue(uint32_t contextID, const ZELString& dn,
                                    const ZELString& className, const zel::dir::StoredValue& value);
  // Removes the values of its attribute equal to `value`; kNoSuchValue when none is.
  virtual int32_t DelAttributeValue(uint64_t uid, const ZELString& className,
                                    const zel::dir::StoredValue& value);
  virtual int32_t DelAttributeValue(uint32_t contextID, const ZELString& dn,
                                    const ZELString& className, const zel::dir::StoredValue& value);

  // Opens the store now rather than at the first operation (0 when it is open already).
  virtual int32_t Initialize();
  // Closes the store: subscriptions end, scopes left open roll back; the next operation opens
  // it again.
  virtual int32_t UnInitialize();
  // A page of a search: the entries directly below baseDN (scope 1) or at any depth below it
  // (2), with a value "ATTRIBUTE=TEXT" when `filter` is not empty, in DN order: those after
  // `after`, at most `limit` (0: all). kUnsupportedSearch for another scope or filter form.
  virtual int32_t Search(uint32_t contextID, const ZELString& baseDN, uint8_t scope,
                         const ZELString& filter, const ZELString& after, uint32_t limit,
                         std::vector<zel::dir::StoredEntry>& entries);
  // Creates the context `contextName` at `dn`: 0 (also when it exists with that DN), or a
  // negative code.
  virtual int32_t CreateDataContext(const ZELString& contextName, const ZELString& dn);
  // Deletes every entry of the context (each a change of its own, in DN order, the deepest
  // first); the context stays, empty, with its ID.
  virtual int32_t DestroyDataContext(uint32_t contextID);
  // The number of the context's last change (0: none yet).
  virtual int32_t GetContextChangeNumber(uint32_t contextID, uint64_t& number);
  // The changes numbered above `since`, oldest first, at most `maxCount` (0: the option
  // kOptionChangesAtOnce, or the backend's own); `more` when others follow.
  virtual int32_t GetContextEntryChangeInfo(uint32_t contextID, uint64_t since, uint32_t maxCount,
                                            std::vector<zel::dir::Change>& changes, bool& more);
  // Options of this object: kOptionChangesAtOnce (how many changes
  // GetContextEntryChangeInfo gives when asked for 0; 0 for the backend's own). Another option
  // is kInvalidArgument.
  static constexpr uint32_t kOptionChangesAtOnce = 1;
  virtual int32_t SetPSOption(uint32_t option, uint64_t value);
  virtual ~ZEL_PS_LDAPSAL();
  // How long an operation waits for the store: a busy SQLite file, an LDAP server's answer.
  // kNotSupported over `farm:`, where the host's send path has its own.
  virtual int32_t SetTimeout(uint32_t milliseconds);
  // A transaction scope (ZEL_DIR_Transaction) without an object: Enter opens one (or joins the
  // open one), Leave ends it, committing when `commit` and everything inside succeeded.
  // kNotSupported where the backend holds no scopes (LDAP, `farm:`).
  virtual int32_t Sync_EnterMSJetCriticalSection();
  virtual int32_t Sync_LeaveMSJetCriticalSection(bool commit);
  // `listener` hears each change of the context (records.h, Subscribe); with an empty listener
  // the subscription `subscription` ends instead.
  virtual int32_t SubscribeToDirChangeNotification(uint32_t contextID,
                                                   zel::dir::ChangeListener listener,
                                                   uint32_t& subscription);
  // What a cache of the entries below baseDN (any depth; "" for the whole context) starts
  // from: the context's change number, read first, then the entries. Following the changes
  // after that number misses none (some may be in the entries already).
  virtual int32_t SeedLocalCache(uint32_t contextID, const ZELString& baseDN,
                                 std::vector<zel::dir::StoredEntry>& entries,
                                 uint64_t& changeNumber);
  // Brings change notifications to the subscriptions: with a notification (event kDirChanged
  // that reached a console's host), hands it to the `farm:` store; without (null), looks for
  // changes made elsewhere (LDAP: other processes and servers). See records.h.
  virtual int32_t DirChangeNotificationHelper(const ZEL_BUF_EventBuffer* notification);

  // The store's change stamp (opening the store first): 0, or the reason it cannot be had
  // (kNotSupported over `farm:` and LDAP, whose stores change behind this object's back). A
  // caller that keeps what it read may keep using it while the stamp stays the same.
  int32_t ChangeStamp(ZEL_DIR_ChangeStamp* stamp);

 private:
  static zel::dir::Store* Open(ZEL_DIR_ServiceInterface* self, int32_t* code);
  // Checks `values` against a class registered with RegObjectClass.
  int32_t allowed(const ZELString& className, const Values& values) const;

  ZEL_PIF_ISubSystem& host_;
  std::unique_ptr<zel::dir::Store> store_;
  std::map<std::u16string, std::vector<std::u16string>> classes_;
  uint32_t changesAtOnce_ = 0;
};
