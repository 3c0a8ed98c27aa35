// The audit reader against pages handed out by the test: the cookie of each reply goes into
// the next request until one comes back empty; a failing page ends the reading with its code.
#include "zel/console/audit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zel::console {
namespace {

using zel::protocol::AuditQueryReply;
using zel::protocol::AuditQueryRequest;

constexpr int32_t kNoSuchEntry = static_cast<int32_t>(0x8006000Du);

zel::protocol::AuditRecord Record(uint64_t when, const char16_t* what, int32_t result) {
  zel::protocol::AuditRecord r;
  r.when = when;
  r.actor = u"unix:jane";
  r.what = what;
  r.eventID = 1000;
  r.result = result;
  return r;
}

TEST(AuditTest, EveryPageIsReadAndEachRecordPutInWords) {
  // Page n answers with cookie {n + 1}, the last with none; page 2 fails when `failAt` is 2.
  for (const int failAt : {0, 2}) {
    SCOPED_TRACE(failAt);
    std::vector<std::vector<uint8_t>> cookies;
    std::vector<std::string> lines;
    AuditQueryRequest asked;
    asked.actor = u"unix:jane";
    const int32_t result = ReadAudit(
        [&](const AuditQueryRequest& request, AuditQueryReply* reply) {
          EXPECT_EQ(request.actor, ZELString(u"unix:jane"));  // every page asks the same
          cookies.push_back(request.cookie);
          const int page = static_cast<int>(cookies.size());
          if (page == failAt) return int32_t{-7};
          reply->records = {Record(86400000ull * page, u"made", page == 1 ? 0 : kNoSuchEntry)};
          if (page < 3) reply->cookie = {static_cast<uint8_t>(page + 1)};
          return int32_t{0};
        },
        asked, [&](const AuditLine& line) { lines.push_back(line.when + " " + line.code); });
    if (failAt == 2) {
      EXPECT_EQ(result, -7);
      EXPECT_EQ(lines.size(), 1u);
      continue;
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(cookies, (std::vector<std::vector<uint8_t>>{{}, {2}, {3}}));
    EXPECT_EQ(lines, (std::vector<std::string>{"1970-01-02T00:00:00Z 0x00000000",
                                               "1970-01-03T00:00:00Z 0x8006000D",
                                               "1970-01-04T00:00:00Z 0x8006000D"}));
  }
}

}  // namespace
}  // namespace zel::console
