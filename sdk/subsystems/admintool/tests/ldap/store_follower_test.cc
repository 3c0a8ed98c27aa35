// The store follower on one private slapd, fed a change record of another server before that
// change's entry, as replication may bring them: nothing is told until the entry reads as the
// change left it, then the change is told once, with the entry's new values; a change whose
// entry never comes is given up with a log line.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "src/store_follower.h"
#include "zel/admintool/zel_admintoolsal.h"
#include "zel/directory/records.h"
#include "zel/directory/testing/slapd.h"
#include "zel/directory/testing/temp_store.h"
#include "zel/runtime/testing/scripted_host.h"

namespace zel::subsystem {
namespace {

using zel::dir::Change;

zel::dir::testing::Slapd& Server() {
  static zel::dir::testing::Slapd server(ZEL_LDAP_SCHEMA);
  return server;
}

// What one node notification (event 81) says: its operation, the node's name and, for an
// added or changed node, its title. Read by hand from the wire form: a 4-byte head, the
// section count, then the section's operation, parent DN and item count; each item starts with
// the node's name, and an added or changed node's title follows it.
struct Told {
  int op = -1;
  std::u16string name, title;
  bool operator==(const Told&) const = default;
};
void PrintTo(const Told& told, std::ostream* out) {
  *out << "op " << told.op << " " << ZELString(told.name).toUtf8() << " \""
       << ZELString(told.title).toUtf8() << "\"";
}
Told Read(const std::vector<uint8_t>& p) {
  std::size_t at = 6;
  auto u16 = [&] { return at += 2, static_cast<int>(p[at - 2] | p[at - 1] << 8); };
  auto text = [&] {
    const std::size_t bytes = p[at] | p[at + 1] << 8 | p[at + 2] << 16 | p[at + 3] << 24;
    std::u16string read;
    for (at += 4; read.size() + 1 < bytes / 2;) read += static_cast<char16_t>(u16());
    at += 2;
    return read;
  };
  Told told;
  told.op = u16();
  text();
  u16();
  told.name = text();
  if (told.op == 3) text();  // a change names the node, then writes it whole
  if (told.op != 2) told.title = text();
  return told;
}

// A follower of server 1 on a fresh base, a writer of server 1 beside it (whose changes the
// follower leaves alone), and change records of server 2 written by hand.
class StoreFollowerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZEL_AdminToolSAL::s_adminToolContext = ZELString();
    ZEL_AdminToolSAL::s_cid = ZEL_AdminToolSAL::s_objCid = 0;
    ZEL_AdminToolSAL::s_iconCid = ZEL_AdminToolSAL::s_pluginCid = 0;
    host_.Plugins().Offer(kZelDirectoryStoreInterface, &store_);
  }
  // Told since the last call: the node notifications, read.
  std::vector<Told> Follow(StoreFollower& follower) {
    EXPECT_EQ(follower.Follow(), 0);
    std::vector<Told> told;
    for (std::size_t i = seen_; i < host_.Posted().size(); ++i) {
      if (host_.Posted()[i].eventID == 81) told.push_back(Read(host_.Posted()[i].payload));
    }
    seen_ = host_.Posted().size();
    return told;
  }
  void Put(const char16_t* name, const char16_t* title) {
    ZEL_AdminToolObject object(u"Root", name);
    object.setTitle(title);
    ASSERT_EQ(writer_.RegisterObject(object, false), 0);
  }
  void Delete(const char16_t* name) {
    ZEL_AdminToolObject object(u"Root", name);
    ASSERT_EQ(writer_.DeleteObject(object), 0);
    seen_ = host_.Posted().size();  // the writer's own notification
  }
  // A change record of server 2, numbered now, as replication brings it before its entry.
  void Record(Change::Kind kind, const char16_t* name) {
    const std::u16string dn = std::u16string(u"Root/") + name;
    uint64_t uid = 0, number = 0;
    zel::dir::EntryChange(directory_, ZEL_AdminToolSAL::s_objCid, dn, &uid, &number);
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    char hex[2][17];
    std::snprintf(hex[0], 17, "%016llx",
                  static_cast<unsigned long long>(micros.count()) << 12 | 2u);
    std::snprintf(hex[1], 17, "%016llx", static_cast<unsigned long long>(uid));
    const std::string context = std::to_string(ZEL_AdminToolSAL::s_objCid);
    ASSERT_EQ(
        Server().Add("dn: zelChange=" + std::string(hex[0]) + ",zelContextID=" + context + "," +
                     base_ + "\nobjectClass: zelChangeRecord\nzelChange: " + hex[0] +
                     "\nzelChangeKind: " + std::to_string(kind) + "\nzelContextID: " + context +
                     "\nzelUID: " + hex[1] + "\nzelDN: " + ZELString(dn).toUtf8() + "\n"),
        0);
  }

  std::string base_ = Server().NewBase("follower" + std::to_string(++made_));
  zel::dir::testing::StoreAt store_{Server().Location(base_)};
  zel::rt::testing::ScriptedHost host_;
  ZEL_AdminToolSAL writer_{host_};
  ZEL_PS_LDAPSAL directory_{host_};
  std::size_t seen_ = 0;
  static inline int made_ = 0;
};

TEST_F(StoreFollowerTest, TellsAChangeOnceItsEntryHasArrived) {
  const struct {
    const char* name;
    Change::Kind kind;
    const char16_t* node;
    bool there;  // the node's entry before the change
    Told told;
  } cases[] = {
      {"added", Change::kAdded, u"east", false, {1, u"east", u"new"}},
      {"changed", Change::kUpdated, u"west", true, {3, u"west", u"new"}},
      {"deleted", Change::kDeleted, u"north", true, {2, u"north", u""}},
  };
  StoreFollower follower(host_, 0);
  EXPECT_TRUE(Follow(follower).empty());  // subscribes
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.there) Put(c.node, u"old");
    Record(c.kind, c.node);
    EXPECT_TRUE(Follow(follower).empty());  // the record without its entry
    EXPECT_TRUE(Follow(follower).empty());
    if (c.kind == Change::kDeleted) {
      Delete(c.node);
    } else {
      Put(c.node, u"new");
    }
    EXPECT_EQ(Follow(follower), std::vector<Told>{c.told});
    EXPECT_TRUE(Follow(follower).empty());
  }
}

TEST_F(StoreFollowerTest, GivesUpAChangeWhoseEntryNeverComes) {
  std::vector<std::string> logged;
  StoreFollower follower(
      host_, 0, [&](std::string_view line) { logged.emplace_back(line); },
      std::chrono::milliseconds(0));
  EXPECT_TRUE(Follow(follower).empty());
  Record(Change::kAdded, u"lost");
  EXPECT_TRUE(Follow(follower).empty());
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("\"Root/lost\""), std::string::npos) << logged[0];
  EXPECT_NE(logged[0].find("of server 2"), std::string::npos) << logged[0];
  Put(u"lost", u"late");
  EXPECT_TRUE(Follow(follower).empty());
  EXPECT_EQ(logged.size(), 1u);
}

}  // namespace
}  // namespace zel::subsystem
