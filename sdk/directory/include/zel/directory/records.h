// Entries as generic records, and the change log of a context: what a server that runs other
// processes' directory operations needs (any class, values as the store keeps them, pages of a
// search), and what a program that follows a context's changes needs. Every operation works
// on the service's store backend and answers 0 or a directory code; kNotSupported where the
// backend does not offer it.
//
// The rules of ZEL_DIR_Entry (names, classes, text values) stay with that class: write through
// it. These functions only read, page and follow.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zel/directory/export.h"
#include "zel/directory/service.h"
#include "zel/directory/value.h"
#include "zel/runtime/buffers.h"

namespace zel::dir {

// An entry named by its DN in a context, or by its UID (any context).
struct EntryName {
  bool byUID = false;
  uint64_t uid = 0;
  uint32_t context = 0;
  std::u16string dn;
};

// The name context `id` was created with (kNoSuchContext when none has that ID).
ZEL_DIRECTORY_API int32_t ContextName(ZEL_DIR_ServiceInterface& service, uint32_t id,
                                      std::u16string* name);

// The entry, whatever its class: 0, kNoSuchEntry, kMalformedName or a store code.
ZEL_DIRECTORY_API int32_t GetEntry(ZEL_DIR_ServiceInterface& service, const EntryName& name,
                                   StoredEntry* entry);

// One page of a search (the entries directly below `baseDN`, or with `subtree` at any depth
// below it, optionally only those with a value of `attribute` whose text form is `text`), in DN
// order: at most `limit` entries (0: all) whose DNs come after `after` ("" from the start). The
// last DN of a page is where the next one starts.
ZEL_DIRECTORY_API int32_t SearchPage(ZEL_DIR_ServiceInterface& service, uint32_t context,
                                     const std::u16string& baseDN, bool subtree,
                                     const std::u16string& attribute, const std::u16string& text,
                                     const std::u16string& after, uint32_t limit,
                                     std::vector<StoredEntry>* entries);

// The number of the context's last change (0: none yet).
ZEL_DIRECTORY_API int32_t ChangeNumber(ZEL_DIR_ServiceInterface& service, uint32_t context,
                                       uint64_t* number);
// Up to `maxCount` changes (0: as many as the backend gives at once, at most 1,000 on SQLite)
// numbered above `since`, oldest first; *more when others follow (ask again from the last one's
// number).
ZEL_DIRECTORY_API int32_t ChangesSince(ZEL_DIR_ServiceInterface& service, uint32_t context,
                                       uint64_t since, uint32_t maxCount,
                                       std::vector<Change>* changes, bool* more);
// `listener` hears each change of the context once, after it is committed: on SQLite those
// made through this service (other processes' changes are read with ChangesSince); over
// `farm:`, every change the server makes, as its notifications come (on whatever thread the
// host hands them over). A listener must not call the service.
ZEL_DIRECTORY_API int32_t Subscribe(ZEL_DIR_ServiceInterface& service, uint32_t context,
                                    ChangeListener listener, uint32_t* subscription);
ZEL_DIRECTORY_API int32_t Unsubscribe(ZEL_DIR_ServiceInterface& service, uint32_t subscription);

// Looks for the subscribed contexts' changes made elsewhere (other processes, other servers of
// a replicated LDAP directory) and tells each subscription's listener, each change once, on the
// calling thread; the changes made through this service were told when they were made. A
// server calls it when it wants to be up to date (for instance on a timer). kNotSupported on
// SQLite (read ChangesSince) and `farm:` (the server tells).
ZEL_DIRECTORY_API int32_t PollChanges(ZEL_DIR_ServiceInterface& service);

// Whether a change another server made has reached this replica: the UID of the entry at `dn`
// in `context` and the number of the change that last wrote it (0 for an entry written before
// entries kept it). 0 or kNoSuchEntry; kNotSupported where entries keep no number (SQLite,
// `farm:`: a change is committed with its entry there).
ZEL_DIRECTORY_API int32_t EntryChange(ZEL_DIR_ServiceInterface& service, uint32_t context,
                                      const std::u16string& dn, uint64_t* uid, uint64_t* number);

// The ID of the server that made a change, where change numbers carry it (a store that
// PollChanges follows: the low 12 bits, the store location's server ID).
inline uint16_t ChangeServerID(uint64_t changeNumber) {
  return static_cast<uint16_t>(changeNumber & 0xFFFu);
}

// A change notification (event kDirChanged) that reached a console's host: the host hands it
// to its directory service, whose `farm:` store tells the subscription's listener. The event
// stays the caller's. kInvalidArgument for another event or an unknown subscription,
// kBadReply for one that does not read, kNotSupported when the store is not `farm:`.
ZEL_DIRECTORY_API int32_t DeliverChange(ZEL_DIR_ServiceInterface& service,
                                        const ZEL_BUF_EventBuffer& notification);

}  // namespace zel::dir
