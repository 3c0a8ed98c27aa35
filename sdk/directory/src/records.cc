#include "zel/directory/records.h"

#include "backend.h"
#include "names.h"
#include "zel/directory/codes.h"

namespace zel::dir {

namespace {

// Runs `operation` on the service's open store; why there is none otherwise.
template <typename Operation>
int32_t OnStore(ZEL_DIR_ServiceInterface& service, Operation&& operation) {
  int32_t code = 0;
  Store* store = service.OpenStore(&code);
  return store != nullptr ? operation(*store) : code;
}

}  // namespace

int32_t ContextName(ZEL_DIR_ServiceInterface& service, uint32_t id, std::u16string* name) {
  return OnStore(service, [&](Store& store) { return store.contextName(id, name); });
}

int32_t GetEntry(ZEL_DIR_ServiceInterface& service, const EntryName& name, StoredEntry* entry) {
  if (!name.byUID && !IsWellFormedDN(name.dn)) return kMalformedName;
  return OnStore(service, [&](Store& store) {
    EntryHead head;
    const int32_t found = name.byUID ? store.findByUID(name.uid, &head)
                                     : store.findByDN(name.context, name.dn, &head);
    return found != 0 ? found : store.load(head.uid, entry);
  });
}

int32_t SearchPage(ZEL_DIR_ServiceInterface& service, uint32_t context,
                   const std::u16string& baseDN, bool subtree, const std::u16string& attribute,
                   const std::u16string& text, const std::u16string& after, uint32_t limit,
                   std::vector<StoredEntry>* entries) {
  if (!IsWellFormedDN(baseDN)) return kMalformedName;
  return OnStore(service, [&](Store& store) {
    SearchQuery query;
    query.context = context;
    query.base = baseDN;
    query.subtree = subtree;
    query.attribute = attribute;
    query.text = text;
    query.after = after;
    query.limit = limit;
    return store.search(query, entries);
  });
}

int32_t ChangeNumber(ZEL_DIR_ServiceInterface& service, uint32_t context, uint64_t* number) {
  return OnStore(service, [&](Store& store) { return store.changeNumber(context, number); });
}

int32_t ChangesSince(ZEL_DIR_ServiceInterface& service, uint32_t context, uint64_t since,
                     uint32_t maxCount, std::vector<Change>* changes, bool* more) {
  return OnStore(service, [&](Store& store) {
    return store.changesSince(context, since, maxCount, changes, more);
  });
}

int32_t Subscribe(ZEL_DIR_ServiceInterface& service, uint32_t context, ChangeListener listener,
                  uint32_t* subscription) {
  if (!listener) return kInvalidArgument;
  return OnStore(service, [&](Store& store) {
    return store.subscribe(context, std::move(listener), subscription);
  });
}

int32_t Unsubscribe(ZEL_DIR_ServiceInterface& service, uint32_t subscription) {
  return OnStore(service, [&](Store& store) { return store.unsubscribe(subscription); });
}

int32_t PollChanges(ZEL_DIR_ServiceInterface& service) {
  return OnStore(service, [](Store& store) { return store.poll(); });
}

int32_t EntryChange(ZEL_DIR_ServiceInterface& service, uint32_t context, const std::u16string& dn,
                    uint64_t* uid, uint64_t* number) {
  if (!IsWellFormedDN(dn)) return kMalformedName;
  return OnStore(service,
                 [&](Store& store) { return store.entryChange(context, dn, uid, number); });
}

int32_t DeliverChange(ZEL_DIR_ServiceInterface& service, const ZEL_BUF_EventBuffer& notification) {
  return OnStore(service, [&](Store& store) { return store.deliver(notification); });
}

}  // namespace zel::dir
