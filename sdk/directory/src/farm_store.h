// The consoles' `farm:` backend: every operation is a request of ours (events 1009 to 1019,
// zel/protocol/farm_directory.h) from the host subsystem to the AdminTool subsystem (UID 22)
// through the host's send path; the farm server runs it on its own store after checking the
// caller's privileges. The console never opens the store.
//
// - Each write is one request, atomic on the server: begin and commit do nothing, and a
//   transaction scope answers kNotSupported.
// - A lookup reads the whole entry; the load that follows it takes that copy instead of asking
//   again.
// - Searches are read page by page (the server's cookie) until the server has no more.
// - Codes: the server's result as it comes (directory codes, the subsystem's 0x8007xxxx such
//   as access denied or not supported); the runtime's when the request cannot be sent or
//   answered (no transport, no reply, too large for one event); kBadReply for a reply that
//   does not read as the request's.
// - Change notifications (kDirChanged) reach the console's host, which hands them to the
//   directory service (zel::dir::DeliverChange); they may arrive on any thread.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

#include "backend.h"
#include "zel/protocol/farm_directory.h"

namespace zel::dir {

class FarmStore final : public Store {
 public:
  explicit FarmStore(ZEL_PIF_ISubSystem& host) : host_(host) {}

  int32_t bindContext(std::u16string_view key, bool byName, uint32_t* id) override;
  int32_t createContext(std::u16string_view name, std::u16string_view dn) override;
  // Not offered: kNotSupported.
  int32_t contextName(uint32_t id, std::u16string* name) override;

  int32_t begin() override { return 0; }
  int32_t commit() override { return 0; }
  void rollback() override {}
  Scopes scopes() const override { return Scopes::kRefused; }

  int32_t findByDN(uint32_t context, std::u16string_view dn, EntryHead* head) override;
  int32_t findByUID(uint64_t uid, EntryHead* head) override;
  int32_t load(uint64_t uid, StoredEntry* entry) override;
  int32_t insert(uint32_t context, std::u16string_view dn, std::u16string_view className,
                 const std::vector<StoredValue>& values, uint64_t* uid,
                 std::u16string* madeDN) override;
  int32_t replaceValues(uint64_t uid, const std::vector<std::u16string>& attributes,
                        const std::vector<StoredValue>& values) override;
  int32_t remove(uint64_t uid) override;
  // Every page of the server's search; a query with `after` or `limit` is kNotSupported (the
  // server pages by its own cookie).
  int32_t search(const SearchQuery& query, std::vector<StoredEntry>* matches) override;

  int32_t changeNumber(uint32_t context, uint64_t* number) override;
  int32_t changesSince(uint32_t context, uint64_t since, uint32_t maxCount,
                       std::vector<Change>* changes, bool* more) override;
  int32_t subscribe(uint32_t context, ChangeListener listener, uint32_t* subscription) override;
  int32_t unsubscribe(uint32_t subscription) override;
  // The server's store changes behind the console's back: kNotSupported, so that nobody keeps
  // what it read on the strength of a stamp.
  int32_t changeStamp(ZEL_DIR_ChangeStamp* stamp) override;
  // A kDirChanged notification: its listener hears it. kInvalidArgument for another event or
  // an unknown subscription, kBadReply for one that does not read.
  int32_t deliver(const ZEL_BUF_EventBuffer& notification) override;

 private:
  // Sends `request` and reads the reply into *reply: the reply's result, or why there is none.
  template <class Request, class Reply>
  int32_t exchange(const Request& request, Reply* reply);
  // Reads the entry `name` names, keeping it for the load that follows.
  int32_t fetch(const zel::protocol::DirEntryName& name, EntryHead* head);

  ZEL_PIF_ISubSystem& host_;
  std::optional<StoredEntry> fetched_;            // the entry the last lookup read
  std::mutex listenersMutex_;                     // deliver may run on the transport's thread
  std::map<uint32_t, ChangeListener> listeners_;  // by the server's subscription ID
};

}  // namespace zel::dir
