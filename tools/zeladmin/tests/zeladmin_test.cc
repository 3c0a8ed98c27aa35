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

#include "farm_processes.h"
#include "zel/iconpng/icon_png.h"

namespace {

using namespace zeladmin_testing;

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

}  // namespace
