// What every request meets before its handler: unknown events, requests that do not parse, the
// reply's shape.
#include <gtest/gtest.h>

#include <cstring>

#include "subsystem_farm.h"
#include "zel/subsystem/codes.h"

namespace zel::subsystem {
namespace {

namespace ev = zel::protocol::event;

TEST(Dispatch, UnknownEventsAreNotSupportedAndMalformedRequestsRefused) {
  testing::SubsystemFarm farm;
  farm.Owner();
  struct Case {
    const char* name;
    uint16_t event;
    std::vector<uint8_t> payload;
    int32_t result;
  } cases[] = {
      {"an event nobody answers", 999, {}, kNotSupported},
      {"an ID of ours nobody answers yet", 1999, {1, 2}, kNotSupported},
      {"an audit query cut short", ev::kAuditQuery, {0, 0, 0}, kMalformedRequest},
      {"an audit query with bytes after it",
       ev::kAuditQuery,
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // from, to
        2, 0, 0, 0, 0, 0,                                // actor: the empty text
        0, 0, 0, 0, 0, 0, 0, 0,                          // maxCount, cookie
        7},
       kMalformedRequest},
  };
  for (const Case& c : cases) {
    std::unique_ptr<ZEL_BUF_EventBuffer> reply;
    EXPECT_EQ(farm.Raw(5, c.event, c.payload, &reply), c.result) << c.name;
    ASSERT_NE(reply, nullptr) << c.name;
    EXPECT_EQ(reply->GetSize(), 4u) << c.name << ": a failure carries its code alone";
    EXPECT_EQ(reply->GetEventID(), c.event) << c.name;
    EXPECT_EQ(reply->GetDestSubsystemUID(), 5) << c.name;
  }
}

}  // namespace
}  // namespace zel::subsystem
