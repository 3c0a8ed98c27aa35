// The administrator operations against the scripted host: every request byte for byte (one row
// per operation and notable argument shape), the arguments and write failures that send
// nothing, and what each reply leaves in the outputs.
#include <gtest/gtest.h>

#include <functional>

#include "reply_rows.h"
#include "zel/admintool/allocation.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/runtime/alloc.h"

namespace {

using zel::rt::testing::Bytes;
using zel::rt::testing::Write;
using zel::sal::testing::AccountRecord;
using zel::sal::testing::Contact;
using zel::sal::testing::FolderList;
using zel::sal::testing::Io;
using zel::sal::testing::Join;
using zel::sal::testing::ReplyRow;
using zel::sal::testing::Sal;
using zel::sal::testing::SalTest;
using zel::sal::testing::Ticket;

// The account blob as its own writer puts it in an event (the blob is not what is under test).
Bytes AccountBlob() {
  ZEL_BUF_EventBuffer event(48, ZELVersion(1, 0), 0);
  zel::sal::testing::Account().WriteToEvent(&event);
  return Bytes(event.GetData(), event.GetData() + event.GetSize());
}

struct RequestRow {
  const char* what;
  std::function<void(Sal&, Io&)> call;
  uint16_t event;
  uint32_t level;
  uint32_t hint;
  Bytes payload;
};
RequestRow Sends(const char* what, uint16_t event, uint32_t level, uint32_t hint, Bytes payload,
                 std::function<void(Sal&, Io&)> call) {
  return {what, std::move(call), event, level, hint, std::move(payload)};
}

const Bytes kTwoFolders = Write([](ZEL_BUF_BinBuffer& out) {
  FolderList(out, {{70, {1, 2}}, {71, {}}});
});
const Bytes kMail = Write([](ZEL_BUF_BinBuffer& out) { Contact(out, u"mail"); });
const Bytes kJane = Bytes{10, 0, 0, 0, 'j', 0, 'a', 0, 'n', 0, 'e', 0, 0, 0};

std::vector<RequestRow> Requests() {
  return {
      Sends("GetUsersDNs", 30, 0, 0, {}, [](Sal& s, Io& o) { s.GetUsersDNs(o.dns); }),
      Sends("AddDefaultUser", 31, 0, 0, Write([](ZEL_BUF_BinBuffer& out) {
              out << ZELString(u"admin") << ZELString(u"NORTH");
            }),
            [](Sal& s, Io& o) { s.AddDefaultUser(o.first, o.second); }),
      Sends("IsUserKeldraAdmin", 48, 1, 0, AccountBlob(),
            [](Sal& s, Io& o) { s.IsUserKeldraAdmin(o.account, &o.u32); }),
      Sends("Logon2: name, credential length, raw credentials", 65, 2, 0,
            Join({kJane, Bytes{3, 0, 0, 0, 0xC0, 0xFF, 0xEE}}),
            [](Sal&, Io& o) { o.Logon2(3, o.secret); }),
      Sends("Logon2 without credentials still carries their length", 65, 2, 0,
            Join({kJane, Bytes{0, 0, 0, 0}}), [](Sal&, Io& o) { o.Logon2(); }),
      Sends("AddUsers2", 67, 2, 0,
            Join({Bytes{2, 0, 0, 0}, AccountRecord(u"jane", {7}), AccountRecord(u"joe", {})}),
            [](Sal& s, Io& o) { s.AddUsers2(2, o.users); }),
      Sends("AddUsers2 of none", 67, 2, 0, Bytes{0, 0, 0, 0},
            [](Sal& s, Io&) { s.AddUsers2(0, nullptr); }),
      Sends("SetPrivilege2", 69, 2, 0, Write([](ZEL_BUF_BinBuffer& out) {
              out << uint64_t{0x1122} << uint32_t{8} << uint32_t{9} << uint32_t{2} << uint32_t{5}
                  << uint32_t{6};
            }),
            [](Sal& s, Io& o) { s.SetPrivilege2(0x1122, 8, 9, 2, o.privileges); }),
      Sends("SetPrivilege2 without privileges has no raw block", 69, 2, 0,
            Write([](ZEL_BUF_BinBuffer& out) {
              out << uint64_t{0x1122} << uint32_t{8} << uint32_t{9} << uint32_t{0};
            }),
            [](Sal& s, Io&) { s.SetPrivilege2(0x1122, 8, 9, 0, nullptr); }),
      Sends("GetPrivilege2", 71, 2, 0, Write([](ZEL_BUF_BinBuffer& out) { out << uint64_t{0x44}; }),
            [](Sal& s, Io& o) { s.GetPrivilege2(0x44, o.a1, o.a2, o.n, &o.array); }),
      Sends("GetStaticGroupPermission", 73, 2, 0,
            Write([](ZEL_BUF_BinBuffer& out) { out << ZELString(u"G"); }),
            [](Sal& s, Io& o) { s.GetStaticGroupPermission(o.group, o.n, &o.caps); }),
      Sends("EnumerateKeldraAdmins", 75, 2, 0, Bytes{1, 2},
            [](Sal& s, Io& o) { s.EnumerateKeldraAdmins(o.n, &o.records, 1, 2); }),
      Sends("DeleteUser", 27, 3, 12,
            Write([](ZEL_BUF_BinBuffer& out) { out << uint32_t{1} << uint64_t{0xABCDEF}; }),
            [](Sal& s, Io& o) { s.DeleteUser(1, &o.uid); }),
      Sends("AddDefaultUser2 of empty names", 83, 3, 13,
            Bytes{2, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 3},
            [](Sal& s, Io& o) { s.AddDefaultUser2(o.empty, o.empty, 3); }),
      Sends("GetVoAdminAccountsForTicket: the ticket without a length", 86, 4, 120,
            Bytes(Ticket(), Ticket() + 120),
            [](Sal& s, Io& o) { s.GetVoAdminAccountsForTicket(Ticket(), o.accounts); }),
      Sends("AddUsers3: users, contacts, then the folder list", 87, 4, 0,
            Join({Bytes{1, 0, 0, 0}, AccountRecord(u"jane", {7}), kMail, kTwoFolders}),
            [](Sal& s, Io& o) { s.AddUsers3(1, o.users, &o.folders, o.contacts); }),
      Sends("AddUsers3 of no users: the count and the list", 87, 4, 0,
            Join({Bytes{0, 0, 0, 0}, kTwoFolders}),
            [](Sal& s, Io& o) { s.AddUsers3(0, nullptr, &o.folders, nullptr); }),
      Sends("SetPrivilege3: the UID, not the name; folders before contacts", 88, 4, 0,
            Join({Write([](ZEL_BUF_BinBuffer& out) {
                    out << uint64_t{0x77} << uint32_t{0} << uint32_t{0} << uint32_t{0};
                  }),
                  kTwoFolders, kMail}),
            [](Sal& s, Io& o) { s.SetPrivilege3(&o.info, o.contacts[0]); }),
      Sends("GetPrivilege3", 89, 4, 8, Write([](ZEL_BUF_BinBuffer& out) { out << uint64_t{0x55}; }),
            [](Sal& s, Io& o) { s.GetPrivilege3(0x55, o.record2, o.contacts[0]); }),
      Sends("EnumerateKeldraAdmins2", 90, 4, 2, Bytes{3, 4},
            [](Sal& s, Io& o) { s.EnumerateKeldraAdmins2(o.n, &o.records2, o.contacts2, 3, 4); }),
      Sends("GetPermissionsForCurrentUser", 91, 4, 0, {},
            [](Sal& s, Io& o) { s.GetPermissionsForCurrentUser(o.permitted); }),
      Sends("DeleteCapabilityObjectsInDB", 92, 4, 0, {},
            [](Sal& s, Io&) { s.DeleteCapabilityObjectsInDB(); }),
      Sends("GetAdminUIDByName: the hint counts characters without terminators", 93, 4, 4,
            Write([](ZEL_BUF_BinBuffer& out) { out << u"jane" << u""; }),
            [](Sal& s, Io& o) { s.GetAdminUIDByName(u"jane", nullptr, o.uid); }),
      Sends("GetAdminUIDByName of empty names", 93, 4, 0,
            Write([](ZEL_BUF_BinBuffer& out) { out << u"" << u""; }),
            [](Sal& s, Io& o) { s.GetAdminUIDByName(u"", u"", o.uid); }),
      Sends("GetAdminNameByUID", 94, 4, 8,
            Write([](ZEL_BUF_BinBuffer& out) { out << uint64_t{0x12}; }),
            [](Sal& s, Io& o) { s.GetAdminNameByUID(0x12, o.firstName, o.secondName); }),
      Sends("GetPrivilegesByBlob", 96, 4, 0, AccountBlob(),
            [](Sal& s, Io& o) { s.GetPrivilegesByBlob(o.account, o.flag, o.a1, o.n, &o.array); }),
  };
}

class RequestTest : public SalTest {
 protected:
  RequestTest() {
    host_.SetHasPluginApis(false);  // no local implementation: events only
    host_.SetResponder([](const zel::rt::testing::RecordedEvent&, Bytes* reply) {
      *reply = Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{-5}; });
      return int32_t{0};
    });
  }
  Sal sal_{host_};
};

TEST_F(RequestTest, EveryOperationSendsItsEventLevelHintAndBytes) {
  for (const RequestRow& row : Requests()) {
    SCOPED_TRACE(row.what);
    Io io(sal_);
    const std::size_t before = host_.Sent().size();
    row.call(sal_, io);
    ASSERT_EQ(host_.Sent().size(), before + 1);
    const auto& sent = host_.Sent().back();
    EXPECT_EQ(sent.eventID, row.event);
    EXPECT_EQ(sent.interfaceLevel, row.level);
    EXPECT_EQ(sent.sizeHint, row.hint);
    EXPECT_EQ(sent.srcSubsystemUID, 5);  // the caller's subsystem, to the AdminTool's
    EXPECT_EQ(sent.destSubsystemUID, 22);
    EXPECT_EQ(sent.payload, row.payload);
  }
}

struct RefusalRow {
  const char* what;
  uint32_t failAppend;  // which append fails (0: none), with `appendCode`
  int32_t appendCode;
  std::function<int32_t(Sal&, Io&)> call;
  int32_t code;
};
RefusalRow Refuses(const char* what, uint32_t failAppend, int32_t appendCode, int32_t code,
                   std::function<int32_t(Sal&, Io&)> call) {
  return {what, failAppend, appendCode, std::move(call), code};
}

std::vector<RefusalRow> Refusals() {
  const auto logon = [](Sal&, Io& o) { return o.Logon2(2, o.secret); };
  return {
      Refuses("DeleteUser of no UIDs", 0, 0, ZEL_E_INVALID_ARG,
              [](Sal& s, Io& o) { return s.DeleteUser(0, &o.uid); }),
      Refuses("DeleteUser without a list", 0, 0, ZEL_E_INVALID_ARG,
              [](Sal& s, Io&) { return s.DeleteUser(3, nullptr); }),
      Refuses("GetAdminUIDByName of no name", 0, 0, ZEL_E_INVALID_ARG,
              [](Sal& s, Io& o) {
                const int32_t r = s.GetAdminUIDByName(nullptr, nullptr, o.uid);
                EXPECT_EQ(o.uid, 0u);
                return r;
              }),
      Refuses("Logon2 without a count", 0, 0, ZEL_E_INVALID_ARG,
              [](Sal& s, Io& o) {
                return s.Logon2(o.name, 0, nullptr, o.u32, o.resolved, o.a1, nullptr, &o.values,
                                &o.m, &o.uids, 0);
              }),
      Refuses("SetPrivilege3 of a folder list that claims a folder it lacks", 0, 0,
              ZEL_E_WRITE_FAILED,
              [](Sal& s, Io& o) {
                ZEL_ADMIN_USERINFO2 liar;
                liar.allowedFolders.folderCount = 1;
                const int32_t r = s.SetPrivilege3(&liar, o.contacts[0]);
                liar.allowedFolders.folderCount = 0;
                return r;
              }),
      Refuses("AddUsers3 passes a raw append's own code", 7, -44, -44,  // jane's privilege block
              [](Sal& s, Io& o) { return s.AddUsers3(1, o.users, &o.folders, o.contacts); }),
      Refuses("the ticket passes an append's own code", 1, -12, -12,
              [](Sal& s, Io& o) { return s.GetVoAdminAccountsForTicket(Ticket(), o.accounts); }),
      Refuses("an account that cannot write itself", 1, zel::rt::kNoMemory, ZEL_E_FAIL,
              [](Sal& s, Io& o) { return s.IsUserKeldraAdmin(o.account, &o.u32); }),
      Refuses("GetAdminNameByUID", 1, zel::rt::kNoMemory, ZEL_E_FAIL,
              [](Sal& s, Io& o) { return s.GetAdminNameByUID(1, o.firstName, o.secondName); }),
      Refuses("GetPrivilegesByBlob", 1, zel::rt::kNoMemory, ZEL_E_FAIL,
              [](Sal& s, Io& o) {
                return s.GetPrivilegesByBlob(o.account, o.flag, o.a1, o.n, &o.array);
              }),
      Refuses("AddDefaultUser", 2, zel::rt::kNoMemory, ZEL_E_WRITE_FAILED,
              [](Sal& s, Io& o) { return s.AddDefaultUser(o.first, o.second); }),
      Refuses("Logon2's raw credentials: unlike AddUsers3's, a failed write", 3, -66,
              ZEL_E_WRITE_FAILED, logon),
  };
}

TEST_F(RequestTest, BadArgumentsAndFailedWritesSendNothing) {
  for (const RefusalRow& row : Refusals()) {
    SCOPED_TRACE(row.what);
    Io io(sal_);
    if (row.failAppend != 0) host_.FailNthAppend(row.failAppend, row.appendCode);
    EXPECT_EQ(row.call(sal_, io), row.code);
  }
  EXPECT_TRUE(host_.Sent().empty());
}

TEST_F(RequestTest, EveryReplyLeavesTheOutputsItsOperationPromises) {
  for (const ReplyRow& row : zel::sal::testing::Replies()) {
    SCOPED_TRACE(row.what);
    Io io(sal_);
    host_.QueueReply(row.reply, row.sendAnswer);
    EXPECT_EQ(row.call(sal_, io), row.code);
    row.check(sal_, io);
  }
}

TEST_F(RequestTest, EnumerateKeldraAdmins2LetsBadAllocThrough) {
  host_.SetResponder([](const zel::rt::testing::RecordedEvent&, Bytes* out) {
    *out = zel::sal::testing::kEnumerate2Reply;
    return int32_t{0};
  });
  Io io(sal_);
  zel::rt::FailNthAllocation(6);  // the contact array (the sweeps check what a failure leaves)
  EXPECT_THROW(sal_.EnumerateKeldraAdmins2(io.n, &io.records2, io.contacts2, 3, 4), bad_alloc);
}

TEST_F(RequestTest, ALocalImplementationAnswersForwardedOperationsOnly) {
  zel::sal::testing::RecordingLocal local;
  host_.SetHasPluginApis(true);
  host_.Plugins().Offer(2300, static_cast<AdminToolInterface4*>(&local));
  Sal sal(host_);
  Io o(sal);
  uint8_t ticket[120] = {};
  // Outputs that the forwarding must clear before the local implementation sees them.
  o.accounts = reinterpret_cast<_VoAdminAccounts*>(&local);
  o.record2 = o.records2 = reinterpret_cast<ZEL_ADMIN_USERINFO2*>(&local);
  o.contacts2 = reinterpret_cast<ZEL_ADMIN_CONTACTINFO*>(&local);
  o.permitted = reinterpret_cast<AllowedFolders*>(&local);
  o.n = 8;
  EXPECT_EQ(sal.GetVoAdminAccountsForTicket(ticket, o.accounts), 1);
  EXPECT_EQ(sal.AddUsers3(0, nullptr, nullptr, nullptr), 2);
  EXPECT_EQ(sal.GetPrivilege3(1, o.record2, o.contact), 3);
  EXPECT_EQ(sal.SetPrivilege3(nullptr, o.contact), 4);
  EXPECT_EQ(sal.EnumerateKeldraAdmins2(o.n, &o.records2, o.contacts2, 0, 0), 5);
  EXPECT_EQ(sal.GetPermissionsForCurrentUser(o.permitted), 6);
  EXPECT_EQ(sal.DeleteCapabilityObjectsInDB(), 7);
  EXPECT_EQ(local.calls.size(), 7u);
  EXPECT_TRUE(local.outputsCleared);
  EXPECT_TRUE(host_.Created().empty());

  // Resolution and GetPrivilegesByBlob always travel as events.
  sal.GetAdminUIDByName(u"a", nullptr, o.uid);
  sal.GetAdminNameByUID(1, o.firstName, o.secondName);
  sal.GetPrivilegesByBlob(o.account, o.flag, o.a1, o.n, &o.array);
  EXPECT_EQ(host_.Sent().size(), 3u);
}

TEST_F(RequestTest, UnresolvedNamesArePostedToTheFarmAsTheyAre) {
  uint64_t unresolved[] = {7, 8};
  uint64_t* list = unresolved;
  ASSERT_EQ(sal_.PostAdminNameUnResolvedNotification(list, 2, 5), 0);
  const auto& posted = host_.Posted().back();
  EXPECT_EQ(posted.eventID, 97);
  EXPECT_EQ(posted.srcHostID, 0x80000001u);
  EXPECT_EQ(posted.destHostID, 0x80000001u);
  EXPECT_EQ(posted.srcSubsystemUID, 22);
  EXPECT_EQ(posted.destSubsystemUID, 1);
  EXPECT_EQ(posted.payload, Write([](ZEL_BUF_BinBuffer& out) {
              out << uint32_t{5} << uint32_t{2} << uint64_t{7} << uint64_t{8};
            }));
  uint64_t* none = nullptr;
  ASSERT_EQ(sal_.PostAdminNameUnResolvedNotification(none, 0, 5), 0);
  EXPECT_EQ(host_.Posted().back().payload, (Bytes{5, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(RequestTest, DeleteAdminNodeAnnouncesTheNodeWithItsWireForm) {
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
  host_.SetDispatchResult(-2);
  EXPECT_EQ(sal_.DeleteAdminNode(node, parent, name), -2);
  EXPECT_EQ(host_.Posted().size(), 3u);
}

TEST_F(RequestTest, FreeMemoryReleasesEachKindAndTracesAnUnknownOne) {
  sal_.FreeMemory(zel::sal::AllocatePlainArray<uint32_t>(4), 1);
  sal_.FreeMemory(zel::sal::NewArray<ZEL_ADMIN_USERINFO>(2), 2);
  sal_.FreeMemory(zel::sal::NewObject<ZEL_ADMIN_USERINFO2>(), 3);
  auto* twos = zel::sal::NewArray<ZEL_ADMIN_USERINFO2>(2);
  twos[1].allowedFolders += uint64_t{7};
  sal_.FreeMemory(twos, 4);
  sal_.FreeMemory(zel::sal::NewArray<ZEL_ADMIN_CONTACTINFO>(3), 5);
  zel::sal::testing::TraceCapture().records.clear();  // (the fixture checks nothing is left)
  uint32_t kept = 0;
  EXPECT_EQ(sal_.FreeMemory(&kept, 0), 0);
  EXPECT_EQ(sal_.FreeMemory(&kept, 6), 0);
  EXPECT_EQ(sal_.FreeMemory(nullptr, 9), 0);  // a null pointer traces nothing
  EXPECT_EQ(Traced(zel::trace::kFreeMemoryUnknownType).size(), 2u);
}

}  // namespace
