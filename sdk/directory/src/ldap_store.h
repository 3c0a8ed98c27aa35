// The LDAP backend of the directory, on OpenLDAP's client library: the farm's directory on a
// directory server (OpenLDAP's slapd with share/ldap/zeladminsal.schema), which several farm
// servers may share through replication.
//
// Location (RFC 4516; the path is the base DN, extensions after the fourth '?'):
//
//   location  = ("ldap" | "ldaps" | "ldapi") "://" [hostport] "/" base-dn ["????" exts]
//   exts      = ext *("," ext)
//   ext       = ["!"] ("bindname=" DN | "x-password-file=" PATH | "x-server-id=" 0..4095)
//
// With bindname, a simple bind with the password in x-password-file (its first line); without,
// SASL EXTERNAL over ldapi (the peer's credentials) or anonymous over ldap and ldaps. The server
// ID keeps UIDs and change numbers of several servers apart: give each server that writes its
// own (0 by default).
//
// Layout below the base DN (flat, so that parents need not exist and children outlive their
// parent, as on every backend):
//
//   zelContextID=N,BASE                 a context; N is a hash of its name, the same on every
//                                       replica, so servers creating it at once meet
//   zelDN=DN,zelContextID=N,BASE        an entry; its parent's DN is in zelParent
//   zelDNKey=K,zelContextID=N,BASE      an entry whose DN is longer than 100 UTF-8 bytes (too
//                                       long for an RDN of back_mdb): K hashes it, zelDN has it
//   zelChange=HEX,zelContextID=N,BASE   one change of the context
//   zelServerID=S,BASE                  the next free UID sequence number of server S
//
// UIDs: S in bits 48-63, 0x0121 in bits 32-47, a sequence of server S below, taken from blocks
// of 256 reserved with one compare-and-swap modify of zelServerID=S: no extra operation per add.
// Change numbers: the microseconds of the clock in bits 12-63 and S below, growing within a
// process.
//
// Every write is one LDAP operation, atomic by itself; a scope keeps the order of its writes and
// answers the first failure at its Commit, but cannot undo the writes before it. A write
// first adds its change record, then changes the entry, and takes the record back when the
// change failed: stopped half way, a record may tell of a change that did not happen (a reader
// reloads the entry and finds nothing new), never the reverse.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "backend.h"

typedef struct ldap LDAP;

namespace zel::dir {

struct LdapLocation {
  std::string uri;  // scheme "://" hostport, as libldap takes it
  std::string base;
  std::string bindDN;
  std::string passwordFile;
  uint16_t serverID = 0;
  bool ldapi = false;
};

// 0, or kInvalidArgument for a location that does not read as above.
int32_t ParseLdapLocation(const std::string& location, LdapLocation* out);

class LdapStore final : public Store {
 public:
  // Connects, binds and checks the base entry and the schema: 0, kServerUnreachable,
  // kCredentialsRefused, kSchemaMissing, kBaseMissing or kInvalidArgument.
  static int32_t Open(const std::string& location, std::unique_ptr<Store>* out);
  ~LdapStore() override;

  int32_t bindContext(std::u16string_view key, bool byName, uint32_t* id) override;
  int32_t createContext(std::u16string_view name, std::u16string_view dn) override;
  int32_t contextName(uint32_t id, std::u16string* name) override;

  int32_t begin() override { return 0; }
  int32_t commit() override { return 0; }
  void rollback() override {}
  // Writes stand one by one: a scope only gathers the first failure.
  Scopes scopes() const override { return Scopes::kOrdered; }

  int32_t findByDN(uint32_t context, std::u16string_view dn, EntryHead* head) override;
  int32_t findByUID(uint64_t uid, EntryHead* head) override;
  int32_t load(uint64_t uid, StoredEntry* entry) override;
  int32_t insert(uint32_t context, std::u16string_view dn, std::u16string_view className,
                 const std::vector<StoredValue>& values, uint64_t* uid,
                 std::u16string* madeDN) override;
  // Reads the entry and replaces its values whole in one modify.
  int32_t replaceValues(uint64_t uid, const std::vector<std::u16string>& attributes,
                        const std::vector<StoredValue>& values) override;
  int32_t remove(uint64_t uid) override;
  int32_t search(const SearchQuery& query, std::vector<StoredEntry>* matches) override;

  int32_t changeNumber(uint32_t context, uint64_t* number) override;
  int32_t changesSince(uint32_t context, uint64_t since, uint32_t maxCount,
                       std::vector<Change>* changes, bool* more) override;
  // Listeners hear the changes made through this store object at once, and those others make
  // (other processes, other replicas) when poll reads them: each change once, also one that
  // reaches this replica up to two minutes after a change numbered later.
  int32_t subscribe(uint32_t context, ChangeListener listener, uint32_t* subscription) override;
  int32_t unsubscribe(uint32_t subscription) override;
  // kNotSupported: other servers change the store behind this one's back.
  int32_t changeStamp(ZEL_DIR_ChangeStamp* stamp) override;

  // The time libldap waits for each answer (30 s until set).
  int32_t setTimeout(uint32_t milliseconds) override;
  // Reads the change log of each subscribed context after the last change its listener heard.
  int32_t poll() override;
  // Every entry keeps the number of the change that last wrote it (zelChange): replication
  // carries the change record and the entry each on its own, so a reader of another replica
  // compares the two to know whether the entry it reads is the one the record tells of.
  int32_t entryChange(uint32_t context, std::u16string_view dn, uint64_t* uid,
                      uint64_t* number) override;

 private:
  explicit LdapStore(LdapLocation where) : where_(std::move(where)) {}
  // Connects and binds when not connected.
  int32_t ready();
  int32_t connect();
  // The directory code of a libldap result; a lost connection is dropped (the next operation
  // connects again).
  int32_t codeOf(int result);
  std::string contextDN(uint32_t id) const;
  // The LDAP DN of the entry at `dn` of context `id`, or "" when libldap cannot write it.
  std::string entryDN(uint32_t id, std::u16string_view dn) const;
  // The entry with that UID: its LDAP DN and (when `entry` is given) everything in it.
  int32_t locate(uint64_t uid, std::string* ldapDN, StoredEntry* entry);
  int32_t nextUID(uint64_t* uid);
  int32_t reserveBlock();
  // Adds the change record of a write about to be made; its LDAP DN goes to *recordDN.
  int32_t logChange(uint32_t context, Change* change, std::string* recordDN);
  void dropRecord(const std::string& recordDN);
  void tell(uint32_t context, const Change& change);

  struct Listener {
    uint32_t context;
    ChangeListener listener;
    uint64_t start;           // the context's last change number when it subscribed
    uint64_t seen;            // the highest number poll has read for it
    std::set<uint64_t> told;  // numbers it was told, over the last kLateWindow
  };

  LdapLocation where_;
  LDAP* ld_ = nullptr;
  uint32_t timeoutMs_ = 30000;
  uint64_t nextSequence_ = 0;
  uint64_t endSequence_ = 0;
  uint64_t lastChange_ = 0;
  std::mutex listenersLock_;  // listeners may be added while another thread polls
  std::map<uint32_t, Listener> listeners_;
  uint32_t lastSubscription_ = 0;
};

}  // namespace zel::dir
