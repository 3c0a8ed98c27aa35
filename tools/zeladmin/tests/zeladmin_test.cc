// zeladmin end to end: the farm server (zelfarmd) as a process on a real store, zeladmin run as a
// process for each command, its output, JSON and exit status checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "zel/iconpng/icon_png.h"
#include "zeladmin_fixture.h"

namespace {

using namespace zeladmin_testing;

// Each test on a fresh store of each kind the farm server keeps: a SQLite file in the test's
// folder, a base on the program's directory server.
class ZeladminTest : public ZeladminFarmTest, public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override {
    ZeladminFarmTest::SetUp();
    if (GetParam() == "LDAP") store_ = FreshLdapStore();
    StartFarm(Login());
  }
};
INSTANTIATE_TEST_SUITE_P(Stores, ZeladminTest, ::testing::Values("SQLite", "LDAP"),
                         [](const auto& store) { return store.param; });

TEST_P(ZeladminTest, AdministratorsThroughTheirCommands) {
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
  Init();
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
  // Every command answers --help (and does not reach for the farm to do so).
  std::istringstream commands(
      "init,admins list,admins show,admins add,admins remove,admins privileges get,"
      "admins privileges set,admins folders get,admins folders set,admins contact get,"
      "admins contact set,admins default-user set,admins password,admins unlock,logon,"
      "ticket issue,ticket accounts,resolve,permissions,tree ls,tree show,tree add,tree rm,"
      "tree mv,tree set,tree watch,folders create,folders rename,folders rm,folders move,"
      "icons add,icons export,icons ls,icons rm,plugins add,plugins show,plugins ls,audit,"
      "import,export,monitor");
  for (std::string command; std::getline(commands, command, ',');) {
    std::vector<std::string> args{"--farm", "unix:" + dir_ + "/nothing.sock"};
    std::istringstream words(command + " --help");
    for (std::string word; words >> word;) args.push_back(word);
    const Outcome run = Z(args);
    EXPECT_EQ(run.status, 0) << command << ": " << run.err;
    EXPECT_NE(run.out.find("Usage:"), std::string::npos) << command << ": " << run.out;
  }
}

// Writes the PNG of icon bits to `path`.
void WriteIcon(const std::vector<uint8_t>& bits, const std::string& path) {
  std::vector<uint8_t> png;
  std::string error;
  ASSERT_TRUE(zel::iconpng::IconToPng(bits.data(), bits.size(), &png, &error)) << error;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
}

TEST_P(ZeladminTest, IconsRoundTripThroughPng) {
  Init();
  std::vector<uint8_t> bits(zel::iconpng::kIconBytes, 0);
  for (std::size_t i = 4; i < zel::iconpng::kPixelBytes; ++i) bits[i] = static_cast<uint8_t>(i * 7);
  bits[zel::iconpng::kPixelBytes] = 0xFF;  // eight pixels of the lowest row transparent (colour 0)
  WriteIcon(bits, dir_ + "/in.png");
  EXPECT_EQ(J({"icons", "add", "server", dir_ + "/in.png"})["name"], "server");
  std::vector<uint8_t> red(zel::iconpng::kIconBytes, 0x99);
  std::fill(red.begin() + zel::iconpng::kPixelBytes, red.end(), 0);
  WriteIcon(red, dir_ + "/red.png");
  EXPECT_EQ(J({"icons", "add", "disk", dir_ + "/red.png"})["name"], "disk");
  const json listed = J({"icons", "ls"});
  ASSERT_EQ(listed["icons"].size(), 2u) << listed.dump();
  EXPECT_EQ(listed["icons"][0]["name"], "disk");
  EXPECT_EQ(listed["icons"][1]["name"], "server");
  EXPECT_EQ(J({"icons", "export", "server", dir_ + "/out.png"})["file"], dir_ + "/out.png");
  const std::string back = Read("out.png");
  std::vector<uint8_t> backBits;
  std::string error;
  ASSERT_TRUE(zel::iconpng::PngToIcon(reinterpret_cast<const uint8_t*>(back.data()), back.size(),
                                      zel::iconpng::Colours::kExact, &backBits, &error))
      << error;
  EXPECT_EQ(backBits, bits);
  EXPECT_EQ(J({"icons", "rm", "server"})["removed"], "server");
  EXPECT_EQ(Z({"icons", "export", "server", dir_ + "/gone.png"}).status, 1);
  EXPECT_EQ(J({"icons", "ls"})["icons"].size(), 1u);
}

TEST_P(ZeladminTest, AnAdministratorWithoutThePrivilegeIsRefused) {
  Init();
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
  Init();
  for (const char* dn : {"north", "north/rack1", "north/rack1/node7", "south"}) {
    ASSERT_EQ(Z({"tree", "add", dn}).status, 0) << dn;
  }
  EXPECT_EQ(J({"tree", "add", "south/gw", "--title", "Gateway"})["title"], "Gateway");
  EXPECT_EQ(Z({"tree", "ls"}).out,
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
  EXPECT_EQ(J({"tree", "mv", "north/rack1", "south"})["to"], "south/rack1");
  const json moved = J({"tree", "ls", "south"})["children"];
  ASSERT_EQ(moved.size(), 2u);
  EXPECT_EQ(moved[1]["dn"], "south/rack1");
  EXPECT_EQ(moved[1]["title"], "Rack one");
  EXPECT_EQ(moved[1]["flags"], 0x20);
  EXPECT_EQ(moved[1]["uid"], shown["uid"]);
  EXPECT_EQ(moved[1]["children"][0]["name"], "node7");
  EXPECT_EQ(J({"tree", "ls", "north"})["children"].size(), 0u);

  EXPECT_EQ(J({"tree", "rm", "south"})["removed"], "south");
  EXPECT_EQ(J({"tree", "ls"})["children"].size(), 1u);
  EXPECT_EQ(Z({"tree", "show", "south/rack1/node7"}).status, 1);
  EXPECT_EQ(Z({"tree", "set", "north", "colour=red"}).status, 2);
}

// Import says what it changed, twice the same file changes nothing; a document it cannot read
// whole changes nothing. (Export and import onto another farm: zeladmin_farm_test.cc and
// replicated_farm_test.cc.)
TEST_P(ZeladminTest, ImportIsIdempotentAndSaysWhatChanged) {
  Init();
  const json counts = {{"administrators", 4}, {"icons", 4}, {"tree", 36}, {"plugins", 2}};
  EXPECT_EQ(J({"import", DEMO_FARM_PATH})["changed"], counts);
  const json again = J({"import", DEMO_FARM_PATH});
  EXPECT_EQ(again["changed"],
            json({{"administrators", 0}, {"icons", 0}, {"tree", 0}, {"plugins", 0}}));
  EXPECT_EQ(again["unchanged"], counts);
  const json node = J({"tree", "show", "north/rack1/node101"});
  EXPECT_EQ(node["title"], "north-node101");
  EXPECT_EQ(node["icon"], J({"icons", "ls"})["icons"][2]["uid"]);  // by name: network, rack, server
  EXPECT_EQ(J({"admins", "privileges", "get", "unix:bob"})["privileges"],
            json({"read-farm", "read-audit"}));
  const json folders = J({"admins", "folders", "get", "unix:alice"})["folders"];
  ASSERT_EQ(folders.size(), 2u) << folders.dump();
  EXPECT_EQ(folders[1]["dn"], "south");
  EXPECT_EQ(J({"plugins", "ls"})["plugins"], json({"Disk report", "Rack power"}));

  const std::string admin = R"({"version": 1, "administrators": [{"account": "unix:zed", )";
  struct Bad {
    std::string document, why;
  } bad[] = {
      {R"({"version": 2})", "not a farm document of version 1"},
      {admin + R"("privileges": ["read-farm", "fly"]}]})",
       "administrators[0] privileges[1] names no privilege"},
      {admin + R"("folders": [{"folder": "north", "tasks": [-1]}]}]})",
       "administrators[0] folders[0] tasks[0] is not a number from 0 to 4294967295"},
      {admin + R"("contact": ["a", "b", "c", "d"]}]})",
       "administrators[0] has more than three contact lines"},
      {R"({"version": 1, "administrators": [], "tree": [{"dn": "x"}, {"dn": 7}]})",
       "tree[1] has a non-text dn"},
      {R"({"version": 1, "plugins": "Disks"})", "plugins is not a list"},
  };
  for (const Bad& b : bad) {
    std::ofstream(dir_ + "/bad.json") << b.document;
    const Outcome run = Z({"import", dir_ + "/bad.json"});
    EXPECT_EQ(run.status, 1) << b.document;
    EXPECT_EQ(run.err, "zeladmin: 0x80010005 kInvalidArgument: reading " + dir_ +
                           "/bad.json: " + b.why + "\n");
  }
  EXPECT_EQ(J({"admins", "list"})["administrators"].size(), 5u);
  EXPECT_EQ(Z({"tree", "show", "x"}).status, 1);
}

TEST_P(ZeladminTest, WatchSeesAChangeMadeByAnotherConsole) {
  Init();
  // The change comes after the watcher's subscription is granted.
  const auto watcher = Background("watch", {"--json", "tree", "watch", "--count", "1"});
  ASSERT_EQ(Z({"tree", "add", "east"}).status, 0);
  EXPECT_EQ(watcher->Wait(20s), 0);
  const std::string said = Read("watch");
  // Exactly the one event asked for, though the add makes two.
  ASSERT_EQ(said.find('\n'), said.size() - 1) << said;
  const json event = json::parse(said, nullptr, false);
  ASSERT_TRUE(event.is_object()) << said;
  EXPECT_EQ(event["event"], 81) << said;
  EXPECT_EQ(event["parsed"], true);
  EXPECT_EQ(event["fields"]["sections[0].items[0].name"], "\"east\"");
}

}  // namespace
