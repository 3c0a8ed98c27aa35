// Every kind of event, as the library makes or reads it, described as named fields: one row per
// event kind. Requests, notifications and replies of the receiving side are captured from the
// scripted host; the replies of request/reply events are the bytes the library just read.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"
#include "zel/admintool/protocol/describe.h"

namespace {

using zel::protocol::Direction;
using zel::rt::testing::Bytes;
using zel::rt::testing::ScriptedHost;
using zel::rt::testing::Write;

constexpr const char* kUID1 = "0x0000000000000001";

struct Row {
  const char* what;
  uint16_t event;
  Direction direction;
  // Makes the library produce (or read) the event; answers its payload.
  std::function<Bytes(ScriptedHost&, ZEL_AdminToolSAL6&)> produce;
  std::vector<std::pair<std::string, std::string>> fields;  // a subset, by name
  std::vector<std::string> secrets = {};
  bool parsed = true;
  uint32_t stoppedAt = 0;
};

Bytes LastSent(ScriptedHost& host) { return host.Sent().back().payload; }
Bytes LastPosted(ScriptedHost& host) { return host.Posted().back().payload; }
// A reply with only a failing result, so that the operation reads nothing more.
void Refuse(ScriptedHost& host) {
  host.QueueReply(Write([](auto& out) { out << int32_t{-5}; }));
}

std::vector<Row> Rows() {
  return {
      {"request, level 3, uids one by one",
       27,
       Direction::kRequest,
       [](ScriptedHost& host, ZEL_AdminToolSAL6& sal) {
         Refuse(host);
         uint64_t uids[] = {1, 2};
         sal.DeleteUser(2, uids);
         return LastSent(host);
       },
       {{"uids", "[0x0000000000000001, 0x0000000000000002]"}}},
      {"first-generation request",
       31,
       Direction::kRequest,
       [](ScriptedHost& host, ZEL_AdminToolSAL6& sal) {
         Refuse(host);
         ZELString first(u"a"), second(u"b");
         sal.AddDefaultUser(first, second);
         return LastSent(host);
       },
       {{"first", "\"a\""}, {"second", "\"b\""}}},
      {"account-ID blob",
       48,
       Direction::kRequest,
       [](ScriptedHost& host, ZEL_AdminToolSAL6& sal) {
         Refuse(host);
         UM_AcctIDBlobWriter account(
             UM_AccountIdentity{ZELString(u"NT"), ZELString(u"NORTH"), ZELString(u"jane"), {1, 2}});
         sal.IsUserKeldraAdmin(account, nullptr);
         return LastSent(host);
       },
       {{"account.domain", "\"NORTH\""}, {"account.accountID", "2 bytes: 0102"}}},
      {"credentials blanked",
       65,
       Direction::kRequest,
       [](ScriptedHost& host, ZEL_AdminToolSAL6& sal) {
         Refuse(host);
         ZELString name(u"jane"), resolved;
         uint8_t secret[] = {0xC0, 0xFF, 0xEE};
         uint32_t status = 0, value = 0, n = 0, m = 0;
         uint32_t* values = nullptr;
         uint64_t* uids = nullptr;
         sal.Logon2(name, 3, secret, status, resolved, value, &n, &values, &m, &uids, 0);
         return LastSent(host);
       },
       {{"logonName", "\"jane\""}},
       {"credentials"}},
      {"reply with raw blocks",
       65,
       Direction::kReply,
       [](ScriptedHost&, ZEL_AdminToolSAL6&) {
         return Write([](ZEL_BUF_BinBuffer& out) {
           const uint32_t values[] = {4, 5};
           const uint64_t uid = 1;
           out << int32_t{2} << ZELString(u"NORTH\\jane") << uint32_t{9} << uint32_t{2};
           out.AppendBytes(values, 8);
           out << uint32_t{1};
           out.AppendBytes(&uid, 8);
         });
       },
       {{"result", "2"},
        {"resolvedName", "\"NORTH\\\\jane\""},
        {"values", "[4, 5]"},
        {"uids", "[0x0000000000000001]"}}},
      {"account records",
       67,
       Direction::kRequest,
       [](ScriptedHost& host, ZEL_AdminToolSAL6& sal) {
         Refuse(host);
         ZEL_ADMIN_USERINFO users[1];
         users[0].Init(ZELString(u"jane"), ZELString(u"NT"), 1, 2, 1);
         users[0].privileges[0] = 42;
         sal.AddUsers2(1, users);
         return LastSent(host);
       },
       {{"users", "1 items"},
        {"users[0].accountName", "\"jane\""},
        {"users[0].privileges", "[42]"}}},
      {"capability records",
       73,
       Direction::kReply,
       [](ScriptedHost&, ZEL_AdminToolSAL6&) {
         return Write([](ZEL_BUF_BinBuffer& out) {
           const uint32_t privilege = 3;
           out << int32_t{0} << ZELString(u"G") << uint32_t{1} << uint64_t{1} << uint32_t{1};
           out.AppendBytes(&privilege, 4);
         });
       },
       {{"group", "\"G\""},
        {"capabilities[0].objectUID", kUID1},
        {"capabilities[0].privileges", "[3]"}}},
      {"ticket blanked",
       86,
       Direction::kRequest,
       [](ScriptedHost& host, ZEL_AdminToolSAL6& sal) {
         Refuse(host);
         uint8_t ticket[120] = {0xAB};
         _VoAdminAccounts* accounts = nullptr;
         sal.GetVoAdminAccountsForTicket(ticket, accounts);
         return LastSent(host);
       },
       {},
       {"ticket"}},
      {"accounts with contacts and a folder list",
       87,
       Direction::kRequest,
       [](ScriptedHost& host, ZEL_AdminToolSAL6& sal) {
         Refuse(host);
         ZEL_ADMIN_USERINFO users[1];
         users[0].Init(ZELString(u"jane"), ZELString(u"NT"), 1, 2, 0);
         ZEL_ADMIN_CONTACTINFO contacts[1];
         contacts[0].contact1 = ZELString(u"mail");
         const uint32_t task = 6;
         FolderPermissions folder(1, &task, 70);
         AllowedFolders folders;
         folders += &folder;
         sal.AddUsers3(1, users, &folders, contacts);
         return LastSent(host);
       },
       {{"accounts[0].accountName", "\"jane\""},
        {"accounts[0].contact1", "\"mail\""},
        {"allowedFolders.folders[0].tasks", "[6]"}}},
      {"administrators of the third version",
       90,
       Direction::kReply,
       [](ScriptedHost&, ZEL_AdminToolSAL6&) { return zel::sal::testing::kEnumerate2Reply; },
       {{"administrators[0].adminUID", "0x0000000000000065"},
        {"administrators[0].allowedFolders.folders[0].folderUID", "0x000000000000044d"},
        {"administrators[0].contact1", "\"phone\""}}},
      {"wide strings",
       93,
       Direction::kRequest,
       [](ScriptedHost& host, ZEL_AdminToolSAL6& sal) {
         Refuse(host);
         uint64_t uid = 0;
         sal.GetAdminUIDByName(u"jane", nullptr, uid);
         return LastSent(host);
       },
       {{"firstName", "\"jane\""}, {"secondName", "\"\""}}},
      {"one-way names",
       97,
       Direction::kNotification,
       [](ScriptedHost& host, ZEL_AdminToolSAL6& sal) {
         uint64_t values[] = {1};
         uint64_t* uids = values;
         sal.PostAdminNameUnResolvedNotification(uids, 1, 3);
         return LastPosted(host);
       },
       {{"value", "3"}, {"uids", "[0x0000000000000001]"}}},
      {"tree notification, a change",
       81,
       Direction::kNotification,
       [](ScriptedHost& host, ZEL_AdminToolSAL6& sal) {
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
        {"sections[0].items[0].node.uids", "[0x0000000000000001]"}}},
      {"container change",
       95,
       Direction::kNotification,
       [](ScriptedHost& host, ZEL_AdminToolSAL6& sal) {
         ZELString from(u"A"), to(u"B");
         ZEL_AdminToolObject node(u"A", u"n");
         sal.MoveNodes(from, to, 1, &node);
         return LastPosted(host);
       },
       {{"containers", "2"}, {"containerDNs[0]", "\"A\""}, {"containerDNs[1]", "\"B\""}}},
      {"group request with credentials blanked",
       82,
       Direction::kRequest,
       [](ScriptedHost&, ZEL_AdminToolSAL6&) {
         return Write([](ZEL_BUF_BinBuffer& out) {
           out << ZELString(u"Root") << ZELString(u"G") << ZELString(u"T") << int16_t{0}
               << uint16_t{0} << uint64_t{0} << uint64_t{1} << ZELString(u"NORTH\\jane")
               << uint32_t{2} << uint16_t{0xBEEF};
         });
       },
       {{"group.name", "\"G\""}, {"credentials.account", "\"NORTH\\\\jane\""}},
       {"credentials.password"}},
      {"group reply of a failure holds its result only",
       81,
       Direction::kReply,
       [](ScriptedHost& host, ZEL_AdminToolSAL6& sal) {
         ZEL_BUF_EventBuffer request(82, ZELVersion(1, 0), 0);
         sal.WriteGroupToEventBuffer(&request, -9, nullptr, 0);
         return host.Delivered().back().payload;
       },
       {{"status", "-9 (0xfffffff7)"}}},
      {"a reply that stops inside its array",
       71,
       Direction::kReply,
       [](ScriptedHost&, ZEL_AdminToolSAL6&) {
         return Write([](auto& out) { out << int32_t{0} << uint32_t{1} << uint32_t{2} << 5u; });
       },
       {{"attribute1", "1"}},
       {},
       false,
       12},
      {"an event of ours, made by the library's folder reply",
       1000,
       Direction::kReply,
       [](ScriptedHost& host, ZEL_AdminToolSAL6& sal) {
         ZEL_BUF_EventBuffer request(1000, ZELVersion(1, 0), 0);
         sal.FolderOperationReplyHelper(&request, 1000, 0, 1);
         return host.Delivered().back().payload;
       },
       {{"result", "0"}, {"uid", kUID1}}},
  };
}

class DescribeTest : public zel::sal::testing::SalTest {};

TEST_F(DescribeTest, EveryEventKindShowsItsNamedFieldsAndBlanksItsSecrets) {
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.what);
    Bytes payload;
    {
      ZEL_AdminToolSAL6 sal(host_);
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
