// Capability objects of the tree (73, 92) and the audit of every change (1021).
#include <gtest/gtest.h>

#include "console_views.h"
#include "subsystem_farm.h"
#include "zel/protocol/audit.h"
#include "zel/subsystem/codes.h"

namespace zel::subsystem {
namespace {

using testing::Record;

constexpr uint32_t kManage = static_cast<uint32_t>(Privilege::kManageAdministrators);
constexpr uint32_t kAudit = static_cast<uint32_t>(Privilege::kReadAudit);
constexpr uint32_t kCapabilities = static_cast<uint32_t>(Privilege::kManageCapabilities);

// The capabilities of the group's members as a console reads them: object UID -> values.
std::map<uint64_t, std::vector<uint32_t>> GroupCapabilities(ZEL_AdminToolSAL3& sal,
                                                            const char16_t* group,
                                                            int32_t* result) {
  ZELString name(group);
  uint32_t count = 0;
  AdminObjectCapability* capabilities = nullptr;
  *result =
      static_cast<AdminToolInterface2&>(sal).GetStaticGroupPermission(name, count, &capabilities);
  std::map<uint64_t, std::vector<uint32_t>> seen;
  for (uint32_t i = 0; i < count; ++i) {
    const AdminObjectCapability& c = capabilities[i];
    seen[c.objectUID].assign(c.privileges, c.privileges + c.privilegeCount);
  }
  sal.FreeCapabilities(capabilities);
  return seen;
}

using Capabilities = testing::FarmTest;

TEST_P(Capabilities, GroupMembersAreReadAndDeletedOnlyWithThePrivilege) {
  testing::SubsystemFarm& farm = farm_;
  ZEL_AdminToolSAL6& owner = farm.Owner();
  farm.AddAdmin("unix:dave", {kManage});
  struct Node {
    const char16_t* parent;
    const char16_t* name;
    uint64_t uid;
    std::vector<uint32_t> values;
  } nodes[] = {
      {u"Root", u"web", 11, {3, 5}}, {u"Root", u"db", 12, {}}, {u"Root/web", u"deep", 13, {8}}};
  for (Node& n : nodes) {
    ZEL_AdminToolObject object(n.parent, n.name);
    object.setUID(n.uid);
    ASSERT_EQ(owner.RegisterObject(object, false), 0);
    ZELString dn(object.getDN());
    ASSERT_EQ(owner.UpdateObject(dn, static_cast<uint32_t>(n.values.size()), n.values.data()), 0);
  }
  using Seen = std::map<uint64_t, std::vector<uint32_t>>;
  int32_t result = -1;
  EXPECT_EQ(GroupCapabilities(owner, u"Root", &result), (Seen{{11, {3, 5}}, {12, {}}}));
  EXPECT_EQ(result, 0);
  ZEL_AdminToolSAL6& daveConsole = farm.Console(7, "unix:dave");
  EXPECT_EQ(GroupCapabilities(daveConsole, u"Root/web", &result), (Seen{{13, {8}}}));
  GroupCapabilities(farm.Console(8, "unix:eve"), u"Root", &result);
  EXPECT_EQ(result, kAccessDenied) << "reads need an administrator";

  EXPECT_EQ(daveConsole.DeleteCapabilityObjectsInDB(), kAccessDenied);
  EXPECT_EQ(GroupCapabilities(owner, u"Root/web", &result), (Seen{{13, {8}}}));
  EXPECT_EQ(owner.DeleteCapabilityObjectsInDB(), 0);
  EXPECT_EQ(GroupCapabilities(owner, u"Root", &result), (Seen{{11, {}}, {12, {}}}));
  EXPECT_EQ(GroupCapabilities(owner, u"Root/web", &result), (Seen{{13, {}}}));
}

using AuditLog = testing::FarmTest;

TEST_P(AuditLog, EveryChangeIsRecordedWithWhoWhenAndResultAndReadInPages) {
  testing::SubsystemFarm& farm = farm_;
  const std::string ownerPeer = farm.OwnerPeer();
  ZEL_AdminToolSAL6& owner = farm.Owner();
  ZEL_ADMIN_USERINFO alice[] = {Record("unix:alice", {kAudit})};
  ASSERT_EQ(static_cast<AdminToolInterface2&>(owner).AddUsers2(1, alice), 0);
  farm.now += 1000;
  ZEL_AdminToolSAL6& aliceConsole = farm.Console(6, "unix:alice");
  uint64_t uid = 0;
  ASSERT_EQ(aliceConsole.GetAdminUIDByName(u"alice", u"unix", uid), 0);  // a read: no record
  uint32_t privileges[] = {kCapabilities};
  EXPECT_EQ(static_cast<AdminToolInterface2&>(aliceConsole).SetPrivilege2(uid, 0, 0, 1, privileges),
            kAccessDenied);
  farm.now += 1000;
  ZELString guest(u"guest"), unix(u"unix");
  ASSERT_EQ(owner.AddDefaultUser2(guest, unix, 2), 0);

  using Line = std::tuple<uint64_t, std::string, std::string, uint16_t, int32_t, std::string>;
  const Line expected[] = {
      {1'700'000'000'000, ownerPeer, ownerPeer, 67, 0, "add or update unix:alice: added 0x"},
      {1'700'000'001'000, "unix:alice", "unix:alice", 69, kAccessDenied, "changed 0x"},
      {1'700'000'002'000, ownerPeer, ownerPeer, 83, 0, "default user unix:guest option 2"},
  };
  zel::protocol::AuditQueryReply all;
  ASSERT_EQ(farm.Ask(6, zel::protocol::AuditQueryRequest{}, &all), 0);
  ASSERT_EQ(all.records.size(), std::size(expected));
  EXPECT_TRUE(all.cookie.empty());
  for (size_t i = 0; i < all.records.size(); ++i) {
    const zel::protocol::AuditRecord& r = all.records[i];
    const std::string what = r.what.toUtf8();
    const std::size_t starts = std::get<5>(expected[i]).size();  // the rest names a UID
    EXPECT_EQ(Line(r.when, r.actor.toUtf8(), r.peer.toUtf8(), r.eventID, r.result,
                   what.substr(0, starts)),
              expected[i]);
  }

  // Pages of one, selected by time and actor; the cookie goes on where a page stopped.
  struct Query {
    const char* name;
    uint64_t from, to;
    ZELString actor;
    std::vector<uint16_t> events;
  } queries[] = {
      {"all", 0, 0, ZELString(), {67, 69, 83}},
      {"from the second on", 1'700'000'001'000, 0, ZELString(), {69, 83}},
      {"before the third", 0, 1'700'000'002'000, ZELString(), {67, 69}},
      {"the owner's", 0, 0, ZELString::FromUtf8(ownerPeer), {67, 83}},
      {"nobody's", 0, 0, ZELString(u"unix:nobody"), {}},
  };
  for (const Query& q : queries) {
    zel::protocol::AuditQueryRequest request{q.from, q.to, q.actor, 1, {}};
    std::vector<uint16_t> events;
    for (int page = 0; page < 5; ++page) {
      zel::protocol::AuditQueryReply reply;
      ASSERT_EQ(farm.Ask(6, request, &reply), 0) << q.name;
      for (const auto& r : reply.records) events.push_back(r.eventID);
      if (reply.cookie.empty()) break;
      request.cookie = reply.cookie;
    }
    EXPECT_EQ(events, q.events) << q.name;
  }

  zel::protocol::AuditQueryReply refused;
  farm.Console(7, "unix:eve");
  EXPECT_EQ(farm.Ask(7, zel::protocol::AuditQueryRequest{}, &refused), kAccessDenied);
  zel::protocol::AuditQueryRequest forged;
  forged.cookie = {1, 2, 3};
  EXPECT_EQ(farm.Ask(6, forged, &refused), kMalformedRequest);
}

ZEL_TABLES_OVER_TRANSPORTS(Capabilities);
ZEL_TABLES_OVER_TRANSPORTS(AuditLog);

}  // namespace
}  // namespace zel::subsystem
