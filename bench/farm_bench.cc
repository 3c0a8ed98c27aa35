// The farm server as consoles see it: GetPrivilege2 through the server (the host zelfarmd is
// made of) over a Unix socket and over TLS on loopback, beside raw blocking ping-pongs of the
// same byte counts and the in-process round trip through the same subsystem; throughput with
// several consoles beside as many raw ping-pongs in parallel; and the time until the last of
// 100 subscribed consoles has a notification. All in the same run.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../sdk/transport/tests/test_farm.h"
#include "farm_bench.h"
#include "farm_folders.h"
#include "ping_pong.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/directory/testing/temp_store.h"
#include "zel/farm/farm_host.h"
#include "zel/farm/testing/test_farm_server.h"
#include "zel/protocol/events.h"
#include "zel/protocol/folders.h"
#include "zel/transport/console_host.h"

namespace {

using zel::bench::PingPong;
using zel::farm::testing::CheapOptions;

constexpr uint32_t kPrivileges = 16;

void Fill(ZEL_ADMIN_USERINFO& record, const char16_t* name) {
  record.accountName = ZELString(name);
  record.accountAuthority = ZELString(u"unix");
  std::vector<uint32_t> values(kPrivileges);
  for (uint32_t i = 0; i < kPrivileges; ++i) values[i] = i + 1;
  record.ReplacePrivs(kPrivileges, values.data());
}

// Adds the administrators "bench" and "alice" (the TLS console's account); bench's UID.
uint64_t AddAdministrators(ZEL_AdminToolSAL6& owner) {
  std::vector<ZEL_ADMIN_USERINFO> users(2);
  Fill(users[0], u"bench");
  Fill(users[1], u"alice");
  AllowedFolders none;
  ZEL_ADMIN_CONTACTINFO contacts[2];
  owner.AddUsers3(2, users.data(), &none, contacts);
  uint64_t uid = 0;
  owner.GetAdminUIDByName(u"bench", u"unix", uid);
  return uid;
}

bool AskPrivileges(ZEL_AdminToolSAL6& sal, uint64_t uid) {
  uint32_t a1 = 0, a2 = 0, count = 0;
  uint32_t* privileges = nullptr;
  const bool ok = sal.GetPrivilege2(uid, a1, a2, count, &privileges) == 0 && count == kPrivileges;
  sal.FreeMemory(privileges, ZEL_AdminToolSAL3::kFreePlainArray);
  return ok;
}

// --- The subsystem in process, its exchanges measured ----------------------------------------

// A console host of the in-process farm whose requests pass through it: the frames they would
// be on a socket are measured on the way.
class MeasuringHost final : public ZEL_PIF_ISubSystem, public zel::rt::EventTransport {
 public:
  MeasuringHost(zel::rt::InProcessFarm& farm, zel::rt::FarmSubsystem& inner)
      : farm_(farm), inner_(inner) {}
  int32_t DeliverEvent(ZEL_BUF_EventBuffer* event, uint32_t flags) override {
    return inner_.DeliverEvent(event, flags);
  }
  ZELString GetNeighborhoodName() override { return inner_.GetNeighborhoodName(); }
  ZelPluginApiTable* GetPluginApis() override { return inner_.GetPluginApis(); }
  uint32_t GetSubsystemUID() override { return inner_.GetSubsystemUID(); }
  zel::rt::EventTransport* GetEventTransport() override { return this; }

  int32_t Send(ZEL_BUF_EventBuffer* request, ZEL_BUF_EventBuffer** reply) override {
    int32_t code = 0;
    if (measuring_) {
      requestFrame_ = zel::transport::EncodeRequest(1, *request, &code)->GetSize();
      requestPayload_ = request->GetSize();
    }
    const int32_t result = farm_.Send(request, reply);
    if (measuring_ && result >= 0) {
      replyFrame_ = zel::transport::EncodeReply(1, result, *reply, &code)->GetSize();
      replyPayload_ = (*reply)->GetSize();
    }
    return result;
  }
  int32_t Post(ZEL_BUF_EventBuffer* event) override { return farm_.Post(event); }

  bool measuring_ = false;
  std::size_t requestFrame_ = 0, replyFrame_ = 0, requestPayload_ = 0, replyPayload_ = 0;

 private:
  zel::rt::InProcessFarm& farm_;
  zel::rt::FarmSubsystem& inner_;
};

struct InProcess {
  zel::dir::testing::TempStore store;
  zel::rt::InProcessFarm farm;
  zel::rt::FarmSubsystem& host = farm.AddSubsystem(zel::protocol::kAdminToolSubsystemUID);
  std::unique_ptr<zel::subsystem::AdminToolSubsystem> subsystem;
  std::unique_ptr<MeasuringHost> ownerHost, aliceHost;
  std::unique_ptr<ZEL_AdminToolSAL6> owner, alice;
  uint64_t bench = 0;

  InProcess() {
    host.Plugins().Offer(kZelDirectoryStoreInterface, &store);
    subsystem = std::make_unique<zel::subsystem::AdminToolSubsystem>(host, CheapOptions());
    subsystem->Attach(host);
    zel::rt::FarmSubsystem& ownerInner = farm.AddSubsystem(5);
    ownerInner.SetPeer("unix:root", true);
    ownerHost = std::make_unique<MeasuringHost>(farm, ownerInner);
    owner = std::make_unique<ZEL_AdminToolSAL6>(*ownerHost);
    zel::rt::FarmSubsystem& aliceInner = farm.AddSubsystem(6);
    aliceInner.SetPeer("unix:alice", false);
    aliceHost = std::make_unique<MeasuringHost>(farm, aliceInner);
    alice = std::make_unique<ZEL_AdminToolSAL6>(*aliceHost);
    bench = AddAdministrators(*owner);
  }
  ~InProcess() {
    alice.reset();
    owner.reset();
    subsystem.reset();
  }

  // The frames of one GetPrivilege2 exchange: request and reply.
  std::pair<std::size_t, std::size_t> FrameSizes() {
    ownerHost->measuring_ = true;
    AskPrivileges(*owner, bench);
    ownerHost->measuring_ = false;
    return {ownerHost->requestFrame_, ownerHost->replyFrame_};
  }
};

// --- The farm server over sockets ------------------------------------------------------------

struct Served {
  std::string folder;
  zel::transport::testing::Certificates certs;
  std::unique_ptr<zel::farm::FarmHost> farm;
  std::string unixAddress, tlsAddress;
  uint64_t bench = 0;
  std::string error;

  Served() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zel_bench_XXXXXX").string();
    folder = ::mkdtemp(pattern.data());
    if (!zel::transport::testing::MakeCertificates(folder, &certs)) {
      error = "no certificates (openssl)";
      return;
    }
    farm = std::make_unique<zel::farm::FarmHost>("sqlite:" + folder + "/farm.db", CheapOptions(),
                                                 nullptr);
    zel::transport::ServerOptions options;
    unixAddress = "unix:" + folder + "/farm.sock";
    options.listen = {unixAddress, "tls:127.0.0.1:0"};
    options.tlsCert = certs.serverCert;
    options.tlsKey = certs.serverKey;
    options.tlsCA = certs.ca;
    options.certMap[zel::transport::testing::Certificates::kClientSubject] = "unix:alice";
    options.owner = zel::transport::testing::CurrentLogin();
    // The server's loop threads (default: one per core); set to compare the loop's hand-offs.
    if (const char* threads = std::getenv("ZEL_BENCH_SERVER_THREADS")) {
      options.threads = static_cast<unsigned>(std::atoi(threads));
    }
    if (farm->Start(options, &error) != 0) return;
    for (const std::string& address : farm->ListeningAddresses()) {
      if (address.rfind("tls:", 0) == 0) tlsAddress = address;
    }
    Console owner(UnixOptions(), 50);
    bench = AddAdministrators(owner.sal);
  }
  ~Served() {
    farm.reset();
    std::filesystem::remove_all(folder);
  }

  zel::transport::ClientOptions UnixOptions() const {
    zel::transport::ClientOptions options;
    options.address = unixAddress;
    options.offerDispatcher = false;
    return options;
  }
  zel::transport::ClientOptions TlsOptions() const {
    zel::transport::ClientOptions options = UnixOptions();
    options.address = tlsAddress;
    options.ca = certs.ca;
    options.cert = certs.clientCert;
    options.key = certs.clientKey;
    return options;
  }

  // One console process's worth: its connection, its host and the library's SAL object.
  struct Console {
    zel::transport::Client client;
    zel::transport::ConsoleHost host;
    ZEL_AdminToolSAL6 sal;
    Console(const zel::transport::ClientOptions& options, uint16_t uid)
        : client(options), host(client, uid), sal(host) {}
  };
};

Served& Server() {
  static Served served;
  return served;
}
InProcess& Local() {
  static InProcess local;
  return local;
}

void FarmRoundTrip(benchmark::State& state, bool tls) {
  Served& served = Server();
  if (!served.error.empty()) return state.SkipWithError(served.error.c_str());
  Served::Console console(tls ? served.TlsOptions() : served.UnixOptions(), 60);
  for (auto _ : state) {
    if (!AskPrivileges(console.sal, served.bench)) {
      state.SkipWithError(zel::transport::Client::LastError().c_str());
      break;
    }
  }
}
void BM_FarmGetPrivilege2_Unix(benchmark::State& state) { FarmRoundTrip(state, false); }
void BM_FarmGetPrivilege2_Tls(benchmark::State& state) { FarmRoundTrip(state, true); }
BENCHMARK(BM_FarmGetPrivilege2_Unix)->UseRealTime();
BENCHMARK(BM_FarmGetPrivilege2_Tls)->UseRealTime();

// The same request in process: the owner (as the Unix console is) and an administrator (as the
// TLS console is).
void BM_InProcessGetPrivilege2_Owner(benchmark::State& state) {
  InProcess& local = Local();
  for (auto _ : state) AskPrivileges(*local.owner, local.bench);
}
void BM_InProcessGetPrivilege2_Administrator(benchmark::State& state) {
  InProcess& local = Local();
  for (auto _ : state) AskPrivileges(*local.alice, local.bench);
}
BENCHMARK(BM_InProcessGetPrivilege2_Owner)->UseRealTime();
BENCHMARK(BM_InProcessGetPrivilege2_Administrator)->UseRealTime();

// --- Raw ping-pongs of the same bytes --------------------------------------------------------

bool TcpPair(int ends[2]) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  auto* name = reinterpret_cast<sockaddr*>(&address);
  bool ok = ::bind(listener, name, size) == 0 && ::listen(listener, 1) == 0 &&
            ::getsockname(listener, name, &size) == 0;
  ends[0] = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ok = ok && ::connect(ends[0], name, size) == 0;
  ends[1] = ok ? ::accept(listener, nullptr, nullptr) : -1;
  ::close(listener);
  const int on = 1;
  for (int i = 0; i < 2; ++i) ::setsockopt(ends[i], IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return ok && ends[1] >= 0;
}

void RawRoundTrip(benchmark::State& state, bool tcp) {
  const auto [out, back] = Local().FrameSizes();
  int ends[2];
  if (!(tcp ? TcpPair(ends) : ::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) == 0)) {
    return state.SkipWithError("no connected pair");
  }
  PingPong pair(ends[0], ends[1], out, back);
  for (auto _ : state) pair.RoundTrip();
  state.counters["request bytes"] = static_cast<double>(out);
  state.counters["reply bytes"] = static_cast<double>(back);
}
void BM_RawPingPong_SocketPair_GetPrivilege2Bytes(benchmark::State& state) {
  RawRoundTrip(state, false);
}
void BM_RawPingPong_Tcp_GetPrivilege2Bytes(benchmark::State& state) { RawRoundTrip(state, true); }
BENCHMARK(BM_RawPingPong_SocketPair_GetPrivilege2Bytes)->UseRealTime();
BENCHMARK(BM_RawPingPong_Tcp_GetPrivilege2Bytes)->UseRealTime();

// --- Throughput: N consoles at once, beside N raw ping-pongs at once -------------------------

constexpr int kCallsPerConsole = 200;

void BM_FarmThroughput_Unix(benchmark::State& state) {
  Served& served = Server();
  if (!served.error.empty()) return state.SkipWithError(served.error.c_str());
  const auto consoles = static_cast<int>(state.range(0));
  std::vector<std::unique_ptr<Served::Console>> each;
  for (int i = 0; i < consoles; ++i) {
    each.push_back(
        std::make_unique<Served::Console>(served.UnixOptions(), static_cast<uint16_t>(70 + i)));
  }
  std::atomic<int> failed{0};
  for (auto _ : state) {
    std::vector<std::thread> threads;
    for (auto& console : each) {
      threads.emplace_back([&, c = console.get()] {
        for (int i = 0; i < kCallsPerConsole; ++i) failed += !AskPrivileges(c->sal, served.bench);
      });
    }
    for (std::thread& thread : threads) thread.join();
  }
  if (failed != 0) state.SkipWithError("calls failed");
  state.SetItemsProcessed(state.iterations() * consoles * kCallsPerConsole);
}
BENCHMARK(BM_FarmThroughput_Unix)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->UseRealTime();

void BM_RawThroughput_SocketPair(benchmark::State& state) {
  const auto [out, back] = Local().FrameSizes();
  const auto pairs = static_cast<int>(state.range(0));
  std::vector<std::unique_ptr<PingPong>> each;
  for (int i = 0; i < pairs; ++i) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return state.SkipWithError("no pair");
    each.push_back(std::make_unique<PingPong>(ends[0], ends[1], out, back));
  }
  for (auto _ : state) {
    std::vector<std::thread> threads;
    for (auto& pair : each) {
      threads.emplace_back([p = pair.get()] {
        for (int i = 0; i < kCallsPerConsole; ++i) p->RoundTrip();
      });
    }
    for (std::thread& thread : threads) thread.join();
  }
  state.SetItemsProcessed(state.iterations() * pairs * kCallsPerConsole);
}
BENCHMARK(BM_RawThroughput_SocketPair)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->UseRealTime();

// --- Fan-out: a folder made, until the last of 100 subscribed consoles has its notification --

void BM_FanOut100Consoles(benchmark::State& state) {
  Served& served = Server();
  if (!served.error.empty()) return state.SkipWithError(served.error.c_str());
  constexpr int kWatchers = 100;
  std::mutex mu;
  std::condition_variable arrived;
  std::vector<int> heard(kWatchers, 0);  // notifications each console has had
  std::vector<std::unique_ptr<zel::transport::Client>> watchers;
  for (int i = 0; i < kWatchers; ++i) {
    watchers.push_back(std::make_unique<zel::transport::Client>(served.UnixOptions()));
    uint32_t subscription = 0;
    const int32_t subscribed = watchers.back()->Subscribe(
        {81, 95}, false,
        [&, i](uint32_t, std::unique_ptr<ZEL_BUF_EventBuffer>) {
          std::lock_guard lock(mu);
          ++heard[static_cast<std::size_t>(i)];
          arrived.notify_all();
        },
        &subscription);
    if (subscribed != 0) return state.SkipWithError("a console could not subscribe");
  }
  zel::transport::Client maker(served.UnixOptions());
  auto makeFolder = [&] { return zel::bench::MakeFolder(maker, "Folder"); };
  // How many notifications one folder makes: counted once, then expected of every round.
  if (!makeFolder()) return state.SkipWithError("no folder");
  {
    std::unique_lock lock(mu);
    arrived.wait_for(lock, std::chrono::seconds(10), [&] { return heard[0] > 0; });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a second one would be here
  int perFolder = 0;
  {
    std::lock_guard lock(mu);
    perFolder = heard[0];
  }
  if (perFolder == 0) return state.SkipWithError("no notification");
  for (auto _ : state) {
    std::vector<int> expected;
    {
      std::lock_guard lock(mu);
      for (const int count : heard) expected.push_back(count + perFolder);
    }
    if (!makeFolder()) return state.SkipWithError("no folder");
    std::unique_lock lock(mu);
    const bool all = arrived.wait_for(lock, std::chrono::seconds(10), [&] {
      for (int i = 0; i < kWatchers; ++i) {
        if (heard[static_cast<std::size_t>(i)] < expected[static_cast<std::size_t>(i)]) {
          return false;
        }
      }
      return true;
    });
    if (!all) return state.SkipWithError("a console missed its notification");
  }
  state.counters["notifications per folder"] = perFolder;
}
BENCHMARK(BM_FanOut100Consoles)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The request alone that the fan-out rounds start with (a folder made), for comparison.
void BM_FarmCreateFolder_Unix(benchmark::State& state) {
  Served& served = Server();
  if (!served.error.empty()) return state.SkipWithError(served.error.c_str());
  zel::transport::Client console(served.UnixOptions());
  for (auto _ : state) {
    if (!zel::bench::MakeFolder(console, "Folder")) {
      return state.SkipWithError("no folder");
    }
  }
}
BENCHMARK(BM_FarmCreateFolder_Unix)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

std::pair<std::size_t, std::size_t> zel::bench::GetPrivilege2Payloads() {
  InProcess& local = Local();
  local.FrameSizes();
  return {local.ownerHost->requestPayload_, local.ownerHost->replyPayload_};
}

BENCHMARK_MAIN();
