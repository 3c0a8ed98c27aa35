// The audit: read through the subsystem's audit query (a request of ours), page by page.
#include <ctime>
#include <iostream>

#include "commands.h"
#include "zel/console/audit.h"

namespace zeladmin {
namespace {

using nlohmann::json;

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
  const int32_t result = zel::console::ReadAudit(
      [&](const zel::protocol::AuditQueryRequest& page, zel::protocol::AuditQueryReply* reply) {
        return c.farm.Ours(page, reply);
      },
      request,
      [&](const zel::console::AuditLine& r) {
        list.push_back({{"when", r.when},
                        {"actor", r.actor},
                        {"peer", r.peer},
                        {"event", r.eventID},
                        {"what", r.what},
                        {"result", r.code}});
        const std::string name = r.result < 0 ? CodeName(r.result) : "ok";
        rows.push_back(
            {r.when, r.actor, std::to_string(r.eventID), name.empty() ? r.code : name, r.what});
      });
  if (result < 0) {
    const Failure failure{"reading the audit", result, ""};
    std::cerr << "zeladmin: " << ErrorLine(failure) << '\n';
    return ExitStatus(failure);
  }
  if (c.out.json) {
    std::cout << json{{"records", list}}.dump() << '\n';
  } else {
    PrintTable({"WHEN", "ACTOR", "EVENT", "RESULT", "WHAT"}, rows);
  }
  return kExitOk;
}

}  // namespace zeladmin
