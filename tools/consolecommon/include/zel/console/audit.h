// The farm's audit as consoles read it: every page of a query, each record in the words a
// console shows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "zel/protocol/audit.h"

namespace zel::console {

// A record in words: the time as "2026-12-06T00:30:00Z", the result as "0x8006000D".
struct AuditLine {
  std::string when, actor, peer, what, code;
  uint16_t eventID = 0;
  int32_t result = 0;
};

// "2026-12-06T00:30:00Z" of milliseconds since 1970.
std::string TimeText(uint64_t ms);

// Sends one page of a query: the request's result, or the send's failure.
using AuditPage = std::function<int32_t(const zel::protocol::AuditQueryRequest&,
                                        zel::protocol::AuditQueryReply*)>;

// Reads what `request` asks for page by page (each reply's cookie goes into the next request)
// and hands each record to `each`: 0, or the first failing result.
int32_t ReadAudit(const AuditPage& page, zel::protocol::AuditQueryRequest request,
                  const std::function<void(const AuditLine&)>& each);

}  // namespace zel::console
