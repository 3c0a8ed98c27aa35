// Administrator accounts, second version, and the level-3 user operations, byte for byte.
#include <gtest/gtest.h>

#include <functional>

#include "test_support.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/runtime/alloc.h"

namespace {

using zel::rt::testing::Bytes;
using zel::rt::testing::Write;
using zel::sal::testing::SalTest;
using zel::sal::testing::TraceCapture;

Bytes AccountRecord(const char16_t* name, const std::vector<uint32_t>& privileges) {
  return Write([&](ZEL_BUF_BinBuffer& out) {
    out << ZELString(name) << ZELString(u"NT") << uint32_t{1} << uint32_t{2}
        << static_cast<uint32_t>(privileges.size());
    if (!privileges.empty()) out.AppendBytes(privileges.data(), 4 * privileges.size());
  });
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class Accounts2Test : public SalTest {
 protected:
  Accounts2Test() { TraceCapture().records.clear(); }

  ZEL_AdminToolSAL4 sal_{host_};
};

TEST_F(Accounts2Test, RequestsCarryTheirFieldsAtLevelTwoWithoutAHint) {
  ZEL_ADMIN_USERINFO users[2];
  users[0].accountName = u"jane";
  users[0].accountAuthority = u"NT";
  users[0].attribute1 = 1;
  users[0].attribute2 = 2;
  users[0].AddOnePriv(7);
  users[1].accountName = u"joe";
  users[1].accountAuthority = u"NT";
  users[1].attribute1 = 1;
  users[1].attribute2 = 2;
  host_.SetResponder([](const zel::rt::testing::RecordedEvent&, Bytes* reply) {
    *reply = Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{4}; });
    return int32_t{0};
  });
  EXPECT_EQ(sal_.AddUsers2(2, users), 4);
  EXPECT_EQ(host_.Sent()[0].eventID, 67);
  EXPECT_EQ(host_.Sent()[0].interfaceLevel, 2u);
  EXPECT_EQ(host_.Sent()[0].sizeHint, 0u);
  EXPECT_EQ(host_.Sent()[0].payload,
            Join({Write([](ZEL_BUF_BinBuffer& out) { out << uint32_t{2}; }),
                  AccountRecord(u"jane", {7}), AccountRecord(u"joe", {})}));
  EXPECT_EQ(sal_.AddUsers2(0, nullptr), 4);
  EXPECT_EQ(host_.Sent()[1].payload, (Bytes{0, 0, 0, 0}));

  uint32_t privileges[] = {5, 6};
  EXPECT_EQ(sal_.SetPrivilege2(0x1122, 8, 9, 2, privileges), 4);
  EXPECT_EQ(host_.Sent()[2].eventID, 69);
  EXPECT_EQ(host_.Sent()[2].payload, Write([](ZEL_BUF_BinBuffer& out) {
              const uint32_t raw[] = {5, 6};
              out << uint64_t{0x1122} << uint32_t{8} << uint32_t{9} << uint32_t{2};
              out.AppendBytes(raw, 8);
            }));
  EXPECT_EQ(sal_.SetPrivilege2(0x1122, 8, 9, 0, nullptr), 4);
  EXPECT_EQ(host_.Sent()[3].payload.size(), 8u + 12u);  // no raw block after the 0

  ZELString first(u""), second(u"");
  EXPECT_EQ(sal_.AddDefaultUser2(first, second, 3), 4);
  EXPECT_EQ(host_.Sent()[4].eventID, 83);
  EXPECT_EQ(host_.Sent()[4].interfaceLevel, 3u);
  EXPECT_EQ(host_.Sent()[4].sizeHint, 6u + 6u + 1u);
  EXPECT_EQ(host_.Sent()[4].payload, (Bytes{2, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 3}));

  uint64_t uid = 0xABCDEF;
  EXPECT_EQ(sal_.DeleteUser(1, &uid), 4);
  EXPECT_EQ(host_.Sent()[5].eventID, 27);
  EXPECT_EQ(host_.Sent()[5].sizeHint, 12u);
  EXPECT_EQ(host_.Sent()[5].payload,
            Write([](ZEL_BUF_BinBuffer& out) { out << uint32_t{1} << uint64_t{0xABCDEF}; }));
  EXPECT_EQ(sal_.DeleteUser(0, &uid), ZEL_E_INVALID_ARG);
  EXPECT_EQ(sal_.DeleteUser(3, nullptr), ZEL_E_INVALID_ARG);
  EXPECT_EQ(host_.Sent().size(), 6u);
}

TEST_F(Accounts2Test, FailedWritesAreTracedWithEachOperationsMessage) {
  uint32_t a1, a2, n;
  uint32_t* privileges = nullptr;
  ZELString group(u"G");
  uint32_t count = 0;
  AdminObjectCapability* caps = nullptr;
  ZEL_ADMIN_USERINFO* records = nullptr;
  ZEL_ADMIN_USERINFO user;
  const std::vector<std::pair<zel::trace::Message, std::function<int32_t()>>> operations = {
      {zel::trace::kAddUsers2WriteFailed, [&] { return sal_.AddUsers2(1, &user); }},
      {zel::trace::kSetPrivilege2WriteFailed,
       [&] { return sal_.SetPrivilege2(1, 2, 3, 0, nullptr); }},
      {zel::trace::kGetPrivilege2WriteFailed,
       [&] { return sal_.GetPrivilege2(1, a1, a2, n, &privileges); }},
      {zel::trace::kGetStaticGroupPermissionWriteFailed,
       [&] { return sal_.GetStaticGroupPermission(group, count, &caps); }},
      {zel::trace::kEnumerateKeldraAdminsWriteFailed,
       [&] { return sal_.EnumerateKeldraAdmins(count, &records, 1, 2); }}};
  for (const auto& [message, call] : operations) {
    host_.FailNthAppend(1, -31);
    EXPECT_EQ(call(), ZEL_E_WRITE_FAILED);
    const auto traced = Traced(message);
    ASSERT_EQ(traced.size(), 1u) << message.number;
    EXPECT_EQ(traced[0].arguments[0], (std::vector<uint8_t>{0xE1, 0xFF, 0xFF, 0xFF}));
  }
  ZELString empty;
  host_.FailNthAppend(1);
  EXPECT_EQ(sal_.AddDefaultUser2(empty, empty, 0), ZEL_E_WRITE_FAILED);  // no record
  EXPECT_EQ(TraceCapture().records.size(), 5u);
  EXPECT_TRUE(host_.Sent().empty());
}

TEST_F(Accounts2Test, GetPrivilege2ReadsItsArrayWhateverThePositiveResult) {
  const Bytes reply = Write([](ZEL_BUF_BinBuffer& out) {
    const uint32_t raw[] = {10, 20, 30};
    out << int32_t{1} << uint32_t{8} << uint32_t{9} << uint32_t{3};
    out.AppendBytes(raw, 12);
  });
  uint32_t a1 = 0, a2 = 0, n = 0;
  uint32_t* privileges = nullptr;
  auto call = [&] { return sal_.GetPrivilege2(0x44, a1, a2, n, &privileges); };
  host_.QueueReply(reply, 1);
  EXPECT_EQ(call(), 1);  // the raw read does not change the result
  EXPECT_EQ(host_.Sent()[0].payload, Write([](ZEL_BUF_BinBuffer& out) { out << uint64_t{0x44}; }));
  ASSERT_EQ(n, 3u);
  EXPECT_EQ(privileges[2], 30u);
  sal_.FreeMemory(privileges, ZEL_AdminToolSAL3::kFreePlainArray);
}

TEST_F(Accounts2Test, GetStaticGroupPermissionReplacesTheGroupAndBuildsCapabilities) {
  const Bytes reply = Write([](ZEL_BUF_BinBuffer& out) {
    const uint32_t raw[] = {4, 5};
    out << int32_t{0} << ZELString(u"Resolved") << uint32_t{2} << uint64_t{100} << uint32_t{0}
        << uint64_t{200} << uint32_t{2};
    out.AppendBytes(raw, 8);
  });
  ZELString group(u"G");
  uint32_t count = 77;
  AdminObjectCapability* caps = nullptr;
  auto call = [&] { return sal_.GetStaticGroupPermission(group, count, &caps); };
  host_.QueueReply(reply);
  ASSERT_EQ(call(), 0);
  EXPECT_EQ(group, ZELString(u"Resolved"));
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(caps[0].privileges, nullptr);  // m = 0: nothing read for it
  EXPECT_EQ(caps[1].objectUID, 200u);
  EXPECT_EQ(caps[1].privileges[1], 5u);
  sal_.FreeCapabilities(caps);

  group = u"G";
  count = 77;
  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{-3}; }));
  EXPECT_EQ(call(), -3);
  EXPECT_EQ(count, 77u);  // as the caller had it
  EXPECT_EQ(group, ZELString(u"G"));
}

TEST_F(Accounts2Test, EnumerateKeldraAdminsDecodesRecordsWithoutSpareCapacity) {
  const Bytes reply = Join({Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{0} << uint32_t{2}; }),
                            AccountRecord(u"jane", {1, 2, 3}), AccountRecord(u"joe", {})});
  uint32_t count = 9;
  ZEL_ADMIN_USERINFO* records = nullptr;
  auto call = [&] { return sal_.EnumerateKeldraAdmins(count, &records, 1, 2); };
  host_.QueueReply(reply);
  ASSERT_EQ(call(), 0);
  EXPECT_EQ(host_.Sent()[0].payload, (Bytes{1, 2}));
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(records[0].accountName, ZELString(u"jane"));
  EXPECT_EQ(records[0].privilegeCount, 3u);
  EXPECT_EQ(records[0].privilegeCapacity, 0u);
  EXPECT_EQ(records[1].privileges, nullptr);
  records[0].AddOnePriv(4);  // a record read from a reply grows on its first change
  EXPECT_EQ(records[0].privilegeCapacity, 103u);
  sal_.FreeMemory(records, ZEL_AdminToolSAL3::kFreeUserInfoArray);
}

TEST_F(Accounts2Test, DeleteAdminNodeAnnouncesTheNodeWithItsWireForm) {
  ZEL_AdminToolObject node(u"Root/Admins", u"jane");
  node.setUID(5);
  ZELString parent(u"Root/Admins"), name(u"jane");
  ASSERT_EQ(sal_.DeleteAdminNode(node, parent, name), 0);
  ASSERT_EQ(host_.Posted().size(), 2u);
  ZEL_BUF_EventBuffer wire(0, ZELVersion(1, 0), 0);
  node.write(wire);
  Bytes expected = Write([&](ZEL_BUF_BinBuffer& out) {
    out << int32_t{0} << int16_t{1} << int16_t{2} << parent << int16_t{1} << name;
  });
  expected.insert(expected.end(), wire.GetData(), wire.GetData() + wire.GetSize());
  EXPECT_EQ(host_.Posted()[0].payload, expected);
  EXPECT_EQ(Traced(zel::trace::kAdminNodeDeleted).size(), 1u);
  host_.SetDispatchResult(-2);
  EXPECT_EQ(sal_.DeleteAdminNode(node, parent, name), -2);
  EXPECT_EQ(host_.Posted().size(), 3u);
}

TEST_F(Accounts2Test, FreeMemoryReleasesEachKindAndTracesAnUnknownOne) {
  sal_.FreeMemory(zel::sal::AllocatePlainArray<uint32_t>(4), 1);
  sal_.FreeMemory(zel::sal::NewArray<ZEL_ADMIN_USERINFO>(2), 2);
  sal_.FreeMemory(zel::sal::NewObject<ZEL_ADMIN_USERINFO2>(), 3);
  auto* twos = zel::sal::NewArray<ZEL_ADMIN_USERINFO2>(2);
  twos[1].allowedFolders += uint64_t{7};
  sal_.FreeMemory(twos, 4);
  sal_.FreeMemory(zel::sal::NewArray<ZEL_ADMIN_CONTACTINFO>(3), 5);
  EXPECT_TRUE(TraceCapture().records.empty());  // (the fixture checks nothing was left behind)

  uint32_t kept = 0;
  EXPECT_EQ(sal_.FreeMemory(&kept, 0), 0);
  EXPECT_EQ(sal_.FreeMemory(&kept, 6), 0);
  EXPECT_EQ(Traced(zel::trace::kFreeMemoryUnknownType).size(), 2u);
  EXPECT_EQ(sal_.FreeMemory(nullptr, 9), 0);
  EXPECT_EQ(TraceCapture().records.size(), 2u);  // a null pointer traces nothing
}

}  // namespace
