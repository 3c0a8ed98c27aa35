// The fixture of zeladmin's tests against one farm server on a SQLite store in the test's
// folder, with two password files ready.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "farm_processes.h"

namespace zeladmin_testing {

class ZeladminFarmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zeladmin-test-XXXXXX";
    dir_ = mkdtemp(pattern);
    farm_ = "unix:" + dir_ + "/farm.sock";
    std::ofstream(dir_ + "/pw") << "first secret\n";
    std::ofstream(dir_ + "/pw2") << "second secret\n";
  }
  void TearDown() override { fs::remove_all(dir_); }

  void StartFarm(const std::string& owner, const std::vector<std::string>& extra = {}) {
    server_.reset();
    server_ = std::make_unique<FarmProcess>(dir_, owner, "sqlite:" + dir_ + "/farm.db", "farm.sock",
                                            0, extra);
  }
  // The first administrator, "first", with every privilege.
  void Init() {
    const Outcome run = Z({"init", "--admin", "first", "--password-file", dir_ + "/pw"});
    ASSERT_EQ(run.status, 0) << run.err;
  }
  Outcome Z(std::vector<std::string> args) { return Zeladmin(farm_, args); }
  json J(std::vector<std::string> args) {
    args.insert(args.begin(), "--json");
    const Outcome run = Z(args);
    EXPECT_EQ(run.status, 0) << run.err;
    return json::parse(run.out, nullptr, false);
  }

  std::string dir_, farm_;
  std::unique_ptr<FarmProcess> server_;
};

}  // namespace zeladmin_testing
