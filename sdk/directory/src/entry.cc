#include "zel/directory/entry.h"

#include <cstring>

#include "backend.h"
#include "names.h"
#include "zel/directory/codes.h"
#include "zel/runtime/alloc.h"

namespace {

constexpr const char* kUserMemoryTag = "zel_directory";

std::u16string Text(const char16_t* text) { return text != nullptr ? text : u""; }

// The entry's values, attribute by attribute in order, as the store keeps them.
std::vector<zel::dir::StoredValue> Flatten(
    const std::map<std::u16string, std::vector<zel::dir::StoredValue>>& values) {
  std::vector<zel::dir::StoredValue> flat;
  for (const auto& [attribute, list] : values) flat.insert(flat.end(), list.begin(), list.end());
  return flat;
}

// Runs `write` in one transaction of the store; its answer, or the store's failure. Inside an
// open scope it joins the scope, and a failure makes the whole scope roll back.
template <typename Write>
int32_t InTransaction(zel::dir::Store& store, Write&& write) {
  if (store.inScope()) {
    const int32_t result = write();
    if (result < 0) store.failScope(result);
    return result;
  }
  if (const int32_t begun = store.begin()) return begun;
  const int32_t result = write();
  if (result < 0 || result == zel::dir::kEntryExists) {
    store.rollback();
    return result;
  }
  return store.commit() == 0 ? result : zel::dir::kStoreError;
}

// A text value holds UTF-16 units; a NUL may only be the last, its terminator.
bool HasInnerNul(const char16_t* typeName, const void* data, uint32_t size) {
  if (Text(typeName) != u"css") return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (uint32_t unit = 0; unit + 1 < size / 2; ++unit) {
    if (bytes[2 * unit] == 0 && bytes[2 * unit + 1] == 0) return true;
  }
  return false;
}

}  // namespace

ZEL_DIR_Entry::ZEL_DIR_Entry(ZEL_DIR_ServiceInterface* service, const ZELString& dn,
                             uint32_t contextID, const char16_t* className, uint8_t /*reserved*/)
    : service_(service), dn_(dn), contextID_(contextID), className_(Text(className)) {}

ZEL_DIR_Entry::ZEL_DIR_Entry(ZEL_DIR_ServiceInterface* service, uint64_t uid,
                             const char16_t* className)
    : service_(service), uid_(uid), byUID_(true), className_(Text(className)) {}

ZEL_DIR_Entry::~ZEL_DIR_Entry() = default;

int32_t ZEL_DIR_Entry::DataMapHandler(uint8_t) { return 0; }

void* ZEL_DIR_Entry::AllocateUserMemory(uint32_t size) {
  void* block = nullptr;
  return ZEL_BUF_Allocate_Debug(size, &block, kUserMemoryTag, __LINE__) == 0 ? block : nullptr;
}

void ZEL_DIR_Entry::FreeUserMemory(void* block) {
  ZEL_BUF_Free_Debug(block, kUserMemoryTag, __LINE__);
}

int32_t ZEL_DIR_Entry::loadStored(zel::dir::Store& store, uint64_t uid) {
  zel::dir::StoredEntry stored;
  if (const int32_t loaded = store.load(uid, &stored)) return loaded;
  fill(std::move(stored));
  return 0;
}

void ZEL_DIR_Entry::fill(zel::dir::StoredEntry&& stored) {
  dn_ = ZELString(std::move(stored.dn));
  contextID_ = stored.context;
  uid_ = stored.uid;
  values_.clear();
  touched_.clear();
  refused_ = 0;
  for (zel::dir::StoredValue& value : stored.values) {
    std::vector<Value>& list = values_[value.attribute];
    list.push_back(std::move(value));
  }
  DataMapHandler(0);
}

int32_t ZEL_DIR_Entry::locate(zel::dir::Store& store, uint64_t* uid) {
  zel::dir::EntryHead head;
  if (byUID_) {
    if (const int32_t found = store.findByUID(uid_, &head)) return found;
    // By UID in the context a load told, in any before that.
    if (contextID_ != 0 && head.context != contextID_) return zel::dir::kNoSuchEntry;
  } else {
    if (!zel::dir::IsWellFormedDN(dn_.view())) return zel::dir::kMalformedName;
    if (const int32_t found = store.findByDN(contextID_, dn_.view(), &head)) return found;
  }
  if (head.className != className_) return zel::dir::kNoSuchEntry;
  *uid = head.uid;
  return 0;
}

int32_t ZEL_DIR_Entry::Sync() {
  int32_t code = 0;
  zel::dir::Store* store = service_ != nullptr ? service_->OpenStore(&code) : nullptr;
  if (store == nullptr) return service_ != nullptr ? code : zel::dir::kNoStore;
  uint64_t uid = 0;
  if (const int32_t found = locate(*store, &uid)) return found;
  return loadStored(*store, uid);
}

int32_t ZEL_DIR_Entry::Add() {
  int32_t code = 0;
  zel::dir::Store* store = service_ != nullptr ? service_->OpenStore(&code) : nullptr;
  if (store == nullptr) return service_ != nullptr ? code : zel::dir::kNoStore;
  if (!zel::dir::IsWellFormedDN(dn_.view())) return zel::dir::kMalformedName;
  if (zel::dir::IsGeneratedForm(dn_)) return zel::dir::kReservedName;
  DataMapHandler(1);
  if (refused_ != 0) return refused_;
  uint64_t uid = 0;
  std::u16string madeDN;
  const std::vector<zel::dir::StoredValue> values = Flatten(values_);
  const int32_t result = InTransaction(*store, [&] {
    return store->insert(contextID_, dn_.view(), className_, values, &uid, &madeDN);
  });
  if (result != 0) return result;
  touched_.clear();
  dn_ = ZELString(std::u16string_view(madeDN));
  uid_ = uid;
  return 0;
}

int32_t ZEL_DIR_Entry::Update() {
  int32_t code = 0;
  zel::dir::Store* store = service_ != nullptr ? service_->OpenStore(&code) : nullptr;
  if (store == nullptr) return service_ != nullptr ? code : zel::dir::kNoStore;
  DataMapHandler(1);
  if (refused_ != 0) return refused_;
  std::vector<std::u16string> attributes(touched_.begin(), touched_.end());
  std::vector<zel::dir::StoredValue> values;
  for (const std::u16string& attribute : attributes) {
    const auto found = values_.find(attribute);
    if (found != values_.end())
      values.insert(values.end(), found->second.begin(), found->second.end());
  }
  const int32_t result = InTransaction(*store, [&]() -> int32_t {
    uint64_t uid = 0;
    if (const int32_t found = locate(*store, &uid)) return found;
    uid_ = uid;
    return store->replaceValues(uid, attributes, values);
  });
  if (result == 0) touched_.clear();
  return result;
}

int32_t ZEL_DIR_Entry::DelEntry() {
  int32_t code = 0;
  zel::dir::Store* store = service_ != nullptr ? service_->OpenStore(&code) : nullptr;
  if (store == nullptr) return service_ != nullptr ? code : zel::dir::kNoStore;
  return InTransaction(*store, [&]() -> int32_t {
    uint64_t uid = 0;
    if (const int32_t found = locate(*store, &uid)) return found;
    return store->remove(uid);
  });
}

int32_t ZEL_DIR_Entry::AddValue(const char16_t* attribute, const char16_t* typeName,
                                uint16_t typeCode, const void* data, uint32_t size) {
  if (attribute == nullptr || (data == nullptr && size != 0)) return zel::dir::kInvalidArgument;
  if (HasInnerNul(typeName, data, size)) return refused_ = zel::dir::kInvalidValue;
  const auto* bytes = static_cast<const uint8_t*>(data);
  touched_.insert(attribute);
  values_[attribute].push_back(zel::dir::StoredValue{attribute, Text(typeName), typeCode,
                                                     std::vector<uint8_t>(bytes, bytes + size)});
  return 0;
}

int32_t ZEL_DIR_Entry::DeleteAllValues(const char16_t* attribute) {
  if (attribute == nullptr) return zel::dir::kInvalidArgument;
  values_.erase(attribute);
  touched_.insert(attribute);
  return 0;
}

int32_t ZEL_DIR_Entry::GetValueCount(const char16_t* attribute, uint32_t& count) {
  if (attribute == nullptr) return zel::dir::kInvalidArgument;
  const auto found = values_.find(attribute);
  count = found == values_.end() ? 0 : static_cast<uint32_t>(found->second.size());
  return 0;
}

const ZEL_DIR_Entry::Value* ZEL_DIR_Entry::nextValue(const char16_t* attribute, bool first) {
  if (attribute == nullptr) return nullptr;
  if (first || cursorAttribute_ != attribute) {
    cursorAttribute_ = attribute;
    cursor_ = 0;
  }
  const auto found = values_.find(attribute);
  if (found == values_.end() || cursor_ >= found->second.size()) return nullptr;
  return &found->second[cursor_++];
}

namespace {

int32_t CopyValue(const zel::dir::StoredValue* value, void* data, uint32_t& size,
                  uint32_t& typeCode) {
  if (value == nullptr) return zel::dir::kNoMore;
  const auto needed = static_cast<uint32_t>(value->bytes.size());
  typeCode = value->typeCode;
  if (needed > size || (data == nullptr && needed != 0)) {
    size = needed;
    return zel::dir::kValueTooLarge;
  }
  if (needed != 0) std::memcpy(data, value->bytes.data(), needed);
  size = needed;
  return 0;
}

}  // namespace

int32_t ZEL_DIR_Entry::GetFirstValue(const char16_t* attribute, void* data, uint32_t& size,
                                     uint32_t& typeCode) {
  return CopyValue(nextValue(attribute, true), data, size, typeCode);
}

int32_t ZEL_DIR_Entry::GetNextValue(const char16_t* attribute, void* data, uint32_t& size,
                                    uint32_t& typeCode) {
  return CopyValue(nextValue(attribute, false), data, size, typeCode);
}

int32_t ZEL_DIR_Entry::MapFixSizeDataFromDir(const char16_t* attribute, void* destination,
                                             uint32_t size) {
  const auto found = attribute != nullptr ? values_.find(attribute) : values_.end();
  if (found == values_.end() || found->second.empty()) return zel::dir::kNoMore;
  const std::vector<uint8_t>& bytes = found->second.front().bytes;
  if (bytes.size() > size) return zel::dir::kValueTooLarge;
  if (!bytes.empty()) std::memcpy(destination, bytes.data(), bytes.size());
  return 0;
}

int32_t ZEL_DIR_Entry::MapStringDataFromDir(const char16_t* attribute, ZELString& text) {
  const auto found = attribute != nullptr ? values_.find(attribute) : values_.end();
  if (found == values_.end() || found->second.empty()) return zel::dir::kNoMore;
  const std::vector<uint8_t>& bytes = found->second.front().bytes;
  std::u16string units(bytes.size() / 2, u'\0');
  if (!units.empty()) std::memcpy(units.data(), bytes.data(), units.size() * 2);
  if (!units.empty() && units.back() == u'\0') units.pop_back();  // the stored terminator
  // Text values are refused with a NUL inside; one found there was written behind our back.
  if (units.find(u'\0') != std::u16string::npos) return zel::dir::kStoreError;
  text = ZELString(std::move(units));
  return 0;
}

int32_t ZEL_DIR_Entry::MapVarySizeDataFromDir(const char16_t* attribute, void*& data,
                                              uint32_t& size) {
  data = nullptr;
  size = 0;
  const auto found = attribute != nullptr ? values_.find(attribute) : values_.end();
  if (found == values_.end() || found->second.empty()) return zel::dir::kNoMore;
  const std::vector<uint8_t>& bytes = found->second.front().bytes;
  void* block = AllocateUserMemory(static_cast<uint32_t>(bytes.size()));
  if (block == nullptr) return zel::dir::kNoMemory;
  if (!bytes.empty()) std::memcpy(block, bytes.data(), bytes.size());
  data = block;
  size = static_cast<uint32_t>(bytes.size());
  return 0;
}

ZEL_DIR_BaseEntry::ZEL_DIR_BaseEntry(ZEL_DIR_ServiceInterface* service, const ZELString& dn,
                                     uint32_t contextID)
    : ZEL_DIR_Entry(service, dn, contextID, u"", 0) {}

ZEL_DIR_BaseEntry::~ZEL_DIR_BaseEntry() = default;

// --- Searches ----------------------------------------------------------------------------------

ZEL_DIR_SearchHelper::ZEL_DIR_SearchHelper(ZEL_DIR_ServiceInterface* service, uint8_t scope,
                                           const ZELString& baseDN, uint32_t contextID,
                                           const ZELString& filter, const ZELString& /*attributes*/)
    : service_(service), scope_(scope), baseDN_(baseDN), contextID_(contextID), filter_(filter) {}

int32_t ZEL_DIR_SearchHelper::Search(uint32_t& count) {
  count = 0;
  if (scope_ != kOneLevel && scope_ != kSubtree) return zel::dir::kUnsupportedSearch;
  if (!zel::dir::IsWellFormedDN(baseDN_.view())) return zel::dir::kMalformedName;
  int32_t code = 0;
  zel::dir::Store* store = service_ != nullptr ? service_->OpenStore(&code) : nullptr;
  if (store == nullptr) return service_ != nullptr ? code : zel::dir::kNoStore;
  // "ATTRIBUTE=value": everything after the first '=' is the value.
  std::u16string_view attribute, text;
  if (!filter_.isEmpty()) {
    const std::u16string_view filter = filter_.view();
    const std::size_t equals = filter.find(u'=');
    if (equals == std::u16string_view::npos || equals == 0) return zel::dir::kUnsupportedSearch;
    attribute = filter.substr(0, equals);
    text = filter.substr(equals + 1);
  }
  matches_.clear();
  zel::dir::SearchQuery query;
  query.context = contextID_;
  query.base = baseDN_.view();
  query.subtree = scope_ == kSubtree;
  query.attribute = attribute;
  query.text = text;
  const int32_t searched = store->search(query, &matches_);
  if (searched != 0) return searched;
  next_ = 0;
  searched_ = true;
  count = static_cast<uint32_t>(matches_.size());
  return 0;
}

int32_t ZEL_DIR_SearchHelper::deliver(ZELString& name, ZEL_DIR_Entry& entry) {
  if (next_ >= matches_.size()) return zel::dir::kNoMore;
  // Each match is delivered once, from what the search read: it moves into the entry.
  entry.fill(std::move(matches_[next_++]));
  name = entry.GetDN().lastDistinguishedNameComponent();
  return 0;
}

int32_t ZEL_DIR_SearchHelper::GetFirstEntry(ZELString& name, ZEL_DIR_Entry& entry) {
  // A walk hands its matches over as it goes: starting again searches again.
  if (!searched_ || next_ != 0) {
    uint32_t count = 0;
    if (const int32_t searched = Search(count)) return searched;
  }
  return deliver(name, entry);
}

int32_t ZEL_DIR_SearchHelper::GetNextEntry(ZELString& name, ZEL_DIR_Entry& entry) {
  return deliver(name, entry);
}
