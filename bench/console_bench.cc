// zeladmin from its start to its first answer: the process started, connected to a farm
// server (in this process, on a Unix socket) and its `admins list` answered and printed, beside
// starting and reaping a process that does nothing, in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "zel/farm/testing/test_farm_server.h"

namespace {

// Runs `args` to its end with its output thrown away; its exit status (-1 when it did not run).
int RunQuietly(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BM_ZeladminFirstAnswer(benchmark::State& state) {
  zel::farm::testing::TestFarmServer farm;
  if (farm.Start() != 0) {
    state.SkipWithError(farm.Error().c_str());
    return;
  }
  ::setenv("ZEL_FARM", farm.Address().c_str(), 1);
  for (auto _ : state) {
    if (RunQuietly({ZELADMIN_PATH, "admins", "list"}) != 0) {
      state.SkipWithError("zeladmin admins list failed");
      break;
    }
  }
  farm.Stop();
}
BENCHMARK(BM_ZeladminFirstAnswer)->UseRealTime()->Unit(benchmark::kMillisecond);

// The baseline: what starting any process costs here.
void BM_ProcessStart_TrueBaseline(benchmark::State& state) {
  for (auto _ : state) {
    if (RunQuietly({"/bin/true"}) != 0) {
      state.SkipWithError("/bin/true failed");
      break;
    }
  }
}
BENCHMARK(BM_ProcessStart_TrueBaseline)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
