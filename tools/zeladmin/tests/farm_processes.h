// The processes of zeladmin's end-to-end tests: the farm server (zelfarmd) on a store in a
// temporary folder or on a private slapd, and zeladmin run once per command.
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
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "zel/directory/testing/slapd.h"

namespace zeladmin_testing {

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

// In a child process: becomes zeladmin with `args`, reaching `farm` through $ZEL_FARM.
[[noreturn]] inline void ExecZeladmin(const std::string& farm,
                                      const std::vector<std::string>& args) {
  setenv("ZEL_FARM", farm.c_str(), 1);
  std::vector<char*> argv{const_cast<char*>(ZELADMIN_PATH)};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(ZELADMIN_PATH, argv.data());
  _exit(127);
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
    ExecZeladmin(farm, args);
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
inline json J(const std::string& farm, std::vector<std::string> args) {
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
  // `extra`: more options of zelfarmd (another listener, its certificates, ...).
  FarmProcess(const std::string& dir, const std::string& owner, const std::string& store,
              const std::string& socketName = "farm.sock", int serverID = 0,
              const std::vector<std::string>& extra = {}) {
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
      std::vector<std::string> args{
          ZELFARMD_PATH,     "--store", store,    "--listen", listen,        "--owner", owner,
          "--pwhash-limits", "min",     "--keys", keys,       "--server-id", id};
      args.insert(args.end(), extra.begin(), extra.end());
      std::vector<char*> argv;
      for (auto& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(ZELFARMD_PATH, argv.data());
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
inline zel::dir::testing::Slapd& Server() {
  static zel::dir::testing::Slapd server(ZEL_LDAP_SCHEMA);
  return server;
}

inline std::string FreshLdapStore() {
  static int made = 0;
  return Server().Location(Server().NewBase("zeladmin" + std::to_string(++made)));
}

}  // namespace zeladmin_testing
