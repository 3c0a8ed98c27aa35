// The consoles' `farm:` store: the directory operations of ours (events 1009 to 1019) run on the
// server's store, for a caller with the privilege, on the library's contexts only.
//
// - Every operation needs read-farm; a change needs the privilege of the context it changes as
//   well (objects: change-tree; icons: manage-icons; plug-ins: manage-plugins). The library's
//   root context, which the library binds (and creates) before any of the others and which
//   holds none of its entries, may be created with any of the three; entries in it need
//   change-tree.
// - A context that is not one of the library's is kNotSupported, whether named or given by ID;
//   an entry found by UID outside them is kNoSuchEntry, as if it did not exist.
// - Entries are written through ZEL_DIR_Entry, so every rule of the directory (names, classes,
//   text values) holds as for a local caller; a write finds its entry and changes it in one
//   transaction.
// - Searches are paged: a reply holds at most the entries asked for and never more than one
//   event holds; its cookie is where the next page starts.
//
//   cookie = version:u8 (1) lastDN:UTF-16LE units (no length, no terminator)
//
// - Subscribers are kept per context; after each committed change of a library context every
//   subscriber of that context is posted kDirChanged (from UID 22 to the subscriber's UID, on
//   the connection it subscribed over). A subscriber that cannot be reached any more, or whose
//   connection closed, is forgotten.
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "zel/directory/codes.h"
#include "zel/directory/entry.h"
#include "zel/directory/records.h"
#include "zel/directory/transaction.h"
#include "zel/protocol/farm_directory.h"
#include "zel/runtime/codes.h"
#include "zel/subsystem/codes.h"
#include "zel/subsystem/handlers.h"

namespace zel::subsystem {

namespace {

namespace proto = zel::protocol;

constexpr uint8_t kCookieVersion = 1;
// Entries read from the store at a time while a page fills: few at first, then as many as the
// room left would hold at the largest size seen, so that what is read beyond the page stays
// small whatever the entries weigh.
constexpr uint32_t kFirstChunk = 8;
constexpr uint32_t kLargestChunk = 256;
constexpr uint8_t kSubtreeScope = 2;  // ZEL_DIR_SearchHelper::kSubtree

// The library's contexts (its directory Parts bind them by these names) and what changing
// each needs.
struct LibraryContext {
  std::u16string_view name;
  Privilege write;
};
constexpr LibraryContext kLibraryContexts[] = {
    {u"AdminToolContext", Privilege::kChangeTree},
    {u"AdminToolObjectContext", Privilege::kChangeTree},
    {u"AdminToolIconContext", Privilege::kManageIcons},
    {u"AdminToolPluginContext", Privilege::kManagePlugins},
};

constexpr std::u16string_view kLibraryRoot = u"AdminToolContext";

const LibraryContext* LibraryContextNamed(std::u16string_view name) {
  for (const LibraryContext& context : kLibraryContexts) {
    if (context.name == name) return &context;
  }
  return nullptr;
}

// The library context with this ID, or kNotSupported (any other context, or none).
int32_t LibraryContextOf(Context& ctx, uint32_t id, const LibraryContext** out) {
  std::u16string name;
  const int32_t named = zel::dir::ContextName(ctx.directory, id, &name);
  if (named == zel::dir::kNoSuchContext) return kNotSupported;
  if (named != 0) return named;
  *out = LibraryContextNamed(name);
  return *out != nullptr ? 0 : kNotSupported;
}

std::string NameText(const proto::DirEntryName& name) {
  if (name.by == proto::DirEntryName::kByUID) return proto::ShowUID(name.uid);
  return proto::ShowText(name.dn);
}

// The entry `name` names, in a library context.
int32_t Locate(Context& ctx, const proto::DirEntryName& name, zel::dir::StoredEntry* entry,
               const LibraryContext** reach) {
  zel::dir::EntryName lookup;
  lookup.byUID = name.by == proto::DirEntryName::kByUID;
  if (lookup.byUID) {
    lookup.uid = name.uid;
  } else {
    lookup.context = name.context;
    lookup.dn = std::u16string(name.dn.view());
    if (const int32_t reached = LibraryContextOf(ctx, name.context, reach)) return reached;
  }
  if (const int32_t found = zel::dir::GetEntry(ctx.directory, lookup, entry)) return found;
  if (!lookup.byUID) return 0;
  // Outside the library's contexts an entry is not there for `farm:`.
  const int32_t reached = LibraryContextOf(ctx, entry->context, reach);
  return reached == kNotSupported ? zel::dir::kNoSuchEntry : reached;
}

proto::DirEntry ToWire(const zel::dir::StoredEntry& entry) {
  proto::DirEntry wire;
  wire.uid = entry.uid;
  wire.context = entry.context;
  wire.dn = ZELString(entry.dn);
  wire.className = ZELString(entry.className);
  for (const zel::dir::StoredValue& value : entry.values) {
    if (wire.attributes.empty() || wire.attributes.back().name.view() != value.attribute) {
      wire.attributes.push_back(proto::DirAttribute{ZELString(value.attribute), {}});
    }
    wire.attributes.back().values.push_back(
        proto::DirValue{ZELString(value.typeName), value.typeCode, value.bytes});
  }
  return wire;
}

proto::DirChange ToWire(const zel::dir::Change& change) {
  return proto::DirChange{change.number, change.kind, change.uid, ZELString(change.dn)};
}

// Adds the request's attributes to `entry` (replacing what it holds of each).
void PutAttributes(ZEL_DIR_Entry& entry, const std::vector<proto::DirAttribute>& attributes) {
  for (const proto::DirAttribute& attribute : attributes) {
    entry.DeleteAllValues(attribute.name.getName());
    for (const proto::DirValue& value : attribute.values) {
      entry.AddValue(attribute.name.getName(), value.type.getName(), value.typeCode,
                     value.bytes.data(), static_cast<uint32_t>(value.bytes.size()));
    }
  }
}

std::vector<uint8_t> CookieAfter(std::u16string_view dn) {
  std::vector<uint8_t> cookie{kCookieVersion};
  for (const char16_t unit : dn) {
    cookie.push_back(static_cast<uint8_t>(unit & 0xFF));
    cookie.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return cookie;
}

bool ReadCookie(const std::vector<uint8_t>& cookie, std::u16string* after) {
  after->clear();
  if (cookie.empty()) return true;
  if (cookie[0] != kCookieVersion || cookie.size() % 2 != 1) return false;
  for (std::size_t i = 1; i < cookie.size(); i += 2) {
    after->push_back(static_cast<char16_t>(cookie[i] | (cookie[i + 1] << 8)));
  }
  return true;
}

// --- Subscriptions ---------------------------------------------------------------------------

struct Subscriber {
  uint64_t connection = 0;
  uint16_t uid = 0;
  uint32_t context = 0;
};

// The subscribers of every context; the handlers and the store's listeners share it (both run
// under the subsystem's lock).
struct Subscriptions {
  std::map<uint32_t, Subscriber> subscribers;  // by the subscription ID handed out
  std::map<uint32_t, uint32_t> listening;      // context -> the store's subscription
  uint32_t last = 0;

  void Notify(ZEL_PIF_ISubSystem& host, uint32_t context, const zel::dir::Change& change) {
    zel::rt::EventTransport* transport = host.GetEventTransport();
    std::vector<uint32_t> gone;
    for (const auto& [id, subscriber] : subscribers) {
      if (subscriber.context != context || transport == nullptr) continue;
      proto::DirChangedNotification changed{id, context, ToWire(change)};
      auto* event = new (std::nothrow)
          ZEL_BUF_EventBuffer(proto::event::kDirChanged, ZELVersion(1, 0),
                              static_cast<uint32_t>(proto::EncodedSize(changed)));
      if (event == nullptr) continue;
      event->SetSrcSubsystemUID(proto::kAdminToolSubsystemUID);
      event->SetDestSubsystemUID(subscriber.uid);
      try {
        proto::Encode(changed, *event);
      } catch (const ZEL_BUF_AppendException&) {
        delete event;
        continue;
      }
      if (transport->PostTo(subscriber.connection, event) == zel::rt::kNoSuchSubsystem)
        gone.push_back(id);
    }
    for (const uint32_t id : gone) subscribers.erase(id);
  }
};

// --- Handlers --------------------------------------------------------------------------------

int32_t BindContext(Context& ctx, Call& call) {
  proto::DirBindContextRequest request;
  proto::Decode(call.in, request);
  ExpectEnd(call.in);
  if (const int32_t denied = ctx.authoriser.Require(call.caller, Privilege::kReadFarm)) {
    return denied;
  }
  const std::u16string_view name = request.name.view();
  if (!name.empty() && name.front() == u'&' && LibraryContextNamed(name.substr(1)) == nullptr) {
    return kNotSupported;
  }
  proto::DirBindContextReply reply;
  int32_t result = ctx.directory.BindLDAP(request.name, reply.context);
  const LibraryContext* reach = nullptr;
  if (result == 0) result = LibraryContextOf(ctx, reply.context, &reach);  // bound by DN
  if (result < 0) return result;
  WriteReplyOfOurs(call, reply, result);
  return result;
}

int32_t CreateContext(Context& ctx, Call& call) {
  proto::DirCreateContextRequest request;
  proto::Decode(call.in, request);
  ExpectEnd(call.in);
  call.what =
      "create context " + proto::ShowText(request.name) + " at " + proto::ShowText(request.dn);
  const LibraryContext* reach = LibraryContextNamed(request.name.view());
  if (reach == nullptr) return kNotSupported;
  int32_t allowed = ctx.authoriser.Require(call.caller, reach->write);
  if (reach->name == kLibraryRoot) {  // the first bind of whoever writes any of the others
    for (const LibraryContext& other : kLibraryContexts) {
      if (allowed == kAccessDenied) allowed = ctx.authoriser.Require(call.caller, other.write);
    }
  }
  if (allowed != 0) return allowed;
  return ctx.directory.CreateDataContext(request.name, request.dn);
}

int32_t AddEntry(Context& ctx, Call& call) {
  proto::DirAddEntryRequest request;
  proto::Decode(call.in, request);
  ExpectEnd(call.in);
  call.what = "add entry " + proto::ShowText(request.dn) + " of class " +
              proto::ShowText(request.className);
  if (const int32_t denied = ctx.authoriser.Require(call.caller, Privilege::kReadFarm)) {
    return denied;
  }
  const LibraryContext* reach = nullptr;
  if (const int32_t reached = LibraryContextOf(ctx, request.context, &reach)) return reached;
  if (const int32_t denied = ctx.authoriser.Require(call.caller, reach->write)) return denied;
  ZEL_DIR_Entry entry(&ctx.directory, request.dn, request.context, request.className.getName(), 0);
  PutAttributes(entry, request.attributes);
  const int32_t added = entry.Add();
  if (added < 0) return added;
  proto::DirAddEntryReply reply;
  reply.uid = entry.GetUID();
  reply.dn = entry.GetDN();
  WriteReplyOfOurs(call, reply, added);
  return added;
}

// Finds the entry and changes it by `change` in one transaction, after the caller's privilege
// for its context is checked.
template <typename Change>
int32_t ChangeEntry(Context& ctx, Call& call, const proto::DirEntryName& name, Change&& change) {
  if (const int32_t denied = ctx.authoriser.Require(call.caller, Privilege::kReadFarm)) {
    return denied;
  }
  ZEL_DIR_Transaction scope(&ctx.directory);
  if (scope.status() != 0) return scope.status();
  zel::dir::StoredEntry found;
  const LibraryContext* reach = nullptr;
  if (const int32_t located = Locate(ctx, name, &found, &reach)) return located;
  if (const int32_t denied = ctx.authoriser.Require(call.caller, reach->write)) return denied;
  ZEL_DIR_Entry entry(&ctx.directory, found.uid, found.className.c_str());
  if (const int32_t changed = change(entry)) return changed;
  return scope.Commit();
}

int32_t UpdateEntry(Context& ctx, Call& call) {
  proto::DirUpdateEntryRequest request;
  proto::Decode(call.in, request);
  ExpectEnd(call.in);
  call.what = "update entry " + NameText(request.entry);
  return ChangeEntry(ctx, call, request.entry, [&](ZEL_DIR_Entry& entry) {
    PutAttributes(entry, request.attributes);
    return entry.Update();
  });
}

int32_t DeleteEntry(Context& ctx, Call& call) {
  proto::DirDeleteEntryRequest request;
  proto::Decode(call.in, request);
  ExpectEnd(call.in);
  call.what = "delete entry " + NameText(request.entry);
  return ChangeEntry(ctx, call, request.entry,
                     [](ZEL_DIR_Entry& entry) { return entry.DelEntry(); });
}

int32_t GetEntry(Context& ctx, Call& call) {
  proto::DirGetEntryRequest request;
  proto::Decode(call.in, request);
  ExpectEnd(call.in);
  if (const int32_t denied = ctx.authoriser.Require(call.caller, Privilege::kReadFarm)) {
    return denied;
  }
  zel::dir::StoredEntry entry;
  const LibraryContext* reach = nullptr;
  if (const int32_t located = Locate(ctx, request.entry, &entry, &reach)) return located;
  proto::DirGetEntryReply reply;
  reply.entry = ToWire(entry);
  WriteReplyOfOurs(call, reply, 0);
  return 0;
}

int32_t Search(Context& ctx, Call& call) {
  proto::DirSearchRequest request;
  proto::Decode(call.in, request);
  ExpectEnd(call.in);
  if (const int32_t denied = ctx.authoriser.Require(call.caller, Privilege::kReadFarm)) {
    return denied;
  }
  const LibraryContext* reach = nullptr;
  if (const int32_t reached = LibraryContextOf(ctx, request.context, &reach)) return reached;
  if (request.scope != proto::DirSearchRequest::kOneLevel && request.scope != kSubtreeScope) {
    return zel::dir::kUnsupportedSearch;
  }
  // "ATTRIBUTE=value", as ZEL_DIR_SearchHelper reads it.
  std::u16string attribute, text;
  if (!request.filter.isEmpty()) {
    const std::u16string_view filter = request.filter.view();
    const std::size_t equals = filter.find(u'=');
    if (equals == std::u16string_view::npos || equals == 0) return zel::dir::kUnsupportedSearch;
    attribute = filter.substr(0, equals);
    text = filter.substr(equals + 1);
  }
  std::u16string after;
  if (!ReadCookie(request.cookie, &after)) return kInvalidRequest;

  // result, the entries' count, the cookie's length; then each entry and the cookie's bytes.
  proto::DirSearchReply reply;
  uint64_t size = 4 + 4 + 4;
  bool more = true;
  uint64_t largest = 0;
  for (bool full = false; !full;) {
    uint64_t wanted = largest == 0 ? kFirstChunk : (proto::kMaxPayload - size) / largest + 1;
    wanted = std::clamp<uint64_t>(wanted, kFirstChunk, kLargestChunk);
    if (request.maxEntries != 0) {  // one more than fits tells whether others follow
      wanted = std::min<uint64_t>(wanted, request.maxEntries - reply.entries.size() + 1);
    }
    std::vector<zel::dir::StoredEntry> chunk;
    const int32_t searched =
        zel::dir::SearchPage(ctx.directory, request.context, std::u16string(request.baseDN.view()),
                             request.scope == kSubtreeScope, attribute, text, after,
                             static_cast<uint32_t>(wanted), &chunk);
    if (searched != 0) return searched;
    for (const zel::dir::StoredEntry& entry : chunk) {
      if (request.maxEntries != 0 && reply.entries.size() == request.maxEntries) {
        full = true;
        break;
      }
      proto::DirEntry wire = ToWire(entry);
      const uint64_t entrySize = proto::EncodedSize(wire);
      largest = std::max(largest, entrySize);
      const uint64_t grown = size + entrySize;
      if (grown + 1 + 2 * entry.dn.size() > proto::kMaxPayload) {
        if (reply.entries.empty()) return kReplyTooLarge;  // one entry alone does not fit
        full = true;
        break;
      }
      size = grown;
      reply.entries.push_back(std::move(wire));
      after = entry.dn;
    }
    if (!full && chunk.size() < wanted) {
      more = false;
      break;
    }
  }
  if (more) reply.cookie = CookieAfter(after);
  WriteReplyOfOurs(call, reply, 0);
  return 0;
}

int32_t ChangeNumber(Context& ctx, Call& call) {
  proto::DirChangeNumberRequest request;
  proto::Decode(call.in, request);
  ExpectEnd(call.in);
  if (const int32_t denied = ctx.authoriser.Require(call.caller, Privilege::kReadFarm)) {
    return denied;
  }
  const LibraryContext* reach = nullptr;
  if (const int32_t reached = LibraryContextOf(ctx, request.context, &reach)) return reached;
  proto::DirChangeNumberReply reply;
  if (const int32_t read =
          zel::dir::ChangeNumber(ctx.directory, request.context, &reply.changeNumber)) {
    return read;
  }
  WriteReplyOfOurs(call, reply, 0);
  return 0;
}

int32_t ChangeInfo(Context& ctx, Call& call) {
  proto::DirChangeInfoRequest request;
  proto::Decode(call.in, request);
  ExpectEnd(call.in);
  if (const int32_t denied = ctx.authoriser.Require(call.caller, Privilege::kReadFarm)) {
    return denied;
  }
  const LibraryContext* reach = nullptr;
  if (const int32_t reached = LibraryContextOf(ctx, request.context, &reach)) return reached;
  proto::DirChangeInfoReply reply;
  std::vector<zel::dir::Change> changes;
  bool more = false;
  int32_t status = zel::dir::ChangeNumber(ctx.directory, request.context, &reply.changeNumber);
  if (status == 0) {
    status = zel::dir::ChangesSince(ctx.directory, request.context, request.since, request.maxCount,
                                    &changes, &more);
  }
  if (status != 0) return status;
  // result, changeNumber, the count, more; then the changes that fit.
  uint64_t size = 4 + 8 + 4 + 1;
  for (const zel::dir::Change& change : changes) {
    proto::DirChange wire = ToWire(change);
    size += proto::EncodedSize(wire);
    if (size > proto::kMaxPayload) {
      more = true;
      break;
    }
    reply.changes.push_back(std::move(wire));
  }
  reply.more = more ? 1 : 0;
  WriteReplyOfOurs(call, reply, 0);
  return 0;
}

int32_t Subscribe(const std::shared_ptr<Subscriptions>& state, Context& ctx, Call& call) {
  proto::DirSubscribeRequest request;
  proto::Decode(call.in, request);
  ExpectEnd(call.in);
  if (const int32_t denied = ctx.authoriser.Require(call.caller, Privilege::kReadFarm)) {
    return denied;
  }
  const LibraryContext* reach = nullptr;
  if (const int32_t reached = LibraryContextOf(ctx, request.context, &reach)) return reached;
  if (state->listening.count(request.context) == 0) {
    uint32_t listening = 0;
    const int32_t subscribed = zel::dir::Subscribe(
        ctx.directory, request.context,
        [state, &host = ctx.host](uint32_t context, const zel::dir::Change& change) {
          state->Notify(host, context, change);
        },
        &listening);
    if (subscribed != 0) return subscribed;
    state->listening[request.context] = listening;
  }
  proto::DirSubscribeReply reply;
  reply.subscription = ++state->last;
  state->subscribers[reply.subscription] =
      Subscriber{call.caller.connection, call.caller.sourceUID, request.context};
  WriteReplyOfOurs(call, reply, 0);
  return 0;
}

int32_t Unsubscribe(const std::shared_ptr<Subscriptions>& state, Context& /*ctx*/, Call& call) {
  proto::DirUnsubscribeRequest request;
  proto::Decode(call.in, request);
  ExpectEnd(call.in);
  // Only its subscriber ends a subscription.
  const auto found = state->subscribers.find(request.subscription);
  if (found == state->subscribers.end() || found->second.connection != call.caller.connection ||
      found->second.uid != call.caller.sourceUID) {
    return kInvalidRequest;
  }
  state->subscribers.erase(found);
  return 0;
}

}  // namespace

void RegisterDirectoryHandlers(DispatchTable& table) {
  namespace ev = proto::event;
  table.Add(ev::kDirBindContext, Effect::kReads, BindContext);
  table.Add(ev::kDirCreateContext, Effect::kChanges, CreateContext);
  table.Add(ev::kDirAddEntry, Effect::kChanges, AddEntry);
  table.Add(ev::kDirUpdateEntry, Effect::kChanges, UpdateEntry);
  table.Add(ev::kDirDeleteEntry, Effect::kChanges, DeleteEntry);
  table.Add(ev::kDirGetEntry, Effect::kReads, GetEntry);
  table.Add(ev::kDirSearch, Effect::kReads, Search);
  table.Add(ev::kDirChangeNumber, Effect::kReads, ChangeNumber);
  table.Add(ev::kDirChangeInfo, Effect::kReads, ChangeInfo);
  const auto state = std::make_shared<Subscriptions>();
  table.Add(ev::kDirSubscribe, Effect::kReads,
            [state](Context& ctx, Call& call) { return Subscribe(state, ctx, call); });
  table.Add(ev::kDirUnsubscribe, Effect::kReads,
            [state](Context& ctx, Call& call) { return Unsubscribe(state, ctx, call); });
  table.OnConnectionClosed([state](uint64_t connection) {
    std::erase_if(state->subscribers,
                  [connection](const auto& item) { return item.second.connection == connection; });
  });
}

}  // namespace zel::subsystem
