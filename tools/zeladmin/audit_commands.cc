// The audit: read through the subsystem's audit query (a request of ours), page by page.
#include <ctime>
#include <iostream>

#include "commands.h"
#include "zel/protocol/audit.h"

namespace zeladmin {
namespace {

using nlohmann::json;

// "2026-12-06T00:30:00Z" of milliseconds since 1970.
std::string TimeText(uint64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// T as milliseconds: a number of milliseconds, or YYYY-MM-DD[THH:MM:SS[Z]] in UTC.
bool ParseTime(const std::string& text, uint64_t* ms) {
  if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) {
    *ms = std::stoull(text);
    return true;
  }
  std::tm utc{};
  const char* end = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &utc);
  if (end == nullptr) end = strptime(text.c_str(), "%Y-%m-%d", &utc);
  if (end == nullptr || (*end != '\0' && std::string(end) != "Z")) return false;
  *ms = static_cast<uint64_t>(timegm(&utc)) * 1000;
  return true;
}

}  // namespace

int Audit(Command& c, const std::string& since, const std::string& who) {
  zel::protocol::AuditQueryRequest request;
  if (!since.empty() && !ParseTime(since, &request.from)) {
    std::cerr << "zeladmin: not a time (milliseconds or YYYY-MM-DD[THH:MM:SS]): " << since << '\n';
    return kExitUsage;
  }
  request.actor = ZELString::FromUtf8(who);
  json list = json::array();
  std::vector<std::vector<std::string>> rows;
  do {
    zel::protocol::AuditQueryReply reply;
    const int32_t result = c.farm.Ours(request, &reply);
    if (result < 0) {
      const Failure failure{"reading the audit", result, ""};
      std::cerr << "zeladmin: " << ErrorLine(failure) << '\n';
      return ExitStatus(failure);
    }
    for (const auto& r : reply.records) {
      char code[16];
      std::snprintf(code, sizeof code, "0x%08X", static_cast<uint32_t>(r.result));
      list.push_back({{"when", TimeText(r.when)},
                      {"actor", r.actor.toUtf8()},
                      {"peer", r.peer.toUtf8()},
                      {"event", r.eventID},
                      {"what", r.what.toUtf8()},
                      {"result", code}});
      rows.push_back({TimeText(r.when), r.actor.toUtf8(), std::to_string(r.eventID),
                      r.result < 0 ? CodeName(r.result).empty() ? code : CodeName(r.result) : "ok",
                      r.what.toUtf8()});
    }
    request.cookie = reply.cookie;
  } while (!request.cookie.empty());
  if (c.out.json) {
    std::cout << json{{"records", list}}.dump() << '\n';
  } else {
    PrintTable({"WHEN", "ACTOR", "EVENT", "RESULT", "WHAT"}, rows);
  }
  return kExitOk;
}

}  // namespace zeladmin
