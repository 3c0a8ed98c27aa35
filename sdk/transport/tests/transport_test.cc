// Consoles and a server over real sockets: round trips on every kind of address, many threads
// on one connection, notifications, refusals, limits, hostile bytes, a server that dies.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "test_farm.h"
#include "zel/runtime/codes.h"
#include "zel/runtime/testing/child_process.h"
#include "zel/runtime/testing/portable.h"
#include "zel/transport/console_host.h"

namespace zel::transport::testing {
namespace {

using Bytes = std::vector<uint8_t>;
using Reply = std::unique_ptr<ZEL_BUF_EventBuffer>;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kHostUID = 0x300;

// Certificates are made once for the whole program.
const Certificates& Certs() {
  static zel::rt::testing::TempFolder folder("zel_transport_certs");
  static Certificates certs;
  static const bool made = MakeCertificates(folder.Path(), &certs);
  EXPECT_TRUE(made) << "the openssl command could not make the test certificates";
  return certs;
}

ServerOptions OptionsFor(const std::string& kind, const std::string& folder) {
  ServerOptions options;
  options.threads = 2;
  options.owner = CurrentLogin();
  options.listen = {kind == "unix" ? "unix:" + folder + "/farm.sock" : kind + ":127.0.0.1:0"};
  options.insecure = kind == "tcp";
  if (kind == "tls") {
    options.tlsCert = Certs().serverCert;
    options.tlsKey = Certs().serverKey;
    options.tlsCA = Certs().ca;
    options.certMap[Certificates::kClientSubject] = "NT:NORTH\\alice";
  }
  return options;
}

ClientOptions ClientFor(const std::string& kind, const std::string& address) {
  ClientOptions options;
  options.address = address;
  options.timeout = milliseconds(5000);
  options.insecure = kind == "tcp";
  if (kind == "tls") {
    options.cert = Certs().clientCert;
    options.key = Certs().clientKey;
    options.ca = Certs().ca;
  }
  return options;
}

// A farm serving on an address of `kind` in a folder of its own, and a console's client and
// host on it; `server` and `console` change the options first.
struct Rig {
  explicit Rig(const std::string& kind = "unix",
               const std::function<void(ServerOptions&)>& server = nullptr,
               const std::function<void(ClientOptions&)>& console = nullptr)
      : farm([&] {
          ServerOptions options = OptionsFor(kind, folder.Path());
          if (server) server(options);
          return options;
        }()),
        started(farm.Start()) {
    ClientOptions options = ClientFor(kind, started == 0 ? farm.Address() : "");
    if (console) console(options);
    client = std::make_unique<Client>(options);
    host = std::make_unique<ConsoleHost>(*client, kHostUID);
  }
  zel::rt::testing::TempFolder folder{"zel_transport"};
  TestFarm farm;
  const int32_t started;  // the server's Start
  std::unique_ptr<Client> client;
  std::unique_ptr<ConsoleHost> host;
};

int32_t Call(ZEL_PIF_ISubSystem& host, uint16_t eventID, const Bytes& payload,
             Reply* reply = nullptr) {
  ZEL_BUF_EventBuffer* answer = nullptr;
  auto request = MakeRequest(eventID, static_cast<uint16_t>(host.GetSubsystemUID()), payload);
  const int32_t result = SendSALEvent2(request.release(), &answer, host, 0);
  Reply kept(answer);
  if (reply != nullptr) *reply = std::move(kept);
  return result;
}

// An echo of `payload`: the call's code, -1 when the reply does not read or echo the payload.
int32_t Echo(ZEL_PIF_ISubSystem& host, const Bytes& payload, EchoedCaller* echoed) {
  Reply reply;
  const int32_t result = Call(host, kEcho, payload, &reply);
  if (result != 0) return result;
  return ReadEcho(*reply, echoed) && echoed->payload == payload ? 0 : -1;
}

Bytes Pattern(std::size_t size, uint32_t seed) {
  Bytes bytes(size);
  std::mt19937 random(seed);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

Bytes BytesOf(const ZEL_BUF_EventBuffer& event) {
  return Bytes(event.GetData(), event.GetData() + event.GetSize());
}

// Waits up to three seconds for `done`, checked under `mu`.
bool WaitUntil(std::mutex& mu, const std::function<bool()>& done) {
  for (const auto until = Clock::now() + milliseconds(3000); Clock::now() < until;) {
    {
      std::lock_guard lock(mu);
      if (done()) return true;
    }
    std::this_thread::sleep_for(milliseconds(5));
  }
  std::lock_guard lock(mu);
  return done();
}

TEST(TransportTest, RoundTripsOnEveryKindOfAddress) {
  const struct {
    const char* kind;
    std::string peer;
    bool owner;
  } cases[] = {
      {"unix", "unix:" + CurrentLogin(), true},
      {"tls", "NT:NORTH\\alice", false},
      {"tcp", "", false},
  };
  for (const auto& c : cases) {
    Rig rig(c.kind);
    ASSERT_EQ(rig.started, 0) << c.kind << ": " << rig.farm.Error();
    void* store = nullptr;  // the host names the farm's store, never a file
    ASSERT_EQ(rig.host->GetPluginApis()->AcquireInterface(kZelDirectoryStoreInterface, &store), 0);
    EXPECT_EQ(static_cast<ZEL_DIR_StoreLocation*>(store)->StorePath(), "farm:");
    rig.host->GetPluginApis()->ReleaseInterface(kZelDirectoryStoreInterface, store);
    for (uint32_t size : {0u, 1u, 70000u, zel::protocol::kMaxPayload - 64}) {
      const Bytes payload = Pattern(size, size);
      Reply reply;
      ASSERT_EQ(Call(*rig.host, kEcho, payload, &reply), 0) << c.kind << " " << Client::LastError();
      EchoedCaller echoed;
      ASSERT_TRUE(ReadEcho(*reply, &echoed)) << c.kind;
      EXPECT_EQ(echoed.payload, payload) << c.kind << " size " << size;
      EXPECT_EQ(echoed.peer, c.peer) << c.kind;
      EXPECT_EQ(echoed.owner, c.owner) << c.kind;
      EXPECT_EQ(echoed.sourceUID, kHostUID) << c.kind;
      EXPECT_GT(echoed.connection, 0u) << c.kind;
      EXPECT_EQ(reply->GetDestSubsystemUID(), kHostUID) << c.kind;
    }
  }
}

// Threads share the process's one connection and read its socket in turns (the one waiting
// first reads for all). The role must move on when its holder has its reply, leaves on its
// deadline or sees the connection end; what it reads for others must reach them (replies to
// their callers, notifications to the client's thread, in the order they were published).
TEST(TransportTest, CallersShareOneConnectionAndTakeTurnsReadingIt) {
  const struct {
    const char* name;
    int callers;
    bool firstTimesOut;  // caller 0 asks for replies slower than its timeout, between others
    bool publish;        // every call also publishes a numbered notification
    bool drop;           // the console drops the connection while calls wait
  } cases[] = {
      {"two callers", 2, false, false, false},
      {"eight callers", 8, false, false, false},
      {"a caller leaves on its deadline while reading", 6, true, false, false},
      {"notifications come while callers read", 4, false, true, false},
      {"the connection is dropped under the callers", 6, false, false, true},
  };
  constexpr int kRounds = 40;
  const auto timeout = milliseconds(400);
  for (const auto& c : cases) {
    Rig rig(
        "unix", [](ServerOptions& o) { o.threads = 4; },  // a slow request holds a loop thread
        [&](ClientOptions& o) { o.timeout = timeout; });
    ASSERT_EQ(rig.started, 0) << rig.farm.Error();
    std::mutex mu;
    std::vector<Bytes> notified;
    std::set<std::thread::id> notifiedOn, callers;
    std::set<uint64_t> connections;
    uint32_t subscription = 0;
    ASSERT_EQ(rig.client->Subscribe(
                  {kPublished}, false,
                  [&](uint32_t, Reply event) {
                    std::lock_guard lock(mu);
                    notified.push_back(BytesOf(*event));
                    notifiedOn.insert(std::this_thread::get_id());
                  },
                  &subscription),
              0);
    std::atomic<int> wrong{0}, broken{0}, timedOut{0};
    std::atomic<bool> calling{true};
    std::vector<std::thread> threads;
    for (int t = 0; t < c.callers; ++t) {
      threads.emplace_back([&, t] {
        ConsoleHost host(*rig.client, static_cast<uint16_t>(kHostUID + t));
        for (int i = 0; i < kRounds; ++i) {
          const auto started = Clock::now();
          EchoedCaller echoed;
          if (c.firstTimesOut && t == 0 && i % 10 == 0) {
            timedOut += Call(host, kSlow, SlowPayload(600)) == zel::rt::kTimeout;
          } else if (c.drop) {
            const int32_t result = Call(host, kSlow, SlowPayload(10));
            (result == zel::rt::kConnectionBroken ? broken : wrong) += result != 0;
          } else if (c.publish) {
            wrong += Call(host, kPublish, {static_cast<uint8_t>(t), static_cast<uint8_t>(i)}) != 0;
          } else if (Echo(host, Pattern(1 + (i * 53) % 3000, t * 100 + i), &echoed) != 0 ||
                     echoed.sourceUID != kHostUID + t) {
            ++wrong;
          } else {
            std::lock_guard lock(mu);
            connections.insert(echoed.connection);
          }
          if (Clock::now() - started > timeout + milliseconds(500)) ++wrong;  // never hangs
        }
        std::lock_guard lock(mu);
        callers.insert(std::this_thread::get_id());
      });
    }
    std::thread dropper([&] {
      while (c.drop && calling) {
        std::this_thread::sleep_for(milliseconds(15));
        rig.client->Disconnect();
      }
    });
    for (auto& thread : threads) thread.join();
    calling = false;
    dropper.join();
    EXPECT_EQ(wrong.load(), 0) << c.name;
    EXPECT_EQ(timedOut.load(), c.firstTimesOut ? kRounds / 10 : 0) << c.name;
    EXPECT_EQ(broken.load() > 0, c.drop) << c.name;
    EXPECT_EQ(connections.size(), c.drop || c.publish ? 0u : 1u) << c.name;  // one, shared
    // The connection still serves (again, after a drop).
    EXPECT_EQ(Call(*rig.host, kEcho, {1}), 0) << c.name << " " << Client::LastError();
    if (!c.publish) continue;
    const std::size_t all = static_cast<std::size_t>(c.callers * kRounds);
    EXPECT_TRUE(WaitUntil(mu, [&] { return notified.size() >= all; }));
    std::lock_guard lock(mu);
    ASSERT_EQ(notified.size(), all) << c.name;
    std::vector<int> next(static_cast<std::size_t>(c.callers), 0);
    for (const Bytes& event : notified) {
      ASSERT_EQ(event.size(), 2u) << c.name;
      EXPECT_EQ(event[1], next[event[0]]++) << c.name << ": caller " << int{event[0]};
    }
    EXPECT_EQ(notifiedOn.size(), 1u) << c.name;  // the client's own thread
    EXPECT_EQ(callers.count(*notifiedOn.begin()), 0u) << c.name;
  }
}

TEST(TransportTest, SubscribersAreNotifiedAndMonitorNeedsTheOwner) {
  const struct {
    const char* name;
    std::string owner;
    bool monitor;
    int32_t subscribed;
  } cases[] = {
      {"named event", "", false, 0},
      {"monitor by the owner", CurrentLogin(), true, 0},
      {"monitor by anyone else", "", true, zel::rt::kRefused},
  };
  for (const auto& c : cases) {
    Rig rig("unix", [&](ServerOptions& o) { o.owner = c.owner; });
    ASSERT_EQ(rig.started, 0) << rig.farm.Error();
    std::mutex mu;
    std::vector<std::pair<uint32_t, Bytes>> events;
    std::atomic<int32_t> fromHandler{1};
    auto handler = [&](uint32_t id, Reply event) {
      fromHandler = Call(*rig.host, kEcho, {1});  // would wait for its own thread
      std::lock_guard lock(mu);
      events.emplace_back(id, BytesOf(*event));
    };
    uint32_t subscription = 0;
    ASSERT_EQ(rig.client->Subscribe({kPublished}, c.monitor, handler, &subscription), c.subscribed)
        << c.name;
    if (c.subscribed != 0) continue;
    ASSERT_EQ(Call(*rig.host, kPublish, {1, 2, 3}), 0) << c.name;
    // A one-way event reaches the subsystem, which publishes it as kPosted: only a monitor
    // asked for that one.
    ASSERT_EQ(rig.host->DeliverEvent(MakeRequest(0x4242, kHostUID, {9}).release(), 0), 0);
    // A monitor sees the request, its reply, the post and both notifications, each payload
    // zeroed by a server that has no blanking hook.
    ASSERT_TRUE(WaitUntil(mu, [&] { return events.size() >= (c.monitor ? 5u : 1u); })) << c.name;
    std::lock_guard lock(mu);
    if (c.monitor) {
      std::multiset<std::size_t> sizes;
      for (const auto& [id, bytes] : events) {
        sizes.insert(bytes.size());
        EXPECT_EQ(bytes, Bytes(bytes.size(), 0)) << c.name;
      }
      EXPECT_EQ(sizes, (std::multiset<std::size_t>{0, 1, 1, 3, 3})) << c.name;
    } else {
      EXPECT_EQ(events[0], std::make_pair(subscription, Bytes{1, 2, 3})) << c.name;
    }
    EXPECT_EQ(fromHandler.load(), zel::rt::kInvalidArgument) << c.name;
    EXPECT_EQ(rig.client->Unsubscribe(subscription), 0) << c.name;
    EXPECT_EQ(rig.client->Unsubscribe(subscription), zel::rt::kInvalidArgument) << c.name;
  }
}

TEST(TransportTest, SlowMonitorMissesEventsAndIsToldHowMany) {
  // The monitor's thread stays in its first handler until released: the server's queue for it
  // fills while the worker goes on. (Declared first: the clients end before these.)
  std::mutex mu;
  std::condition_variable changed;
  bool released = false;
  uint64_t delivered = 0, dropped = 0;
  Rig rig("unix", [](ServerOptions& o) { o.maxMonitorQueuedBytes = 256u << 10; });
  ASSERT_EQ(rig.started, 0) << rig.farm.Error();
  ClientOptions monitorOptions = ClientFor("unix", rig.farm.Address());
  monitorOptions.offerDispatcher = false;
  Client monitor(monitorOptions);
  auto release = [&] {
    std::lock_guard lock(mu);
    released = true;
    changed.notify_all();
  };
  // However the test ends, the monitor's thread is let go before its client is destroyed.
  struct ReleaseAtEnd {
    std::function<void()> release;
    ~ReleaseAtEnd() { release(); }
  } releaseAtEnd{release};
  auto handler = [&](const MonitoredFrom& from, Reply) {
    std::unique_lock lock(mu);
    changed.wait(lock, [&] { return released; });
    ++delivered;
    dropped += from.dropped;
    changed.notify_all();
  };
  uint32_t subscription = 0;
  ASSERT_EQ(monitor.Monitor(handler, &subscription), 0);
  constexpr int kCalls = 200;  // 2 x 200 x 32 KiB monitored, far past socket buffers and bound
  const Bytes payload(32u << 10, 0x5A);
  for (int i = 0; i < kCalls; ++i) {
    ASSERT_EQ(Call(*rig.host, kEcho, payload), 0) << i;  // the server never stalls
  }
  release();
  // Once the queue has room again, the next events carry the count missed before them.
  uint64_t calls = kCalls;
  std::unique_lock lock(mu);
  for (int i = 0; i < 100 && delivered + dropped != 2 * calls; ++i) {
    lock.unlock();
    ASSERT_EQ(Call(*rig.host, kEcho, {1}), 0);
    ++calls;
    lock.lock();
    changed.wait_for(lock, milliseconds(100), [&] { return delivered + dropped == 2 * calls; });
  }
  EXPECT_EQ(delivered + dropped, 2 * calls) << delivered << " delivered";
  EXPECT_GT(dropped, 0u);
  EXPECT_EQ(rig.farm.server().ConnectionCount(), 2u);  // the slow monitor was not dropped
}

// Each end refuses a peer of another major version and says why: the server to a console
// (both ways round), the console to a server that greets with major version 9.
TEST(TransportTest, IncompatibleVersionsAreRefusedOnBothEnds) {
  const struct {
    const char* name;
    uint16_t serverMajor, clientMajor;
    const char* said;
  } cases[] = {
      {"newer console", 1, 2, "the console speaks protocol 2.1; this server speaks 1.1"},
      {"older console", 2, 1, "the console speaks protocol 1.1; this server speaks 2.1"},
  };
  for (const auto& c : cases) {
    Rig rig(
        "unix", [&](ServerOptions& o) { o.protocolMajor = c.serverMajor; },
        [&](ClientOptions& o) { o.protocolMajor = c.clientMajor; });
    ASSERT_EQ(rig.started, 0) << rig.farm.Error();
    EXPECT_EQ(rig.client->Connect(), zel::rt::kVersionMismatch) << c.name;
    EXPECT_NE(Client::LastError().find(c.said), std::string::npos) << Client::LastError();
    const std::vector<std::string> log = rig.farm.LogLines();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& line) {
      return line.find(c.said) != std::string::npos;
    })) << c.name;
  }

  zel::rt::testing::TempFolder folder("zel_transport");
  const std::string path = folder.File("fake.sock");
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un name{};
  name.sun_family = AF_UNIX;
  std::strncpy(name.sun_path, path.c_str(), sizeof name.sun_path - 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&name), sizeof name), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  std::thread fake([&] {
    const int fd = ::accept(listener, nullptr, nullptr);
    WriteRaw(fd, {0x11, 0, 0, 0, 1, 0x5A, 0x45, 0x4C, 0x46, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    Bytes ignored;
    ReadUntilClosed(fd, 3000, &ignored);
    ::close(fd);
  });
  Client client(ClientFor("unix", "unix:" + path));
  EXPECT_EQ(client.Connect(), zel::rt::kVersionMismatch);
  EXPECT_NE(Client::LastError().find("the server speaks protocol 9.0; this console speaks 1.1"),
            std::string::npos)
      << Client::LastError();
  client.Disconnect();
  fake.join();
  ::close(listener);
}

// TLS identity: a console without a certificate, with one of another authority, or that does
// not know the server's; a valid certificate the server maps to no account; plain TCP without
// insecure mode on either end.
TEST(TransportTest, RefusedPeersAndAddresses) {
  const Certificates& certs = Certs();
  const struct {
    const char* name;
    std::string cert, key, ca;
  } cases[] = {
      {"no certificate", "", "", certs.ca},
      {"certificate of another authority", certs.otherCert, certs.otherKey, certs.ca},
      {"server unknown to the console", certs.clientCert, certs.clientKey, certs.otherCert},
  };
  Rig rig("tls");
  ASSERT_EQ(rig.started, 0) << rig.farm.Error();
  for (const auto& c : cases) {
    ClientOptions options = ClientFor("tls", rig.farm.Address());
    options.cert = c.cert;
    options.key = c.key;
    options.ca = c.ca;
    options.offerDispatcher = false;
    Client client(options);
    ConsoleHost host(client, kHostUID);
    EXPECT_EQ(Call(host, kEcho, {1}), zel::rt::kRefused) << c.name;
  }
  Rig unmapped("tls", [](ServerOptions& o) { o.certMap.clear(); });
  ASSERT_EQ(unmapped.started, 0) << unmapped.farm.Error();
  EXPECT_EQ(unmapped.client->Connect(), zel::rt::kRefused);
  EXPECT_NE(Client::LastError().find("is not mapped to an account"), std::string::npos)
      << Client::LastError();

  ServerOptions plain;
  plain.listen = {"tcp:127.0.0.1:0"};
  TestFarm refusing(plain);
  EXPECT_EQ(refusing.Start(), zel::rt::kRefused);
  EXPECT_NE(refusing.Error().find("insecure"), std::string::npos);
  ClientOptions tcp = ClientFor("tcp", "tcp:127.0.0.1:1");
  tcp.insecure = false;
  EXPECT_EQ(Client(tcp).Connect(), zel::rt::kRefused);
}

// Past its connections or its requests in flight, the server refuses at once; a call past its
// timeout, a handler that throws and a server that is not there answer promptly, and the
// connection serves on.
TEST(TransportTest, LimitsTimeoutsAndAbsentServersAnswerPromptly) {
  Rig limited("unix", [](ServerOptions& o) {
    o.maxConnections = 1;
    o.maxInFlight = 1;
  });
  ASSERT_EQ(limited.started, 0) << limited.farm.Error();
  ASSERT_EQ(limited.client->Connect(), 0);
  ClientOptions secondOptions = ClientFor("unix", limited.farm.Address());
  secondOptions.offerDispatcher = false;
  EXPECT_EQ(Client(secondOptions).Connect(), zel::rt::kRefused);
  EXPECT_NE(Client::LastError().find("too many connections"), std::string::npos);
  // Two requests at once on a connection that may have one in flight: one is refused at once.
  std::atomic<int> refused{0}, answered{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&] {
      const int32_t result = Call(*limited.host, kSlow, SlowPayload(500));
      (result == zel::rt::kRefused ? refused : answered)++;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(refused.load(), 1);
  EXPECT_EQ(answered.load(), 1);

  Rig rig("unix", nullptr, [](ClientOptions& o) { o.timeout = milliseconds(300); });
  ASSERT_EQ(rig.started, 0) << rig.farm.Error();
  auto started = Clock::now();
  EXPECT_EQ(Call(*rig.host, kSlow, SlowPayload(1500)), zel::rt::kTimeout);
  EXPECT_LT(Clock::now() - started, milliseconds(1000));
  EXPECT_EQ(Call(*rig.host, kEcho, {5}), 0);
  EXPECT_EQ(Call(*rig.host, kThrow, {}), zel::rt::kNotAccepted);
  EXPECT_EQ(Call(*rig.host, kEcho, {6}), 0);
  ClientOptions nowhere = ClientFor("unix", "unix:" + rig.folder.File("nobody.sock"));
  nowhere.offerDispatcher = false;
  started = Clock::now();
  EXPECT_EQ(Client(nowhere).Connect(), zel::rt::kServerGone);
  EXPECT_LT(Clock::now() - started, milliseconds(1000));
}

// The console closes, or the server drops an idle connection: either way the subsystem hears
// of it, and the console's next call connects again.
TEST(TransportTest, ClosingAConnectionTellsTheSubsystem) {
  for (const bool idle : {false, true}) {
    Rig rig("unix", [&](ServerOptions& o) {
      if (idle) o.idleTimeout = milliseconds(200);
    });
    ASSERT_EQ(rig.started, 0) << rig.farm.Error();
    EchoedCaller echoed, again;
    ASSERT_EQ(Echo(*rig.host, {}, &echoed), 0);
    if (!idle) rig.client->Disconnect();
    bool told = false;
    for (int i = 0; i < 200 && !told; ++i) {
      for (uint64_t closed : rig.farm.ClosedConnections())
        told = told || closed == echoed.connection;
      if (!told) std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_TRUE(told) << (idle ? "idle" : "disconnected");
    // The console's thread sees the server's end as the server's hook runs; a call made at
    // that very moment would still find the old connection.
    if (idle) std::this_thread::sleep_for(milliseconds(100));
    ASSERT_EQ(Echo(*rig.host, {}, &again), 0) << Client::LastError();
    EXPECT_NE(again.connection, echoed.connection);
    // A call right after Disconnect returns never goes out on the connection being closed.
    for (int i = 0; i < 20 && !idle; ++i) {
      rig.client->Disconnect();
      ASSERT_EQ(Call(*rig.host, kEcho, {}), 0) << i << ": " << Client::LastError();
    }
  }
}

// A subsystem's post for one connection reaches the console-side host it names there, and
// only that host; a connection that is gone is told apart.
TEST(TransportTest, PostsToAConnectionReachTheHostTheyName) {
  Rig rig;
  ASSERT_EQ(rig.started, 0) << rig.farm.Error();
  ConsoleHost other(*rig.client, kHostUID + 1);
  std::mutex mu;
  std::vector<std::pair<uint16_t, Bytes>> heard;  // (host, payload)
  for (ConsoleHost* host : {rig.host.get(), &other}) {
    host->SetPostHandler([&, uid = host->GetSubsystemUID()](Reply event) {
      std::lock_guard lock(mu);
      heard.emplace_back(uid, BytesOf(*event));
    });
  }
  EchoedCaller echoed;
  ASSERT_EQ(Echo(*rig.host, {}, &echoed), 0);
  const struct {
    const char* what;
    uint64_t connection;
    uint16_t host;
    int32_t code;
  } cases[] = {
      {"to a host without a handler: dropped", echoed.connection, kHostUID + 7, zel::rt::kOk},
      {"to the named host", echoed.connection, kHostUID, zel::rt::kOk},
      {"to a connection that is not open", echoed.connection + 1000, kHostUID,
       zel::rt::kNoSuchSubsystem},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    auto event = MakeRequest(0x4243, kTestUID, {static_cast<uint8_t>(i)});
    event->SetDestSubsystemUID(cases[i].host);
    EXPECT_EQ(rig.farm.server().PostTo(cases[i].connection, *event), cases[i].code)
        << cases[i].what;
  }
  WaitUntil(mu, [&] { return !heard.empty(); });
  std::this_thread::sleep_for(milliseconds(100));  // anything else would have come by now
  std::lock_guard lock(mu);
  EXPECT_EQ(heard, (std::vector<std::pair<uint16_t, Bytes>>{{kHostUID, Bytes{1}}}));
}

// Bytes a hostile or broken console sends; each closes its own connection only.
TEST(TransportTest, BadInputClosesOnlyThatConnection) {
  const Bytes hello = {0x11, 0, 0, 0, 1, 0x5A, 0x45, 0x4C, 0x46, 1, 0,
                       0,    0, 0, 0, 0, 0,    0,    0,    0,    0};
  auto after = [&](Bytes more) {
    more.insert(more.begin(), hello.begin(), hello.end());
    return more;
  };
  const uint32_t tooLong = kMaxFrameBody + 1;
  const struct {
    const char* name;
    Bytes bytes;
    bool closeWriting;
  } cases[] = {
      {"random bytes", Pattern(300, 7), false},
      {"frame past the maximum",
       after({static_cast<uint8_t>(tooLong), static_cast<uint8_t>(tooLong >> 8),
              static_cast<uint8_t>(tooLong >> 16), static_cast<uint8_t>(tooLong >> 24)}),
       false},
      {"empty frame", after({0, 0, 0, 0}), false},
      {"truncated frame, then the end", after({40, 0, 0, 0, 2, 1, 0, 0}), true},
      {"payload length that lies",
       after({0x23, 0, 0, 0, 2, 1,    0, 0,    0, 0, 0, 0, 0, 0x59, 0x1B, 1, 0, 0,    0,   0,
              0,    0, 0, 0, 0, 0x30, 0, 0x28, 0, 4, 0, 0, 0, 0xFF, 0,    0, 0, 0xAA, 0xBB}),
       false},
      {"stalled half frame", after({100, 0, 0, 0, 2, 1, 2, 3}), false},
      {"request before hello", {5, 0, 0, 0, 6, 1, 0, 0, 0}, false},
      {"hello of something else",
       {0x11, 0, 0, 0, 1, 'H', 'T', 'T', 'P', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       false},
  };
  Rig rig("unix", [](ServerOptions& o) { o.readTimeout = milliseconds(300); });
  ASSERT_EQ(rig.started, 0) << rig.farm.Error();
  for (const auto& c : cases) {
    const int fd = ConnectRaw(rig.farm.Address());
    ASSERT_GE(fd, 0) << c.name;
    ASSERT_TRUE(WriteRaw(fd, c.bytes)) << c.name;
    if (c.closeWriting) ::shutdown(fd, SHUT_WR);
    Bytes received;
    EXPECT_TRUE(ReadUntilClosed(fd, 3000, &received)) << c.name << ": the server kept it open";
    ::close(fd);
    EXPECT_EQ(Call(*rig.host, kEcho, {1}), 0) << c.name << ": the others are not served";
  }
  // Only the good console's connection is left.
  for (int i = 0; i < 100 && rig.farm.server().ConnectionCount() != 1; ++i) {
    std::this_thread::sleep_for(milliseconds(10));
  }
  EXPECT_EQ(rig.farm.server().ConnectionCount(), 1u);
}

// A server in a child process, on the socket path given, until it is killed. With a path that
// begins with '!' the process may hold only 32 files (its hard limit, which it cannot raise).
int ServeUntilKilled(const std::string& argument) {
  const bool few = argument.front() == '!';
  const rlimit files{32, 32};
  if (few && setrlimit(RLIMIT_NOFILE, &files) != 0) return 2;
  ServerOptions options;
  options.listen = {"unix:" + argument.substr(few ? 1 : 0)};
  options.threads = 2;
  TestFarm farm(options);
  if (farm.Start() != 0) {
    std::cout << "failed " << farm.Error() << std::endl;
    return 1;
  }
  std::cout << "ready " << getpid() << std::endl;
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}
const zel::rt::testing::ChildRole kServerRole("transport-server", ServeUntilKilled);

// Starts that server; its process ID in *pid, "" when it did not start.
zel::rt::testing::ChildProcess StartServer(const std::string& argument, std::string* pid) {
  auto child = zel::rt::testing::ChildProcess::StartRole("transport-server", argument);
  std::string line;
  *pid = child.ReadLine(&line) && line.rfind("ready ", 0) == 0 ? line.substr(6) : "";
  return child;
}

TEST(TransportTest, ServerKilledMidRequestThenBackAgain) {
  zel::rt::testing::TempFolder folder("zel_transport");
  const std::string path = folder.File("farm.sock");
  ClientOptions options = ClientFor("unix", "unix:" + path);
  options.timeout = milliseconds(3000);
  Client client(options);
  ConsoleHost host(client, kHostUID);
  std::string pid;
  {
    auto server = StartServer(path, &pid);
    ASSERT_NE(pid, "");
    ASSERT_EQ(Call(host, kEcho, {1}), 0) << Client::LastError();
    std::thread killer([&] {
      std::this_thread::sleep_for(milliseconds(200));
      server.Kill();
    });
    const auto started = Clock::now();
    EXPECT_EQ(Call(host, kSlow, SlowPayload(10000)), zel::rt::kConnectionBroken);
    EXPECT_LT(Clock::now() - started, milliseconds(3000));
    killer.join();
    EXPECT_EQ(Call(host, kEcho, {1}), zel::rt::kServerGone);
  }
  auto again = StartServer(path, &pid);
  ASSERT_NE(pid, "");
  EXPECT_EQ(Call(host, kEcho, {2}), 0) << Client::LastError();
}

// Processor time (user and system, in clock ticks) a process has used.
long CpuTicks(const std::string& pid) {
  std::ifstream file("/proc/" + pid + "/stat");
  const std::string text{std::istreambuf_iterator<char>(file), {}};
  std::istringstream fields(text.substr(text.rfind(')') + 2));  // from field 3, the state
  std::string skipped;
  long user = 0, system = 0;
  for (int i = 3; i < 14; ++i) fields >> skipped;
  fields >> user >> system;
  return user + system;
}

TEST(TransportTest, RunningOutOfFilesNeitherSpinsNorStops) {
  zel::rt::testing::TempFolder folder("zel_transport");
  const std::string path = folder.File("farm.sock");
  std::string pid;
  auto server = StartServer("!" + path, &pid);
  ASSERT_NE(pid, "");
  // More connections than the server may hold files: its accepts fail for want of descriptors.
  std::vector<int> flood;
  for (int i = 0; i < 48; ++i) {
    const int fd = ConnectRaw("unix:" + path);
    if (fd >= 0) flood.push_back(fd);
  }
  std::this_thread::sleep_for(milliseconds(200));
  const long before = CpuTicks(pid);
  std::this_thread::sleep_for(milliseconds(1000));
  EXPECT_LT(CpuTicks(pid) - before, 20) << "ticks of processor time in a second without files";
  for (int fd : flood) ::close(fd);
  ClientOptions options = ClientFor("unix", "unix:" + path);
  options.offerDispatcher = false;
  Client client(options);
  ConsoleHost host(client, kHostUID);
  EXPECT_EQ(Call(host, kEcho, {3}), 0) << Client::LastError();
}

}  // namespace
}  // namespace zel::transport::testing
