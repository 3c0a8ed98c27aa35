// The audit query: the records of the farm's audit, oldest first, a page at a time. Records
// never hold a secret.
//
//   audit query request (event kAuditQuery)
//     = from:u64 to:u64 actor:text maxCount:u32 cookie:bytes
//   audit query reply
//     = result:i32 [records:list(record) cookie:bytes]   only when result >= 0
//   record
//     = when:u64 actor:text peer:text eventID:u16 what:text result:i32
//
// Times are milliseconds since 1970-01-01 UTC; a query takes records with from <= when < to
// (to 0: no upper bound). An empty actor takes every actor. maxCount 0 answers as many as fit
// in one event; a non-empty cookie in the reply goes back in the next request to go on, an empty
// one says there is no more.
#pragma once

#include <cstdint>
#include <vector>

#include "zel/protocol/events.h"
#include "zel/protocol/grammar.h"

namespace zel::protocol {

struct AuditRecord {
  uint64_t when = 0;
  ZELString actor;  // acting identity, "AUTHORITY:DOMAIN\NAME"
  ZELString peer;   // the connection's peer identity
  uint16_t eventID = 0;
  ZELString what;  // the change, in words
  int32_t result = 0;

  template <class V>
  void Fields(V& v) {
    v.U64("when", when);
    v.Text("actor", actor);
    v.Text("peer", peer);
    v.U16("eventID", eventID);
    v.Text("what", what);
    v.I32("result", result);
  }
};

struct AuditQueryRequest {
  static constexpr uint16_t kEventID = event::kAuditQuery;
  uint64_t from = 0;
  uint64_t to = 0;
  ZELString actor;
  uint32_t maxCount = 0;
  std::vector<uint8_t> cookie;

  template <class V>
  void Fields(V& v) {
    v.U64("from", from);
    v.U64("to", to);
    v.Text("actor", actor);
    v.U32("maxCount", maxCount);
    v.Bytes("cookie", cookie);
  }
};

struct AuditQueryReply {
  int32_t result = 0;
  std::vector<AuditRecord> records;
  std::vector<uint8_t> cookie;

  template <class V>
  void Fields(V& v) {
    v.I32("result", result);
    if (v.Present(result >= 0)) {
      v.List("records", records);
      v.Bytes("cookie", cookie);
    }
  }
};

}  // namespace zel::protocol
