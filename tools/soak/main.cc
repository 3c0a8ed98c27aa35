// zelsoak: zelfarmd on SQLite under a mixed load of several consoles for a given time, with
// faults injected in turn (kill -9 and restart of the server, every connection dropped, a full
// disk), and after each fault a check that nothing answered as written was lost.
//
//   zelsoak --zelfarmd PATH --zeladmin PATH [--seconds N] [--consoles N] [--fault-every N]
//           [--folder DIR]
//
// It prints requests done, errors by code (during faults and outside them), latency
// percentiles, the server's resident memory over time and every difference found; the exit
// status is 0 when nothing was lost, no request failed outside a fault and the server never
// ended by itself.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "console.h"
#include "histogram.h"
#include "server.h"
#include "zel/admintool/result_codes.h"
#include "zel/directory/codes.h"
#include "zel/runtime/codes.h"

namespace zel::soak {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Options {
  std::string zelfarmd, zeladmin, folder;
  int seconds = 120, consoles = 8, faultEvery = 20;
};

bool Parse(int argc, char** argv, Options* options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i], value = argv[i + 1];
    if (key == "--zelfarmd") {
      options->zelfarmd = value;
    } else if (key == "--zeladmin") {
      options->zeladmin = value;
    } else if (key == "--folder") {
      options->folder = value;
    } else if (key == "--seconds") {
      options->seconds = std::atoi(value.c_str());
    } else if (key == "--consoles") {
      options->consoles = std::atoi(value.c_str());
    } else if (key == "--fault-every") {
      options->faultEvery = std::atoi(value.c_str());
    } else {
      return false;
    }
  }
  return argc % 2 == 1 && !options->zelfarmd.empty() && !options->zeladmin.empty() &&
         options->seconds > 0 && options->consoles > 0 && options->faultEvery > 0;
}

// Runs a program to its end with one more environment variable; its exit status.
int RunProgram(std::vector<std::string> args, const std::string& env, const std::string& log) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (std::freopen(log.c_str(), "a", stdout) == nullptr) ::_exit(126);
    ::dup2(STDOUT_FILENO, STDERR_FILENO);
    if (!env.empty()) ::putenv(const_cast<char*>(env.c_str()));
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The codes the soak meets, by name; "" for others.
std::string CodeName(const std::string& hex) {
  struct Named {
    int32_t code;
    const char* name;
  };
  static constexpr Named kNames[] = {
      {zel::rt::kServerGone, "server gone"},  {zel::rt::kConnectionBroken, "connection broken"},
      {zel::rt::kTimeout, "timeout"},         {zel::rt::kRefused, "refused"},
      {zel::dir::kStoreError, "store error"}, {zel::dir::kNoStore, "no store"},
      {ZEL_E_FAIL, "the library's failure"},
  };
  const auto code = static_cast<int32_t>(std::stoul(hex, nullptr, 16));
  for (const Named& n : kNames) {
    if (n.code == code) return n.name;
  }
  return "";
}

// The console processes and what they report.
class Consoles {
 public:
  bool Start(int count, const ConsoleSettings& base) {
    for (int i = 0; i < count; ++i) {
      int commands[2], replies[2];
      if (::pipe(commands) != 0 || ::pipe(replies) != 0) return false;
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::close(commands[1]);
        ::close(replies[0]);
        for (const Child& other : children_) {
          ::close(other.commands);
          std::fclose(other.replies);
        }
        ConsoleSettings settings = base;
        settings.index = i;
        settings.watch = i == 0;
        settings.seed = base.seed + static_cast<uint64_t>(i);
        ::_exit(RunConsole(settings, commands[0], replies[1]));
      }
      ::close(commands[0]);
      ::close(replies[1]);
      children_.push_back({pid, commands[1], ::fdopen(replies[0], "r")});
    }
    return true;
  }

  void Tell(char command) {
    for (const Child& child : children_) {
      if (::write(child.commands, &command, 1) != 1) differences_.push_back("a console is gone");
    }
  }

  // Tells every console that a fault begins and waits until each has taken note.
  void BeginFault() {
    Tell('F');
    for (const Child& child : children_) {
      std::string line;
      while (ReadLine(child, &line) && line != "fault") {
      }
    }
  }

  // Each console checks its folder; the differences join the run's.
  void Check() {
    Tell('V');
    checked_ = 0;
    for (const Child& child : children_) {
      std::string line;
      while (ReadLine(child, &line) && line.rfind("check ", 0) != 0) {
      }
      std::istringstream in(line.substr(line.empty() ? 0 : 6));
      std::size_t count = 0, checked = 0;
      if (!(in >> count >> checked)) {
        differences_.push_back("a console did not answer its check");
        continue;
      }
      checked_ += checked;
      for (std::size_t i = 0; i < count && ReadLine(child, &line); ++i) {
        differences_.push_back(line.substr(5));
      }
    }
    ++checks_;
  }

  // Stops every console and adds up their reports.
  void Stop() {
    Tell('S');
    for (const Child& child : children_) {
      std::string line;
      while (ReadLine(child, &line) && line != "done") Take(line);
      int status = 0;
      ::waitpid(child.pid, &status, 0);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        differences_.push_back("a console ended with status " + std::to_string(status));
      }
      std::fclose(child.replies);
      ::close(child.commands);
    }
    children_.clear();
  }

  const Histogram& Latencies(int kind) const { return latencies_[kind]; }
  const std::map<std::string, uint64_t>& Errors(bool duringFault) const {
    return errors_[duringFault ? 1 : 0];
  }
  const std::vector<std::string>& Differences() const { return differences_; }
  void AddDifference(const std::string& text) { differences_.push_back(text); }
  uint64_t Notifications() const { return notifications_; }
  std::size_t Checks() const { return checks_; }
  std::size_t LastChecked() const { return checked_; }

 private:
  struct Child {
    pid_t pid;
    int commands;
    FILE* replies;
  };

  static bool ReadLine(const Child& child, std::string* line) {
    char buffer[4096];
    if (std::fgets(buffer, sizeof buffer, child.replies) == nullptr) return false;
    *line = buffer;
    if (!line->empty() && line->back() == '\n') line->pop_back();
    return true;
  }

  void Take(const std::string& line) {
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "kind") {
      std::string name;
      uint64_t count = 0;
      in >> name >> count;
      std::string rest;
      std::getline(in, rest);
      for (int k = 0; k < kKinds; ++k) {
        Histogram h;
        if (name == kKindNames[k] && Histogram::Decode(rest, &h)) latencies_[k].Merge(h);
      }
    } else if (word == "error") {
      std::string kind, code;
      int duringFault = 0;
      uint64_t count = 0;
      in >> kind >> code >> duringFault >> count;
      errors_[duringFault != 0 ? 1 : 0][code + " " + CodeName(code) + " (" + kind + ")"] += count;
    } else if (word == "notifications") {
      uint64_t count = 0;
      in >> count;
      notifications_ += count;
    } else if (word == "unexpected") {
      differences_.push_back("console failed outside a fault: " + line.substr(11));
    } else if (word == "diff") {
      differences_.push_back(line.substr(5));
    }
  }

  std::vector<Child> children_;
  Histogram latencies_[kKinds];
  std::map<std::string, uint64_t> errors_[2];
  std::vector<std::string> differences_;
  uint64_t notifications_ = 0;
  std::size_t checks_ = 0, checked_ = 0;
};

const char* const kFaultNames[] = {"kill -9 and restart", "connections dropped", "disk full"};

int Soak(const Options& options) {
  std::string folder = options.folder;
  if (folder.empty()) {
    char pattern[] = "/tmp/zelsoak.XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 2;
    folder = pattern;
  }
  std::filesystem::create_directories(folder);
  const std::string socket = folder + "/farm.sock", store = folder + "/farm.db",
                    log = folder + "/zelfarmd.log", password = folder + "/password";
  if (RunProgram({options.zelfarmd, "--init-keys", folder + "/keys"}, "", log) != 0) {
    std::cerr << "zelsoak: zelfarmd --init-keys failed; see " << log << '\n';
    return 2;
  }
  const char* login = std::getenv("USER");
  std::string owner = login != nullptr ? login : "root";
  Server server(options.zelfarmd,
                {"--store", "sqlite:" + store, "--listen", "unix:" + socket, "--keys",
                 folder + "/keys", "--owner", owner, "--pwhash-limits", "min"},
                log, socket);
  if (!server.Start()) {
    std::cerr << "zelsoak: zelfarmd did not start; see " << log << '\n';
    return 2;
  }
  std::ofstream(password) << "soak password\n";
  const std::string farmEnv = "ZEL_FARM=unix:" + socket;
  if (RunProgram({options.zeladmin, "init", "--admin", "soak", "--password-file", password},
                 farmEnv, log) != 0) {
    std::cerr << "zelsoak: zeladmin init failed; see " << log << '\n';
    return 2;
  }

  Consoles consoles;
  ConsoleSettings base;
  base.address = "unix:" + socket;
  base.logonName = "unix:soak";
  base.password = "soak password";
  base.seed = static_cast<uint64_t>(::getpid());
  if (!consoles.Start(options.consoles, base)) return 2;

  std::cout << "zelsoak: " << options.seconds << " s, " << options.consoles
            << " consoles, a fault every " << options.faultEvery
            << " s, zelfarmd on sqlite:" << store << std::endl;
  const auto started = Clock::now();
  const auto end = started + std::chrono::seconds(options.seconds);
  auto nextFault = started + std::chrono::seconds(options.faultEvery);
  auto nextSample = started;
  std::vector<std::pair<int, uint64_t>> resident;  // (second, KiB)
  int faultsDone[3] = {0, 0, 0};
  int fault = 0, deaths = 0;
  auto restart = [&](const std::string& why) {
    if (!server.Start()) {
      consoles.AddDifference("zelfarmd did not start again after " + why);
      return false;
    }
    return true;
  };
  bool running = true;
  while (running && Clock::now() < end) {
    std::this_thread::sleep_for(200ms);
    const auto now = Clock::now();
    const int second =
        static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(now - started).count());
    int status = 0;
    if (server.EndedByItself(&status)) {
      ++deaths;
      consoles.AddDifference("zelfarmd ended by itself at " + std::to_string(second) +
                             " s (wait status " + std::to_string(status) + ")");
      running = restart("its own end");
    }
    if (now >= nextSample) {
      resident.emplace_back(second, server.ResidentKiB());
      nextSample += 5s;
    }
    if (!running || now < nextFault) continue;
    consoles.BeginFault();
    switch (fault) {
      case 0:
        server.Kill();
        std::this_thread::sleep_for(1s);
        running = restart("kill -9");
        break;
      case 1:
        consoles.Tell('D');
        std::this_thread::sleep_for(500ms);
        break;
      case 2: {
        // No write of the server may reach past its files' first byte: a full disk with no
        // slack in any file (harsher than most, where rewriting allocated blocks goes on).
        server.LimitFileSize(1);
        std::this_thread::sleep_for(3s);
        server.LimitFileSize(0);
        break;
      }
    }
    if (running) consoles.Check();
    consoles.Tell('C');
    ++faultsDone[fault];
    fault = (fault + 1) % 3;
    nextFault = Clock::now() + std::chrono::seconds(options.faultEvery);
  }
  consoles.Check();
  const std::size_t lastChecked = consoles.LastChecked();
  consoles.Stop();
  ::kill(server.Pid(), SIGTERM);
  for (int i = 0; i < 100 && server.Pid() > 0; ++i) {
    int status = 0;
    if (server.EndedByItself(&status)) {
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        consoles.AddDifference("zelfarmd stopped with wait status " + std::to_string(status));
      }
      break;
    }
    std::this_thread::sleep_for(100ms);
  }

  // The report.
  const double seconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count() /
      1000.0;
  Histogram all;
  uint64_t requests = 0;
  std::printf("requests (count, p50 ms, p99 ms):\n");
  for (int k = 0; k < kKinds; ++k) {
    const Histogram& h = consoles.Latencies(k);
    all.Merge(h);
    requests += h.Count();
    std::printf("  %-8s %9llu %8.2f %8.2f\n", kKindNames[k],
                static_cast<unsigned long long>(h.Count()), h.Quantile(0.5) / 1000.0,
                h.Quantile(0.99) / 1000.0);
  }
  std::printf("  %-8s %9llu %8.2f %8.2f   (%.0f requests a second over %.0f s)\n", "all",
              static_cast<unsigned long long>(requests), all.Quantile(0.5) / 1000.0,
              all.Quantile(0.99) / 1000.0, static_cast<double>(requests) / seconds, seconds);
  for (const bool duringFault : {true, false}) {
    std::printf("errors %s faults:%s\n", duringFault ? "during" : "outside",
                consoles.Errors(duringFault).empty() ? " none" : "");
    for (const auto& [what, count] : consoles.Errors(duringFault)) {
      std::printf("  %s: %llu\n", what.c_str(), static_cast<unsigned long long>(count));
    }
  }
  std::printf("faults: %d %s, %d %s, %d %s; %zu checks of %zu nodes in all\n", faultsDone[0],
              kFaultNames[0], faultsDone[1], kFaultNames[1], faultsDone[2], kFaultNames[2],
              consoles.Checks(), lastChecked);
  std::printf("notifications received by the watching console: %llu\n",
              static_cast<unsigned long long>(consoles.Notifications()));
  std::printf("zelfarmd resident memory (s: MiB):");
  const std::size_t step = std::max<std::size_t>(1, resident.size() / 30);
  for (std::size_t i = 0; i < resident.size(); i += step) {
    std::printf(" %d: %.1f", resident[i].first, resident[i].second / 1024.0);
  }
  std::printf("\nzelfarmd ended by itself: %d times\n", deaths);
  const bool clean = consoles.Differences().empty() && consoles.Errors(false).empty();
  for (const std::string& d : consoles.Differences()) std::printf("DIFFERENCE: %s\n", d.c_str());
  std::printf("zelsoak: %s\n", clean ? "passed" : "FAILED");
  if (options.folder.empty() && clean) std::filesystem::remove_all(folder);
  if (!clean) std::printf("zelsoak: the store and the server's log are in %s\n", folder.c_str());
  return clean ? 0 : 1;
}

}  // namespace
}  // namespace zel::soak

int main(int argc, char** argv) {
  zel::soak::Options options;
  if (!zel::soak::Parse(argc, argv, &options)) {
    std::cerr << "usage: zelsoak --zelfarmd PATH --zeladmin PATH [--seconds N] [--consoles N] "
                 "[--fault-every N] [--folder DIR]\n";
    return 2;
  }
  ::signal(SIGPIPE, SIG_IGN);
  return zel::soak::Soak(options);
}
