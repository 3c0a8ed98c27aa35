// Every kind of event, as the library makes or reads it, described as named fields: one row per
// event kind. Requests, notifications and replies of the receiving side are captured from the
// scripted host; the replies of request/reply events are the bytes the library just read.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "operation_io.h"
#include "zel/admintool/protocol/describe.h"

namespace {

using zel::protocol::Direction;
using zel::rt::testing::Bytes;
using zel::rt::testing::ScriptedHost;
using zel::rt::testing::Write;
using zel::sal::testing::Io;
using zel::sal::testing::Sal;

constexpr const char* kUID1 = "0x0000000000000001";

using Produce = std::function<Bytes(ScriptedHost&, Sal&)>;

using Fields = std::vector<std::pair<std::string, std::string>>;  // a subset, by name

struct Row {
  const char* what;
  uint16_t event;
  Direction direction;
  Produce produce;  // makes the library produce (or read) the event; answers its payload
  Fields fields;
  std::vector<std::string> secrets;
  bool parsed;
  uint32_t stoppedAt;
};
Row Case(const char* what, uint16_t event, Direction direction, Produce produce, Fields fields,
         std::vector<std::string> secrets = {}, bool parsed = true, uint32_t stoppedAt = 0) {
  return {what,   event,    direction, std::move(produce), std::move(fields), std::move(secrets),
          parsed, stoppedAt};
}

// The request `call` sends; its reply is refused, so that it reads nothing.
Produce Sent(std::function<void(Sal&, Io&)> call) {
  return [call](ScriptedHost& host, Sal& sal) {
    host.QueueReply(Write([](auto& out) { out << int32_t{-5}; }));
    Io io(sal);
    call(sal, io);
    return host.Sent().back().payload;
  };
}
// A reply as the library reads it.
Produce Given(const Bytes& payload) {
  return [payload](ScriptedHost&, Sal&) { return payload; };
}

std::vector<Row> Rows() {
  const uint32_t values[] = {4, 5}, privilege = 3;
  const uint64_t uid = 1;
  return {
      Case("request, level 3, uids one by one", 27, Direction::kRequest, Sent([](Sal& s, Io&) {
             uint64_t uids[] = {1, 2};
             s.DeleteUser(2, uids);
           }),
           {{"uids", "[0x0000000000000001, 0x0000000000000002]"}}),
      Case("first-generation request", 31, Direction::kRequest,
           Sent([](Sal& s, Io& o) { s.AddDefaultUser(o.first, o.second); }),
           {{"first", "\"admin\""}, {"second", "\"NORTH\""}}),
      Case("account-ID blob", 48, Direction::kRequest,
           Sent([](Sal& s, Io& o) { s.IsUserKeldraAdmin(o.account, &o.u32); }),
           {{"account.domain", "\"NORTH\""}, {"account.accountID", "3 bytes: 010203"}}),
      Case("credentials blanked", 65, Direction::kRequest,
           Sent([](Sal&, Io& o) { o.Logon2(3, o.secret); }), {{"logonName", "\"jane\""}},
           {"credentials"}),
      Case("reply with raw blocks", 65, Direction::kReply, Given(Write([&](ZEL_BUF_BinBuffer& out) {
             out << int32_t{2} << ZELString(u"NORTH\\jane") << uint32_t{9} << uint32_t{2};
             out.AppendBytes(values, 8);
             out << uint32_t{1};
             out.AppendBytes(&uid, 8);
           })),
           {{"result", "2"},
            {"resolvedName", "\"NORTH\\\\jane\""},
            {"values", "[4, 5]"},
            {"uids", "[0x0000000000000001]"}}),
      Case("account records", 67, Direction::kRequest,
           Sent([](Sal& s, Io& o) { s.AddUsers2(1, o.users); }),
           {{"users", "1 items"},
            {"users[0].accountName", "\"jane\""},
            {"users[0].privileges", "[7]"}}),
      Case("capability records", 73, Direction::kReply, Given(Write([&](ZEL_BUF_BinBuffer& out) {
             out << int32_t{0} << ZELString(u"G") << uint32_t{1} << uint64_t{1} << uint32_t{1};
             out.AppendBytes(&privilege, 4);
           })),
           {{"group", "\"G\""},
            {"capabilities[0].objectUID", kUID1},
            {"capabilities[0].privileges", "[3]"}}),
      Case("ticket blanked", 86, Direction::kRequest, Sent([](Sal& s, Io& o) {
             s.GetVoAdminAccountsForTicket(zel::sal::testing::Ticket(), o.accounts);
           }),
           {}, {"ticket"}),
      Case("accounts with contacts and a folder list", 87, Direction::kRequest,
           Sent([](Sal& s, Io& o) { s.AddUsers3(1, o.users, &o.folders, o.contacts); }),
           {{"accounts[0].accountName", "\"jane\""},
            {"accounts[0].contact1", "\"mail\""},
            {"allowedFolders.folders[0].tasks", "[1, 2]"}}),
      Case("administrators of the third version", 90, Direction::kReply,
           Given(zel::sal::testing::kEnumerate2Reply),
           {{"administrators[0].adminUID", "0x0000000000000065"},
            {"administrators[0].allowedFolders.folders[0].folderUID", "0x000000000000044d"},
            {"administrators[0].contact1", "\"phone\""}}),
      Case("wide strings", 93, Direction::kRequest,
           Sent([](Sal& s, Io& o) { s.GetAdminUIDByName(u"jane", nullptr, o.uid); }),
           {{"firstName", "\"jane\""}, {"secondName", "\"\""}}),
      Case("one-way names", 97, Direction::kNotification,
           [](ScriptedHost& host, Sal& sal) {
             uint64_t one[] = {1};
             uint64_t* uids = one;
             sal.PostAdminNameUnResolvedNotification(uids, 1, 3);
             return host.Posted().back().payload;
           },
           {{"value", "3"}, {"uids", "[0x0000000000000001]"}}),
      Case("tree notification, a change", 81, Direction::kNotification,
           [](ScriptedHost& host, Sal& sal) {
             ZELString parent(u"Root"), old(u"old");
             ZEL_AdminToolObject node(u"Root", u"new");
             node.setUID(1);
             sal.ChangeNodeAttr(parent, old, node);
             return host.Posted()[host.Posted().size() - 2].payload;  // then event 95
           },
           {{"sections[0].op", "3"},
            {"sections[0].parentDN", "\"Root\""},
            {"sections[0].items[0].name", "\"old\""},
            {"sections[0].items[0].node.name", "\"new\""},
            {"sections[0].items[0].node.uids", "[0x0000000000000001]"}}),
      Case("container change", 95, Direction::kNotification,
           [](ScriptedHost& host, Sal& sal) {
             ZELString from(u"A"), to(u"B");
             ZEL_AdminToolObject node(u"A", u"n");
             sal.MoveNodes(from, to, 1, &node);
             return host.Posted().back().payload;
           },
           {{"containers", "2"}, {"containerDNs[0]", "\"A\""}, {"containerDNs[1]", "\"B\""}}),
      Case("group request with credentials blanked", 82, Direction::kRequest,
           Given(Write([](ZEL_BUF_BinBuffer& out) {
             out << ZELString(u"Root") << ZELString(u"G") << ZELString(u"T") << int16_t{0}
                 << uint16_t{0} << uint64_t{0} << uint64_t{1} << ZELString(u"NORTH\\jane")
                 << uint32_t{2} << uint16_t{0xBEEF};
           })),
           {{"group.name", "\"G\""}, {"credentials.account", "\"NORTH\\\\jane\""}},
           {"credentials.password"}),
      Case("group reply of a failure holds its result only", 81, Direction::kReply,
           [](ScriptedHost& host, Sal& sal) {
             ZEL_BUF_EventBuffer request(82, ZELVersion(1, 0), 0);
             sal.WriteGroupToEventBuffer(&request, -9, nullptr, 0);
             return host.Delivered().back().payload;
           },
           {{"status", "-9 (0xfffffff7)"}}),
      Case("a reply that stops inside its array", 71, Direction::kReply,
           Given(Write([](auto& out) { out << int32_t{0} << uint32_t{1} << uint32_t{2} << 5u; })),
           {{"attribute1", "1"}}, {}, false, 12),
      Case("an event of ours, made by the library's folder reply", 1000, Direction::kReply,
           [](ScriptedHost& host, Sal& sal) {
             ZEL_BUF_EventBuffer request(1000, ZELVersion(1, 0), 0);
             sal.FolderOperationReplyHelper(&request, 1000, 0, 1);
             return host.Delivered().back().payload;
           },
           {{"result", "0"}, {"uid", kUID1}}),
  };
}

class DescribeTest : public zel::sal::testing::SalTest {};

TEST_F(DescribeTest, EveryEventKindShowsItsNamedFieldsAndBlanksItsSecrets) {
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.what);
    Bytes payload;
    {
      Sal sal(host_);
      payload = row.produce(host_, sal);
    }
    const zel::protocol::EventDescription d = zel::admintool::DescribeEvent(
        row.event, row.direction, payload.data(), static_cast<uint32_t>(payload.size()));
    EXPECT_EQ(d.parsed, row.parsed);
    EXPECT_EQ(d.stoppedAt, row.stoppedAt);
    if (row.parsed) {
      EXPECT_EQ(d.trailing, 0u);
    }
    for (const auto& [name, value] : row.fields) {
      bool found = false;
      for (const auto& field : d.fields)
        found = found || (field.name == name && field.value == value);
      EXPECT_TRUE(found) << name << " = " << value << "\n" << d.Text();
    }
    for (const std::string& name : row.secrets) {
      bool blanked = false;
      for (const auto& field : d.fields) {
        blanked = blanked || (field.name == name && field.secret && field.value.empty());
      }
      EXPECT_TRUE(blanked) << name << "\n" << d.Text();
      EXPECT_NE(d.Text().find(zel::protocol::kBlanked), std::string::npos);
    }
    // Every prefix is described without a crash, a leak (the fixture checks) or a secret shown.
    for (uint32_t cut = 0; cut < payload.size(); ++cut) {
      for (const auto& field :
           zel::admintool::DescribeEvent(row.event, row.direction, payload.data(), cut).fields) {
        EXPECT_TRUE(!field.secret || field.value.empty()) << field.name;
      }
    }
  }
}

}  // namespace
