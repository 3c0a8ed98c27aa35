// The console tree through the subsystem on a real store, consoles being the library's SAL
// objects on farm subsystems: what one console registers another enumerates; folder requests
// change the stored tree and the hub's subscribers get the library's notifications of each
// change; requests refused, malformed, or failing half way change and announce nothing.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "console_views.h"
#include "src/console_tree.h"
#include "subsystem_farm.h"
#include "zel/hub/notification_hub.h"
#include "zel/protocol/credentials.h"
#include "zel/protocol/folders.h"
#include "zel/protocol/group_enumeration.h"
#include "zel/runtime/secure.h"
#include "zel/subsystem/admin_store.h"
#include "zel/subsystem/codes.h"

namespace zel::subsystem {
namespace {

using namespace tree_code;
using namespace zel::protocol;
using Bytes = std::vector<uint8_t>;

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
  Wire& Node(std::u16string_view name, uint64_t uid, uint16_t ssid = 22,
             std::u16string_view title = {}) {
    Text(name).Text(title.empty() ? name : title).Int(0, 2).Int(ssid, 2).Int(0, 8).Int(uid, 8);
    return Int(1, 4).Int(uid, 8);  // the UID alone in the node's list
  }
  // The head of event 81 with one or two sections, and one section's head.
  Wire& Head(int sections) { return Int(0, 4).Int(sections, 2); }
  Wire& Section(int op, std::u16string_view parent, int items) {
    return Int(op, 2).Text(parent).Int(items, 2);
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
int32_t Result(const Bytes& reply) {
  return static_cast<int32_t>(reply[0] | reply[1] << 8 | reply[2] << 16 | reply[3] << 24);
}

// Alice may change the tree, Bob only read it; Eve is no administrator.
constexpr uint16_t kAlice = 7, kBob = 8, kEve = 9;

struct Request {
  uint16_t id;
  Bytes payload;
  uint16_t from;
};
template <typename M>
Request R(const M& message, uint16_t from = kAlice) {
  return {M::kEventID, Encoded(message), from};
}

class ConsoleTreeTest : public testing::FarmTest {
 protected:
  ConsoleTreeTest() {
    owner_ = &farm_.Owner();
    farm_.Console(kAlice, "unix:alice");
    farm_.Console(kBob, "unix:bob");
    farm_.Console(kEve, "unix:eve");
    alice_ = farm_.AddAdmin("unix:alice", {1, 3});  // read the farm, change the tree
    farm_.AddAdmin("unix:bob", {1});
    hub_.Attach(farm_.Farm().AddSubsystem(1));
    hub_.Subscribe([this](const zel::rt::Caller&, const ZEL_BUF_EventBuffer& event) {
      posted_.push_back(Bytes(event.GetData(), event.GetData() + event.GetSize()));
    });
  }

  // Sends a request; the reply's payload.
  Bytes Send(uint16_t id, const Bytes& payload, uint16_t from = kAlice) {
    std::unique_ptr<ZEL_BUF_EventBuffer> reply;
    farm_.Raw(from, id, payload, &reply);
    return Bytes(reply->GetData(), reply->GetData() + reply->GetSize());
  }
  template <typename M>
  int32_t Do(const M& request) {
    return Result(Send(M::kEventID, Encoded(request)));
  }
  uint64_t Create(uint64_t parent, const char16_t* name) {
    const Bytes reply = Send(event::kCreateFolder, Encoded(CreateFolderRequest{parent, name}));
    EXPECT_EQ(reply.size(), 12u);  // result 0 and the UID
    uint64_t uid = 0;
    for (int i = 11; i >= 4; --i) uid = uid << 8 | reply[i];
    return uid;
  }
  // The group reply's payload for the group `name` below `parentDN`.
  Bytes Group(const char16_t* parentDN, const char16_t* name, uint16_t from = kBob) {
    EnumerateGroupRequest request;
    request.parentDN = parentDN;
    request.name = name;
    return Send(event::kEnumerateGroup, Encoded(request), from);
  }
  // What a listing of `dn` with `members` (in the directory's order) carries.
  static Wire Listing(std::u16string_view dn, int members) {
    return std::move(Wire{}.Head(1).Section(0, dn, members));
  }

  // Every stored tree object's DN and values, with plain SQL on the store file.
  std::string Tree() {
    return Sql(
        "SELECT group_concat(line, '|') FROM (SELECT e.dn || ':' || v.attribute || '=' || "
        "hex(v.data) AS line FROM entries e JOIN attribute_values v ON v.entry = e.id WHERE "
        "e.class = 'CLASS-AdminToolObjectClass2' ORDER BY e.dn, v.attribute, v.position)");
  }
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
  void Register(const char16_t* parentDN, const char16_t* name, uint64_t uid) {
    ZEL_AdminToolObject node(parentDN, name);
    node.setUID(uid);
    ASSERT_EQ(owner_->RegisterObject(node, false), 0);
  }

  ZEL_AdminToolSAL6* owner_ = nullptr;
  uint64_t alice_ = 0;
  zel::hub::NotificationHub hub_;
  std::vector<Bytes> posted_;
};

TEST_P(ConsoleTreeTest, NodesOneConsoleRegistersAreEnumeratedForAnother) {
  ZEL_AdminToolObject web(u"Farm", u"web01");
  web.setTitle(u"Web one");
  web.setSSID(7);
  web.setUID(11);
  ASSERT_EQ(owner_->RegisterObject(web, false), 0);
  Register(u"", u"Farm", 1);
  Register(u"Farm", u"db01", 12);
  Register(u"Farm/web01", u"disk", 111);
  const struct Case {
    const char16_t* parentDN;
    const char16_t* name;
    Bytes reply;
  } cases[] = {
      {u"", u"", Listing(u"", 1).Node(u"Farm", 1, 0).bytes},
      {u"", u"Farm",
       Listing(u"Farm", 2).Node(u"db01", 12, 0).Node(u"web01", 11, 7, u"Web one").bytes},
      {u"Farm", u"web01", Listing(u"Farm/web01", 1).Node(u"disk", 111, 0).bytes},
      {u"", u"Nowhere", Listing(u"Nowhere", 0).bytes},
      {u"a\\b", u"x", Wire{}.Int(0x80000001, 4).bytes},  // a DN the directory cannot search
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ZELString(c.name).toUtf8());
    EXPECT_EQ(Group(c.parentDN, c.name), c.reply);
  }
  EXPECT_EQ(Group(u"", u"Farm", kEve),
            Wire{}.Int(kAccessDenied, 4).bytes);  // reads need an administrator
  EXPECT_TRUE(posted_.empty());
}

// A group whose members do not fit in one event is refused whole, never cut short.
TEST_P(ConsoleTreeTest, AGroupLargerThanOneEventIsRefusedNotCutShort) {
  const std::u16string title(100000, u't');  // 200 KB a member: 22 pass 4 MiB
  for (int i = 0; i < 22; ++i) {
    ZEL_AdminToolObject node(u"Big", ZELString::FromUtf8("n" + std::to_string(i)).getName());
    node.setTitle(title.c_str());
    ASSERT_EQ(owner_->RegisterObject(node, false), 0);
  }
  EXPECT_EQ(Group(u"", u"Big"), Wire{}.Int(kTooManyNodes, 4).bytes);
}

// Event 82 is answered for an administrator's name and password, checked and slowed as a logon
// is (the UTF-16 password made UTF-8), with the caller itself no administrator; credentials that
// cannot be read are malformed.
TEST_P(ConsoleTreeTest, GroupEnumerationWithCredentialsAnswersForAnAdministratorsPassword) {
  Register(u"", u"Farm", 1);
  const std::u16string right = u"p\u00e4ss\U0001F600";
  zel::protocol::SetCredentialRequest password{
      alice_, {}, SecretBytes(std::string_view("p\xc3\xa4ss\xf0\x9f\x98\x80"))};
  ASSERT_EQ(farm_.Ask(5, password), 0);  // the owner sets it
  const Bytes refused = Wire{}.Int(kLogonRefused, 4).bytes;
  const Bytes malformed = Wire{}.Int(kMalformedRequest, 4).bytes;
  const struct Case {
    const char* what;
    std::u16string account, password;
    uint32_t cut;  // bytes of the enciphered password left off
    bool key;      // whether the farm's transport key is there to decipher it
    Bytes reply;
  } cases[] = {
      {"right", u"alice", right, 0, true, Listing(u"", 1).Node(u"Farm", 1, 0).bytes},
      {"wrong", u"alice", u"P\u00e4ss", 0, true, refused},
      {"a domain: nobody's", u"NORTH\\alice", right, 0, true, refused},
      {"a lone surrogate", u"alice", std::u16string(1, char16_t{0xD800}), 0, true, refused},
      {"third failure", u"alice", u"", 0, true, refused},
      {"slowed like a logon", u"alice", right, 0, true, Wire{}.Int(kLogonSlowed, 4).bytes},
      {"cut", u"alice", right, 3, true, malformed},
      {"no key", u"alice", right, 0, false, malformed},
  };
  for (const Case& c : cases) {
    if (!c.key) ZEL_SECURE_ClearKeys();
    Wire request{Encoded(EnumerateGroupRequest{})};
    Bytes enciphered = Wire{}.Text(c.password).bytes;
    enciphered.erase(enciphered.begin(), enciphered.begin() + 4);  // the characters alone
    ZEL_SECURE_EncryptData(enciphered.data(), static_cast<uint32_t>(enciphered.size()), 0x3A);
    request.Text(c.account).Int(enciphered.size(), 4);
    request.bytes.insert(request.bytes.end(), enciphered.begin(), enciphered.end() - c.cut);
    EXPECT_EQ(Send(event::kEnumerateGroupWithCredentials, request.bytes, kEve), c.reply) << c.what;
  }
  // One count with Logon2.
  const testing::Logon logon =
      testing::LogOn(farm_.Console(kEve, ""), "alice", "p\xc3\xa4ss\xf0\x9f\x98\x80");
  EXPECT_EQ(logon.result, kLogonSlowed);
  EXPECT_TRUE(logon.uids.empty());
}

TEST_P(ConsoleTreeTest, FolderRequestsChangeTheStoredTreeAndAnnounceEachChange) {
  // Create: every console enumerates the new folder, also after a restart.
  const uint64_t printers = Create(0, u"Printers");
  farm_.Restart();
  EXPECT_EQ(Group(u"", u""), Listing(u"", 1).Node(u"Printers", printers).bytes);
  EXPECT_EQ(posted_,
            (std::vector<Bytes>{Wire{}.Head(1).Section(1, u"", 1).Node(u"Printers", printers).bytes,
                                ContainerChange({u""})}));

  // Rename: members, their members and their capability values go along.
  const uint64_t laser = Create(printers, u"Laser");
  Register(u"Printers/Laser", u"tray", 77);
  Register(u"Printers/Laser/Gap", u"lost", 55);  // below a DN without an entry of its own
  ZELString laserDN(u"Printers/Laser");
  uint32_t values[] = {5, 6};
  ASSERT_EQ(owner_->UpdateObject(laserDN, 2, values), 0);
  posted_.clear();
  EXPECT_EQ(Do(RenameFolderRequest{printers, u"Print"}), 0);
  EXPECT_EQ(Group(u"", u""), Listing(u"", 1).Node(u"Print", printers).bytes);
  EXPECT_EQ(Group(u"Print", u"Laser"), Listing(u"Print/Laser", 1).Node(u"tray", 77, 0).bytes);
  EXPECT_EQ(Group(u"Printers", u"Laser"), Listing(u"Printers/Laser", 0).bytes);
  EXPECT_EQ(Group(u"Print/Laser", u"Gap"),
            Listing(u"Print/Laser/Gap", 1).Node(u"lost", 55, 0).bytes);
  uint32_t count = 0;
  AdminObjectCapability* capabilities = nullptr;
  ASSERT_EQ(owner_->GetStaticGroupPermissionHelper(ZELString(u"Print"), count, &capabilities), 0);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(capabilities[0].objectUID, laser);
  EXPECT_EQ(std::vector<uint32_t>(capabilities[0].privileges, capabilities[0].privileges + 2),
            (std::vector<uint32_t>{5, 6}));
  owner_->FreeCapabilities(capabilities);
  EXPECT_EQ(posted_,
            (std::vector<Bytes>{
                Wire{}.Head(1).Section(3, u"", 1).Text(u"Printers").Node(u"Print", printers).bytes,
                ContainerChange({u""})}));

  // Move: the member leaves one folder for the other; both are named.
  posted_.clear();
  EXPECT_EQ(Do(MoveFolderMembersRequest{{laser}, printers, 0}), 0);
  EXPECT_EQ(Group(u"", u""), Listing(u"", 2).Node(u"Laser", laser).Node(u"Print", printers).bytes);
  EXPECT_EQ(Group(u"", u"Laser"), Listing(u"Laser", 1).Node(u"tray", 77, 0).bytes);
  EXPECT_EQ(Group(u"Laser", u"Gap"), Listing(u"Laser/Gap", 1).Node(u"lost", 55, 0).bytes);
  EXPECT_EQ(posted_, (std::vector<Bytes>{Wire{}
                                             .Head(2)
                                             .Section(2, u"Print", 1)
                                             .Text(u"Laser")
                                             .Section(1, u"", 1)
                                             .Node(u"Laser", laser)
                                             .bytes,
                                         ContainerChange({u"Print", u""})}));

  EXPECT_NE(Create(55, u"kept"), 0u);  // a folder below a gap is found by its UID

  // Delete: an empty folder goes.
  posted_.clear();
  EXPECT_EQ(Do(DeleteFolderRequest{printers}), 0);
  EXPECT_EQ(Group(u"", u""), Listing(u"", 1).Node(u"Laser", laser).bytes);
  EXPECT_EQ(posted_, (std::vector<Bytes>{Wire{}.Head(1).Section(2, u"", 1).Text(u"Print").bytes,
                                         ContainerChange({u""})}));
}

TEST_P(ConsoleTreeTest, RefusedFolderRequestsChangeNothingAndAnnounceNothing) {
  const uint64_t a = Create(0, u"A"), b = Create(0, u"B"), inner = Create(a, u"Inner");
  Create(b, u"Inner");
  const uint64_t unknown = 0x1234;
  const std::string before = Tree();
  ASSERT_NE(before.find("A/Inner:"), std::string::npos);  // the snapshot sees the store
  posted_.clear();
  const struct Case {
    const char* what;
    Request request;
    int32_t result;
  } cases[] = {
      {"no privilege to change the tree", R(CreateFolderRequest{0, u"X"}, kBob), kAccessDenied},
      {"no administrator", R(DeleteFolderRequest{inner}, kEve), kAccessDenied},
      {"create in an unknown folder", R(CreateFolderRequest{unknown, u"X"}), kNoSuchFolder},
      {"create a name taken", R(CreateFolderRequest{0, u"A"}), kNameTaken},
      {"create without a name", R(CreateFolderRequest{0, u""}), kInvalidName},
      {"rename to a sibling's name", R(RenameFolderRequest{a, u"B"}), kNameTaken},
      {"rename the root", R(RenameFolderRequest{0, u"R"}), kInvalidMove},
      {"rename the no-UID", R(RenameFolderRequest{~0ull, u"R"}), kNoSuchFolder},
      {"delete a folder with members", R(DeleteFolderRequest{a}), kFolderNotEmpty},
      {"delete the root", R(DeleteFolderRequest{0}), kInvalidMove},
      {"delete an unknown folder", R(DeleteFolderRequest{unknown}), kNoSuchFolder},
      {"a member from elsewhere", R(MoveFolderMembersRequest{{inner}, b, 0}), kNoSuchMember},
      {"a member named twice", R(MoveFolderMembersRequest{{inner, inner}, a, 0}), kNoSuchMember},
      {"into itself", R(MoveFolderMembersRequest{{a}, 0, a}), kInvalidMove},
      {"below itself", R(MoveFolderMembersRequest{{a}, 0, inner}), kInvalidMove},
      {"onto a name taken", R(MoveFolderMembersRequest{{inner}, a, b}), kNameTaken},
      {"to an unknown folder", R(MoveFolderMembersRequest{{inner}, a, unknown}), kNoSuchFolder},
  };
  const char* audited = "SELECT count(*) FROM entries WHERE class = 'zelAuditRecord'";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int records = std::stoi(Sql(audited));
    EXPECT_EQ(Result(Send(c.request.id, c.request.payload, c.request.from)), c.result);
    EXPECT_EQ(Tree(), before);
    EXPECT_TRUE(posted_.empty());
    EXPECT_EQ(std::stoi(Sql(audited)), records + 1);  // refused requests are audited too
  }
}

// A move that fails below its first member (a stray entry where a member's member would go) is
// one transaction: nothing of it stays.
TEST_P(ConsoleTreeTest, AMoveThatFailsHalfWayLeavesNothingBehind) {
  const uint64_t a = Create(0, u"A"), b = Create(0, u"B"), x = Create(a, u"x");
  Create(x, u"y");
  Register(u"B/x", u"y", 99);  // below a DN without an entry of its own
  const std::string before = Tree();
  posted_.clear();
  EXPECT_EQ(Do(MoveFolderMembersRequest{{x}, a, b}), kNameTaken);
  EXPECT_EQ(Tree(), before);
  EXPECT_TRUE(posted_.empty());
}

// Every request cut short or with a byte after its fields, a null name, and a move whose count
// its bytes cannot hold, are answered with kMalformedRequest and change nothing.
TEST_P(ConsoleTreeTest, MalformedRequestsChangeNothing) {
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
  const Bytes malformed = Wire{}.Int(kMalformedRequest, 4).bytes;
  for (const auto& [id, bytes] : requests) {
    SCOPED_TRACE(id);
    for (std::size_t size = 0; size < bytes.size(); ++size) {
      EXPECT_EQ(Send(id, Bytes(bytes.begin(), bytes.begin() + size)), malformed) << size;
    }
    Bytes longer = bytes;
    longer.push_back(0);
    EXPECT_EQ(Send(id, longer), malformed) << "a byte after it";
  }
  EXPECT_EQ(Send(event::kCreateFolder, Wire{}.Int(0, 8).Int(0, 4).bytes), malformed);  // null name
  EXPECT_EQ(Send(event::kMoveFolderMembers, Wire{}.Int(0xFFFFFFFF, 4).Int(1, 8).Int(2, 8).bytes),
            malformed);
  EXPECT_EQ(Tree(), before);
  EXPECT_TRUE(posted_.empty());
}

ZEL_TABLES_OVER_TRANSPORTS(ConsoleTreeTest);

}  // namespace
}  // namespace zel::subsystem
