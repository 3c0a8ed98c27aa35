// A farm on a directory server: what is wrong with it said at start, a farm moved onto one
// from SQLite, and two farm servers on two replicating providers.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "zeladmin_fixture.h"

namespace {

using namespace zeladmin_testing;

// A farm server on a directory server it cannot use says why at start and exits 1.
TEST(FarmOnADirectoryServer, SaysAtStartWhatIsWrong) {
  zel::dir::testing::Slapd noSchema("");
  const std::string base = Server().NewBase("startchecks");
  const struct {
    const char* name;
    std::string store;
    const char* says;
  } cases[] = {
      {"wrong password", Server().Location(base, Server().WrongPasswordFile()),
       "0x80030011 the credentials are refused"},
      {"no schema", noSchema.Location("o=zel"), "0x80030012 the server has no zeladminsal schema"},
      {"no base entry", Server().Location("ou=nothing,o=zel"),
       "0x80030013 the base entry is missing"},
      {"no server", "ldap://127.0.0.1:1/o=zel", "0x80030010 the server cannot be reached"},
  };
  for (const auto& c : cases) {
    TempFolder dir;
    const Outcome run =
        RunToEnd({ZELFARMD_PATH, "--store", c.store, "--listen", "unix:" + dir.File("f.sock")});
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << c.name << ": " << run.err;
  }
}

// A farm moves from SQLite to a directory server by export, then import: the new farm exports
// the same document.
TEST_F(ZeladminFarmTest, MovingAFarmFromSqliteToADirectoryServer) {
  StartFarm(Login());
  Init();
  ASSERT_EQ(Z({"import", DEMO_FARM_PATH}).status, 0);
  ASSERT_EQ(Z({"export", dir_ + "/sqlite.json"}).status, 0);
  store_ = FreshLdapStore();
  StartFarm(Login());
  Init();
  ASSERT_EQ(Z({"import", dir_ + "/sqlite.json"}).status, 0);
  ASSERT_EQ(Z({"export", dir_ + "/ldap.json"}).status, 0);
  const json before = json::parse(Read("sqlite.json"), nullptr, false);
  EXPECT_EQ(before["tree"].size(), 36u);
  EXPECT_EQ(json::parse(Read("ldap.json"), nullptr, false), before);
}

// Two farm servers, each on its own provider of one replicated directory, sharing the farm's
// keys: what a console of one changes, a console of the other reads and is told once; with one
// directory server stopped the other farm server keeps serving, and the stopped one catches up
// when it runs again.
TEST(ReplicatedFarm, ServersShareChangesAndSurviveALostProvider) {
  using zel::dir::testing::Replica;
  using zel::dir::testing::Slapd;
  const int portA = Slapd::FreePort(), portB = Slapd::FreePort();
  Slapd ldapA(ZEL_LDAP_SCHEMA, Replica{1, portA, portB});
  Slapd ldapB(ZEL_LDAP_SCHEMA, Replica{2, portB, portA});
  const std::string base = ldapA.NewBase("farm");
  // The base reaches B by replication before B's farm server checks it at start.
  const std::string probe = "LDAPNOINIT=1 ldapsearch -x -H " + ldapB.LdapUri() + " -b " + base +
                            " -s base >/dev/null 2>&1";
  ASSERT_TRUE(Eventually([&] { return std::system(probe.c_str()) == 0; }));

  TempFolder folder;
  const std::string dir = folder.Path(), farmA = "unix:" + dir + "/a.sock";
  const std::string farmB = "unix:" + dir + "/b.sock";
  std::ofstream(dir + "/pw") << "first secret\n";
  FarmProcess serverA(dir, Login(), ldapA.Location(base), "a.sock", 1);
  FarmProcess serverB(dir, Login(), ldapB.Location(base), "b.sock", 2);
  ASSERT_EQ(Zeladmin(farmA, {"init", "--admin", "first", "--password-file", dir + "/pw"}).status,
            0);
  // A console of B watching the tree, into dir/NAME; started once it is subscribed.
  auto watch = [&](const std::string& name) {
    auto watcher = std::make_unique<Process>(
        ZeladminArgv(farmB, {"--json", "tree", "watch", "--timeout", "60"}), dir + "/" + name,
        dir + "/" + name + ".err");
    EXPECT_TRUE(
        Eventually([&] { return ReadFile(dir + "/" + name + ".err").starts_with("watching"); }));
    return watcher;
  };
  // The events a watcher wrote so far, by line.
  auto events = [&](const std::string& name) {
    std::vector<json> read;
    std::istringstream lines(ReadFile(dir + "/" + name));
    for (std::string line; std::getline(lines, line);)
      read.push_back(json::parse(line, nullptr, false));
    return read;
  };
  // Stops the watcher after several turns of B's follower (nothing is told twice) and reads
  // the names of the nodes it was told. Each change is told as a change of the server's own
  // consoles is: the node operation (81), then the change of its container (95), once.
  auto told = [&](std::unique_ptr<Process> watcher, const std::string& name) {
    std::this_thread::sleep_for(1500ms);
    watcher->Signal(SIGTERM);
    watcher->Wait();
    std::vector<std::string> nodes;
    std::size_t containers = 0;
    for (const json& event : events(name)) {
      if (event["event"] == 81) nodes.push_back(event["fields"]["sections[0].items[0].name"]);
      containers += event["event"] == 95 ? 1 : 0;
    }
    EXPECT_EQ(containers, nodes.size());
    return nodes;
  };

  // A console of A, then one of B, add a node. B tells A's node only once its entry has
  // reached B's replica: a console reading right after the notification finds it.
  auto first = watch("first");
  ASSERT_EQ(Zeladmin(farmA, {"tree", "add", "east"}).status, 0);
  EXPECT_TRUE(Eventually([&] { return events("first").size() >= 2; }, 20s));
  EXPECT_EQ(Zeladmin(farmB, {"tree", "show", "east"}).status, 0);
  ASSERT_EQ(Zeladmin(farmB, {"tree", "add", "south"}).status, 0);
  EXPECT_TRUE(Eventually([&] { return events("first").size() >= 4; }, 20s));
  EXPECT_EQ(told(std::move(first), "first"), (std::vector<std::string>{"\"east\"", "\"south\""}));

  // B's directory server stops: A keeps serving; back, B catches up, loses nothing, and its
  // console is told what it missed, once.
  auto second = watch("second");
  ldapB.Stop();
  EXPECT_EQ(Zeladmin(farmA, {"tree", "add", "west"}).status, 0);
  EXPECT_EQ(J(farmA, {"tree", "ls"})["children"].size(), 3u);
  ldapB.Start();
  EXPECT_TRUE(Eventually([&] { return events("second").size() >= 2; }, 20s));
  EXPECT_EQ(Zeladmin(farmB, {"tree", "show", "west"}).status, 0);
  EXPECT_EQ(J(farmB, {"tree", "ls"})["children"].size(), 3u);
  EXPECT_EQ(told(std::move(second), "second"), (std::vector<std::string>{"\"west\""}));
}

}  // namespace
