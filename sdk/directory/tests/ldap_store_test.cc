// The store suite on a private slapd, and what only an LDAP location has: credentials, schema
// and base checked at the first operation, a server that goes away, UIDs of several servers.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "zel/directory/codes.h"
#include "zel/directory/entry.h"
#include "zel/directory/records.h"
#include "zel/directory/testing/backend.h"
#include "zel/directory/testing/slapd.h"

namespace zel::dir::testing {

namespace {

// One server for the whole test program; every directory under test gets its own base.
Slapd& Server() {
  static Slapd server(ZEL_LDAP_SCHEMA);
  return server;
}

std::string FreshBase() {
  static int made = 0;
  return Server().NewBase("t" + std::to_string(++made));
}

}  // namespace

std::vector<Backend> BackendsUnderTest() {
  return {Backend{"LDAP",
                  [] { return std::make_unique<DirectoryAt>(Server().Location(FreshBase())); },
                  Backend::Scopes::kOrdered}};
}

}  // namespace zel::dir::testing

namespace {

using zel::dir::Change;
using zel::dir::testing::DirectoryAt;
using zel::dir::testing::FreshBase;
using zel::dir::testing::Replica;
using zel::dir::testing::Server;
using zel::dir::testing::Slapd;

// Waits (a generous 20 s) until `done` holds; whether it did.
bool Eventually(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

int32_t Create(const std::string& location) {
  return DirectoryAt(location).Directory().CreateDataContext(u"Notes", u"Root/Notes");
}

std::set<std::string> NamesIn(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  const std::string all = text.str();
  std::set<std::string> names;
  const std::regex name("NAME '([A-Za-z]+)'");
  for (std::sregex_iterator it(all.begin(), all.end(), name), end; it != end; ++it) {
    names.insert((*it)[1]);
  }
  return names;
}

// The cn=config form of the schema defines what the slapd.conf form does, and loads.
TEST(LdapSchema, BothFormsDefineTheSameAndLoad) {
  const std::string conf = ZEL_LDAP_SCHEMA;
  const std::string ldif = conf.substr(0, conf.size() - std::string("schema").size()) + "ldif";
  EXPECT_EQ(NamesIn(conf).size(), 18u);  // 14 attribute types, 4 object classes
  EXPECT_EQ(NamesIn(conf), NamesIn(ldif));
  zel::rt::testing::TempFolder folder("zelschema");
  std::ofstream(folder.File("config.ldif"))
      << "dn: cn=config\nobjectClass: olcGlobal\ncn: config\n\n"
      << "dn: cn=schema,cn=config\nobjectClass: olcSchemaConfig\ncn: schema\n\n"
      << "include: file:///etc/ldap/schema/core.ldif\n\ninclude: file://" << ldif << "\n";
  const std::string command =
      "slapadd -n0 -F " + folder.Path() + " -l " + folder.File("config.ldif") + " >/dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0);
}

// What is wrong with a location, its credentials or its server is said at the first operation.
TEST(LdapStore, LocationsCredentialsAndSchemaSayWhatIsWrong) {
  const std::string base = FreshBase();
  Slapd bare("");  // a server without the directory's schema
  const std::string uri = Server().LdapUri();
  const struct {
    const char* what;
    std::string location;
    int32_t code;
  } cases[] = {
      {"bind DN and password", Server().Location(base), 0},
      {"SASL EXTERNAL over ldapi", Server().LdapiUri() + "/" + base, 0},
      {"a wrong password", Server().Location(base, Server().WrongPasswordFile()),
       zel::dir::kCredentialsRefused},
      {"a missing password file", Server().Location(base, Server().Folder() + "/none"),
       zel::dir::kCredentialsRefused},
      {"anonymous (may read, not write)", uri + "/" + base, zel::dir::kCredentialsRefused},
      {"a base nobody made", Server().Location("ou=none,o=zel"), zel::dir::kBaseMissing},
      {"a server without the schema", bare.Location("o=zel"), zel::dir::kSchemaMissing},
      {"nothing listening", "ldap://127.0.0.1:1/o=zel", zel::dir::kServerUnreachable},
      {"an unknown extension", uri + "/" + base + "????x-colour=red", zel::dir::kInvalidArgument},
      {"a server ID past 4095", uri + "/" + base + "????x-server-id=4096",
       zel::dir::kInvalidArgument},
      {"a bind DN without password", uri + "/" + base + "????bindname=cn=admin%2co=zel",
       zel::dir::kInvalidArgument},
      {"no base DN", uri, zel::dir::kInvalidArgument},
  };
  for (const auto& c : cases) EXPECT_EQ(Create(c.location), c.code) << c.what;
}

// A server that goes away answers kServerUnreachable and leaves no half entry; once it is back
// the same service connects again and carries on.
TEST(LdapStore, AServerThatGoesAwayLeavesNoHalfEntry) {
  DirectoryAt under(Server().Location(FreshBase()));
  ZEL_PS_LDAPSAL& dir = under.Directory();
  ASSERT_EQ(dir.CreateDataContext(u"Notes", u"Root/Notes"), 0);
  uint32_t notes = 0;
  ASSERT_EQ(dir.BindLDAP(u"&Notes", notes), 0);
  ZEL_DIR_BaseEntry kept(&dir, u"kept", notes);
  ASSERT_EQ(kept.Add(), 0);

  Server().Stop();
  uint32_t value = 7;
  ZEL_DIR_BaseEntry lost(&dir, u"lost", notes);
  lost.AddValue(u"ATTRIBUTE-N", u"uint32", 11, &value, 4);
  EXPECT_EQ(lost.Add(), zel::dir::kServerUnreachable);
  EXPECT_EQ(ZEL_DIR_BaseEntry(&dir, u"kept", notes).Sync(), zel::dir::kServerUnreachable);
  Server().Start();

  EXPECT_EQ(ZEL_DIR_BaseEntry(&dir, u"lost", notes).Sync(), zel::dir::kNoSuchEntry);
  EXPECT_EQ(ZEL_DIR_BaseEntry(&dir, u"kept", notes).Sync(), 0);
  ZEL_DIR_BaseEntry again(&dir, u"lost", notes);
  again.AddValue(u"ATTRIBUTE-N", u"uint32", 11, &value, 4);
  EXPECT_EQ(again.Add(), 0);
}

// UIDs keep 0x0121 in bits 32-47 and the location's server ID above; services of two servers,
// and two services of one server, writing into the same directory never give one UID twice.
TEST(LdapStore, UidsOfSeveralServersNeverMeet) {
  const std::string location = Server().Location(FreshBase());
  DirectoryAt a(location + ",x-server-id=7"), b(location + ",x-server-id=9"),
      c(location + ",x-server-id=7");
  ASSERT_EQ(a.Directory().CreateDataContext(u"Notes", u"Root/Notes"), 0);
  uint32_t notes = 0;
  ASSERT_EQ(b.Directory().BindLDAP(u"&Notes", notes), 0);
  std::set<uint64_t> uids;
  for (int i = 0; i < 300; ++i) {
    for (DirectoryAt* under : {&a, &b, &c}) {
      ZEL_DIR_BaseEntry entry(&under->Directory(), ZELString(), notes);
      ASSERT_EQ(entry.Add(), 0);
      EXPECT_EQ((entry.GetUID() >> 32) & 0xFFFF, 0x0121u);
      EXPECT_EQ(entry.GetUID() >> 48, under == &b ? 9u : 7u);
      EXPECT_TRUE(uids.insert(entry.GetUID()).second) << std::hex << entry.GetUID();
    }
  }
}

// Changes made through another service (another process, another server) reach a
// subscription when the store looks for them.
TEST(LdapStore, ChangesMadeElsewhereAreToldOnce) {
  const std::string base = FreshBase();
  const std::string location = Server().Location(base);
  DirectoryAt here(location), there(location + ",x-server-id=2");
  ASSERT_EQ(here.Directory().CreateDataContext(u"Notes", u"Root/Notes"), 0);
  uint32_t notes = 0;
  ASSERT_EQ(here.Directory().BindLDAP(u"&Notes", notes), 0);
  std::vector<Change> heard;
  uint32_t subscription = 0;
  ASSERT_EQ(zel::dir::Subscribe(
                here.Directory(), notes,
                [&](uint32_t, const Change& change) { heard.push_back(change); }, &subscription),
            0);
  ZEL_DIR_BaseEntry mine(&here.Directory(), u"mine", notes);
  ASSERT_EQ(mine.Add(), 0);
  ZEL_DIR_BaseEntry theirs(&there.Directory(), u"theirs", notes);
  ASSERT_EQ(theirs.Add(), 0);
  ASSERT_EQ(heard.size(), 1u);
  ASSERT_EQ(zel::dir::PollChanges(here.Directory()), 0);
  ASSERT_EQ(zel::dir::PollChanges(here.Directory()), 0);
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[1], (Change{heard[1].number, Change::kAdded, theirs.GetUID(), u"theirs"}));

  // A change numbered before the last one heard (another server's clock) that replication
  // brings only now is told too, once.
  char late[17];
  std::snprintf(late, sizeof late, "%016llx",
                static_cast<unsigned long long>(heard[1].number - (1000ull << 12) + 3));
  ASSERT_EQ(
      Server().Add(std::string("dn: zelChange=") + late + ",zelContextID=" + std::to_string(notes) +
                   "," + base + "\nobjectClass: zelChangeRecord\nzelChange: " + late +
                   "\nzelChangeKind: 2\nzelContextID: " + std::to_string(notes) +
                   "\nzelUID: 0003012100000001\nzelDN: late\n"),
      0);
  ASSERT_EQ(zel::dir::PollChanges(here.Directory()), 0);
  ASSERT_EQ(zel::dir::PollChanges(here.Directory()), 0);
  ASSERT_EQ(heard.size(), 3u);
  EXPECT_EQ(heard[2], (Change{heard[2].number, Change::kUpdated, 0x0003012100000001u, u"late"}));
}

// Two providers of one replicated directory, a directory service on each: a change made through
// A is read, and told once, through B; with B's server stopped A keeps serving, and B, back,
// catches up with what it missed.
TEST(LdapReplication, AChangeThroughOneProviderReachesTheOtherAndOneStoppedCatchesUp) {
  const int portA = Slapd::FreePort(), portB = Slapd::FreePort();
  Slapd a(ZEL_LDAP_SCHEMA, Replica{1, portA, portB}), b(ZEL_LDAP_SCHEMA, Replica{2, portB, portA});
  const std::string base = a.NewBase("farm");
  DirectoryAt throughA(a.Location(base) + ",x-server-id=1"),
      throughB(b.Location(base) + ",x-server-id=2");
  ZEL_PS_LDAPSAL& dirA = throughA.Directory();
  ZEL_PS_LDAPSAL& dirB = throughB.Directory();
  ASSERT_EQ(dirA.CreateDataContext(u"Notes", u"Root/Notes"), 0);
  uint32_t notes = 0;
  ASSERT_TRUE(Eventually([&] { return dirB.BindLDAP(u"&Notes", notes) == 0; }));

  std::vector<Change> heard;
  uint32_t subscription = 0;
  ASSERT_EQ(
      dirB.SubscribeToDirChangeNotification(
          notes, [&](uint32_t, const Change& change) { heard.push_back(change); }, subscription),
      0);
  uint64_t uid = 0;
  ASSERT_EQ(dirA.AddEntry(notes, u"x", u"", {}, uid), 0);
  ASSERT_TRUE(Eventually([&] {
    EXPECT_EQ(dirB.DirChangeNotificationHelper(nullptr), 0);
    return !heard.empty();
  }));
  ASSERT_EQ(dirB.DirChangeNotificationHelper(nullptr), 0);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].uid, uid);
  EXPECT_EQ(heard[0].dn, u"x");
  // The change record is written before the entry and replication carries each on its own, so
  // B may tell the change a moment before the entry shows it.
  EXPECT_TRUE(Eventually([&] { return dirB.DoesEntryExist(notes, u"x", u"") == 0; }));

  b.Stop();
  EXPECT_EQ(dirB.DoesEntryExist(notes, u"x", u""), zel::dir::kServerUnreachable);
  ASSERT_EQ(dirA.AddEntry(notes, u"y", u"", {}, uid), 0);
  EXPECT_EQ(dirA.DelEntry(notes, u"x", u""), 0);
  b.Start();
  ASSERT_TRUE(Eventually([&] {
    dirB.DirChangeNotificationHelper(nullptr);
    return heard.size() >= 3;
  }));
  EXPECT_EQ(heard.size(), 3u);
  EXPECT_TRUE(Eventually([&] {
    return dirB.DoesEntryExist(notes, u"y", u"") == 0 &&
           dirB.DoesEntryExist(notes, u"x", u"") == zel::dir::kNoSuchEntry;
  }));
}

}  // namespace
