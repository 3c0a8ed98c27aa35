// zeladmin end to end, the farm's data beyond the administrators' records: folders, an
// administrator's folders and contact data, the default user, plug-in records, and export with
// the password hashes then import onto another farm.
#include <fcntl.h>
#include <unistd.h>

#include "zeladmin_fixture.h"

namespace {

using namespace zeladmin_testing;

// The (dn, tasks) pairs of an `admins folders` reply.
json FolderPairs(const json& reply) {
  json pairs = json::array();
  for (const json& f : reply["folders"]) pairs.push_back({f["dn"], f["tasks"]});
  return pairs;
}

// Runs zeladmin with its stderr on a terminal (a pseudo-terminal this test reads): what it wrote
// there.
std::string StderrOnATerminal(const std::string& farm, const std::vector<std::string>& args) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return "no terminal";
  Process zeladmin(ZeladminArgv(farm, args), "/dev/null", ptsname(master));
  std::string text;
  char buffer[4096];
  ssize_t n;
  // Read until the child is gone and the terminal says so (EIO once no one holds its end).
  while ((n = read(master, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(master);
  return text;
}

TEST_F(ZeladminFarmTest, ProgressOnATerminalOnlyAndASummary) {
  StartFarm(Login());
  Init();
  const std::string onTerminal = StderrOnATerminal(farm_, {"import", DEMO_FARM_PATH});
  EXPECT_NE(onTerminal.find("\rimport [##############################] 50/50"), std::string::npos)
      << onTerminal;
  ASSERT_EQ(Z({"tree", "rm", "north/rack1"}).status, 0);
  const Outcome onPipe = Z({"export", dir_ + "/farm.json"});
  EXPECT_EQ(onPipe.status, 0);
  EXPECT_EQ(onPipe.err,
            "exported 5 administrators, 4 icons, 30 nodes, 2 plug-ins to " + dir_ + "/farm.json\n");
}

TEST_F(ZeladminFarmTest, FoldersPluginsAndAdministratorData) {
  StartFarm(Login());
  Init();
  ASSERT_EQ(Z({"tree", "add", "north"}).status, 0);
  // Each row: a command, and what its JSON must hold (fields compared one by one).
  struct Case {
    std::vector<std::string> args;
    json expected;
  } cases[] = {
      {{"folders", "create", "north/rack1"}, {{"dn", "north/rack1"}}},
      {{"folders", "create", "north/rack2"}, {{"dn", "north/rack2"}}},
      {{"folders", "rename", "north/rack2", "rackB"},
       {{"from", "north/rack2"}, {"to", "north/rackB"}}},
      {{"folders", "create", "south"}, {{"dn", "south"}}},
      {{"folders", "move", "north/rack1", "north/rackB", "--to", "south"},
       {{"moved",
         {{{"from", "north/rack1"}, {"to", "south/rack1"}},
          {{"from", "north/rackB"}, {"to", "south/rackB"}}}}}},
      {{"folders", "rm", "south/rackB"}, {{"removed", "south/rackB"}}},
      {{"admins", "contact", "set", "first", "Alice Example", "+1 555 0100"},
       {{"contact", {"Alice Example", "+1 555 0100", ""}}}},
      {{"admins", "contact", "get", "unix:first"},
       {{"contact", {"Alice Example", "+1 555 0100", ""}}}},
      {{"admins", "default-user", "set", "guest"}, {{"defaultUser", "unix:guest"}}},
      {{"plugins", "add", "Disks"}, {{"name", "Disks"}}},
      {{"plugins", "add", "Alerts"}, {{"name", "Alerts"}}},
      {{"plugins", "ls"}, {{"plugins", {"Alerts", "Disks"}}}},
      {{"plugins", "show", "Disks"}, {{"name", "Disks"}}},
  };
  for (const Case& c : cases) {
    const json got = J(c.args);
    for (auto& [key, value] : c.expected.items()) {
      EXPECT_EQ(got.is_object() ? got.value(key, json()) : json(), value)
          << c.args[0] << " " << c.args[1] << ": " << got.dump();
    }
  }
  EXPECT_EQ(Z({"tree", "ls"}).out, "/\n├── north\n└── south\n    └── rack1\n");
  EXPECT_EQ(
      FolderPairs(J({"admins", "folders", "set", "first", "south=1,2", "/", "south/rack1=7"})),
      json::array({json::array({"south", {1, 2}}), json::array({"", json::array()}),
                   json::array({"south/rack1", {7}})}));
  EXPECT_EQ(FolderPairs(J({"admins", "folders", "get", "first"}))[2],
            json::array({"south/rack1", {7}}));
  EXPECT_EQ(J({"admins", "list"})["administrators"][0]["folders"], 3);
  // Tables for people.
  EXPECT_EQ(Z({"plugins", "ls"}).out, "NAME\nAlerts\nDisks\n");
  const std::string folders = Z({"admins", "folders", "get", "first"}).out;
  EXPECT_NE(folders.find("  south/rack1  7\n"), std::string::npos) << folders;
  EXPECT_NE(Z({"admins", "contact", "get", "first"}).out.find("contact2  +1 555 0100\n"),
            std::string::npos);

  struct Failing {
    std::vector<std::string> args;
    int status;
    std::string errorStart;
  } failing[] = {
      {{"folders", "rm", "south"},
       1,
       "zeladmin: 0x80070103 kFolderNotEmpty: removing folder south"},
      {{"folders", "move", "south", "--to", "south/rack1"},
       1,
       "zeladmin: 0x80070105 kInvalidMove: moving 1 member(s) of \"\" to \"south/rack1\""},
      {{"folders", "create", "south/rack1"}, 1, "zeladmin: 0x80070102 kNameTaken: creating folder"},
      {{"folders", "create", "/"}, 2, "zeladmin: a folder needs a DN below the root"},
      {{"admins", "folders", "set", "first", "south=x"}, 2, "zeladmin: not a task number: \"x\""},
      {{"admins", "contact", "set", "first", "a", "b", "c", "d"}, 2, "zeladmin: an administrator"},
      {{"plugins", "show", "Nothing"},
       1,
       "zeladmin: 0x8006000D ZEL_E_DIR_NOT_FOUND: reading plug-in"},
  };
  for (const Failing& f : failing) {
    const Outcome run = Z(f.args);
    EXPECT_EQ(run.status, f.status) << f.args[0] << " " << f.args[1] << ": " << run.err;
    EXPECT_EQ(run.err.rfind(f.errorStart, 0), 0u) << run.err;
  }
  // A usage error changed nothing.
  EXPECT_EQ(FolderPairs(J({"admins", "folders", "get", "first"})).size(), 3u);
}

TEST_F(ZeladminFarmTest, ExportWithSecretsThenImportRestoresTheFarm) {
  StartFarm(Login());
  Init();
  for (const std::vector<std::string>& step : std::vector<std::vector<std::string>>{
           {"admins", "add", "bob", "--password-file", dir_ + "/pw2"},
           {"admins", "privileges", "set", "bob", "read-farm"},
           {"folders", "create", "north"},
           {"admins", "folders", "set", "bob", "north=4"},
           {"admins", "contact", "set", "bob", "Bob"},
           {"admins", "add", Login()},
           {"admins", "privileges", "set", Login(), "read-farm"}}) {
    ASSERT_EQ(Z(step).status, 0) << step[0] << " " << step[1];
  }
  const std::string secrets = dir_ + "/secrets.json";
  ASSERT_EQ(Z({"export", secrets, "--include-secrets"}).status, 0);
  EXPECT_EQ(fs::status(secrets).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  const json doc = json::parse(ReadFile(secrets), nullptr, false);
  ASSERT_EQ(doc["administrators"].size(), 3u) << doc.dump();
  EXPECT_EQ(doc["administrators"][1]["folders"], json({{{"folder", "north"}, {"tasks", {4}}}}));
  EXPECT_EQ(doc["administrators"][1]["passwordHash"].get<std::string>().rfind("$argon2id$", 0), 0u);
  EXPECT_FALSE(doc["administrators"][2].contains("passwordHash"));  // set none
  EXPECT_EQ(Z({"export"}).out.find("passwordHash"), std::string::npos);
  EXPECT_EQ(Z({"export", "--include-secrets"}).status, 2);

  // Only the owner has the hashes, out or in; a refused import changes nothing.
  StartFarm("someone-else");
  const Outcome refused = Z({"export", dir_ + "/x.json", "--include-secrets"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err.rfind("zeladmin: 0x80070003 kAccessDenied: reading the password hashes", 0),
            0u)
      << refused.err;
  EXPECT_FALSE(fs::exists(dir_ + "/x.json"));

  // A new farm: the import restores bob's password (he logs on with it), folders and contact.
  store_ = "sqlite:" + dir_ + "/new.db";
  StartFarm(Login());
  Init();
  EXPECT_EQ(J({"import", secrets})["changed"]["administrators"], 3);  // first: another hash
  EXPECT_EQ(J({"import", secrets})["changed"],
            json({{"administrators", 0}, {"icons", 0}, {"tree", 0}, {"plugins", 0}}));
  EXPECT_EQ(J({"logon", "bob", "--password-file", dir_ + "/pw2"})["values"], json({"read-farm"}));
  EXPECT_EQ(Z({"logon", "first", "--password-file", dir_ + "/pw"}).status, 0);
  ASSERT_EQ(Z({"export", dir_ + "/again.json", "--include-secrets"}).status, 0);
  EXPECT_EQ(json::parse(Read("again.json"), nullptr, false), doc);
}

}  // namespace
