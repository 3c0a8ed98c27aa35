// The `farm:` store: the directory's store suite runs on it, and what only the farm server
// decides: who may do what, which contexts are reached, how searches page. (The library keeping
// its icons in the farm's store is proven by zeladmin's icon round trip.)
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "farm_directory.h"
#include "zel/directory/codes.h"
#include "zel/directory/entry.h"
#include "zel/protocol/farm_directory.h"
#include "zel/protocol/result_reply.h"
#include "zel/subsystem/admin_store.h"
#include "zel/subsystem/codes.h"

namespace zel::dir::testing {
std::vector<Backend> BackendsUnderTest() { return {zel::subsystem::testing::FarmBackend()}; }
}  // namespace zel::dir::testing

namespace zel::subsystem {
namespace {

namespace proto = zel::protocol;
using testing::FarmDirectory;
using zel::dir::Change;
using zel::dir::StoredEntry;

// Sends `request` from console `uid` as it is and reads the reply into *reply: the reply's
// result; *size (when given) the reply's payload size.
template <class Request, class Reply>
int32_t Ask(FarmDirectory& farm, uint16_t uid, const Request& request, Reply* reply,
            uint32_t* size = nullptr, uint16_t eventID = Request::kEventID) {
  auto* event = new ZEL_BUF_EventBuffer(eventID, ZELVersion(1, 0), 0);
  event->SetSrcSubsystemUID(uid);
  event->SetDestSubsystemUID(proto::kAdminToolSubsystemUID);
  proto::Encode(request, *event);
  ZEL_BUF_EventBuffer* answer = nullptr;
  const int32_t sent = farm.Farm().Send(event, &answer);
  if (sent < 0) return sent;
  std::unique_ptr<ZEL_BUF_EventBuffer> owned(answer);
  if (size != nullptr) *size = owned->GetSize();
  ZEL_BUF_BufferReader in(owned.get(), 0);
  proto::Decode(in, *reply);
  EXPECT_EQ(in.GetRemaining(), 0u);
  return reply->result;
}

class FarmStoreTest : public ::testing::Test {
 protected:
  FarmStoreTest() {
    ZEL_PS_LDAPSAL& owner = farm_.Directory();
    EXPECT_EQ(owner.CreateDataContext(u"AdminToolObjectContext", u"N/AdminTool/Objects"), 0);
    EXPECT_EQ(owner.CreateDataContext(u"AdminToolIconContext", u"N/AdminTool/Icons"), 0);
    EXPECT_EQ(owner.BindLDAP(u"&AdminToolObjectContext", objects_), 0);
    EXPECT_EQ(owner.BindLDAP(u"&AdminToolIconContext", icons_), 0);
    // Administrators, kept where the server keeps them.
    AdministratorStore admins(farm_.ServerDirectory());
    for (auto& [name, privileges, uid] :
         {std::tuple{u"alice", std::vector<uint32_t>{1}, &alice_},
          std::tuple{u"carol", std::vector<uint32_t>{1, 4}, &carol_}}) {
      Administrator admin;
      admin.account = Account{u"unix", name};
      admin.privileges = privileges;
      EXPECT_EQ(admins.Put(&admin), 0);
      *uid = admin.uid;
    }
    EXPECT_EQ(farm_.ServerDirectory().BindLDAP(u"&ZelAdministratorContext", administrators_), 0);
  }
  ZEL_PS_LDAPSAL& Owner() { return farm_.Directory(); }
  ZEL_PS_LDAPSAL& Bob() { return farm_.Console(6, "unix:bob"); }  // no administrator
  ZEL_PS_LDAPSAL& Alice() { return farm_.Console(7, "unix:alice"); }
  ZEL_PS_LDAPSAL& Carol() { return farm_.Console(8, "unix:carol"); }

  // The names below the context's root, as the server's own directory reads them.
  std::vector<std::u16string> StoredBelow(uint32_t context) {
    std::vector<StoredEntry> entries;
    EXPECT_EQ(zel::dir::SearchPage(farm_.ServerDirectory(), context, u"", false, u"", u"", u"", 0,
                                   &entries),
              0);
    std::vector<std::u16string> names;
    for (const StoredEntry& entry : entries) names.push_back(entry.dn);
    return names;
  }

  FarmDirectory farm_;
  uint32_t objects_ = 0, icons_ = 0, administrators_ = 0;
  uint64_t alice_ = 0, carol_ = 0;
};

int32_t Bind(ZEL_PS_LDAPSAL& directory, const char16_t* context) {
  uint32_t id = 0;
  return directory.BindLDAP(context, id);
}
int32_t Add(ZEL_PS_LDAPSAL& directory, const char16_t* dn, uint32_t context) {
  return ZEL_DIR_BaseEntry(&directory, dn, context).Add();
}
int32_t Follow(ZEL_PS_LDAPSAL& directory, uint32_t context, uint32_t* subscription) {
  return zel::dir::Subscribe(
      directory, context, [](uint32_t, const Change&) {}, subscription);
}

TEST_F(FarmStoreTest, CallersAreRefusedByPrivilegeContextAndOperation) {
  ASSERT_EQ(Add(Owner(), u"kept", objects_), 0);
  uint32_t aliceWatches = 0, subscription = 0;
  ASSERT_EQ(Follow(Alice(), objects_, &aliceWatches), 0);
  uint64_t number = 0;
  uint32_t count = 0;
  ZEL_DIR_ChangeStamp stamp;
  proto::DirChangedNotification changed;
  proto::ResultReply result;
  proto::DirSearchRequest search;
  search.context = objects_;
  search.cookie = {9, 0, 0};  // not the server's
  proto::DirSearchReply page;
  const std::tuple<const char*, std::function<int32_t()>, int32_t> cases[] = {
      {"no administrator binds", [&] { return Bind(Bob(), u"&AdminToolObjectContext"); },
       kAccessDenied},
      {"no administrator reads a change number",
       [&] { return zel::dir::ChangeNumber(Bob(), objects_, &number); }, kAccessDenied},
      {"binding the administrators' context by name",
       [&] { return Bind(Alice(), u"&ZelAdministratorContext"); }, kNotSupported},
      {"binding it by its DN", [&] { return Bind(Alice(), u"ZelFarm/Administrators"); },
       kNotSupported},
      {"creating a context of one's own",
       [&] { return Owner().CreateDataContext(u"Mine", u"Mine"); }, kNotSupported},
      {"adding to the administrators' context by its ID",
       [&] { return Add(Owner(), u"x", administrators_); }, kNotSupported},
      {"reading an administrator's entry by its UID",
       [&] { return ZEL_DIR_Entry(&Owner(), alice_, u"zelAdministrator").Sync(); },
       zel::dir::kNoSuchEntry},
      {"searching the administrators' context",
       [&] {
         return ZEL_DIR_SearchHelper(&Owner(), 1, ZELString(), administrators_, ZELString(), u"*")
             .Search(count);
       },
       kNotSupported},
      {"following the administrators' context",
       [&] { return Follow(Owner(), administrators_, &subscription); }, kNotSupported},
      {"read-farm alone creates the library's root context",
       [&] { return Alice().CreateDataContext(u"AdminToolContext", u"N/AdminTool"); },
       kAccessDenied},
      {"read-farm alone adds an object", [&] { return Add(Alice(), u"mine", objects_); },
       kAccessDenied},
      {"read-farm alone deletes an object",
       [&] { return ZEL_DIR_BaseEntry(&Alice(), u"kept", objects_).DelEntry(); }, kAccessDenied},
      {"manage-icons adds an object", [&] { return Add(Carol(), u"mine", objects_); },
       kAccessDenied},
      {"manage-icons adds an icon", [&] { return Add(Carol(), u"i", icons_); }, 0},
      {"ending another console's subscription",
       [&] { return zel::dir::Unsubscribe(Carol(), aliceWatches); }, kInvalidRequest},
      {"an operation nobody answers (the notification, sent as a request)",
       [&] { return Ask(farm_, 7, changed, &result, nullptr, proto::event::kDirChanged); },
       kNotSupported},
      {"a change stamp, which a console cannot be told",
       [&] { return Owner().ChangeStamp(&stamp); }, zel::dir::kNotSupported},
      {"a search cookie that is not the server's", [&] { return Ask(farm_, 7, search, &page); },
       kInvalidRequest},
  };
  for (const auto& [what, run, code] : cases) EXPECT_EQ(run(), code) << what;
  // Nothing refused was written.
  EXPECT_EQ(StoredBelow(objects_), std::vector<std::u16string>{u"kept"});
  EXPECT_EQ(StoredBelow(icons_), std::vector<std::u16string>{u"i"});
}

// Searches come back in pages that each fit one event; the directory reads them all.
TEST_F(FarmStoreTest, SearchesPageWithinOneEventAndTheDirectoryReadsEveryPage) {
  constexpr int kEntries = 40;
  const std::vector<uint8_t> bulk(256 * 1024, 0x5A);  // 40 of them: 10 MiB, over two events
  std::vector<std::u16string> made;
  for (int i = 0; i < kEntries; ++i) {
    const std::string name = "entry" + std::to_string(100 + i);
    made.emplace_back(name.begin(), name.end());
    ZEL_DIR_BaseEntry entry(&Owner(), ZELString(made.back()), objects_);
    entry.AddValue(u"bits", u"bin", 1, bulk.data(), static_cast<uint32_t>(bulk.size()));
    ASSERT_EQ(entry.Add(), 0);
  }
  // The directory over farm: delivers every match, values whole.
  ZEL_DIR_SearchHelper all(&Owner(), 1, ZELString(), objects_, ZELString(), u"*");
  uint32_t count = 0;
  ASSERT_EQ(all.Search(count), 0);
  EXPECT_EQ(count, static_cast<uint32_t>(kEntries));
  ZELString name;
  ZEL_DIR_BaseEntry found(&Owner(), ZELString(), objects_);
  ASSERT_EQ(all.GetFirstEntry(name, found), 0);
  uint32_t valueSize = 0;
  EXPECT_EQ(found.GetValueCount(u"bits", valueSize), 0);
  void* bits = nullptr;
  ASSERT_EQ(found.MapVarySizeDataFromDir(u"bits", bits, valueSize), 0);
  EXPECT_EQ(
      std::vector<uint8_t>(static_cast<uint8_t*>(bits), static_cast<uint8_t*>(bits) + valueSize),
      bulk);
  found.FreeUserMemory(bits);

  // Page by page, as the server answers: each within one event, each entry once, in order.
  for (const uint32_t asked : {0u, 7u}) {
    SCOPED_TRACE(asked);
    proto::DirSearchRequest search;
    search.context = objects_;
    search.maxEntries = asked;
    std::vector<std::u16string> seen;
    int pages = 0;
    do {
      proto::DirSearchReply reply;
      uint32_t size = 0;
      ASSERT_EQ(Ask(farm_, 5, search, &reply, &size), 0);
      EXPECT_LE(size, proto::kMaxPayload);
      if (asked != 0 && !reply.cookie.empty()) {
        EXPECT_EQ(reply.entries.size(), asked);
      }
      for (const proto::DirEntry& entry : reply.entries) seen.emplace_back(entry.dn.view());
      search.cookie = reply.cookie;
      ASSERT_LT(++pages, 100);
    } while (!search.cookie.empty());
    EXPECT_EQ(seen, made);
    EXPECT_GE(pages, asked == 0 ? 3 : (kEntries + 6) / 7);
  }
  // A page that takes the last entry exactly, or finds none, ends the search.
  ASSERT_EQ(Add(Owner(), u"entry100/only", objects_), 0);
  for (const auto& [base, asked, expected] :
       {std::tuple{u"entry100", 1u, std::size_t{1}}, std::tuple{u"nowhere", 0u, std::size_t{0}}}) {
    proto::DirSearchRequest search;
    search.context = objects_;
    search.baseDN = ZELString(base);
    search.maxEntries = asked;
    proto::DirSearchReply reply;
    ASSERT_EQ(Ask(farm_, 5, search, &reply), 0);
    EXPECT_EQ(reply.entries.size(), expected);
    EXPECT_TRUE(reply.cookie.empty());
  }
}

// A subscriber hears changes made by any console, once each, until its connection closes (every
// caller of the in-process farm is on connection 0).
TEST_F(FarmStoreTest, SubscribersHearOtherConsolesChangesUntilTheirConnectionCloses) {
  std::vector<std::u16string> heard;
  uint32_t subscription = 0;
  ASSERT_EQ(zel::dir::Subscribe(
                Alice(), icons_,
                [&](uint32_t, const Change& change) { heard.push_back(change.dn); }, &subscription),
            0);
  ASSERT_EQ(Add(Carol(), u"by-carol", icons_), 0);
  ASSERT_EQ(Add(Owner(), u"elsewhere", objects_), 0);
  EXPECT_EQ(heard, std::vector<std::u16string>{u"by-carol"});
  farm_.Subsystem().ConnectionClosed(0);
  ASSERT_EQ(Add(Carol(), u"after", icons_), 0);
  EXPECT_EQ(heard, std::vector<std::u16string>{u"by-carol"});
}

}  // namespace
}  // namespace zel::subsystem
