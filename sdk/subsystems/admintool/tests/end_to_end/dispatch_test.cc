// What every request meets before its handler: unknown events, requests that do not parse, the
// reply's shape.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "console_views.h"
#include "subsystem_farm.h"
#include "zel/subsystem/codes.h"

namespace zel::subsystem {
namespace ev = zel::protocol::event;
namespace {

// Every administrator event, given bytes that are not its request, answers kMalformedRequest
// (an event nobody answers: kNotSupported) with a reply that holds the code alone, addressed
// back to the sender, and nothing changes.
using Dispatch = testing::FarmTest;

TEST_P(Dispatch, RequestsThatDoNotParseChangeNothing) {
  testing::SubsystemFarm& farm = farm_;
  ZEL_AdminToolSAL6& owner = farm.Owner();
  farm.AddAdmin("unix:alice", {2});
  const auto state = [&] {
    int32_t result = 0;
    std::vector<testing::Seen> seen = testing::Enumerate2(owner, &result);
    ZELMultiString users;
    owner.GetUsersDNs(users);
    return std::make_pair(seen, users.items());
  };
  const auto before = state();
  const std::vector<std::vector<uint8_t>> payloads = {
      {},
      {0xFF},
      {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3},  // a huge count, or extra bytes
  };
  const uint16_t emptyRequests[] = {ev::kGetUsersDNs, ev::kGetPermissionsForCurrentUser,
                                    ev::kDeleteCapabilityObjectsInDB};
  const uint16_t events[] = {ev::kDeleteUser,
                             ev::kGetUsersDNs,
                             ev::kAddDefaultUser,
                             ev::kIsUserKeldraAdmin,
                             ev::kAddUsers2,
                             ev::kSetPrivilege2,
                             ev::kGetPrivilege2,
                             ev::kGetStaticGroupPermission,
                             ev::kEnumerateKeldraAdmins,
                             ev::kAddDefaultUser2,
                             ev::kAddUsers3,
                             ev::kSetPrivilege3,
                             ev::kGetPrivilege3,
                             ev::kEnumerateKeldraAdmins2,
                             ev::kGetPermissionsForCurrentUser,
                             ev::kDeleteCapabilityObjectsInDB,
                             ev::kGetAdminUIDByName,
                             ev::kGetAdminNameByUID,
                             ev::kGetPrivilegesByBlob,
                             ev::kAuditQuery,
                             999};
  for (uint16_t event : events) {
    for (const std::vector<uint8_t>& payload : payloads) {
      const bool valid =
          payload.empty() && std::find(std::begin(emptyRequests), std::end(emptyRequests), event) !=
                                 std::end(emptyRequests);
      std::unique_ptr<ZEL_BUF_EventBuffer> reply;
      const int32_t result = farm.Raw(5, event, payload, &reply);
      if (valid) {
        EXPECT_GE(result, 0) << event;
        continue;
      }
      EXPECT_EQ(result, event == 999 ? kNotSupported : kMalformedRequest)
          << event << " with " << payload.size() << " bytes";
      ASSERT_NE(reply, nullptr);
      EXPECT_EQ(reply->GetSize(), 4u) << event;
      EXPECT_EQ(reply->GetEventID(), event);
      EXPECT_EQ(reply->GetDestSubsystemUID(), 5);
    }
  }
  EXPECT_EQ(state(), before);
}

ZEL_TABLES_OVER_TRANSPORTS(Dispatch);

}  // namespace
}  // namespace zel::subsystem
