// The console tree through the subsystem on a real store, consoles being the library's SAL
// objects on farm subsystems: what one console registers another enumerates; folder requests
// change the stored tree and the hub's subscribers get the library's notifications of each
// change; requests refused, malformed, or failing half way change and announce nothing.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "src/console_tree.h"
#include "subsystem_farm.h"
#include "zel/hub/notification_hub.h"
#include "zel/protocol/folders.h"
#include "zel/protocol/group_enumeration.h"
#include "zel/runtime/reader.h"
#include "zel/subsystem/admin_store.h"
#include "zel/subsystem/codes.h"

namespace zel::subsystem {
namespace {

using namespace tree_code;
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
  // A folder the subsystem made: flags 0, ssid 22, no icon, its UID alone in its list.
  Wire& Folder(std::u16string_view name, uint64_t uid) {
    return Text(name).Text(name).Int(0, 2).Int(22, 2).Int(0, 8).Int(uid, 8).Int(1, 4).Int(uid, 8);
  }
  // Events 81 (one section) and 95 (the containers).
  Wire& Section(int sections, int op, std::u16string_view parent, int items) {
    return Int(0, 4).Int(sections, 2).Int(op, 2).Text(parent).Int(items, 2);
  }
};
Bytes ContainerChange(std::vector<std::u16string_view> dns) {
  Wire wire;
  wire.Int(0, 4).Int(dns.size(), 2).Int(3, 2);
  for (auto dn : dns) wire.Text(dn);
  return wire.bytes;
}

template <typename M>
Bytes Encoded(const M& message) {
  ZEL_BUF_BinBuffer buffer;
  Encode(message, buffer);
  return Bytes(buffer.GetData(), buffer.GetData() + buffer.GetSize());
}

// Alice may change the tree, Bob only read it; Eve is no administrator.
constexpr uint16_t kAlice = 7, kBob = 8, kEve = 9;

class ConsoleTreeTest : public ::testing::Test {
 protected:
  ConsoleTreeTest() {
    owner_ = &farm_.Owner();
    farm_.Console(kAlice, "unix:alice");
    farm_.Console(kBob, "unix:bob");
    farm_.Console(kEve, "unix:eve");
    ZEL_PS_LDAPSAL directory(farm_.Host());
    AdministratorStore admins(directory);
    for (auto [name, privileges] :
         {std::pair<const char16_t*, std::vector<uint32_t>>{u"alice", {1, 3}}, {u"bob", {1}}}) {
      Administrator admin;
      admin.account = Account{u"unix", name};
      admin.privileges = privileges;
      EXPECT_EQ(admins.Put(&admin), 0);
    }
    hub_.Attach(farm_.Farm().AddSubsystem(1));
    hub_.Subscribe([this](const zel::rt::Caller&, const ZEL_BUF_EventBuffer& event) {
      posted_.push_back(Bytes(event.GetData(), event.GetData() + event.GetSize()));
    });
  }

  FolderOperationReply Folder(uint16_t from, uint16_t id, const Bytes& payload) {
    EventPtr reply;
    farm_.Raw(from, id, payload, &reply);
    FolderOperationReply decoded;
    ZEL_BUF_BufferReader reader(reply.get(), 0);
    Decode(reader, decoded);
    EXPECT_EQ(reader.GetRemaining(), 0u);
    return decoded;
  }
  template <typename M>
  int32_t Do(const M& request, uint16_t from = kAlice) {
    return Folder(from, M::kEventID, Encoded(request)).result;
  }
  uint64_t Create(uint64_t parent, const char16_t* name) {
    const FolderOperationReply reply =
        Folder(kAlice, event::kCreateFolder, Encoded(CreateFolderRequest{parent, name}));
    EXPECT_EQ(reply.result, 0) << std::hex << reply.result;
    return reply.uid;
  }

  // The group reply's status and member names (sorted), read field by field.
  int32_t Enumerate(const char16_t* parentDN, const char16_t* name,
                    std::vector<std::u16string>* names, uint16_t from = kBob) {
    EnumerateGroupRequest request;
    request.parentDN = parentDN;
    request.name = name;
    EventPtr reply;
    farm_.Raw(from, event::kEnumerateGroup, Encoded(request), &reply);
    EXPECT_EQ(reply->GetEventID(), event::kTreeOperation);
    ZEL_BUF_BufferReader reader(reply.get(), 0);
    names->clear();
    int32_t status = 0;
    reader >> status;
    if (status != 0) return status;
    int16_t sections = 0, op = 0, count = 0;
    ZELString dn;
    reader >> sections >> op >> dn >> count;
    EXPECT_EQ(op, 0);  // a listing
    for (int16_t i = 0; i < count; ++i) {
      ZELString member, title;
      int16_t flags = 0;
      uint16_t ssid = 0;
      uint64_t icon = 0, uid = 0;
      uint32_t uids = 0;
      reader >> member >> title >> flags >> ssid >> icon >> uid >> uids;
      for (uint64_t skipped = 0; uids > 0; --uids) reader >> skipped;
      names->emplace_back(member.view());
      last_ = {std::u16string(title.view()), flags, ssid, icon, uid};
    }
    EXPECT_EQ(reader.GetRemaining(), 0u);
    std::sort(names->begin(), names->end());
    return status;
  }
  std::vector<std::u16string> Names(const char16_t* parentDN, const char16_t* name) {
    std::vector<std::u16string> names;
    EXPECT_EQ(Enumerate(parentDN, name, &names), 0);
    return names;
  }

  // One answer of plain SQL on the store file.
  std::string Sql(const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_open(farm_.StorePath().c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    std::string text;
    if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0) != nullptr) {
      text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return text;
  }
  // Every stored tree object's DN and values.
  std::string Tree() {
    return Sql(
        "SELECT group_concat(line, '|') FROM (SELECT e.dn || ':' || v.attribute || '=' || "
        "hex(v.data) AS line FROM entries e JOIN attribute_values v ON v.entry = e.id WHERE "
        "e.class = 'CLASS-AdminToolObjectClass2' ORDER BY e.dn, v.attribute, v.position)");
  }
  std::string AuditCount() {
    return Sql("SELECT count(*) FROM entries WHERE class = 'zelAuditRecord'");
  }
  void Register(const char16_t* parentDN, const char16_t* name, uint64_t uid) {
    ZEL_AdminToolObject node(parentDN, name);
    node.setUID(uid);
    ASSERT_EQ(owner_->RegisterObject(node, false), 0);
  }

  struct Member {
    std::u16string title;
    int16_t flags;
    uint16_t ssid;
    uint64_t icon, uid;
  } last_{};
  testing::SubsystemFarm farm_;
  ZEL_AdminToolSAL6* owner_ = nullptr;
  zel::hub::NotificationHub hub_;
  std::vector<Bytes> posted_;
};

TEST_F(ConsoleTreeTest, NodesOneConsoleRegistersAreEnumeratedForAnother) {
  ZEL_AdminToolObject web(u"Farm", u"web01");
  web.setTitle(u"Web one");
  web.setFlags(4);
  web.setSSID(7);
  web.setIcon(3);
  web.setUID(11);
  ASSERT_EQ(owner_->RegisterObject(web, false), 0);
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
  std::vector<std::u16string> names;
  ASSERT_EQ(Enumerate(u"Farm", u"web01", &names), 0);
  ASSERT_EQ(Enumerate(u"", u"Farm", &names), 0);  // the last member read is web01
  EXPECT_EQ(last_.title, u"Web one");
  EXPECT_EQ(last_.flags, 4);
  EXPECT_EQ(last_.ssid, 7);
  EXPECT_EQ(last_.icon, 3u);
  EXPECT_EQ(last_.uid, 11u);
  EXPECT_EQ(Enumerate(u"", u"Farm", &names, kEve), kAccessDenied);  // reads need an administrator
  EXPECT_TRUE(posted_.empty());
}

TEST_F(ConsoleTreeTest, FolderRequestsChangeTheStoredTreeAndAnnounceEachChange) {
  // Create: the reply names the new folder, which every console then enumerates, also after a
  // restart.
  const uint64_t printers = Create(0, u"Printers");
  EXPECT_NE(printers, 0u);
  EXPECT_NE(printers, ~0ull);
  farm_.Restart();
  EXPECT_EQ(Names(u"", u""), (std::vector<std::u16string>{u"Printers"}));
  ASSERT_EQ(posted_.size(), 2u);
  EXPECT_EQ(posted_[0], Wire{}.Section(1, 1, u"", 1).Folder(u"Printers", printers).bytes);
  EXPECT_EQ(posted_[1], ContainerChange({u""}));

  // Rename: members, their members and their capability values go along.
  const uint64_t laser = Create(printers, u"Laser");
  Register(u"Printers/Laser", u"tray", 77);
  ZELString laserDN(u"Printers/Laser");
  uint32_t values[] = {5, 6};
  ASSERT_EQ(owner_->UpdateObject(laserDN, 2, values), 0);
  posted_.clear();
  EXPECT_EQ(Do(RenameFolderRequest{printers, u"Print"}), 0);
  EXPECT_EQ(Names(u"", u""), (std::vector<std::u16string>{u"Print"}));
  EXPECT_EQ(Names(u"Print", u"Laser"), (std::vector<std::u16string>{u"tray"}));
  EXPECT_TRUE(Names(u"Printers", u"Laser").empty());
  uint32_t count = 0;
  AdminObjectCapability* capabilities = nullptr;
  ASSERT_EQ(owner_->GetStaticGroupPermissionHelper(ZELString(u"Print"), count, &capabilities), 0);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(capabilities[0].objectUID, laser);
  EXPECT_EQ(std::vector<uint32_t>(capabilities[0].privileges, capabilities[0].privileges + 2),
            (std::vector<uint32_t>{5, 6}));
  owner_->FreeCapabilities(capabilities);
  ASSERT_EQ(posted_.size(), 2u);
  EXPECT_EQ(posted_[0],
            Wire{}.Section(1, 3, u"", 1).Text(u"Printers").Folder(u"Print", printers).bytes);

  // Move: the member leaves one folder for the other; both are named.
  posted_.clear();
  EXPECT_EQ(Do(MoveFolderMembersRequest{{laser}, printers, 0}), 0);
  EXPECT_EQ(Names(u"", u""), (std::vector<std::u16string>{u"Laser", u"Print"}));
  EXPECT_EQ(Names(u"", u"Laser"), (std::vector<std::u16string>{u"tray"}));
  ASSERT_EQ(posted_.size(), 2u);
  Wire moved = Wire{}.Section(2, 2, u"Print", 1).Text(u"Laser");
  moved.Int(1, 2).Text(u"").Int(1, 2).Folder(u"Laser", laser);
  EXPECT_EQ(posted_[0], moved.bytes);
  EXPECT_EQ(posted_[1], ContainerChange({u"Print", u""}));

  // Delete: only an empty folder goes.
  posted_.clear();
  EXPECT_EQ(Do(DeleteFolderRequest{printers}), 0);
  EXPECT_EQ(Names(u"", u""), (std::vector<std::u16string>{u"Laser"}));
  ASSERT_EQ(posted_.size(), 2u);
  EXPECT_EQ(posted_[0], Wire{}.Section(1, 2, u"", 1).Text(u"Print").bytes);
}

TEST_F(ConsoleTreeTest, RefusedFolderRequestsChangeNothingAndAnnounceNothing) {
  const uint64_t a = Create(0, u"A");
  const uint64_t b = Create(0, u"B");
  const uint64_t inner = Create(a, u"Inner");
  Create(b, u"Inner");
  const uint64_t unknown = 0x1234;
  const std::string before = Tree();
  ASSERT_NE(before.find("A/Inner:"), std::string::npos);  // the snapshot sees the store
  posted_.clear();

  const struct Case {
    const char* what;
    std::function<int32_t()> request;
    int32_t result;
  } cases[] = {
      {"no privilege to change the tree",
       [&] {
         return Do(CreateFolderRequest{0, u"X"}, kBob);
       },
       kAccessDenied},
      {"no administrator", [&] { return Do(DeleteFolderRequest{inner}, kEve); }, kAccessDenied},
      {"create in an unknown folder",
       [&] {
         return Do(CreateFolderRequest{unknown, u"X"});
       },
       kNoSuchFolder},
      {"create a name taken",
       [&] {
         return Do(CreateFolderRequest{0, u"A"});
       },
       kNameTaken},
      {"create without a name",
       [&] {
         return Do(CreateFolderRequest{0, u""});
       },
       kInvalidName},
      {"rename to a sibling's name",
       [&] {
         return Do(RenameFolderRequest{a, u"B"});
       },
       kNameTaken},
      {"rename the root",
       [&] {
         return Do(RenameFolderRequest{0, u"R"});
       },
       kInvalidMove},
      {"rename the no-UID",
       [&] {
         return Do(RenameFolderRequest{~0ull, u"R"});
       },
       kNoSuchFolder},
      {"delete a folder with members", [&] { return Do(DeleteFolderRequest{a}); }, kFolderNotEmpty},
      {"delete the root", [&] { return Do(DeleteFolderRequest{0}); }, kInvalidMove},
      {"delete an unknown folder", [&] { return Do(DeleteFolderRequest{unknown}); }, kNoSuchFolder},
      {"move a member from elsewhere",
       [&] {
         return Do(MoveFolderMembersRequest{{inner}, b, 0});
       },
       kNoSuchMember},
      {"move a member named twice",
       [&] {
         return Do(MoveFolderMembersRequest{{inner, inner}, a, 0});
       },
       kNoSuchMember},
      {"move a folder into itself",
       [&] {
         return Do(MoveFolderMembersRequest{{a}, 0, a});
       },
       kInvalidMove},
      {"move a folder below itself",
       [&] {
         return Do(MoveFolderMembersRequest{{a}, 0, inner});
       },
       kInvalidMove},
      {"move onto a name taken",
       [&] {
         return Do(MoveFolderMembersRequest{{inner}, a, b});
       },
       kNameTaken},
      {"move to an unknown folder",
       [&] {
         return Do(MoveFolderMembersRequest{{inner}, a, unknown});
       },
       kNoSuchFolder},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int audited = std::stoi(AuditCount());
    EXPECT_EQ(c.request(), c.result);
    EXPECT_EQ(Tree(), before);
    EXPECT_TRUE(posted_.empty());
    EXPECT_EQ(std::stoi(AuditCount()), audited + 1);  // refused requests are audited too
  }
}

// A move that fails below its first member (a stray entry where a member's member would go)
// is one transaction: nothing of it stays.
TEST_F(ConsoleTreeTest, AMoveThatFailsHalfWayLeavesNothingBehind) {
  const uint64_t a = Create(0, u"A");
  const uint64_t b = Create(0, u"B");
  const uint64_t x = Create(a, u"x");
  Create(x, u"y");
  Register(u"B/x", u"y", 99);  // below a DN without an entry of its own
  const std::string before = Tree();
  posted_.clear();
  EXPECT_EQ(Do(MoveFolderMembersRequest{{x}, a, b}), kNameTaken);
  EXPECT_EQ(Tree(), before);
  EXPECT_TRUE(posted_.empty());
}

// Every request cut short, or with a byte after its fields, a null name, or a move whose count
// its bytes cannot hold, is answered with kMalformedRequest and changes nothing.
TEST_F(ConsoleTreeTest, MalformedRequestsChangeNothing) {
  const uint64_t a = Create(0, u"A");
  const std::string before = Tree();
  posted_.clear();
  EnumerateGroupRequest group;
  group.name = u"A";
  const std::pair<uint16_t, Bytes> requests[] = {
      {event::kCreateFolder, Encoded(CreateFolderRequest{a, u"New"})},
      {event::kRenameFolder, Encoded(RenameFolderRequest{a, u"B"})},
      {event::kDeleteFolder, Encoded(DeleteFolderRequest{a})},
      {event::kMoveFolderMembers, Encoded(MoveFolderMembersRequest{{a}, 0, a})},
      {event::kEnumerateGroup, Encoded(group)},
  };
  auto refused = [&](uint16_t id, Bytes payload) {
    EventPtr reply;
    return farm_.Raw(kAlice, id, payload, &reply) == kMalformedRequest;
  };
  for (const auto& [id, bytes] : requests) {
    SCOPED_TRACE(id);
    for (std::size_t size = 0; size < bytes.size(); ++size) {
      EXPECT_TRUE(refused(id, Bytes(bytes.begin(), bytes.begin() + size))) << "cut to " << size;
    }
    Bytes longer = bytes;
    longer.push_back(0);
    EXPECT_TRUE(refused(id, longer)) << "a byte after it";
  }
  EXPECT_TRUE(refused(event::kCreateFolder, Wire{}.Int(0, 8).Int(0, 4).bytes)) << "a null name";
  EXPECT_TRUE(
      refused(event::kMoveFolderMembers, Wire{}.Int(0xFFFFFFFF, 4).Int(1, 8).Int(2, 8).bytes));
  EXPECT_EQ(Tree(), before);
  EXPECT_TRUE(posted_.empty());
}

}  // namespace
}  // namespace zel::subsystem
