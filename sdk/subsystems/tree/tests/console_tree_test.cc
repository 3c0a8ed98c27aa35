// The console tree on a real store, with the library's SAL objects on two consoles of an
// in-process farm: what one console registers another enumerates; folder requests change the
// stored tree and the hub's subscribers see the library's notifications of each change;
// refused and malformed requests change nothing and announce nothing.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "zel/admintool/zel_admintoolsal.h"
#include "zel/directory/testing/temp_store.h"
#include "zel/hub/notification_hub.h"
#include "zel/protocol/folders.h"
#include "zel/protocol/group_enumeration.h"
#include "zel/runtime/farm.h"
#include "zel/runtime/reader.h"
#include "zel/runtime/secure.h"
#include "zel/subsystem/console_tree.h"

namespace {

using namespace zel::subsystem::tree_code;
using namespace zel::protocol;
using Bytes = std::vector<uint8_t>;
using EventPtr = std::unique_ptr<ZEL_BUF_EventBuffer>;

// Expected payloads, written byte by byte.
struct Wire {
  Bytes bytes;
  Wire& Int(uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return *this;
  }
  Wire& Text(std::u16string_view text) {
    Int(2 * (text.size() + 1), 4);
    for (char16_t unit : text) Int(unit, 2);
    return Int(0, 2);
  }
  // A node as a folder the subsystem made: flags 0, ssid 22, no icon, its UID alone in its list.
  Wire& Folder(std::u16string_view name, uint64_t uid) {
    return Text(name).Text(name).Int(0, 2).Int(22, 2).Int(0, 8).Int(uid, 8).Int(1, 4).Int(uid, 8);
  }
};

// One member of a group reply.
struct Listed {
  std::u16string name, title;
  int16_t flags;
  uint16_t ssid;
  uint64_t icon, uid;
  bool operator<(const Listed& other) const { return name < other.name; }
};

class ConsoleTreeTest : public ::testing::Test {
 protected:
  ConsoleTreeTest() {
    ZEL_AdminToolSAL::s_adminToolContext = ZELString();
    ZEL_AdminToolSAL::s_cid = ZEL_AdminToolSAL::s_objCid = 0;
    ZEL_AdminToolSAL::s_iconCid = ZEL_AdminToolSAL::s_pluginCid = 0;
    for (auto* host : {&tool_, &consoleA_, &consoleB_}) {
      host->Plugins().Offer(kZelDirectoryStoreInterface, &store_);
    }
    hub_.Attach(farm_.AddSubsystem(1));
    hub_.Subscribe([this](const zel::rt::Caller&, const ZEL_BUF_EventBuffer& event) {
      posted_.push_back(
          {event.GetEventID(), Bytes(event.GetData(), event.GetData() + event.GetSize())});
    });
    tool_.SetRequestHandler(
        [this](const ZEL_BUF_EventBuffer& request, ZEL_BUF_EventBuffer** reply) {
          const uint16_t id = request.GetEventID();
          if (id == event::kEnumerateGroup || id == event::kEnumerateGroupWithCredentials) {
            return tree_.AnswerGroupEnumeration(request, check_, reply);
          }
          return tree_.AnswerFolderRequest(request, reply, &outcome_);
        });
  }

  template <typename M>
  EventPtr Send(uint16_t id, const M& message) {
    ZEL_BUF_EventBuffer* request = CreateSALEvent2(id, ZELVersion(1, 0), 0, 6, 22, 4);
    Encode(message, *request);
    return SendRaw(request);
  }
  EventPtr SendRaw(ZEL_BUF_EventBuffer* request) {
    ZEL_BUF_EventBuffer* reply = nullptr;
    EXPECT_EQ(SendSALEvent2(request, &reply, consoleB_, 0), 0);
    return EventPtr(reply);
  }
  template <typename M>
  FolderOperationReply Folder(const M& request) {
    EventPtr reply = Send(M::kEventID, request);
    FolderOperationReply decoded;
    ZEL_BUF_BufferReader reader(reply.get(), 0);
    Decode(reader, decoded);
    return decoded;
  }
  uint64_t Create(uint64_t parent, const char16_t* name) {
    const FolderOperationReply reply = Folder(CreateFolderRequest{parent, name});
    EXPECT_EQ(reply.result, 0) << std::hex << reply.result;
    return reply.uid;
  }

  // The group reply's status and members (sorted by name), read field by field.
  int32_t Enumerate(const ZELString& parentDN, const ZELString& name, std::vector<Listed>* out) {
    EnumerateGroupRequest request;
    request.parentDN = parentDN;
    request.name = name;
    return ReadGroupReply(Send(event::kEnumerateGroup, request), out);
  }
  static int32_t ReadGroupReply(const EventPtr& reply, std::vector<Listed>* out) {
    out->clear();
    EXPECT_EQ(reply->GetEventID(), event::kTreeOperation);
    ZEL_BUF_BufferReader reader(reply.get(), 0);
    int32_t status = 0;
    reader >> status;
    if (status != 0) return status;
    int16_t sections = 0, op = 0, count = 0;
    ZELString dn;
    reader >> sections >> op >> dn >> count;
    EXPECT_EQ(sections, 1);
    EXPECT_EQ(op, 0);  // a listing
    for (int16_t i = 0; i < count; ++i) {
      Listed node{};
      ZELString name, title;
      uint32_t uids = 0;
      reader >> name >> title >> node.flags >> node.ssid >> node.icon >> node.uid >> uids;
      for (uint64_t skipped = 0; uids > 0; --uids) reader >> skipped;
      node.name = name.view();
      node.title = title.view();
      out->push_back(node);
    }
    EXPECT_EQ(reader.GetRemaining(), 0u);
    std::sort(out->begin(), out->end());
    return status;
  }
  std::vector<std::u16string> Names(const ZELString& parentDN, const ZELString& name) {
    std::vector<Listed> listed;
    EXPECT_EQ(Enumerate(parentDN, name, &listed), 0);
    std::vector<std::u16string> names;
    for (const Listed& node : listed) names.push_back(node.name);
    return names;
  }
  // Every stored DN and the number of stored values, read with plain SQL.
  std::string Snapshot() {
    sqlite3* db = nullptr;
    sqlite3_open(store_.StorePath().c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT (SELECT group_concat(dn, '|') FROM (SELECT dn FROM entries ORDER BY "
                       "dn)) || '#' || (SELECT count(*) FROM attribute_values)",
                       -1, &stmt, nullptr);
    std::string text = sqlite3_step(stmt) == SQLITE_ROW
                           ? reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))
                           : "";
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return text;
  }
  void Register(const char16_t* parentDN, const char16_t* name, uint64_t uid) {
    ZEL_AdminToolObject node(parentDN, name);
    node.setUID(uid);
    ASSERT_EQ(salA_.RegisterObject(node, false), 0);
  }

  zel::dir::testing::TempStore store_;
  zel::rt::InProcessFarm farm_;
  zel::rt::FarmSubsystem& tool_ = farm_.AddSubsystem(22);
  zel::rt::FarmSubsystem& consoleA_ = farm_.AddSubsystem(5);
  zel::rt::FarmSubsystem& consoleB_ = farm_.AddSubsystem(6);
  zel::hub::NotificationHub hub_;
  zel::subsystem::ConsoleTree tree_{tool_};
  ZEL_AdminToolSAL salA_{consoleA_};
  zel::subsystem::CredentialCheck check_;
  zel::subsystem::FolderOutcome outcome_;
  std::vector<std::pair<uint16_t, Bytes>> posted_;
};

TEST_F(ConsoleTreeTest, NodesOneConsoleRegistersAreEnumeratedForAnother) {
  ZEL_AdminToolObject web(u"Farm", u"web01");
  web.setTitle(u"Web one");
  web.setFlags(4);
  web.setSSID(7);
  web.setIcon(3);
  web.setUID(11);
  ASSERT_EQ(salA_.RegisterObject(web, false), 0);
  Register(u"", u"Farm", 1);
  Register(u"Farm", u"db01", 12);
  Register(u"Farm/web01", u"disk", 111);
  Register(u"", u"Other", 2);

  const struct Case {
    const char16_t* parentDN;
    const char16_t* name;
    std::vector<std::u16string> members;
  } cases[] = {
      {u"", u"", {u"Farm", u"Other"}}, {u"", u"Farm", {u"db01", u"web01"}},
      {u"Farm", u"web01", {u"disk"}},  {u"Farm", u"db01", {}},
      {u"", u"Nowhere", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ZELString(c.name).toUtf8());
    EXPECT_EQ(Names(c.parentDN, c.name), c.members);
  }
  std::vector<Listed> farm;
  ASSERT_EQ(Enumerate(u"", u"Farm", &farm), 0);
  ASSERT_EQ(farm.size(), 2u);
  const Listed& listed = farm[1];
  EXPECT_EQ(listed.title, u"Web one");
  EXPECT_EQ(listed.flags, 4);
  EXPECT_EQ(listed.ssid, 7);
  EXPECT_EQ(listed.icon, 3u);
  EXPECT_EQ(listed.uid, 11u);
  EXPECT_TRUE(posted_.empty());  // reading announces nothing
}

TEST_F(ConsoleTreeTest, GroupEnumerationWithCredentialsAnswersOnlyWhatTheCheckAccepts) {
  uint8_t key[32] = {1, 2, 3};
  ZEL_SECURE_SetKey(0x3A, key, 32);
  Register(u"Farm", u"web01", 11);
  check_ = [](const UM_Credentials& c) {
    const bool right = c.domain == ZELString(u"NORTH") && c.userName == ZELString(u"alice") &&
                       c.password == ZELString(u"pa55");
    return right ? 0 : static_cast<int32_t>(0x80220200u);
  };
  const struct Case {
    const char16_t* account;
    std::u16string password;
    uint32_t cut;  // bytes left off the end
    int32_t status;
  } cases[] = {
      {u"NORTH\\alice", u"pa55", 0, 0},
      {u"NORTH\\alice", u"wrong", 0, static_cast<int32_t>(0x80220200u)},
      {u"alice", u"pa55", 0, static_cast<int32_t>(0x80220200u)},
      {u"NORTH\\alice", u"pa55", 3, kMalformedRequest},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ZELString(c.account).toUtf8());
    ZEL_BUF_EventBuffer* request =
        CreateSALEvent2(event::kEnumerateGroupWithCredentials, ZELVersion(1, 0), 0, 6, 22, 1);
    EnumerateGroupRequest group;
    group.name = u"Farm";
    Encode(group, *request);
    Bytes password(
        reinterpret_cast<const uint8_t*>(c.password.c_str()),
        reinterpret_cast<const uint8_t*>(c.password.c_str()) + 2 * c.password.size() + 2);
    ZEL_SECURE_EncryptData(password.data(), static_cast<uint32_t>(password.size()), 0x3A);
    *request << ZELString(c.account) << static_cast<uint32_t>(password.size());
    request->AppendData(password.data(), static_cast<uint32_t>(password.size() - c.cut));
    std::vector<Listed> listed;
    EXPECT_EQ(ReadGroupReply(SendRaw(request), &listed), c.status);
    EXPECT_EQ(listed.size(), c.status == 0 ? 1u : 0u);
  }
  ZEL_SECURE_ClearKeys();
}

TEST_F(ConsoleTreeTest, FolderRequestsChangeTheStoredTreeAndAnnounceEachChange) {
  // Create: the reply names the new folder, which every console then enumerates.
  const uint64_t printers = Create(0, u"Printers");
  EXPECT_NE(printers, 0u);
  EXPECT_NE(printers, ~0ull);
  EXPECT_EQ(Names(u"", u""), (std::vector<std::u16string>{u"Printers"}));
  ASSERT_EQ(posted_.size(), 2u);
  EXPECT_EQ(
      posted_[0].second,
      Wire{}.Int(0, 4).Int(1, 2).Int(1, 2).Text(u"").Int(1, 2).Folder(u"Printers", printers).bytes);
  EXPECT_EQ(posted_[1].second, Wire{}.Int(0, 4).Int(1, 2).Int(3, 2).Text(u"").bytes);

  // Rename: members, their members and their capability values go along.
  const uint64_t laser = Create(printers, u"Laser");
  Register(u"Printers/Laser", u"tray", 77);
  ZELString laserDN(u"Printers/Laser");
  uint32_t values[] = {5, 6};
  ASSERT_EQ(salA_.UpdateObject(laserDN, 2, values), 0);
  posted_.clear();
  EXPECT_EQ(Folder(RenameFolderRequest{printers, u"Print"}).result, 0);
  EXPECT_EQ(Names(u"", u""), (std::vector<std::u16string>{u"Print"}));
  EXPECT_EQ(Names(u"Print", u"Laser"), (std::vector<std::u16string>{u"tray"}));
  EXPECT_TRUE(Names(u"Printers", u"Laser").empty());
  uint32_t count = 0;
  AdminObjectCapability* capabilities = nullptr;
  ASSERT_EQ(salA_.GetStaticGroupPermissionHelper(ZELString(u"Print"), count, &capabilities), 0);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(capabilities[0].objectUID, laser);
  EXPECT_EQ(std::vector<uint32_t>(capabilities[0].privileges, capabilities[0].privileges + 2),
            (std::vector<uint32_t>{5, 6}));
  salA_.FreeCapabilities(capabilities);
  ASSERT_EQ(posted_.size(), 2u);
  EXPECT_EQ(posted_[0].second, Wire{}
                                   .Int(0, 4)
                                   .Int(1, 2)
                                   .Int(3, 2)
                                   .Text(u"")
                                   .Int(1, 2)
                                   .Text(u"Printers")
                                   .Folder(u"Print", printers)
                                   .bytes);

  // Move: the member leaves one folder for the other; both are named.
  posted_.clear();
  EXPECT_EQ(Folder(MoveFolderMembersRequest{{laser}, printers, 0}).result, 0);
  EXPECT_EQ(Names(u"", u""), (std::vector<std::u16string>{u"Laser", u"Print"}));
  EXPECT_EQ(Names(u"", u"Laser"), (std::vector<std::u16string>{u"tray"}));
  ASSERT_EQ(posted_.size(), 2u);
  EXPECT_EQ(posted_[0].second, Wire{}
                                   .Int(0, 4)
                                   .Int(2, 2)
                                   .Int(2, 2)
                                   .Text(u"Print")
                                   .Int(1, 2)
                                   .Text(u"Laser")
                                   .Int(1, 2)
                                   .Text(u"")
                                   .Int(1, 2)
                                   .Folder(u"Laser", laser)
                                   .bytes);
  EXPECT_EQ(posted_[1].second, Wire{}.Int(0, 4).Int(2, 2).Int(3, 2).Text(u"Print").Text(u"").bytes);

  // Delete: only an empty folder goes.
  posted_.clear();
  EXPECT_EQ(Folder(DeleteFolderRequest{printers}).result, 0);
  EXPECT_EQ(Names(u"", u""), (std::vector<std::u16string>{u"Laser"}));
  ASSERT_EQ(posted_.size(), 2u);
  EXPECT_EQ(posted_[0].second,
            Wire{}.Int(0, 4).Int(1, 2).Int(2, 2).Text(u"").Int(1, 2).Text(u"Print").bytes);
  EXPECT_EQ(outcome_.result, 0);
  EXPECT_NE(outcome_.what.find("Print"), std::string::npos);
}

TEST_F(ConsoleTreeTest, RefusedFolderRequestsChangeNothingAndAnnounceNothing) {
  const uint64_t a = Create(0, u"A");
  const uint64_t b = Create(0, u"B");
  const uint64_t inner = Create(a, u"Inner");
  Create(b, u"Inner");
  const uint64_t unknown = 0x1234;
  const std::string before = Snapshot();
  ASSERT_EQ(before.substr(0, 14), "A|A/Inner|B|B/");  // the snapshot sees the store
  posted_.clear();

  const struct Case {
    const char* what;
    std::function<int32_t()> request;
    int32_t result;
  } cases[] = {
      {"create in an unknown folder",
       [&] {
         return Folder(CreateFolderRequest{unknown, u"X"}).result;
       },
       kNoSuchFolder},
      {"create a name taken",
       [&] {
         return Folder(CreateFolderRequest{0, u"A"}).result;
       },
       kNameTaken},
      {"create without a name",
       [&] {
         return Folder(CreateFolderRequest{0, u""}).result;
       },
       kInvalidName},
      {"rename to a sibling's name",
       [&] {
         return Folder(RenameFolderRequest{a, u"B"}).result;
       },
       kNameTaken},
      {"rename the root",
       [&] {
         return Folder(RenameFolderRequest{0, u"R"}).result;
       },
       kInvalidMove},
      {"rename the no-UID",
       [&] {
         return Folder(RenameFolderRequest{~0ull, u"R"}).result;
       },
       kNoSuchFolder},
      {"delete a folder with members", [&] { return Folder(DeleteFolderRequest{a}).result; },
       kFolderNotEmpty},
      {"delete the root", [&] { return Folder(DeleteFolderRequest{0}).result; }, kInvalidMove},
      {"delete an unknown folder", [&] { return Folder(DeleteFolderRequest{unknown}).result; },
       kNoSuchFolder},
      {"move a member from elsewhere",
       [&] {
         return Folder(MoveFolderMembersRequest{{inner}, b, 0}).result;
       },
       kNoSuchMember},
      {"move a member named twice",
       [&] {
         return Folder(MoveFolderMembersRequest{{inner, inner}, a, 0}).result;
       },
       kNoSuchMember},
      {"move a folder into itself",
       [&] {
         return Folder(MoveFolderMembersRequest{{a}, 0, a}).result;
       },
       kInvalidMove},
      {"move a folder below itself",
       [&] {
         return Folder(MoveFolderMembersRequest{{a}, 0, inner}).result;
       },
       kInvalidMove},
      {"move onto a name taken",
       [&] {
         return Folder(MoveFolderMembersRequest{{inner}, a, b}).result;
       },
       kNameTaken},
      {"move to an unknown folder",
       [&] {
         return Folder(MoveFolderMembersRequest{{inner}, a, unknown}).result;
       },
       kNoSuchFolder},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.request(), c.result);
    EXPECT_EQ(outcome_.result, c.result);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_TRUE(posted_.empty());
  }
}

// Every request cut short, and a move whose count its bytes cannot hold, is answered with
// kMalformedRequest and changes nothing.
TEST_F(ConsoleTreeTest, MalformedRequestsChangeNothing) {
  const uint64_t a = Create(0, u"A");
  const std::string before = Snapshot();
  posted_.clear();
  auto encoded = [](auto message) {
    ZEL_BUF_EventBuffer event(decltype(message)::kEventID, ZELVersion(1, 0), 0);
    Encode(message, event);
    return std::make_pair(decltype(message)::kEventID,
                          Bytes(event.GetData(), event.GetData() + event.GetSize()));
  };
  EnumerateGroupRequest group;
  group.name = u"A";
  const std::pair<uint16_t, Bytes> requests[] = {
      encoded(CreateFolderRequest{a, u"New"}),
      encoded(RenameFolderRequest{a, u"B"}),
      encoded(DeleteFolderRequest{a}),
      encoded(MoveFolderMembersRequest{{a}, 0, a}),
      encoded(group),
  };
  for (const auto& [id, bytes] : requests) {
    for (std::size_t size = 0; size < bytes.size(); ++size) {
      SCOPED_TRACE(std::to_string(id) + " cut to " + std::to_string(size));
      ZEL_BUF_EventBuffer* request = CreateSALEvent2(id, ZELVersion(1, 0), 0, 6, 22, 4);
      request->AppendData(bytes.data(), static_cast<uint32_t>(size));
      EventPtr reply = SendRaw(request);
      ZEL_BUF_BufferReader reader(reply.get(), 0);
      int32_t result = 0;
      reader >> result;
      EXPECT_EQ(result, kMalformedRequest);
    }
  }
  ZEL_BUF_EventBuffer* huge =
      CreateSALEvent2(event::kMoveFolderMembers, ZELVersion(1, 0), 0, 6, 22, 4);
  *huge << uint32_t{0xFFFFFFFF} << uint64_t{1} << uint64_t{2} << uint64_t{3};
  EventPtr reply = SendRaw(huge);
  ZEL_BUF_BufferReader reader(reply.get(), 0);
  int32_t result = 0;
  reader >> result;
  EXPECT_EQ(result, kMalformedRequest);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_TRUE(posted_.empty());
}

}  // namespace
