#include "zel/directory/service.h"

#include <algorithm>
#include <utility>

#include "backend.h"
#include "names.h"
#include "zel/directory/codes.h"
#include "zel/directory/entry.h"
#include "zel/directory/records.h"
#include "zel/runtime/alloc.h"

namespace {

using zel::dir::StoredEntry;
using zel::dir::StoredValue;
using Values = ZEL_PS_LDAPSAL::Values;

// An entry of any class whose values are written as given: the operations by UID and DN go
// through the entry class, so they keep its rules (names, text values, class and context).
class GenericEntry final : public ZEL_DIR_Entry {
 public:
  GenericEntry(ZEL_DIR_ServiceInterface* service, const ZELString& dn, uint32_t context,
               const ZELString& className)
      : ZEL_DIR_Entry(service, dn, context, Class(className).c_str(), 0) {}
  GenericEntry(ZEL_DIR_ServiceInterface* service, uint64_t uid, const ZELString& className)
      : ZEL_DIR_Entry(service, uid, Class(className).c_str()) {}

  // Gives `attribute` exactly `values` (those of other attributes among them are ignored).
  int32_t Put(const std::u16string& attribute, const ZEL_PS_LDAPSAL::Values& values) {
    DeleteAllValues(attribute.c_str());
    for (const StoredValue& value : values) {
      if (value.attribute != attribute) continue;
      const int32_t added = AddValue(attribute.c_str(), value.typeName.c_str(), value.typeCode,
                                     value.bytes.data(), static_cast<uint32_t>(value.bytes.size()));
      if (added != 0) return added;
    }
    return 0;
  }

 private:
  static std::u16string Class(const ZELString& className) {
    return std::u16string(className.view());
  }
};

// Each attribute named in `values`, once, in order of first appearance.
std::vector<std::u16string> AttributesOf(const Values& values) {
  std::vector<std::u16string> attributes;
  for (const StoredValue& value : values) {
    if (std::find(attributes.begin(), attributes.end(), value.attribute) == attributes.end()) {
      attributes.push_back(value.attribute);
    }
  }
  return attributes;
}

// The entry (by UID, or by DN in a context) read whole, checked against the class asked for.
int32_t Read(ZEL_DIR_ServiceInterface& service, const zel::dir::EntryName& name,
             const ZELString& className, StoredEntry* entry) {
  if (const int32_t read = zel::dir::GetEntry(service, name, entry)) return read;
  return entry->className == className.view() ? 0 : zel::dir::kNoSuchEntry;
}

zel::dir::EntryName ByUID(uint64_t uid) { return zel::dir::EntryName{true, uid, 0, {}}; }
zel::dir::EntryName ByDN(uint32_t context, const ZELString& dn) {
  return zel::dir::EntryName{false, 0, context, std::u16string(dn.view())};
}

// Syncs `entry`, lets `change` rework the values of `attribute` (the current ones in, the new
// ones out; a nonzero answer stops it), and updates the entry.
template <typename Change>
int32_t Rework(GenericEntry& entry, ZEL_DIR_ServiceInterface& service, const ZELString& className,
               const std::u16string& attribute, Change&& change) {
  if (const int32_t synced = entry.Sync()) return synced;
  StoredEntry stored;
  if (const int32_t read = Read(service, ByUID(entry.GetUID()), className, &stored)) return read;
  Values values;
  for (StoredValue& value : stored.values) {
    if (value.attribute == attribute) values.push_back(std::move(value));
  }
  if (const int32_t changed = change(&values)) return changed;
  if (const int32_t put = entry.Put(attribute, values)) return put;
  return entry.Update();
}

}  // namespace

ZEL_PS_LDAPSAL::ZEL_PS_LDAPSAL(ZEL_PIF_ISubSystem& host)
    : ZEL_DIR_ServiceInterface(&ZEL_PS_LDAPSAL::Open), host_(host) {}

ZEL_PS_LDAPSAL::~ZEL_PS_LDAPSAL() = default;

zel::dir::Store* ZEL_PS_LDAPSAL::Open(ZEL_DIR_ServiceInterface* self, int32_t* code) {
  auto* service = static_cast<ZEL_PS_LDAPSAL*>(self);
  if (service->store_) return service->store_.get();
  ZelPluginApiTable* table = service->host_.GetPluginApis();
  void* offered = nullptr;
  if (table == nullptr || table->AcquireInterface(kZelDirectoryStoreInterface, &offered) < 0 ||
      offered == nullptr) {
    *code = zel::dir::kNoStore;
    return nullptr;
  }
  const std::string location = static_cast<ZEL_DIR_StoreLocation*>(offered)->StorePath();
  table->ReleaseInterface(kZelDirectoryStoreInterface, offered);
  *code = zel::dir::OpenBackend(location, service->host_, &service->store_);
  return service->store_.get();
}

int32_t ZEL_PS_LDAPSAL::ChangeStamp(ZEL_DIR_ChangeStamp* stamp) {
  int32_t code = 0;
  zel::dir::Store* store = OpenStore(&code);
  if (store == nullptr) return code;
  if (const int32_t stamped = store->changeStamp(stamp)) return stamped;
  stamp->scopesEnded = store->scopesEnded();
  stamp->inScope = store->inScope();
  return 0;
}

int32_t ZEL_PS_LDAPSAL::InstallLDAP() { return Initialize(); }

int32_t ZEL_PS_LDAPSAL::BindLDAP(const ZELString& contextName, uint32_t& contextID) {
  if (contextName.isEmpty()) return zel::dir::kInvalidArgument;
  int32_t code = 0;
  zel::dir::Store* store = OpenStore(&code);
  if (store == nullptr) return code;
  const bool byName = contextName.view().front() == u'&';
  return store->bindContext(byName ? contextName.view().substr(1) : contextName.view(), byName,
                            &contextID);
}

int32_t ZEL_PS_LDAPSAL::RegObjectClass(const ZELString& className, const ZELString& attributes) {
  if (className.isEmpty() || className.view().find(u'\0') != std::u16string_view::npos) {
    return zel::dir::kInvalidArgument;
  }
  std::vector<std::u16string> names;
  std::u16string_view rest = attributes.view();
  while (!rest.empty()) {
    const std::size_t comma = std::min(rest.find(u','), rest.size());
    if (comma == 0) return zel::dir::kInvalidArgument;  // an empty name
    names.emplace_back(rest.substr(0, comma));
    rest.remove_prefix(std::min(comma + 1, rest.size()));
  }
  classes_[std::u16string(className.view())] = std::move(names);
  return 0;
}

int32_t ZEL_PS_LDAPSAL::allowed(const ZELString& className, const Values& values) const {
  const auto found = classes_.find(std::u16string(className.view()));
  if (found == classes_.end()) return 0;
  for (const StoredValue& value : values) {
    if (std::find(found->second.begin(), found->second.end(), value.attribute) ==
        found->second.end()) {
      return zel::dir::kInvalidArgument;
    }
  }
  return 0;
}

int32_t ZEL_PS_LDAPSAL::AddEntry(uint32_t contextID, const ZELString& dn,
                                 const ZELString& className, const Values& values, uint64_t& uid) {
  if (const int32_t refused = allowed(className, values)) return refused;
  GenericEntry entry(this, dn, contextID, className);
  for (const std::u16string& attribute : AttributesOf(values)) {
    if (const int32_t put = entry.Put(attribute, values)) return put;
  }
  const int32_t added = entry.Add();
  if (added == 0) uid = entry.GetUID();
  return added;
}

int32_t ZEL_PS_LDAPSAL::DelEntry(uint64_t uid, const ZELString& className) {
  return GenericEntry(this, uid, className).DelEntry();
}

int32_t ZEL_PS_LDAPSAL::DelEntry(uint32_t contextID, const ZELString& dn,
                                 const ZELString& className) {
  return GenericEntry(this, dn, contextID, className).DelEntry();
}

int32_t ZEL_PS_LDAPSAL::ReadEntry(uint64_t uid, const ZELString& className, StoredEntry& entry) {
  return Read(*this, ByUID(uid), className, &entry);
}

int32_t ZEL_PS_LDAPSAL::ReadEntry(uint32_t contextID, const ZELString& dn,
                                  const ZELString& className, StoredEntry& entry) {
  return Read(*this, ByDN(contextID, dn), className, &entry);
}

namespace {

int32_t UpdateWhole(GenericEntry& entry, const Values& values) {
  if (const int32_t synced = entry.Sync()) return synced;
  for (const std::u16string& attribute : AttributesOf(values)) {
    if (const int32_t put = entry.Put(attribute, values)) return put;
  }
  return entry.Update();
}

}  // namespace

int32_t ZEL_PS_LDAPSAL::UpdateEntry(uint64_t uid, const ZELString& className,
                                    const Values& values) {
  if (const int32_t refused = allowed(className, values)) return refused;
  GenericEntry entry(this, uid, className);
  return UpdateWhole(entry, values);
}

int32_t ZEL_PS_LDAPSAL::UpdateEntry(uint32_t contextID, const ZELString& dn,
                                    const ZELString& className, const Values& values) {
  if (const int32_t refused = allowed(className, values)) return refused;
  GenericEntry entry(this, dn, contextID, className);
  return UpdateWhole(entry, values);
}

int32_t ZEL_PS_LDAPSAL::DoesEntryExist(uint64_t uid, const ZELString& className) {
  StoredEntry entry;
  return ReadEntry(uid, className, entry);
}

int32_t ZEL_PS_LDAPSAL::DoesEntryExist(uint32_t contextID, const ZELString& dn,
                                       const ZELString& className) {
  StoredEntry entry;
  return ReadEntry(contextID, dn, className, entry);
}

namespace {

int32_t OnlyAttribute(const StoredEntry& entry, const ZELString& attribute, Values* values) {
  values->clear();
  for (const StoredValue& value : entry.values) {
    if (value.attribute == attribute.view()) values->push_back(value);
  }
  return 0;
}

}  // namespace

int32_t ZEL_PS_LDAPSAL::ReadAttribute(uint64_t uid, const ZELString& className,
                                      const ZELString& attribute, Values& values) {
  StoredEntry entry;
  if (const int32_t read = ReadEntry(uid, className, entry)) return read;
  return OnlyAttribute(entry, attribute, &values);
}

int32_t ZEL_PS_LDAPSAL::ReadAttribute(uint32_t contextID, const ZELString& dn,
                                      const ZELString& className, const ZELString& attribute,
                                      Values& values) {
  StoredEntry entry;
  if (const int32_t read = ReadEntry(contextID, dn, className, entry)) return read;
  return OnlyAttribute(entry, attribute, &values);
}

namespace {

// The values given to an attribute operation, each renamed to that attribute.
Values Renamed(const ZELString& attribute, Values values) {
  for (StoredValue& value : values) value.attribute = attribute.view();
  return values;
}

}  // namespace

int32_t ZEL_PS_LDAPSAL::UpdateAttribute(uint64_t uid, const ZELString& className,
                                        const ZELString& attribute, const Values& values) {
  const Values named = Renamed(attribute, values);
  if (attribute.isEmpty()) return zel::dir::kInvalidArgument;
  if (const int32_t refused = allowed(className, named)) return refused;
  GenericEntry entry(this, uid, className);
  return Rework(entry, *this, className, std::u16string(attribute.view()), [&](Values* current) {
    *current = named;
    return 0;
  });
}

int32_t ZEL_PS_LDAPSAL::UpdateAttribute(uint32_t contextID, const ZELString& dn,
                                        const ZELString& className, const ZELString& attribute,
                                        const Values& values) {
  const Values named = Renamed(attribute, values);
  if (attribute.isEmpty()) return zel::dir::kInvalidArgument;
  if (const int32_t refused = allowed(className, named)) return refused;
  GenericEntry entry(this, dn, contextID, className);
  return Rework(entry, *this, className, std::u16string(attribute.view()), [&](Values* current) {
    *current = named;
    return 0;
  });
}

namespace {

int32_t Append(const StoredValue& value, Values* current) {
  if (std::find(current->begin(), current->end(), value) != current->end()) {
    return zel::dir::kEntryExists;
  }
  current->push_back(value);
  return 0;
}

int32_t Remove(const StoredValue& value, Values* current) {
  const auto kept = std::remove(current->begin(), current->end(), value);
  if (kept == current->end()) return zel::dir::kNoSuchValue;
  current->erase(kept, current->end());
  return 0;
}

}  // namespace

int32_t ZEL_PS_LDAPSAL::AddAttributeValue(uint64_t uid, const ZELString& className,
                                          const StoredValue& value) {
  if (value.attribute.empty()) return zel::dir::kInvalidArgument;
  if (const int32_t refused = allowed(className, {value})) return refused;
  GenericEntry entry(this, uid, className);
  return Rework(entry, *this, className, value.attribute,
                [&](Values* current) { return Append(value, current); });
}

int32_t ZEL_PS_LDAPSAL::AddAttributeValue(uint32_t contextID, const ZELString& dn,
                                          const ZELString& className, const StoredValue& value) {
  if (value.attribute.empty()) return zel::dir::kInvalidArgument;
  if (const int32_t refused = allowed(className, {value})) return refused;
  GenericEntry entry(this, dn, contextID, className);
  return Rework(entry, *this, className, value.attribute,
                [&](Values* current) { return Append(value, current); });
}

int32_t ZEL_PS_LDAPSAL::DelAttributeValue(uint64_t uid, const ZELString& className,
                                          const StoredValue& value) {
  GenericEntry entry(this, uid, className);
  return Rework(entry, *this, className, value.attribute,
                [&](Values* current) { return Remove(value, current); });
}

int32_t ZEL_PS_LDAPSAL::DelAttributeValue(uint32_t contextID, const ZELString& dn,
                                          const ZELString& className, const StoredValue& value) {
  GenericEntry entry(this, dn, contextID, className);
  return Rework(entry, *this, className, value.attribute,
                [&](Values* current) { return Remove(value, current); });
}

int32_t ZEL_PS_LDAPSAL::Initialize() {
  int32_t code = 0;
  return OpenStore(&code) != nullptr ? 0 : code;
}

int32_t ZEL_PS_LDAPSAL::UnInitialize() {
  store_.reset();
  return 0;
}

int32_t ZEL_PS_LDAPSAL::Search(uint32_t contextID, const ZELString& baseDN, uint8_t scope,
                               const ZELString& filter, const ZELString& after, uint32_t limit,
                               std::vector<StoredEntry>& entries) {
  if (scope != ZEL_DIR_SearchHelper::kOneLevel && scope != ZEL_DIR_SearchHelper::kSubtree) {
    return zel::dir::kUnsupportedSearch;
  }
  std::u16string attribute, text;
  if (!filter.isEmpty()) {
    const std::size_t equals = filter.view().find(u'=');
    if (equals == std::u16string_view::npos || equals == 0) return zel::dir::kUnsupportedSearch;
    attribute = filter.view().substr(0, equals);
    text = filter.view().substr(equals + 1);
  }
  return zel::dir::SearchPage(*this, contextID, std::u16string(baseDN.view()),
                              scope == ZEL_DIR_SearchHelper::kSubtree, attribute, text,
                              std::u16string(after.view()), limit, &entries);
}

int32_t ZEL_PS_LDAPSAL::CreateDataContext(const ZELString& contextName, const ZELString& dn) {
  if (contextName.isEmpty() || contextName.view().front() == u'&') {
    return zel::dir::kInvalidArgument;
  }
  if (!zel::dir::IsWellFormedDN(dn.view())) return zel::dir::kMalformedName;
  int32_t code = 0;
  zel::dir::Store* store = OpenStore(&code);
  if (store == nullptr) return code;
  return store->createContext(contextName.view(), dn.view());
}

int32_t ZEL_PS_LDAPSAL::DestroyDataContext(uint32_t contextID) {
  std::u16string name;
  if (const int32_t named = zel::dir::ContextName(*this, contextID, &name)) return named;
  std::vector<StoredEntry> entries;
  if (const int32_t found =
          zel::dir::SearchPage(*this, contextID, u"", true, u"", u"", u"", 0, &entries)) {
    return found;
  }
  // The deepest first (reverse DN order puts every entry after those below it): stopped half
  // way, what is left is still a tree whose parents are there, as before.
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    const int32_t deleted = GenericEntry(this, entry->uid, ZELString(entry->className)).DelEntry();
    if (deleted != 0 && deleted != zel::dir::kNoSuchEntry) return deleted;
  }
  return 0;
}

int32_t ZEL_PS_LDAPSAL::GetContextChangeNumber(uint32_t contextID, uint64_t& number) {
  return zel::dir::ChangeNumber(*this, contextID, &number);
}

int32_t ZEL_PS_LDAPSAL::GetContextEntryChangeInfo(uint32_t contextID, uint64_t since,
                                                  uint32_t maxCount,
                                                  std::vector<zel::dir::Change>& changes,
                                                  bool& more) {
  return zel::dir::ChangesSince(*this, contextID, since, maxCount != 0 ? maxCount : changesAtOnce_,
                                &changes, &more);
}

int32_t ZEL_PS_LDAPSAL::SetPSOption(uint32_t option, uint64_t value) {
  if (option != kOptionChangesAtOnce || value > UINT32_MAX) return zel::dir::kInvalidArgument;
  changesAtOnce_ = static_cast<uint32_t>(value);
  return 0;
}

int32_t ZEL_PS_LDAPSAL::SetTimeout(uint32_t milliseconds) {
  int32_t code = 0;
  zel::dir::Store* store = OpenStore(&code);
  return store == nullptr ? code : store->setTimeout(milliseconds);
}

int32_t ZEL_PS_LDAPSAL::Sync_EnterMSJetCriticalSection() {
  int32_t code = 0;
  zel::dir::Store* store = OpenStore(&code);
  return store == nullptr ? code : store->enterScope();
}

int32_t ZEL_PS_LDAPSAL::Sync_LeaveMSJetCriticalSection(bool commit) {
  if (!store_ || !store_->inScope()) return zel::dir::kInvalidArgument;
  return store_->leaveScope(commit);
}

int32_t ZEL_PS_LDAPSAL::SubscribeToDirChangeNotification(uint32_t contextID,
                                                         zel::dir::ChangeListener listener,
                                                         uint32_t& subscription) {
  if (!listener) return zel::dir::Unsubscribe(*this, subscription);
  return zel::dir::Subscribe(*this, contextID, std::move(listener), &subscription);
}

int32_t ZEL_PS_LDAPSAL::SeedLocalCache(uint32_t contextID, const ZELString& baseDN,
                                       std::vector<StoredEntry>& entries, uint64_t& changeNumber) {
  if (const int32_t numbered = zel::dir::ChangeNumber(*this, contextID, &changeNumber)) {
    return numbered;
  }
  entries.clear();
  return zel::dir::SearchPage(*this, contextID, std::u16string(baseDN.view()), true, u"", u"", u"",
                              0, &entries);
}

int32_t ZEL_PS_LDAPSAL::DirChangeNotificationHelper(const ZEL_BUF_EventBuffer* notification) {
  return notification != nullptr ? zel::dir::DeliverChange(*this, *notification)
                                 : zel::dir::PollChanges(*this);
}
