// zeladmin's end-to-end tests: the farm server (zelfarmd) as a process on a store in the test's
// folder or on a private slapd, zeladmin run as a process for each command.
#pragma once

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "server_process.h"
#include "zel/directory/testing/slapd.h"

namespace zeladmin_testing {

using namespace zel::farm::testing;
using nlohmann::json;
namespace fs = std::filesystem;

inline std::string Login() { return getpwuid(geteuid())->pw_name; }

// zeladmin with `args`, reaching `farm` through $ZEL_FARM.
inline std::vector<std::string> ZeladminArgv(const std::string& farm,
                                             const std::vector<std::string>& args) {
  std::vector<std::string> argv{"/usr/bin/env", "ZEL_FARM=" + farm, ZELADMIN_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}
inline Outcome Zeladmin(const std::string& farm, const std::vector<std::string>& args) {
  return RunToEnd(ZeladminArgv(farm, args));
}
// zeladmin's JSON answer to a command that succeeds.
inline json J(const std::string& farm, std::vector<std::string> args) {
  args.insert(args.begin(), "--json");
  const Outcome run = Zeladmin(farm, args);
  EXPECT_EQ(run.status, 0) << run.err;
  return json::parse(run.out, nullptr, false);
}

// The farm server on `store` (a SQLite file or a directory server), serving unix:DIR/SOCKET with
// the keys in DIR/keys, stopped with SIGTERM (it finishes the requests in flight).
class FarmProcess {
 public:
  // `extra`: more options of zelfarmd (another listener, its certificates, ...).
  FarmProcess(const std::string& dir, const std::string& owner, const std::string& store,
              const std::string& socketName = "farm.sock", int serverID = 0,
              const std::vector<std::string>& extra = {}) {
    const std::string keys = dir + "/keys", socket = dir + "/" + socketName;
    EXPECT_TRUE(fs::exists(keys) || RunToEnd({ZELFARMD_PATH, "--init-keys", keys}).status == 0);
    std::vector<std::string> args{
        "--store", store, "--listen",    "unix:" + socket,         "--owner",         owner,
        "--keys",  keys,  "--server-id", std::to_string(serverID), "--pwhash-limits", "min"};
    args.insert(args.end(), extra.begin(), extra.end());
    server_ = StartServer(dir, args, socket);
  }
  ~FarmProcess() {
    if (server_ != nullptr) server_->Signal(SIGTERM);
    if (server_ != nullptr) server_->Wait();
  }

 private:
  std::unique_ptr<Process> server_;
};

// One private slapd for the program's directory-server stores; each store is a fresh base.
inline zel::dir::testing::Slapd& Server() {
  static zel::dir::testing::Slapd server(ZEL_LDAP_SCHEMA);
  return server;
}
inline std::string FreshLdapStore() {
  static int made = 0;
  return Server().Location(Server().NewBase("zeladmin" + std::to_string(++made)));
}

// A farm server on a SQLite store in the test's folder, with two password files ready.
class ZeladminFarmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(dir_ + "/pw") << "first secret\n";
    std::ofstream(dir_ + "/pw2") << "second secret\n";
  }
  void StartFarm(const std::string& owner, const std::vector<std::string>& extra = {}) {
    server_.reset();
    server_ = std::make_unique<FarmProcess>(dir_, owner, store_, "farm.sock", 0, extra);
  }
  // The first administrator, "first", with every privilege.
  void Init() {
    const Outcome run = Z({"init", "--admin", "first", "--password-file", dir_ + "/pw"});
    ASSERT_EQ(run.status, 0) << run.err;
  }
  Outcome Z(const std::vector<std::string>& args) { return Zeladmin(farm_, args); }
  json J(std::vector<std::string> args) { return zeladmin_testing::J(farm_, std::move(args)); }
  // zeladmin with `args` in the background, its output and errors into dir/NAME and
  // dir/NAME.err; once it says `ready` on its errors when that is given.
  std::unique_ptr<Process> Background(const std::string& name, const std::vector<std::string>& args,
                                      const std::string& ready = "watching") {
    auto program = std::make_unique<Process>(ZeladminArgv(farm_, args), dir_ + "/" + name,
                                             dir_ + "/" + name + ".err");
    EXPECT_TRUE(Eventually([&] { return Said(name + ".err", ready); })) << Read(name + ".err");
    return program;
  }
  std::string Read(const std::string& name) const { return ReadFile(dir_ + "/" + name); }
  bool Said(const std::string& name, const std::string& text) const {
    return Read(name).find(text) != std::string::npos;
  }

  TempFolder folder_;
  const std::string dir_ = folder_.Path(), farm_ = "unix:" + dir_ + "/farm.sock";
  std::string store_ = "sqlite:" + dir_ + "/farm.db";
  std::unique_ptr<FarmProcess> server_;
};

}  // namespace zeladmin_testing
