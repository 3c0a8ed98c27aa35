// What the zeladmin tests share: zeladmin run as a process, and the farm server (zelfarmd) as a
// process of its own on a SQLite store in the test's folder.
#pragma once

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
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace zeladmin::testing {

using nlohmann::json;
namespace fs = std::filesystem;

inline std::string Login() { return getpwuid(geteuid())->pw_name; }

struct Outcome {
  int status = -1;
  std::string out, err;
};

inline std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  return text;
}

// Runs zeladmin with these arguments against `farm`.
inline Outcome Zeladmin(const std::string& farm, const std::vector<std::string>& args) {
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

// The farm server, a process of its own on a SQLite store in the test's folder, stopped with
// SIGTERM (it finishes the requests in flight).
class FarmProcess {
 public:
  // `extra`: more options of zelfarmd (another listener, its certificates, ...).
  FarmProcess(const std::string& dir, const std::string& owner,
              const std::vector<std::string>& extra = {}) {
    const std::string store = "sqlite:" + dir + "/farm.db";
    const std::string listen = "unix:" + dir + "/farm.sock";
    const std::string log = dir + "/zelfarmd.log";
    const std::string keys = dir + "/keys";
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
      std::vector<std::string> args{ZELFARMD_PATH, "--store", store, "--listen",
                                    listen,        "--owner", owner, "--pwhash-limits",
                                    "min",         "--keys",  keys};
      args.insert(args.end(), extra.begin(), extra.end());
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(ZELFARMD_PATH, argv.data());
      _exit(127);
    }
    // Ready when the socket answers.
    for (int i = 0; i < 200; ++i) {
      const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un name{};
      name.sun_family = AF_UNIX;
      std::snprintf(name.sun_path, sizeof name.sun_path, "%s/farm.sock", dir.c_str());
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
    server_ = std::make_unique<FarmProcess>(dir_, owner, extra);
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

}  // namespace zeladmin::testing
