#include "zel/console/audit.h"

#include <cstdio>
#include <ctime>

namespace zel::console {

std::string TimeText(uint64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

int32_t ReadAudit(const AuditPage& page, zel::protocol::AuditQueryRequest request,
                  const std::function<void(const AuditLine&)>& each) {
  do {
    zel::protocol::AuditQueryReply reply;
    const int32_t result = page(request, &reply);
    if (result < 0) return result;
    for (const auto& r : reply.records) {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08X", static_cast<uint32_t>(r.result));
      each(AuditLine{TimeText(r.when), r.actor.toUtf8(), r.peer.toUtf8(), r.what.toUtf8(), code,
                     r.eventID, r.result});
    }
    request.cookie = reply.cookie;
  } while (!request.cookie.empty());
  return 0;
}

}  // namespace zel::console
