// Consoles and a server over real sockets: round trips on every kind of address, many threads
// on one connection, notifications, refusals, limits, hostile bytes, a server that dies.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
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
  if (kind == "unix") options.listen = {"unix:" + folder + "/farm.sock"};
  if (kind == "tcp") {
    options.listen = {"tcp:127.0.0.1:0"};
    options.insecure = true;
  }
  if (kind == "tls") {
    options.listen = {"tls:127.0.0.1:0"};
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

int32_t Call(ZEL_PIF_ISubSystem& host, uint16_t eventID, const Bytes& payload,
             std::unique_ptr<ZEL_BUF_EventBuffer>* reply) {
  ZEL_BUF_EventBuffer* answer = nullptr;
  auto request = MakeRequest(eventID, static_cast<uint16_t>(host.GetSubsystemUID()), payload);
  const int32_t result = SendSALEvent2(request.release(), &answer, host, 0);
  reply->reset(answer);
  return result;
}

Bytes Pattern(std::size_t size, uint32_t seed) {
  Bytes bytes(size);
  std::mt19937 random(seed);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

// Waits for notifications handed over on the client's thread.
struct Inbox {
  std::mutex mu;
  std::condition_variable arrived;
  std::vector<std::pair<uint32_t, Bytes>> events;

  Client::NotificationHandler Handler() {
    return [this](uint32_t subscription, std::unique_ptr<ZEL_BUF_EventBuffer> event) {
      std::lock_guard lock(mu);
      events.emplace_back(subscription,
                          Bytes(event->GetData(), event->GetData() + event->GetSize()));
      arrived.notify_all();
    };
  }
  bool WaitFor(std::size_t count) {
    std::unique_lock lock(mu);
    return arrived.wait_for(lock, milliseconds(3000), [&] { return events.size() >= count; });
  }
};

TEST(TransportTest, RoundTripsOnEveryKindOfAddress) {
  struct Case {
    const char* kind;
    std::string peer;
    bool owner;
  };
  const std::vector<Case> cases = {
      {"unix", "unix:" + CurrentLogin(), true},
      {"tls", "NT:NORTH\\alice", false},
      {"tcp", "", false},
  };
  for (const Case& c : cases) {
    zel::rt::testing::TempFolder folder("zel_transport");
    TestFarm farm(OptionsFor(c.kind, folder.Path()));
    ASSERT_EQ(farm.Start(), 0) << c.kind << ": " << farm.Error();
    Client client(ClientFor(c.kind, farm.Address()));
    ConsoleHost host(client, kHostUID);
    void* store = nullptr;  // the host names the farm's store, never a file
    ASSERT_EQ(host.GetPluginApis()->AcquireInterface(kZelDirectoryStoreInterface, &store), 0);
    EXPECT_EQ(static_cast<ZEL_DIR_StoreLocation*>(store)->StorePath(), "farm:");
    host.GetPluginApis()->ReleaseInterface(kZelDirectoryStoreInterface, store);
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{70000},
                             std::size_t{zel::protocol::kMaxPayload - 64}}) {
      const Bytes payload = Pattern(size, static_cast<uint32_t>(size));
      std::unique_ptr<ZEL_BUF_EventBuffer> reply;
      ASSERT_EQ(Call(host, kEcho, payload, &reply), 0) << c.kind << " " << Client::LastError();
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

TEST(TransportTest, ThreadsShareOneConnectionAndEachGetsItsOwnReply) {
  zel::rt::testing::TempFolder folder("zel_transport");
  TestFarm farm(OptionsFor("unix", folder.Path()));
  ASSERT_EQ(farm.Start(), 0) << farm.Error();
  Client client(ClientFor("unix", farm.Address()));
  std::atomic<int> wrong{0};
  std::set<uint64_t> connections;
  std::mutex mu;
  std::vector<std::thread> threads;
  for (uint16_t t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      ConsoleHost host(client, static_cast<uint16_t>(kHostUID + t));
      for (uint32_t i = 0; i < 200; ++i) {
        const Bytes payload = Pattern(1 + (i * 37) % 3000, t * 1000 + i);
        std::unique_ptr<ZEL_BUF_EventBuffer> reply;
        EchoedCaller echoed;
        if (Call(host, kEcho, payload, &reply) != 0 || !ReadEcho(*reply, &echoed) ||
            echoed.payload != payload || echoed.sourceUID != kHostUID + t) {
          ++wrong;
          continue;
        }
        std::lock_guard lock(mu);
        connections.insert(echoed.connection);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(connections.size(), 1u);  // one multiplexed connection for the process
}

// Callers of one connection read the socket in turns (the one waiting first reads for all).
// The role must move on when its holder has its reply, leaves on its deadline or sees the
// connection end; what it reads for others must reach them (replies to their callers,
// notifications to the client's thread, in the order they were published).
TEST(TransportTest, CallersTakeTurnsReadingTheConnection) {
  struct Case {
    const char* name;
    int callers;
    bool firstTimesOut;  // caller 0 asks for replies slower than its timeout, between others
    bool publish;        // every call also publishes a numbered notification
    bool drop;           // the console drops the connection while calls wait
  };
  const std::vector<Case> cases = {
      {"two callers", 2, false, false, false},
      {"eight callers", 8, false, false, false},
      {"a caller leaves on its deadline while reading", 6, true, false, false},
      {"notifications come while callers read", 4, false, true, false},
      {"the connection is dropped under the callers", 6, false, false, true},
  };
  constexpr int kRounds = 40;
  const auto timeout = milliseconds(400);
  for (const Case& c : cases) {
    zel::rt::testing::TempFolder folder("zel_transport");
    ServerOptions serverOptions = OptionsFor("unix", folder.Path());
    serverOptions.threads = 4;  // a slow request holds one loop thread
    TestFarm farm(serverOptions);
    ASSERT_EQ(farm.Start(), 0) << farm.Error();
    ClientOptions options = ClientFor("unix", farm.Address());
    options.timeout = timeout;
    Client client(options);
    std::mutex mu;
    std::vector<Bytes> notified;
    std::set<std::thread::id> notifiedOn, callers;
    uint32_t subscription = 0;
    ASSERT_EQ(client.Subscribe(
                  {kPublished}, false,
                  [&](uint32_t, std::unique_ptr<ZEL_BUF_EventBuffer> event) {
                    std::lock_guard lock(mu);
                    notified.emplace_back(event->GetData(), event->GetData() + event->GetSize());
                    notifiedOn.insert(std::this_thread::get_id());
                  },
                  &subscription),
              0);
    std::atomic<int> wrong{0}, broken{0}, timedOut{0};
    std::atomic<bool> calling{true};
    std::vector<std::thread> threads;
    for (int t = 0; t < c.callers; ++t) {
      threads.emplace_back([&, t] {
        {
          std::lock_guard lock(mu);
          callers.insert(std::this_thread::get_id());
        }
        ConsoleHost host(client, static_cast<uint16_t>(kHostUID + t));
        for (int i = 0; i < kRounds; ++i) {
          std::unique_ptr<ZEL_BUF_EventBuffer> reply;
          const auto started = Clock::now();
          if (c.firstTimesOut && t == 0 && i % 10 == 0) {
            timedOut += Call(host, kSlow, SlowPayload(600), &reply) == zel::rt::kTimeout;
          } else if (c.drop) {
            const int32_t result = Call(host, kSlow, SlowPayload(10), &reply);
            (result == zel::rt::kConnectionBroken ? broken : wrong) += result != 0;
          } else if (c.publish) {
            wrong += Call(host, kPublish, {static_cast<uint8_t>(t), static_cast<uint8_t>(i)},
                          &reply) != 0;
          } else {
            const Bytes payload = Pattern(1 + (i * 53) % 2000, t * 100 + i);
            EchoedCaller echoed;
            wrong += Call(host, kEcho, payload, &reply) != 0 || !ReadEcho(*reply, &echoed) ||
                     echoed.payload != payload;
          }
          if (Clock::now() - started > timeout + milliseconds(500)) ++wrong;  // never hangs
        }
      });
    }
    std::thread dropper([&] {
      while (c.drop && calling) {
        std::this_thread::sleep_for(milliseconds(15));
        client.Disconnect();
      }
    });
    for (auto& thread : threads) thread.join();
    calling = false;
    dropper.join();
    EXPECT_EQ(wrong.load(), 0) << c.name;
    EXPECT_EQ(timedOut.load(), c.firstTimesOut ? kRounds / 10 : 0) << c.name;
    EXPECT_EQ(broken.load() > 0, c.drop) << c.name;
    // The connection still serves (again, after a drop).
    ConsoleHost host(client, kHostUID);
    std::unique_ptr<ZEL_BUF_EventBuffer> reply;
    EXPECT_EQ(Call(host, kEcho, {1}, &reply), 0) << c.name << " " << Client::LastError();
    if (!c.publish) continue;
    const auto until = Clock::now() + milliseconds(3000);
    while (Clock::now() < until) {
      std::lock_guard lock(mu);
      if (notified.size() >= static_cast<std::size_t>(c.callers * kRounds)) break;
    }
    std::lock_guard lock(mu);
    ASSERT_EQ(notified.size(), static_cast<std::size_t>(c.callers * kRounds)) << c.name;
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
  struct Case {
    const char* name;
    std::string owner;
    bool monitor;
    int32_t subscribed;
  };
  const std::vector<Case> cases = {
      {"named event", "", false, 0},
      {"monitor by the owner", CurrentLogin(), true, 0},
      {"monitor by anyone else", "", true, zel::rt::kRefused},
  };
  for (const Case& c : cases) {
    zel::rt::testing::TempFolder folder("zel_transport");
    ServerOptions options = OptionsFor("unix", folder.Path());
    options.owner = c.owner;
    TestFarm farm(options);
    ASSERT_EQ(farm.Start(), 0) << farm.Error();
    Client client(ClientFor("unix", farm.Address()));
    ConsoleHost host(client, kHostUID);
    Inbox inbox;
    std::atomic<int32_t> fromHandler{1};
    auto handler = [&](uint32_t id, std::unique_ptr<ZEL_BUF_EventBuffer> event) {
      std::unique_ptr<ZEL_BUF_EventBuffer> reply;
      fromHandler = Call(host, kEcho, {1}, &reply);  // would wait for its own thread
      inbox.Handler()(id, std::move(event));
    };
    uint32_t subscription = 0;
    ASSERT_EQ(client.Subscribe({kPublished}, c.monitor, handler, &subscription), c.subscribed)
        << c.name;
    if (c.subscribed != 0) continue;
    std::unique_ptr<ZEL_BUF_EventBuffer> reply;
    ASSERT_EQ(Call(host, kPublish, {1, 2, 3}, &reply), 0) << c.name;
    // A one-way event reaches the subsystem, which publishes it as kPosted: only a monitor
    // asked for that one.
    auto posted = MakeRequest(0x4242, kHostUID, {9});
    ASSERT_EQ(host.DeliverEvent(posted.release(), 0), 0) << c.name;
    // A monitor sees the request, its reply, the post and both notifications, each payload
    // zeroed by a server that has no blanking hook.
    ASSERT_TRUE(inbox.WaitFor(c.monitor ? 5 : 1)) << c.name;
    if (c.monitor) {
      std::multiset<std::size_t> sizes;
      for (const auto& [id, bytes] : inbox.events) {
        sizes.insert(bytes.size());
        EXPECT_EQ(bytes, Bytes(bytes.size(), 0)) << c.name;
      }
      EXPECT_EQ(sizes.count(3), 2u) << c.name;  // the request and kPublished
      EXPECT_EQ(sizes.count(0), 1u) << c.name;  // the empty reply
      EXPECT_EQ(sizes.count(1), 2u) << c.name;  // the post and kPosted
    } else {
      EXPECT_EQ(inbox.events[0], std::make_pair(subscription, Bytes{1, 2, 3})) << c.name;
    }
    EXPECT_EQ(fromHandler.load(), zel::rt::kInvalidArgument) << c.name;
    EXPECT_EQ(client.Unsubscribe(subscription), 0) << c.name;
    EXPECT_EQ(client.Unsubscribe(subscription), zel::rt::kInvalidArgument) << c.name;
  }
}

TEST(TransportTest, SlowMonitorMissesEventsAndIsToldHowMany) {
  // The monitor's thread stays in its first handler until released: the server's queue for it
  // fills while the worker goes on. (Declared first: the clients end before these.)
  std::mutex mu;
  std::condition_variable changed;
  bool released = false;
  uint64_t delivered = 0, dropped = 0;
  zel::rt::testing::TempFolder folder("zel_transport");
  ServerOptions options = OptionsFor("unix", folder.Path());
  options.maxMonitorQueuedBytes = 256u << 10;
  TestFarm farm(options);
  ASSERT_EQ(farm.Start(), 0) << farm.Error();
  ClientOptions monitorOptions = ClientFor("unix", farm.Address());
  monitorOptions.offerDispatcher = false;
  Client monitor(monitorOptions), worker(ClientFor("unix", farm.Address()));
  ConsoleHost host(worker, kHostUID);
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
  auto handler = [&](const MonitoredFrom& from, std::unique_ptr<ZEL_BUF_EventBuffer>) {
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
    std::unique_ptr<ZEL_BUF_EventBuffer> reply;
    ASSERT_EQ(Call(host, kEcho, payload, &reply), 0) << i;  // the server never stalls
  }
  release();
  // Once the queue has room again, the next events carry the count missed before them.
  uint64_t calls = kCalls;
  std::unique_lock lock(mu);
  for (int i = 0; i < 100 && delivered + dropped != 2 * calls; ++i) {
    lock.unlock();
    std::unique_ptr<ZEL_BUF_EventBuffer> reply;
    ASSERT_EQ(Call(host, kEcho, {1}, &reply), 0);
    ++calls;
    lock.lock();
    changed.wait_for(lock, milliseconds(100), [&] { return delivered + dropped == 2 * calls; });
  }
  EXPECT_EQ(delivered + dropped, 2 * calls) << delivered << " delivered";
  EXPECT_GT(dropped, 0u);
  EXPECT_EQ(farm.server().ConnectionCount(), 2u);  // the slow monitor was not dropped
}

TEST(TransportTest, IncompatibleVersionsAreRefusedOnBothEnds) {
  struct Case {
    const char* name;
    uint16_t serverMajor;
    uint16_t clientMajor;
    const char* said;
  };
  const std::vector<Case> cases = {
      {"newer console", 1, 2, "the console speaks protocol 2.1; this server speaks 1.1"},
      {"older console", 2, 1, "the console speaks protocol 1.1; this server speaks 2.1"},
  };
  for (const Case& c : cases) {
    zel::rt::testing::TempFolder folder("zel_transport");
    ServerOptions options = OptionsFor("unix", folder.Path());
    options.protocolMajor = c.serverMajor;
    TestFarm farm(options);
    ASSERT_EQ(farm.Start(), 0) << farm.Error();
    ClientOptions clientOptions = ClientFor("unix", farm.Address());
    clientOptions.protocolMajor = c.clientMajor;
    Client client(clientOptions);
    EXPECT_EQ(client.Connect(), zel::rt::kVersionMismatch) << c.name;
    EXPECT_NE(Client::LastError().find(c.said), std::string::npos) << Client::LastError();
    bool logged = false;
    for (const std::string& line : farm.LogLines()) {
      logged = logged || line.find(c.said) != std::string::npos;
    }
    EXPECT_TRUE(logged) << c.name;
  }
}

TEST(TransportTest, ConsoleRefusesAServerOfAnotherMajorVersion) {
  zel::rt::testing::TempFolder folder("zel_transport");
  const std::string address = "unix:" + folder.File("fake.sock");
  // A server that greets with major version 9, whatever it is told.
  std::thread fake([&] {
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un name{};
    name.sun_family = AF_UNIX;
    std::strncpy(name.sun_path, folder.File("fake.sock").c_str(), sizeof name.sun_path - 1);
    ::bind(listener, reinterpret_cast<const sockaddr*>(&name), sizeof name);
    ::listen(listener, 1);
    const int fd = ::accept(listener, nullptr, nullptr);
    WriteRaw(fd, {0x11, 0, 0, 0, 1, 0x5A, 0x45, 0x4C, 0x46, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    Bytes ignored;
    ReadUntilClosed(fd, 3000, &ignored);
    ::close(fd);
    ::close(listener);
  });
  for (int i = 0; i < 100 && ::access(folder.File("fake.sock").c_str(), F_OK) != 0; ++i) {
    std::this_thread::sleep_for(milliseconds(10));
  }
  Client client(ClientFor("unix", address));
  EXPECT_EQ(client.Connect(), zel::rt::kVersionMismatch);
  EXPECT_NE(Client::LastError().find("the server speaks protocol 9.0; this console speaks 1.1"),
            std::string::npos)
      << Client::LastError();
  client.Disconnect();
  fake.join();
}

TEST(TransportTest, RefusedPeersAndAddresses) {
  const Certificates& certs = Certs();
  struct Case {
    const char* name;
    std::string cert, key, ca;
    const char* said;
  };
  const std::vector<Case> cases = {
      {"no certificate", "", "", certs.ca, ""},
      {"certificate of another authority", certs.otherCert, certs.otherKey, certs.ca, ""},
      {"server unknown to the console", certs.clientCert, certs.clientKey, certs.otherCert, ""},
  };
  zel::rt::testing::TempFolder folder("zel_transport");
  TestFarm farm(OptionsFor("tls", folder.Path()));
  ASSERT_EQ(farm.Start(), 0) << farm.Error();
  for (const Case& c : cases) {
    ClientOptions options = ClientFor("tls", farm.Address());
    options.cert = c.cert;
    options.key = c.key;
    options.ca = c.ca;
    options.offerDispatcher = false;
    Client client(options);
    std::unique_ptr<ZEL_BUF_EventBuffer> reply;
    ConsoleHost host(client, kHostUID);
    EXPECT_EQ(Call(host, kEcho, {1}, &reply), zel::rt::kRefused) << c.name;
  }
  // A valid certificate whose subject the server does not map.
  ServerOptions unmapped = OptionsFor("tls", folder.Path());
  unmapped.certMap.clear();
  TestFarm strict(unmapped);
  ASSERT_EQ(strict.Start(), 0) << strict.Error();
  Client client(ClientFor("tls", strict.Address()));
  EXPECT_EQ(client.Connect(), zel::rt::kRefused);
  EXPECT_NE(Client::LastError().find("is not mapped to an account"), std::string::npos)
      << Client::LastError();

  // Plain TCP without insecure mode: neither end takes it.
  ServerOptions plain;
  plain.listen = {"tcp:127.0.0.1:0"};
  TestFarm refusing(plain);
  EXPECT_EQ(refusing.Start(), zel::rt::kRefused);
  EXPECT_NE(refusing.Error().find("insecure"), std::string::npos);
  ClientOptions tcp = ClientFor("tcp", "tcp:127.0.0.1:1");
  tcp.insecure = false;
  Client tcpClient(tcp);
  EXPECT_EQ(tcpClient.Connect(), zel::rt::kRefused);
}

TEST(TransportTest, LimitsAnswerWithARefusal) {
  zel::rt::testing::TempFolder folder("zel_transport");
  ServerOptions options = OptionsFor("unix", folder.Path());
  options.maxConnections = 1;
  options.maxInFlight = 1;
  TestFarm farm(options);
  ASSERT_EQ(farm.Start(), 0) << farm.Error();
  Client first(ClientFor("unix", farm.Address()));
  ConsoleHost host(first, kHostUID);
  ASSERT_EQ(first.Connect(), 0);

  ClientOptions secondOptions = ClientFor("unix", farm.Address());
  secondOptions.offerDispatcher = false;
  Client second(secondOptions);
  EXPECT_EQ(second.Connect(), zel::rt::kRefused);
  EXPECT_NE(Client::LastError().find("too many connections"), std::string::npos);

  // Two requests at once on a connection that may have one in flight: one is refused at once.
  std::atomic<int> refused{0};
  std::atomic<int> answered{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&] {
      std::unique_ptr<ZEL_BUF_EventBuffer> reply;
      const int32_t result = Call(host, kSlow, SlowPayload(500), &reply);
      (result == zel::rt::kRefused ? refused : answered)++;
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(refused.load(), 1);
  EXPECT_EQ(answered.load(), 1);
}

TEST(TransportTest, TimeoutAndServerGoneAnswerWithinTheTimeout) {
  zel::rt::testing::TempFolder folder("zel_transport");
  TestFarm farm(OptionsFor("unix", folder.Path()));
  ASSERT_EQ(farm.Start(), 0) << farm.Error();
  ClientOptions options = ClientFor("unix", farm.Address());
  options.timeout = milliseconds(300);
  Client client(options);
  ConsoleHost host(client, kHostUID);
  std::unique_ptr<ZEL_BUF_EventBuffer> reply;
  auto started = Clock::now();
  EXPECT_EQ(Call(host, kSlow, SlowPayload(1500), &reply), zel::rt::kTimeout);
  EXPECT_LT(Clock::now() - started, milliseconds(1000));
  // The connection stays: the next call is answered.
  EXPECT_EQ(Call(host, kEcho, {5}, &reply), 0);
  // A handler that throws fails its call only.
  EXPECT_EQ(Call(host, kThrow, {}, &reply), zel::rt::kNotAccepted);
  EXPECT_EQ(Call(host, kEcho, {6}, &reply), 0);

  ClientOptions nowhere = ClientFor("unix", "unix:" + folder.File("nobody.sock"));
  nowhere.offerDispatcher = false;
  Client lost(nowhere);
  started = Clock::now();
  EXPECT_EQ(lost.Connect(), zel::rt::kServerGone);
  EXPECT_LT(Clock::now() - started, milliseconds(1000));
}

// The console closes, or the server drops an idle connection: either way the subsystem hears
// of it, and the console's next call connects again.
TEST(TransportTest, ClosingAConnectionTellsTheSubsystem) {
  for (const bool idle : {false, true}) {
    zel::rt::testing::TempFolder folder("zel_transport");
    ServerOptions options = OptionsFor("unix", folder.Path());
    if (idle) options.idleTimeout = milliseconds(200);
    TestFarm farm(options);
    ASSERT_EQ(farm.Start(), 0) << farm.Error();
    Client client(ClientFor("unix", farm.Address()));
    ConsoleHost host(client, kHostUID);
    std::unique_ptr<ZEL_BUF_EventBuffer> reply;
    ASSERT_EQ(Call(host, kEcho, {}, &reply), 0);
    EchoedCaller echoed;
    ASSERT_TRUE(ReadEcho(*reply, &echoed));
    if (!idle) client.Disconnect();
    bool told = false;
    for (int i = 0; i < 200 && !told; ++i) {
      for (uint64_t closed : farm.ClosedConnections()) told = told || closed == echoed.connection;
      if (!told) std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_TRUE(told) << (idle ? "idle" : "disconnected");
    // The console's thread sees the server's end as the server's hook runs; a call made at
    // that very moment would still find the old connection.
    if (idle) std::this_thread::sleep_for(milliseconds(100));
    ASSERT_EQ(Call(host, kEcho, {}, &reply), 0) << Client::LastError();
    EchoedCaller again;
    ASSERT_TRUE(ReadEcho(*reply, &again));
    EXPECT_NE(again.connection, echoed.connection);
    // A call right after Disconnect returns never goes out on the connection being closed.
    for (int i = 0; i < 20 && !idle; ++i) {
      client.Disconnect();
      ASSERT_EQ(Call(host, kEcho, {}, &reply), 0) << i << ": " << Client::LastError();
    }
  }
}

// A subsystem's post for one connection reaches the console-side host it names there, and
// only that host; a connection that is gone is told apart.
TEST(TransportTest, PostsToAConnectionReachTheHostTheyName) {
  zel::rt::testing::TempFolder folder("zel_transport");
  TestFarm farm(OptionsFor("unix", folder.Path()));
  ASSERT_EQ(farm.Start(), 0) << farm.Error();
  Client client(ClientFor("unix", farm.Address()));
  ConsoleHost named(client, kHostUID), other(client, kHostUID + 1);
  std::mutex mu;
  std::condition_variable arrived;
  std::vector<std::pair<uint16_t, Bytes>> heard;  // (host, payload)
  for (ConsoleHost* host : {&named, &other}) {
    host->SetPostHandler(
        [&, uid = host->GetSubsystemUID()](std::unique_ptr<ZEL_BUF_EventBuffer> e) {
          std::lock_guard lock(mu);
          heard.emplace_back(uid, Bytes(e->GetData(), e->GetData() + e->GetSize()));
          arrived.notify_all();
        });
  }
  std::unique_ptr<ZEL_BUF_EventBuffer> reply;
  ASSERT_EQ(Call(named, kEcho, {}, &reply), 0);
  EchoedCaller echoed;
  ASSERT_TRUE(ReadEcho(*reply, &echoed));

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
    EXPECT_EQ(farm.server().PostTo(cases[i].connection, *event), cases[i].code) << cases[i].what;
  }
  {
    std::unique_lock lock(mu);
    arrived.wait_for(lock, std::chrono::seconds(3), [&] { return !heard.empty(); });
  }
  std::this_thread::sleep_for(milliseconds(100));  // anything else would have come by now
  std::lock_guard lock(mu);
  EXPECT_EQ(heard, (std::vector<std::pair<uint16_t, Bytes>>{{kHostUID, Bytes{1}}}));
}

// Bytes a hostile or broken console sends; each closes its own connection only.
TEST(TransportTest, BadInputClosesOnlyThatConnection) {
  const Bytes hello = {0x11, 0, 0, 0, 1, 0x5A, 0x45, 0x4C, 0x46, 1, 0,
                       0,    0, 0, 0, 0, 0,    0,    0,    0,    0};
  auto after = [&](Bytes more) {
    Bytes stream = hello;
    stream.insert(stream.end(), more.begin(), more.end());
    return stream;
  };
  const uint32_t tooLong = kMaxFrameBody + 1;
  struct Case {
    const char* name;
    Bytes bytes;
    bool closeWriting;
  };
  const std::vector<Case> cases = {
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
  zel::rt::testing::TempFolder folder("zel_transport");
  ServerOptions options = OptionsFor("unix", folder.Path());
  options.readTimeout = milliseconds(300);
  TestFarm farm(options);
  ASSERT_EQ(farm.Start(), 0) << farm.Error();
  Client client(ClientFor("unix", farm.Address()));
  ConsoleHost host(client, kHostUID);
  for (const Case& c : cases) {
    const int fd = ConnectRaw(farm.Address());
    ASSERT_GE(fd, 0) << c.name;
    ASSERT_TRUE(WriteRaw(fd, c.bytes)) << c.name;
    if (c.closeWriting) ::shutdown(fd, SHUT_WR);
    Bytes received;
    EXPECT_TRUE(ReadUntilClosed(fd, 3000, &received)) << c.name << ": the server kept it open";
    ::close(fd);
    std::unique_ptr<ZEL_BUF_EventBuffer> reply;
    EXPECT_EQ(Call(host, kEcho, {1}, &reply), 0) << c.name << ": the others are not served";
  }
  // Only the good console's connection is left.
  for (int i = 0; i < 100 && farm.server().ConnectionCount() != 1; ++i) {
    std::this_thread::sleep_for(milliseconds(10));
  }
  EXPECT_EQ(farm.server().ConnectionCount(), 1u);
}

// A server in a child process, on the socket path given, until it is killed. With a path that
// begins with '!' the process may hold only 32 files (its hard limit, which it cannot raise).
int ServeUntilKilled(const std::string& argument) {
  std::string path = argument;
  if (path.front() == '!') {
    path.erase(0, 1);
    const rlimit few{32, 32};
    if (setrlimit(RLIMIT_NOFILE, &few) != 0) return 2;
  }
  ServerOptions options;
  options.listen = {"unix:" + path};
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

TEST(TransportTest, ServerKilledMidRequestThenBackAgain) {
  zel::rt::testing::TempFolder folder("zel_transport");
  const std::string path = folder.File("farm.sock");
  auto start = [&] {
    auto child = zel::rt::testing::ChildProcess::StartRole("transport-server", path);
    std::string line;
    EXPECT_TRUE(child.ReadLine(&line));
    EXPECT_EQ(line.rfind("ready ", 0), 0u) << line;
    return child;
  };
  ClientOptions options = ClientFor("unix", "unix:" + path);
  options.timeout = milliseconds(3000);
  Client client(options);
  ConsoleHost host(client, kHostUID);
  {
    auto server = start();
    std::unique_ptr<ZEL_BUF_EventBuffer> reply;
    ASSERT_EQ(Call(host, kEcho, {1}, &reply), 0) << Client::LastError();
    std::thread killer([&] {
      std::this_thread::sleep_for(milliseconds(200));
      server.Kill();
    });
    const auto started = Clock::now();
    EXPECT_EQ(Call(host, kSlow, SlowPayload(10000), &reply), zel::rt::kConnectionBroken);
    EXPECT_LT(Clock::now() - started, milliseconds(3000));
    killer.join();
    std::unique_ptr<ZEL_BUF_EventBuffer> none;
    EXPECT_EQ(Call(host, kEcho, {1}, &none), zel::rt::kServerGone);
  }
  auto again = start();
  std::unique_ptr<ZEL_BUF_EventBuffer> reply;
  EXPECT_EQ(Call(host, kEcho, {2}, &reply), 0) << Client::LastError();
  again.Kill();
}

// Processor time (user and system, in clock ticks) a process has used.
long CpuTicks(const std::string& pid) {
  std::ifstream file("/proc/" + pid + "/stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stol(field);  // utime, stime
  }
  return ticks;
}

TEST(TransportTest, RunningOutOfFilesNeitherSpinsNorStops) {
  zel::rt::testing::TempFolder folder("zel_transport");
  const std::string path = folder.File("farm.sock");
  auto server = zel::rt::testing::ChildProcess::StartRole("transport-server", "!" + path);
  std::string line;
  ASSERT_TRUE(server.ReadLine(&line));
  ASSERT_EQ(line.rfind("ready ", 0), 0u) << line;
  const std::string pid = line.substr(6);
  // More connections than the server may hold files: its accepts fail for want of descriptors.
  std::vector<int> flood;
  for (int i = 0; i < 48; ++i) {
    const int fd = ConnectRaw("unix:" + path);
    if (fd >= 0) flood.push_back(fd);
  }
  std::this_thread::sleep_for(milliseconds(200));
  const long before = CpuTicks(pid);
  std::this_thread::sleep_for(milliseconds(1000));
  const long used = CpuTicks(pid) - before;
  EXPECT_LT(used, 20) << "ticks of processor time in one second while out of descriptors";
  for (int fd : flood) ::close(fd);
  ClientOptions options = ClientFor("unix", "unix:" + path);
  options.offerDispatcher = false;
  Client client(options);
  ConsoleHost host(client, kHostUID);
  std::unique_ptr<ZEL_BUF_EventBuffer> reply;
  EXPECT_EQ(Call(host, kEcho, {3}, &reply), 0) << Client::LastError();
  server.Kill();
}

}  // namespace
}  // namespace zel::transport::testing
