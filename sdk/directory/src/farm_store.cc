#include "farm_store.h"

#include <memory>
#include <utility>

#include "zel/directory/codes.h"
#include "zel/protocol/result_reply.h"
#include "zel/runtime/codes.h"
#include "zel/runtime/reader.h"

namespace zel::dir {

namespace proto = zel::protocol;

namespace {

constexpr ZELVersion kRequestVersion{1, 0};
// The search scope that takes every depth below the base (ZEL_DIR_SearchHelper::kSubtree).
constexpr uint8_t kSubtreeScope = 2;

ZELString Wire(std::u16string_view text) { return ZELString(std::u16string(text)); }

// Values, attribute by attribute, as the wire groups them.
std::vector<proto::DirAttribute> Grouped(const std::vector<StoredValue>& values) {
  std::vector<proto::DirAttribute> attributes;
  for (const StoredValue& value : values) {
    if (attributes.empty() || attributes.back().name.view() != value.attribute) {
      attributes.push_back(proto::DirAttribute{Wire(value.attribute), {}});
    }
    attributes.back().values.push_back(
        proto::DirValue{Wire(value.typeName), value.typeCode, value.bytes});
  }
  return attributes;
}

StoredEntry FromWire(proto::DirEntry&& entry) {
  StoredEntry stored{entry.uid,
                     entry.context,
                     std::u16string(entry.dn.view()),
                     std::u16string(entry.className.view()),
                     {}};
  for (proto::DirAttribute& attribute : entry.attributes) {
    for (proto::DirValue& value : attribute.values) {
      stored.values.push_back(StoredValue{std::u16string(attribute.name.view()),
                                          std::u16string(value.type.view()), value.typeCode,
                                          std::move(value.bytes)});
    }
  }
  return stored;
}

Change FromWire(const proto::DirChange& change) {
  return Change{change.changeNumber, change.kind, change.uid, std::u16string(change.dn.view())};
}

proto::DirEntryName ByUID(uint64_t uid) {
  proto::DirEntryName name;
  name.by = proto::DirEntryName::kByUID;
  name.uid = uid;
  return name;
}

}  // namespace

template <class Request, class Reply>
int32_t FarmStore::exchange(const Request& request, Reply* reply) {
  const auto hint = static_cast<uint32_t>(proto::EncodedSize(request));
  ZEL_BUF_EventBuffer2* event = CreateSALEvent2(Request::kEventID, kRequestVersion, hint,
                                                static_cast<uint16_t>(host_.GetSubsystemUID()),
                                                proto::kAdminToolSubsystemUID, 0);
  if (event == nullptr) return zel::rt::kNoMemory;
  try {
    proto::Encode(request, *event);
  } catch (const ZEL_BUF_AppendException& e) {
    delete event;
    return e.code();
  }
  ZEL_BUF_EventBuffer* answer = nullptr;
  const int32_t sent = SendSALEvent2(event, &answer, host_, 0);
  if (sent < 0) return sent;
  std::unique_ptr<ZEL_BUF_EventBuffer> owned(answer);
  if (owned == nullptr || owned->GetEventID() != Request::kEventID) return kBadReply;
  ZEL_BUF_BufferReader in(owned.get(), 0);
  try {
    proto::Decode(in, *reply);
  } catch (const ZEL_BUF_ReadException&) {
    return kBadReply;
  }
  return in.GetRemaining() == 0 ? reply->result : kBadReply;
}

int32_t FarmStore::bindContext(std::u16string_view key, bool byName, uint32_t* id) {
  proto::DirBindContextRequest request;
  request.name = Wire(byName ? u"&" + std::u16string(key) : std::u16string(key));
  proto::DirBindContextReply reply;
  const int32_t result = exchange(request, &reply);
  if (result == 0) *id = reply.context;
  return result;
}

int32_t FarmStore::createContext(std::u16string_view name, std::u16string_view dn) {
  proto::DirCreateContextRequest request{Wire(name), Wire(dn)};
  proto::ResultReply reply;
  return exchange(request, &reply);
}

int32_t FarmStore::contextName(uint32_t /*id*/, std::u16string* /*name*/) { return kNotSupported; }

int32_t FarmStore::fetch(const proto::DirEntryName& name, EntryHead* head) {
  fetched_.reset();
  proto::DirGetEntryRequest request{name};
  proto::DirGetEntryReply reply;
  const int32_t result = exchange(request, &reply);
  if (result != 0) return result;
  StoredEntry entry = FromWire(std::move(reply.entry));
  if (entry.dn.find(u'\0') != std::u16string::npos) return kBadReply;
  *head = EntryHead{entry.uid, entry.context, entry.className};
  fetched_ = std::move(entry);
  return 0;
}

int32_t FarmStore::findByDN(uint32_t context, std::u16string_view dn, EntryHead* head) {
  proto::DirEntryName name;
  name.by = proto::DirEntryName::kByDN;
  name.context = context;
  name.dn = Wire(dn);
  return fetch(name, head);
}

int32_t FarmStore::findByUID(uint64_t uid, EntryHead* head) { return fetch(ByUID(uid), head); }

int32_t FarmStore::load(uint64_t uid, StoredEntry* entry) {
  if (fetched_ && fetched_->uid == uid) {
    *entry = std::move(*fetched_);
    fetched_.reset();
    return 0;
  }
  EntryHead head;
  if (const int32_t found = fetch(ByUID(uid), &head)) return found;
  return load(uid, entry);
}

int32_t FarmStore::insert(uint32_t context, std::u16string_view dn, std::u16string_view className,
                          const std::vector<StoredValue>& values, uint64_t* uid,
                          std::u16string* madeDN) {
  fetched_.reset();
  proto::DirAddEntryRequest request{context, Wire(dn), Wire(className), Grouped(values)};
  proto::DirAddEntryReply reply;
  const int32_t result = exchange(request, &reply);
  if (result == 0) {
    *uid = reply.uid;
    *madeDN = std::u16string(reply.dn.view());
  }
  return result;
}

int32_t FarmStore::replaceValues(uint64_t uid, const std::vector<std::u16string>& attributes,
                                 const std::vector<StoredValue>& values) {
  fetched_.reset();
  proto::DirUpdateEntryRequest request{ByUID(uid), {}};
  // Every attribute named, with its values (none: the attribute goes).
  const std::vector<proto::DirAttribute> grouped = Grouped(values);
  for (const std::u16string& attribute : attributes) {
    request.attributes.push_back(proto::DirAttribute{Wire(attribute), {}});
    for (const proto::DirAttribute& with : grouped) {
      if (with.name.view() == attribute) request.attributes.back().values = with.values;
    }
  }
  proto::ResultReply reply;
  return exchange(request, &reply);
}

int32_t FarmStore::remove(uint64_t uid) {
  fetched_.reset();
  proto::DirDeleteEntryRequest request{ByUID(uid)};
  proto::ResultReply reply;
  return exchange(request, &reply);
}

int32_t FarmStore::search(const SearchQuery& query, std::vector<StoredEntry>* matches) {
  if (!query.after.empty() || query.limit != 0) return kNotSupported;
  proto::DirSearchRequest request;
  request.context = query.context;
  request.baseDN = Wire(query.base);
  request.scope = query.subtree ? kSubtreeScope : proto::DirSearchRequest::kOneLevel;
  if (!query.attribute.empty()) {
    request.filter = Wire(std::u16string(query.attribute) + u"=" + std::u16string(query.text));
  }
  do {
    proto::DirSearchReply reply;
    if (const int32_t result = exchange(request, &reply)) return result < 0 ? result : kBadReply;
    for (proto::DirEntry& entry : reply.entries) {
      matches->push_back(FromWire(std::move(entry)));
      if (matches->back().dn.find(u'\0') != std::u16string::npos) return kBadReply;
    }
    // A server that answers a cookie with nothing read would have us ask for ever.
    if (!reply.cookie.empty() && reply.entries.empty()) return kBadReply;
    request.cookie = std::move(reply.cookie);
  } while (!request.cookie.empty());
  return 0;
}

int32_t FarmStore::changeNumber(uint32_t context, uint64_t* number) {
  proto::DirChangeNumberRequest request{context};
  proto::DirChangeNumberReply reply;
  const int32_t result = exchange(request, &reply);
  if (result == 0) *number = reply.changeNumber;
  return result;
}

int32_t FarmStore::changesSince(uint32_t context, uint64_t since, uint32_t maxCount,
                                std::vector<Change>* changes, bool* more) {
  proto::DirChangeInfoRequest request{context, since, maxCount};
  proto::DirChangeInfoReply reply;
  const int32_t result = exchange(request, &reply);
  if (result != 0) return result;
  for (const proto::DirChange& change : reply.changes) changes->push_back(FromWire(change));
  *more = reply.more != 0;
  return 0;
}

int32_t FarmStore::subscribe(uint32_t context, ChangeListener listener, uint32_t* subscription) {
  // A notification that comes (on another thread) before the reply waits for the lock, so it
  // finds its listener.
  proto::DirSubscribeRequest request{context};
  proto::DirSubscribeReply reply;
  std::lock_guard<std::mutex> lock(listenersMutex_);
  const int32_t result = exchange(request, &reply);
  if (result != 0) return result;
  listeners_.insert_or_assign(reply.subscription, std::move(listener));
  *subscription = reply.subscription;
  return 0;
}

int32_t FarmStore::unsubscribe(uint32_t subscription) {
  proto::DirUnsubscribeRequest request{subscription};
  proto::ResultReply reply;
  const int32_t result = exchange(request, &reply);
  std::lock_guard<std::mutex> lock(listenersMutex_);
  listeners_.erase(subscription);  // the server forgets it either way, or never knew it
  return result;
}

int32_t FarmStore::changeStamp(ZEL_DIR_ChangeStamp* /*stamp*/) { return kNotSupported; }

int32_t FarmStore::deliver(const ZEL_BUF_EventBuffer& notification) {
  if (notification.GetEventID() != proto::event::kDirChanged) return kInvalidArgument;
  proto::DirChangedNotification changed;
  ZEL_BUF_BufferReader in(const_cast<ZEL_BUF_EventBuffer*>(&notification), 0);
  try {
    proto::Decode(in, changed);
  } catch (const ZEL_BUF_ReadException&) {
    return kBadReply;
  }
  if (in.GetRemaining() != 0) return kBadReply;
  ChangeListener listener;
  {
    std::lock_guard<std::mutex> lock(listenersMutex_);
    const auto found = listeners_.find(changed.subscription);
    if (found == listeners_.end()) return kInvalidArgument;
    listener = found->second;
  }
  listener(changed.context, FromWire(changed.change));
  return 0;
}

}  // namespace zel::dir
