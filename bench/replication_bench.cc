// Replication delay: two farm servers (the host zelfarmd is made of), each on its own provider
// of one replicated directory (two private slapd copying each other's writes), sharing the
// farm's keys. A folder is made through a console of server A; the time runs until a console
// of server B subscribed to tree notifications hears it. The baseline, in the same run: the
// same folder heard by a console of A itself.
#include <benchmark/benchmark.h>
#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "farm_folders.h"
#include "zel/directory/testing/slapd.h"
#include "zel/farm/farm_host.h"
#include "zel/farm/testing/test_farm_server.h"
#include "zel/protocol/events.h"
#include "zel/protocol/folders.h"
#include "zel/transport/client.h"

namespace {

using zel::dir::testing::Replica;
using zel::dir::testing::Slapd;
using zel::farm::testing::CheapOptions;

// The two providers and a farm server on each; this process's user owns the farm.
struct Pair {
  int portA = Slapd::FreePort(), portB = Slapd::FreePort();
  Slapd ldapA{ZEL_LDAP_SCHEMA, Replica{1, portA, portB}};
  Slapd ldapB{ZEL_LDAP_SCHEMA, Replica{2, portB, portA}};
  std::unique_ptr<zel::farm::FarmHost> farmA, farmB;
  std::string error;

  Pair() {
    const std::string base = ldapA.NewBase("farm");
    // A farm server checks the base at start: B's copy first.
    const std::string probe = "LDAPNOINIT=1 ldapsearch -x -H " + ldapB.LdapUri() + " -b " + base +
                              " -s base >/dev/null 2>&1";
    for (int i = 0; i < 200 && std::system(probe.c_str()) != 0; ++i) usleep(50 * 1000);
    farmA = Start(ldapA, base, 1);
    farmB = Start(ldapB, base, 2);
  }
  std::unique_ptr<zel::farm::FarmHost> Start(Slapd& ldap, const std::string& base, uint16_t id) {
    auto farm = std::make_unique<zel::farm::FarmHost>(
        ldap.Location(base) + ",x-server-id=" + std::to_string(id), CheapOptions(id), nullptr);
    zel::transport::ServerOptions options;
    options.listen = {Address(ldap)};
    options.owner = getpwuid(geteuid())->pw_name;
    if (farm->Start(options, &error) != 0) return nullptr;
    return farm;
  }
  static std::string Address(const Slapd& ldap) { return "unix:" + ldap.Folder() + "/farm.sock"; }
  zel::transport::ClientOptions Console(const Slapd& ldap) const {
    zel::transport::ClientOptions options;
    options.address = Address(ldap);
    options.offerDispatcher = false;
    return options;
  }
};

// Folders made through A until a console of `hearer`'s server has each one's node notification.
void Delay(benchmark::State& state, bool onB) {
  static Pair pair;
  if (!pair.farmA || !pair.farmB) return state.SkipWithError(pair.error.c_str());
  std::mutex mu;
  std::condition_variable arrived;
  int heard = 0;
  zel::transport::Client watcher(pair.Console(onB ? pair.ldapB : pair.ldapA));
  uint32_t subscription = 0;
  if (watcher.Subscribe(
          {81}, false,
          [&](uint32_t, std::unique_ptr<ZEL_BUF_EventBuffer>) {
            std::lock_guard lock(mu);
            ++heard;
            arrived.notify_all();
          },
          &subscription) != 0) {
    return state.SkipWithError("the console could not subscribe");
  }
  zel::transport::Client maker(pair.Console(pair.ldapA));
  for (auto _ : state) {
    int expected = 0;
    {
      std::lock_guard lock(mu);
      expected = heard + 1;
    }
    if (!zel::bench::MakeFolder(maker, "Replicated")) return state.SkipWithError("no folder");
    std::unique_lock lock(mu);
    if (!arrived.wait_for(lock, std::chrono::seconds(10), [&] { return heard >= expected; })) {
      return state.SkipWithError("the notification did not come");
    }
  }
}
void BM_ReplicationDelay_AToConsoleOfB(benchmark::State& state) { Delay(state, true); }
void BM_ReplicationDelay_AToConsoleOfA_Baseline(benchmark::State& state) { Delay(state, false); }
// A round takes up to one poll of B's change log (200 ms): a fixed number of rounds.
BENCHMARK(BM_ReplicationDelay_AToConsoleOfB)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK(BM_ReplicationDelay_AToConsoleOfA_Baseline)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
