// A farm on a directory server: what is wrong with it said at start, a farm moved onto one
// from SQLite, and two farm servers on two replicating providers.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "farm_processes.h"

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
  char pattern[] = "/tmp/zelfarmd-start-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string command = std::string(ZELFARMD_PATH) + " --store '" + c.store +
                                "' --listen unix:" + dir + "/f.sock >" + dir + "/log 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    std::stringstream log;
    log << std::ifstream(dir + "/log").rdbuf();
    EXPECT_NE(log.str().find(c.says), std::string::npos) << log.str();
  }
  fs::remove_all(dir);
}

// A farm moves from SQLite to a directory server by export, then import: the new farm exports
// the same document.
TEST(MovingAFarm, FromSqliteToADirectoryServer) {
  char pattern[] = "/tmp/zeladmin-move-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  const std::string farm = "unix:" + dir + "/farm.sock";
  std::ofstream(dir + "/pw") << "first secret\n";
  auto run = [&](std::vector<std::string> args) {
    const Outcome done = Zeladmin(farm, args);
    EXPECT_EQ(done.status, 0) << args[0] << ": " << done.err;
    return done;
  };
  {
    FarmProcess server(dir, Login(), "sqlite:" + dir + "/farm.db");
    run({"init", "--admin", "first", "--password-file", dir + "/pw"});
    run({"import", DEMO_FARM_PATH});
    run({"export", dir + "/sqlite.json"});
  }
  {
    FarmProcess server(dir, Login(), FreshLdapStore());
    run({"init", "--admin", "first", "--password-file", dir + "/pw"});
    run({"import", dir + "/sqlite.json"});
    run({"export", dir + "/ldap.json"});
  }
  const json before = json::parse(std::ifstream(dir + "/sqlite.json"), nullptr, false);
  EXPECT_EQ(before["tree"].size(), 36u);
  EXPECT_EQ(json::parse(std::ifstream(dir + "/ldap.json"), nullptr, false), before);
  fs::remove_all(dir);
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
  for (int i = 0; i < 200 && std::system(probe.c_str()) != 0; ++i) usleep(50 * 1000);

  char pattern[] = "/tmp/zeladmin-replicas-XXXXXX";
  const std::string dir = mkdtemp(pattern);
  const std::string farmA = "unix:" + dir + "/a.sock", farmB = "unix:" + dir + "/b.sock";
  std::ofstream(dir + "/pw") << "first secret\n";
  FarmProcess serverA(dir, Login(), ldapA.Location(base), "a.sock", 1);
  FarmProcess serverB(dir, Login(), ldapB.Location(base), "b.sock", 2);
  ASSERT_EQ(Zeladmin(farmA, {"init", "--admin", "first", "--password-file", dir + "/pw"}).status,
            0);

  auto lines = [&](const std::string& file) {
    std::ifstream in(file);
    std::vector<std::string> read;
    for (std::string line; std::getline(in, line);) read.push_back(line);
    return read;
  };
  auto waitFor = [](const std::function<bool()>& done) {
    for (int i = 0; i < 400 && !done(); ++i) usleep(50 * 1000);  // 20 s at most
    return done();
  };
  // A console of B watching the tree, into OUT; started once it is subscribed.
  auto watch = [&](const std::string& out) {
    const std::string err = out + ".err";
    const pid_t watcher = fork();
    if (watcher == 0) {
      freopen(out.c_str(), "w", stdout);
      freopen(err.c_str(), "w", stderr);
      setenv("ZEL_FARM", farmB.c_str(), 1);
      execl(ZELADMIN_PATH, ZELADMIN_PATH, "--json", "tree", "watch", "--timeout", "60",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    EXPECT_TRUE(waitFor([&] {
      const auto said = lines(err);
      return !said.empty() && said[0].rfind("watching", 0) == 0;
    }));
    return watcher;
  };
  // Stops the watcher after several turns of B's follower (nothing is told twice) and reads
  // the names of the nodes it was told. Each change is told as a change of the server's own
  // consoles is: the node operation (81), then the change of its container (95), once.
  auto told = [&](pid_t watcher, const std::string& out) {
    usleep(1500 * 1000);
    kill(watcher, SIGTERM);
    int status = 0;
    waitpid(watcher, &status, 0);
    std::vector<std::string> nodes;
    std::size_t containers = 0;
    for (const std::string& line : lines(out)) {
      const json event = json::parse(line, nullptr, false);
      if (event["event"] == 81) nodes.push_back(event["fields"]["sections[0].items[0].name"]);
      containers += event["event"] == 95 ? 1 : 0;
    }
    EXPECT_EQ(containers, nodes.size());
    return nodes;
  };

  // A console of A, then one of B, add a node. B tells A's node only once its entry has
  // reached B's replica: a console reading right after the notification finds it.
  const pid_t first = watch(dir + "/first.out");
  ASSERT_EQ(Zeladmin(farmA, {"tree", "add", "east"}).status, 0);
  EXPECT_TRUE(waitFor([&] { return lines(dir + "/first.out").size() >= 2; }));
  EXPECT_EQ(Zeladmin(farmB, {"tree", "show", "east"}).status, 0);
  ASSERT_EQ(Zeladmin(farmB, {"tree", "add", "south"}).status, 0);
  EXPECT_TRUE(waitFor([&] { return lines(dir + "/first.out").size() >= 4; }));
  EXPECT_EQ(told(first, dir + "/first.out"), (std::vector<std::string>{"\"east\"", "\"south\""}));

  // B's directory server stops: A keeps serving; back, B catches up, loses nothing, and its
  // console is told what it missed, once.
  const pid_t second = watch(dir + "/second.out");
  ldapB.Stop();
  EXPECT_EQ(Zeladmin(farmA, {"tree", "add", "west"}).status, 0);
  EXPECT_EQ(J(farmA, {"tree", "ls"})["children"].size(), 3u);
  ldapB.Start();
  EXPECT_TRUE(waitFor([&] { return lines(dir + "/second.out").size() >= 2; }));
  EXPECT_EQ(Zeladmin(farmB, {"tree", "show", "west"}).status, 0);
  EXPECT_EQ(J(farmB, {"tree", "ls"})["children"].size(), 3u);
  EXPECT_EQ(told(second, dir + "/second.out"), (std::vector<std::string>{"\"west\""}));
  fs::remove_all(dir);
}

}  // namespace
