// zeladmin end to end: the farm server (zelfarmd) as a process on a real store, zeladmin run as a
// process for each command, its output, JSON and exit status checked.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "zel/directory/testing/slapd.h"
#include "zel/iconpng/icon_png.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

std::string Login() { return getpwuid(geteuid())->pw_name; }

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  return text;
}

// Runs zeladmin with these arguments against `farm`.
Outcome Zeladmin(const std::string& farm, const std::vector<std::string>& args) {
  fs::path dir = fs::temp_directory_path();
  const std::string outFile = dir / ("zeladmin-out-" + std::to_string(getpid()));
  const std::string errFile = dir / ("zeladmin-err-" + std::to_string(getpid()));
  const pid_t child = fork();
  if (child == 0) {
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int none = open("/dev/null", O_RDONLY);
    dup2(out, 1);
    dup2(err, 2);
    dup2(none, 0);
    setenv("ZEL_FARM", farm.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(ZELADMIN_PATH)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(ZELADMIN_PATH, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  Outcome run;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const int out = open(outFile.c_str(), O_RDONLY);
  run.out = ReadAll(out);
  close(out);
  const int err = open(errFile.c_str(), O_RDONLY);
  run.err = ReadAll(err);
  close(err);
  fs::remove(outFile);
  fs::remove(errFile);
  return run;
}

// zeladmin's JSON answer to a command that succeeds.
json J(const std::string& farm, std::vector<std::string> args) {
  args.insert(args.begin(), "--json");
  const Outcome run = Zeladmin(farm, args);
  EXPECT_EQ(run.status, 0) << run.err;
  return json::parse(run.out, nullptr, false);
}

// The farm server, a process of its own on `store` (a SQLite file or a directory server),
// serving unix:DIR/SOCKET with the keys in DIR/keys, stopped with SIGTERM (it finishes the
// requests in flight).
class FarmProcess {
 public:
  FarmProcess(const std::string& dir, const std::string& owner, const std::string& store,
              const std::string& socketName = "farm.sock", int serverID = 0) {
    const std::string listen = "unix:" + dir + "/" + socketName;
    const std::string log = dir + "/zelfarmd.log";
    const std::string keys = dir + "/keys";
    const std::string id = std::to_string(serverID);
    if (!fs::exists(keys)) {
      const std::string make =
          std::string(ZELFARMD_PATH) + " --init-keys " + keys + " >/dev/null 2>&1";
      EXPECT_EQ(std::system(make.c_str()), 0);
    }
    pid_ = fork();
    if (pid_ == 0) {
      const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      dup2(out, 1);
      dup2(out, 2);
      execl(ZELFARMD_PATH, ZELFARMD_PATH, "--store", store.c_str(), "--listen", listen.c_str(),
            "--owner", owner.c_str(), "--pwhash-limits", "min", "--keys", keys.c_str(),
            "--server-id", id.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    // Ready when the socket answers.
    for (int i = 0; i < 250; ++i) {
      const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un name{};
      name.sun_family = AF_UNIX;
      std::snprintf(name.sun_path, sizeof name.sun_path, "%s/%s", dir.c_str(), socketName.c_str());
      const bool answered = connect(fd, reinterpret_cast<const sockaddr*>(&name), sizeof name) == 0;
      close(fd);
      if (answered) return;
      usleep(20 * 1000);
    }
    ADD_FAILURE() << "zelfarmd did not answer on " << listen;
  }
  ~FarmProcess() {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }

 private:
  pid_t pid_ = -1;
};

// One private slapd for the program's directory-server stores; each store is a fresh base.
zel::dir::testing::Slapd& Server() {
  static zel::dir::testing::Slapd server(ZEL_LDAP_SCHEMA);
  return server;
}

std::string FreshLdapStore() {
  static int made = 0;
  return Server().Location(Server().NewBase("zeladmin" + std::to_string(++made)));
}

// A kind of store the farm server keeps: a fresh, empty one in the test's folder or on the
// program's directory server.
struct StoreKind {
  std::string name;
  std::function<std::string(const std::string& dir)> fresh;
};
void PrintTo(const StoreKind& kind, std::ostream* out) { *out << kind.name; }

class ZeladminTest : public ::testing::TestWithParam<StoreKind> {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zeladmin-test-XXXXXX";
    dir_ = mkdtemp(pattern);
    farm_ = "unix:" + dir_ + "/farm.sock";
    store_ = GetParam().fresh(dir_);
    std::ofstream(dir_ + "/pw") << "first secret\n";
    std::ofstream(dir_ + "/pw2") << "second secret\n";
  }
  void TearDown() override {
    server_.reset();
    fs::remove_all(dir_);
  }

  void StartFarm(const std::string& owner) {
    server_.reset();
    server_ = std::make_unique<FarmProcess>(dir_, owner, store_);
  }
  Outcome Z(std::vector<std::string> args) { return Zeladmin(farm_, args); }
  json J(std::vector<std::string> args) { return ::J(farm_, std::move(args)); }

  std::string dir_, farm_, store_;
  std::unique_ptr<FarmProcess> server_;
};

INSTANTIATE_TEST_SUITE_P(
    Stores, ZeladminTest,
    ::testing::Values(StoreKind{"SQLite",
                                [](const std::string& dir) {
                                  static int made = 0;
                                  return "sqlite:" + dir + "/farm" + std::to_string(++made) + ".db";
                                }},
                      StoreKind{"LDAP", [](const std::string&) { return FreshLdapStore(); }}),
    [](const ::testing::TestParamInfo<StoreKind>& store) { return store.param.name; });

TEST_P(ZeladminTest, AdministratorsThroughTheirCommands) {
  StartFarm(Login());
  const json first = J({"init", "--admin", "first", "--password-file", dir_ + "/pw"});
  EXPECT_EQ(first["account"], "unix:first");
  EXPECT_EQ(first["privileges"].size(), 9u);
  const json bob = J({"admins", "add", "bob", "--domain", "NORTH", "--authority", "NT",
                      "--password-file", dir_ + "/pw2"});
  EXPECT_EQ(bob["account"], "NT:NORTH\\bob");

  // Each row: a command, and what its JSON must hold.
  struct Case {
    std::vector<std::string> args;
    json expected;  // fields compared one by one
  } cases[] = {
      {{"privileges", "set", "NT:NORTH\\bob", "read-farm,3"},
       {{"privileges", {"read-farm", "change-tree"}}}},
      {{"admins", "privileges", "get", "NT:NORTH\\bob"},
       {{"uid", bob["uid"]}, {"privileges", {"read-farm", "change-tree"}}}},
      {{"admins", "show", bob["uid"]},
       {{"account", "NT:NORTH\\bob"}, {"privileges", {"read-farm", "change-tree"}}}},
      {{"resolve", "NT:NORTH\\bob"}, {{"uid", bob["uid"]}}},
      {{"resolve", "--uid", first["uid"]}, {{"account", "unix:first"}}},
      {{"logon", "NT:NORTH\\bob", "--password-file", dir_ + "/pw2"},
       {{"resolvedName", "NORTH\\bob"},
        {"values", {"read-farm", "change-tree"}},
        {"uids", {bob["uid"]}}}},
      {{"permissions"}, {{"unrestricted", true}}},
      {{"admins", "unlock", "NT:NORTH\\bob"}, {{"unlocked", true}}},
  };
  for (Case& c : cases) {
    if (c.args[0] == "privileges") c.args.insert(c.args.begin(), "admins");
    const json got = J(c.args);
    for (auto& [key, value] : c.expected.items()) {
      EXPECT_EQ(got.is_object() ? got.value(key, json()) : json(), value)
          << c.args[0] << " " << c.args[1] << ": " << got.dump();
    }
  }

  const json list = J({"admins", "list"});
  ASSERT_EQ(list["administrators"].size(), 2u);
  EXPECT_EQ(list["administrators"][0]["account"], "unix:first");
  EXPECT_EQ(list["administrators"][1]["privileges"], json({"read-farm", "change-tree"}));
  const Outcome table = Z({"admins", "list"});
  EXPECT_EQ(table.status, 0);
  // Columns line up: each value starts where its header does.
  std::istringstream lines(table.out);
  std::string header, row;
  std::getline(lines, header);
  std::getline(lines, row);
  EXPECT_EQ(header.rfind("UID", 0), 0u) << header;
  EXPECT_EQ(header.find("ACCOUNT"), row.find("unix:first")) << table.out;
  EXPECT_EQ(header.find("PRIVILEGES"), row.find("read-farm")) << table.out;
  EXPECT_NE(table.out.find("NT:NORTH\\bob  read-farm,change-tree"), std::string::npos) << table.out;

  EXPECT_EQ(J({"admins", "remove", "NT:NORTH\\bob"})["removed"], json({bob["uid"]}));
  EXPECT_EQ(J({"admins", "list"})["administrators"].size(), 1u);
}

TEST_P(ZeladminTest, ErrorsAndExitStatuses) {
  StartFarm(Login());
  ASSERT_EQ(Z({"init", "--admin", "first", "--password-file", dir_ + "/pw"}).status, 0);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string errorStart;  // "" for usage errors, whose text is CLI11's
  } cases[] = {
      {{"admins", "show", "nobody"}, 1, "zeladmin: 0x80070004 kNoSuchAdministrator: finding "},
      {{"logon", "root", "--password-file", dir_ + "/pw2"},
       1,
       "zeladmin: 0x80070020 kLogonRefused: logging on as root"},
      {{"admins", "privileges", "set", "first", "no-such-privilege"},
       2,
       "zeladmin: no privilege is named no-such-privilege"},
      {{"admins", "frobnicate"}, 2, ""},
      {{"tree-of-life"}, 2, ""},
      {{"init", "--admin", "x"}, 2, ""},
      {{"icons", "add", "i", dir_ + "/pw"},
       1,
       "zeladmin: 0x80010005 kInvalidArgument: reading " + dir_ + "/pw: not a PNG"},
      {{"--farm", "unix:" + dir_ + "/nothing.sock", "admins", "list"},
       3,
       "zeladmin: 0x80010009 kServerGone: connecting to the farm"},
  };
  for (const Case& c : cases) {
    const Outcome run = Z(c.args);
    EXPECT_EQ(run.status, c.status) << c.args[0] << ": " << run.err;
    if (!c.errorStart.empty()) {
      EXPECT_EQ(run.err.rfind(c.errorStart, 0), 0u) << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
  }
  EXPECT_EQ(Z({"admins", "--help"}).status, 0);
}

TEST_P(ZeladminTest, IconsRoundTripThroughPng) {
  StartFarm(Login());
  ASSERT_EQ(Z({"init", "--admin", "first", "--password-file", dir_ + "/pw"}).status, 0);
  std::vector<uint8_t> bits(zel::iconpng::kIconBytes, 0);
  for (std::size_t i = 0; i < zel::iconpng::kPixelBytes; ++i) bits[i] = static_cast<uint8_t>(i * 7);
  bits[zel::iconpng::kPixelBytes] = 0xFF;  // eight pixels of the lowest row transparent...
  for (std::size_t i = 0; i < 4; ++i) bits[i] &= 0x00;  // ...whose colour is then 0
  std::vector<uint8_t> png;
  std::string error;
  ASSERT_TRUE(zel::iconpng::IconToPng(bits.data(), bits.size(), &png, &error));
  std::ofstream(dir_ + "/in.png", std::ios::binary)
      .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  EXPECT_EQ(J({"icons", "add", "server", dir_ + "/in.png"})["name"], "server");
  // Another icon (the registry keeps one entry for equal bits, named by both names).
  std::vector<uint8_t> red(zel::iconpng::kIconBytes, 0x99), redPng;
  std::fill(red.begin() + zel::iconpng::kPixelBytes, red.end(), 0);
  ASSERT_TRUE(zel::iconpng::IconToPng(red.data(), red.size(), &redPng, &error));
  std::ofstream(dir_ + "/red.png", std::ios::binary)
      .write(reinterpret_cast<const char*>(redPng.data()),
             static_cast<std::streamsize>(redPng.size()));
  EXPECT_EQ(J({"icons", "add", "disk", dir_ + "/red.png"})["name"], "disk");
  const json listed = J({"icons", "ls"});
  ASSERT_EQ(listed["icons"].size(), 2u) << listed.dump();
  EXPECT_EQ(listed["icons"][0]["name"], "disk");
  EXPECT_EQ(listed["icons"][1]["name"], "server");
  EXPECT_EQ(J({"icons", "export", "server", dir_ + "/out.png"})["file"], dir_ + "/out.png");
  std::ifstream in(dir_ + "/out.png", std::ios::binary);
  const std::vector<uint8_t> back((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  std::vector<uint8_t> backBits;
  ASSERT_TRUE(zel::iconpng::PngToIcon(back.data(), back.size(), zel::iconpng::Colours::kExact,
                                      &backBits, &error))
      << error;
  EXPECT_EQ(backBits, bits);
  EXPECT_EQ(J({"icons", "rm", "server"})["removed"], "server");
  EXPECT_EQ(Z({"icons", "export", "server", dir_ + "/gone.png"}).status, 1);
  EXPECT_EQ(J({"icons", "ls"})["icons"].size(), 1u);
}

TEST_P(ZeladminTest, AnAdministratorWithoutThePrivilegeIsRefused) {
  StartFarm(Login());
  ASSERT_EQ(Z({"init", "--admin", "first", "--password-file", dir_ + "/pw"}).status, 0);
  // This process's own account becomes an administrator that may only read the farm; with
  // another owner, the console acts as that account.
  ASSERT_EQ(Z({"admins", "add", Login()}).status, 0);
  ASSERT_EQ(Z({"admins", "privileges", "set", "unix:" + Login(), "read-farm"}).status, 0);
  StartFarm("someone-else");
  const Outcome refused = Z({"admins", "add", "mallory"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err.rfind("zeladmin: 0x80070003 kAccessDenied: adding administrator", 0), 0u)
      << refused.err;
  EXPECT_EQ(J({"admins", "list"})["administrators"].size(), 2u);
  // A ticket names the acting administrator.
  EXPECT_EQ(J({"ticket", "issue", "--out", dir_ + "/ticket"})["bytes"], 120);
  EXPECT_EQ(fs::status(dir_ + "/ticket").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(J({"ticket", "accounts", "--ticket-file", dir_ + "/ticket"})["accounts"],
            json({J({"resolve", "unix:" + Login()})["uid"]}));
  // The owner reads the audit: the refusal is there, with the acting account.
  StartFarm(Login());
  const json audit = J({"audit", "--who", "unix:" + Login()});
  ASSERT_FALSE(audit["records"].empty()) << audit.dump();
  json refusal;
  for (const json& record : audit["records"]) {
    if (record["result"] == "0x80070003") refusal = record;
  }
  ASSERT_TRUE(refusal.is_object()) << audit.dump();
  EXPECT_EQ(refusal["actor"], "unix:" + Login()) << refusal.dump();
  EXPECT_NE(refusal["what"].get<std::string>().find("mallory"), std::string::npos)
      << refusal.dump();
  EXPECT_EQ(J({"audit", "--since", "2999-01-01"})["records"].size(), 0u);
  EXPECT_EQ(Z({"audit", "--since", "yesterday"}).status, 2);
}

TEST_P(ZeladminTest, TreeCommandsKeepTheTreeAndDrawIt) {
  StartFarm(Login());
  ASSERT_EQ(Z({"init", "--admin", "first", "--password-file", dir_ + "/pw"}).status, 0);
  for (const char* dn : {"north", "north/rack1", "north/rack1/node7", "south"}) {
    ASSERT_EQ(Z({"tree", "add", dn}).status, 0) << dn;
  }
  EXPECT_EQ(J({"tree", "add", "south/gw", "--title", "Gateway"})["title"], "Gateway");
  const Outcome drawn = Z({"tree", "ls"});
  EXPECT_EQ(drawn.out,
            "/\n"
            "├── north\n"
            "│   └── rack1\n"
            "│       └── node7\n"
            "└── south\n"
            "    └── gw  \"Gateway\"\n");
  EXPECT_EQ(Z({"tree", "ls", "--depth", "1"}).out, "/\n├── north\n└── south\n");

  EXPECT_EQ(J({"tree", "set", "north/rack1", "title=Rack one", "flags=0x20"})["flags"], 0x20);
  const json shown = J({"tree", "show", "north/rack1"});
  EXPECT_EQ(shown["title"], "Rack one");
  EXPECT_EQ(shown["flags"], 0x20);

  EXPECT_EQ(J({"tree", "mv", "north/rack1", "south"})["to"], "south/rack1");
  const json moved = J({"tree", "ls", "south"});
  ASSERT_EQ(moved["children"].size(), 2u);
  EXPECT_EQ(moved["children"][1]["dn"], "south/rack1");
  EXPECT_EQ(moved["children"][1]["title"], "Rack one");
  EXPECT_EQ(moved["children"][1]["uid"], shown["uid"]);
  EXPECT_EQ(moved["children"][1]["children"][0]["name"], "node7");
  EXPECT_EQ(J({"tree", "ls", "north"})["children"].size(), 0u);

  EXPECT_EQ(J({"tree", "rm", "south"})["removed"], "south");
  EXPECT_EQ(J({"tree", "ls"})["children"].size(), 1u);
  EXPECT_EQ(Z({"tree", "show", "south/rack1/node7"}).status, 1);
  EXPECT_EQ(Z({"tree", "set", "north", "colour=red"}).status, 2);
}

TEST_P(ZeladminTest, ImportIsIdempotentAndSaysWhatChanged) {
  StartFarm(Login());
  ASSERT_EQ(Z({"init", "--admin", "first", "--password-file", dir_ + "/pw"}).status, 0);
  const json first = J({"import", DEMO_FARM_PATH});
  EXPECT_EQ(first["changed"], json({{"administrators", 4}, {"icons", 4}, {"tree", 36}}));
  const json again = J({"import", DEMO_FARM_PATH});
  EXPECT_EQ(again["changed"], json({{"administrators", 0}, {"icons", 0}, {"tree", 0}}));
  EXPECT_EQ(again["unchanged"], json({{"administrators", 4}, {"icons", 4}, {"tree", 36}}));
  const json node = J({"tree", "show", "north/rack1/node101"});
  EXPECT_EQ(node["title"], "north-node101");
  EXPECT_EQ(node["icon"], J({"icons", "ls"})["icons"][2]["uid"]);  // by name: network, rack, server
  EXPECT_EQ(J({"admins", "privileges", "get", "unix:bob"})["privileges"],
            json({"read-farm", "read-audit"}));
  // Export, then import onto a second farm: the second farm exports the same document.
  ASSERT_EQ(Z({"export", dir_ + "/farm1.json"}).status, 0);
  const json exported = json::parse(std::ifstream(dir_ + "/farm1.json"), nullptr, false);
  EXPECT_EQ(exported["tree"].size(), 36u);
  EXPECT_EQ(exported["icons"].size(), 4u);
  EXPECT_EQ(exported["administrators"].size(), 5u);
  server_.reset();
  store_ = GetParam().fresh(dir_);
  StartFarm(Login());
  ASSERT_EQ(Z({"init", "--admin", "first", "--password-file", dir_ + "/pw"}).status, 0);
  EXPECT_EQ(J({"import", dir_ + "/farm1.json"})["changed"],
            json({{"administrators", 4}, {"icons", 4}, {"tree", 36}}));
  ASSERT_EQ(Z({"export", dir_ + "/farm2.json"}).status, 0);
  EXPECT_EQ(json::parse(std::ifstream(dir_ + "/farm2.json"), nullptr, false), exported);

  std::ofstream(dir_ + "/bad.json") << "{\"version\": 2}";
  const Outcome bad = Z({"import", dir_ + "/bad.json"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("not a farm document of version 1"), std::string::npos) << bad.err;
}

TEST_P(ZeladminTest, WatchSeesAChangeMadeByAnotherConsole) {
  StartFarm(Login());
  ASSERT_EQ(Z({"init", "--admin", "first", "--password-file", dir_ + "/pw"}).status, 0);
  const std::string errFile = dir_ + "/watch.err", outFile = dir_ + "/watch.out";
  const pid_t watcher = fork();
  if (watcher == 0) {
    freopen(outFile.c_str(), "w", stdout);
    freopen(errFile.c_str(), "w", stderr);
    setenv("ZEL_FARM", farm_.c_str(), 1);
    execl(ZELADMIN_PATH, ZELADMIN_PATH, "--json", "tree", "watch", "--count", "1", "--timeout",
          "20", static_cast<char*>(nullptr));
    _exit(127);
  }
  // The change comes after the watcher's subscription is granted.
  for (int i = 0; i < 200; ++i) {
    std::ifstream err(errFile);
    std::string line;
    if (std::getline(err, line) && line.rfind("watching", 0) == 0) break;
    usleep(50 * 1000);
  }
  ASSERT_EQ(Z({"tree", "add", "east"}).status, 0);
  int status = 0;
  waitpid(watcher, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::ifstream out(outFile);
  std::string line;
  ASSERT_TRUE(std::getline(out, line));
  const json event = json::parse(line, nullptr, false);
  EXPECT_EQ(event["event"], 81) << line;
  EXPECT_EQ(event["parsed"], true) << line;
  EXPECT_EQ(event["fields"]["sections[0].items[0].name"], "\"east\"") << line;
}

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

  // A console of B watches the tree while a console of A, then one of B, add a node.
  const std::string outFile = dir + "/watch.out", errFile = dir + "/watch.err";
  const pid_t watcher = fork();
  if (watcher == 0) {
    freopen(outFile.c_str(), "w", stdout);
    freopen(errFile.c_str(), "w", stderr);
    setenv("ZEL_FARM", farmB.c_str(), 1);
    execl(ZELADMIN_PATH, ZELADMIN_PATH, "--json", "tree", "watch", "--timeout", "60",
          static_cast<char*>(nullptr));
    _exit(127);
  }
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
  ASSERT_TRUE(waitFor([&] {
    const auto err = lines(errFile);
    return !err.empty() && err[0].rfind("watching", 0) == 0;
  }));
  ASSERT_EQ(Zeladmin(farmA, {"tree", "add", "east"}).status, 0);
  EXPECT_TRUE(waitFor([&] { return Zeladmin(farmB, {"tree", "show", "east"}).status == 0; }));
  EXPECT_TRUE(waitFor([&] { return lines(outFile).size() >= 2; }));
  ASSERT_EQ(Zeladmin(farmB, {"tree", "add", "south"}).status, 0);
  EXPECT_TRUE(waitFor([&] { return lines(outFile).size() >= 4; }));
  usleep(1500 * 1000);  // several turns of B's follower: nothing is told twice
  kill(watcher, SIGTERM);
  int status = 0;
  waitpid(watcher, &status, 0);
  // Each change is told as a change of the server's own consoles is: the node operation (81),
  // then the change of its container (95), once.
  std::vector<std::string> nodes;
  int containers = 0;
  for (const std::string& line : lines(outFile)) {
    const json event = json::parse(line, nullptr, false);
    if (event["event"] == 81) nodes.push_back(event["fields"]["sections[0].items[0].name"]);
    containers += event["event"] == 95 ? 1 : 0;
  }
  EXPECT_EQ(nodes, (std::vector<std::string>{"\"east\"", "\"south\""}));
  EXPECT_EQ(containers, 2);

  // B's directory server stops: A keeps serving; back, B catches up and loses nothing.
  ldapB.Stop();
  EXPECT_EQ(Zeladmin(farmA, {"tree", "add", "west"}).status, 0);
  EXPECT_EQ(J(farmA, {"tree", "ls"})["children"].size(), 3u);
  ldapB.Start();
  EXPECT_TRUE(waitFor([&] { return Zeladmin(farmB, {"tree", "show", "west"}).status == 0; }));
  EXPECT_EQ(J(farmB, {"tree", "ls"})["children"].size(), 3u);
  fs::remove_all(dir);
}

}  // namespace
