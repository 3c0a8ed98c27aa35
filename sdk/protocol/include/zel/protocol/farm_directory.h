// The directory operations a console's `farm:` store forwards to the farm server, which runs
// them on its own store. Entries carry typed, multi-valued attributes generically: each value
// keeps its type name, type code and bytes, in order, as the store keeps them.
//
//   value       = type:text typeCode:u16 bytes:bytes
//   attribute   = name:text values:list(value)
//   entry       = uid:u64 context:u32 dn:text className:text attributes:list(attribute)
//   entry name  = by:u8 (0: dn, 1: uid) then by 0: context:u32 dn:text; by 1: uid:u64
//   change      = changeNumber:u64 kind:u8 (1 added, 2 updated, 3 deleted) uid:u64 dn:text
//
//   bind context         (kDirBindContext)  request = name:text
//                                           reply   = result:i32 [context:u32]
//   create context       (kDirCreateContext) request = name:text dn:text
//   add entry            (kDirAddEntry)     request = context:u32 dn:text className:text
//                                                     attributes:list(attribute)
//                                           reply   = result:i32 [uid:u64 dn:text]
//   update entry         (kDirUpdateEntry)  request = entry name, attributes:list(attribute)
//   delete entry         (kDirDeleteEntry)  request = entry name
//   get entry            (kDirGetEntry)     request = entry name
//                                           reply   = result:i32 [entry]
//   search               (kDirSearch)       request = context:u32 baseDN:text scope:u8
//                                                     filter:text maxEntries:u32 cookie:bytes
//                                           reply   = result:i32 [entries:list(entry)
//                                                     cookie:bytes]
//   change number        (kDirChangeNumber) request = context:u32
//                                           reply   = result:i32 [changeNumber:u64]
//   changes since        (kDirChangeInfo)   request = context:u32 since:u64 maxCount:u32
//                                           reply   = result:i32 [changeNumber:u64
//                                                     changes:list(change) more:u8]
//   subscribe            (kDirSubscribe)    request = context:u32
//                                           reply   = result:i32 [subscription:u32]
//   unsubscribe          (kDirUnsubscribe)  request = subscription:u32
//   changed              (kDirChanged, notification)
//                                           = subscription:u32 context:u32 change
//   the other replies    = result:i32; bracketed fields follow only when result >= 0
//
// Paging: a search answers at most maxEntries entries (0: as many as fit) and never more than
// one event can hold (WireSize of the reply within kMaxPayload); a non-empty cookie in the reply
// is handed back in the next request to go on, an empty one ends the search. The cookie is the
// server's and opaque to the console. An update replaces the values of each attribute it names
// (none: the attribute is removed) and keeps the others.
#pragma once

#include <cstdint>
#include <vector>

#include "zel/protocol/events.h"
#include "zel/protocol/grammar.h"

namespace zel::protocol {

struct DirValue {
  ZELString type;  // "css", "uint16", "bin", ...
  uint16_t typeCode = 0;
  std::vector<uint8_t> bytes;

  template <class V>
  void Fields(V& v) {
    v.Text("type", type);
    v.U16("typeCode", typeCode);
    v.Bytes("bytes", bytes);
  }
};

struct DirAttribute {
  ZELString name;
  std::vector<DirValue> values;

  template <class V>
  void Fields(V& v) {
    v.Text("name", name);
    v.List("values", values);
  }
};

struct DirEntry {
  uint64_t uid = 0;
  uint32_t context = 0;
  ZELString dn;
  ZELString className;
  std::vector<DirAttribute> attributes;

  template <class V>
  void Fields(V& v) {
    v.UID("uid", uid);
    v.U32("context", context);
    v.Text("dn", dn);
    v.Text("className", className);
    v.List("attributes", attributes);
  }
};

// An entry named by its DN within a context, or by its UID.
struct DirEntryName {
  static constexpr uint8_t kByDN = 0;
  static constexpr uint8_t kByUID = 1;
  uint8_t by = kByDN;
  uint32_t context = 0;
  ZELString dn;
  uint64_t uid = 0;

  template <class V>
  void Fields(V& v) {
    v.U8("by", by);
    v.Valid(by == kByDN || by == kByUID);
    if (v.Present(by == kByDN)) {
      v.U32("context", context);
      v.Text("dn", dn);
    }
    if (v.Present(by == kByUID)) v.UID("uid", uid);
  }
};

struct DirChange {
  enum Kind : uint8_t { kAdded = 1, kUpdated = 2, kDeleted = 3 };
  uint64_t changeNumber = 0;
  uint8_t kind = kAdded;
  uint64_t uid = 0;
  ZELString dn;

  template <class V>
  void Fields(V& v) {
    v.U64("changeNumber", changeNumber);
    v.U8("kind", kind);
    v.Valid(kind >= kAdded && kind <= kDeleted);
    v.UID("uid", uid);
    v.Text("dn", dn);
  }
};

struct DirBindContextRequest {
  static constexpr uint16_t kEventID = event::kDirBindContext;
  ZELString name;

  template <class V>
  void Fields(V& v) {
    v.Text("name", name);
  }
};

struct DirBindContextReply {
  int32_t result = 0;
  uint32_t context = 0;

  template <class V>
  void Fields(V& v) {
    v.I32("result", result);
    if (v.Present(result >= 0)) v.U32("context", context);
  }
};

struct DirCreateContextRequest {
  static constexpr uint16_t kEventID = event::kDirCreateContext;
  ZELString name;
  ZELString dn;

  template <class V>
  void Fields(V& v) {
    v.Text("name", name);
    v.Text("dn", dn);
  }
};

struct DirAddEntryRequest {
  static constexpr uint16_t kEventID = event::kDirAddEntry;
  uint32_t context = 0;
  ZELString dn;  // empty: the directory makes one up
  ZELString className;
  std::vector<DirAttribute> attributes;

  template <class V>
  void Fields(V& v) {
    v.U32("context", context);
    v.Text("dn", dn);
    v.Text("className", className);
    v.List("attributes", attributes);
  }
};

struct DirAddEntryReply {
  int32_t result = 0;
  uint64_t uid = 0;
  ZELString dn;

  template <class V>
  void Fields(V& v) {
    v.I32("result", result);
    if (v.Present(result >= 0)) {
      v.UID("uid", uid);
      v.Text("dn", dn);
    }
  }
};

struct DirUpdateEntryRequest {
  static constexpr uint16_t kEventID = event::kDirUpdateEntry;
  DirEntryName entry;
  std::vector<DirAttribute> attributes;

  template <class V>
  void Fields(V& v) {
    entry.Fields(v);
    v.List("attributes", attributes);
  }
};

struct DirDeleteEntryRequest {
  static constexpr uint16_t kEventID = event::kDirDeleteEntry;
  DirEntryName entry;

  template <class V>
  void Fields(V& v) {
    entry.Fields(v);
  }
};

struct DirGetEntryRequest {
  static constexpr uint16_t kEventID = event::kDirGetEntry;
  DirEntryName entry;

  template <class V>
  void Fields(V& v) {
    entry.Fields(v);
  }
};

struct DirGetEntryReply {
  int32_t result = 0;
  DirEntry entry;

  template <class V>
  void Fields(V& v) {
    v.I32("result", result);
    if (v.Present(result >= 0)) entry.Fields(v);
  }
};

struct DirSearchRequest {
  static constexpr uint16_t kEventID = event::kDirSearch;
  static constexpr uint8_t kOneLevel = 1;
  uint32_t context = 0;
  ZELString baseDN;
  uint8_t scope = kOneLevel;
  ZELString filter;  // "ATTRIBUTE=value", or empty
  uint32_t maxEntries = 0;
  std::vector<uint8_t> cookie;  // empty: from the start

  template <class V>
  void Fields(V& v) {
    v.U32("context", context);
    v.Text("baseDN", baseDN);
    v.U8("scope", scope);
    v.Text("filter", filter);
    v.U32("maxEntries", maxEntries);
    v.Bytes("cookie", cookie);
  }
};

struct DirSearchReply {
  int32_t result = 0;
  std::vector<DirEntry> entries;
  std::vector<uint8_t> cookie;  // empty: no more pages

  template <class V>
  void Fields(V& v) {
    v.I32("result", result);
    if (v.Present(result >= 0)) {
      v.List("entries", entries);
      v.Bytes("cookie", cookie);
    }
  }
};

struct DirChangeNumberRequest {
  static constexpr uint16_t kEventID = event::kDirChangeNumber;
  uint32_t context = 0;

  template <class V>
  void Fields(V& v) {
    v.U32("context", context);
  }
};

struct DirChangeNumberReply {
  int32_t result = 0;
  uint64_t changeNumber = 0;

  template <class V>
  void Fields(V& v) {
    v.I32("result", result);
    if (v.Present(result >= 0)) v.U64("changeNumber", changeNumber);
  }
};

struct DirChangeInfoRequest {
  static constexpr uint16_t kEventID = event::kDirChangeInfo;
  uint32_t context = 0;
  uint64_t since = 0;  // changes with a greater change number
  uint32_t maxCount = 0;

  template <class V>
  void Fields(V& v) {
    v.U32("context", context);
    v.U64("since", since);
    v.U32("maxCount", maxCount);
  }
};

struct DirChangeInfoReply {
  int32_t result = 0;
  uint64_t changeNumber = 0;  // the context's current one
  std::vector<DirChange> changes;
  uint8_t more = 0;  // 1: ask again from the last change's number

  template <class V>
  void Fields(V& v) {
    v.I32("result", result);
    if (v.Present(result >= 0)) {
      v.U64("changeNumber", changeNumber);
      v.List("changes", changes);
      v.U8("more", more);
      v.Valid(more <= 1);
    }
  }
};

struct DirSubscribeRequest {
  static constexpr uint16_t kEventID = event::kDirSubscribe;
  uint32_t context = 0;

  template <class V>
  void Fields(V& v) {
    v.U32("context", context);
  }
};

struct DirSubscribeReply {
  int32_t result = 0;
  uint32_t subscription = 0;

  template <class V>
  void Fields(V& v) {
    v.I32("result", result);
    if (v.Present(result >= 0)) v.U32("subscription", subscription);
  }
};

struct DirUnsubscribeRequest {
  static constexpr uint16_t kEventID = event::kDirUnsubscribe;
  uint32_t subscription = 0;

  template <class V>
  void Fields(V& v) {
    v.U32("subscription", subscription);
  }
};

struct DirChangedNotification {
  static constexpr uint16_t kEventID = event::kDirChanged;
  uint32_t subscription = 0;
  uint32_t context = 0;
  DirChange change;

  template <class V>
  void Fields(V& v) {
    v.U32("subscription", subscription);
    v.U32("context", context);
    change.Fields(v);
  }
};

}  // namespace zel::protocol
