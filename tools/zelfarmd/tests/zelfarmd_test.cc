// zelfarmd as a process: its configuration checks, the subsystem through the library over the
// Unix socket and TLS, who is refused, signals, and a load that the server's death interrupts.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../../../sdk/transport/tests/test_farm.h"
#include "gtest/gtest.h"
#include "server_process.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/protocol/audit.h"
#include "zel/protocol/folders.h"
#include "zel/runtime/codes.h"
#include "zel/subsystem/codes.h"
#include "zel/subsystem/privileges.h"
#include "zel/transport/console_host.h"

namespace zel::farm::testing {
namespace {

using namespace std::chrono_literals;
namespace proto = zel::protocol;
using zel::transport::testing::CurrentLogin;

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// Creates a folder; its result and *uid.
int32_t CreateFolder(zel::transport::Client& client, uint16_t uid, const std::u16string& name,
                     uint64_t* folder) {
  std::unique_ptr<ZEL_BUF_EventBuffer> reply;
  const int32_t result = Call(client, uid, proto::CreateFolderRequest{0, name.c_str()}, &reply);
  if (result == 0 && reply->GetSize() >= 12) std::memcpy(folder, reply->GetData() + 4, 8);
  return result;
}

// Adds administrator AUTHORITY:NAME with `privileges` through the library of console `host`.
int32_t AddAdmin(zel::transport::ConsoleHost& host, const char16_t* authority, const char16_t* name,
                 std::vector<zel::subsystem::Privilege> privileges = {}) {
  ZEL_AdminToolSAL6 sal(host);
  ZEL_ADMIN_USERINFO record[1];
  record[0].accountName = name;
  record[0].accountAuthority = authority;
  for (const auto privilege : privileges) record[0].AddOnePriv(static_cast<uint32_t>(privilege));
  return static_cast<AdminToolInterface2&>(sal).AddUsers2(1, record);
}

TEST(ZelfarmdTest, CheckConfigAnswersEachFileAndCommandLine) {
  const std::string farm = "store = DIR/s.db\nlisten = unix:DIR/f\n";
  const std::string ldap = "store = ldap://127.0.0.1:1/o=farm";
  const struct {
    std::string file;  // "-" for none, "?" for one that cannot be read; DIR: the test's folder
    std::string args;  // separated by spaces
    int exit;
    const char* says;
  } cases[] = {
      {"# a farm\n\nstore = sqlite:DIR/s.db\nlisten = unix:DIR/f.sock\nowner = root\n"
       "pwhash-limits = min\nserver-id = 7\nmap-cert = CN=a,O=N=NT:N\\a\n",
       "", 0, "configuration ok"},
      {"colour = blue\n", "", 2, "unknown key 'colour'"},
      {"store sqlite:x\n", "", 2, "expected key = value"},
      {"store = a\nstore = b\n", "", 2, "'store' given twice"},
      {"listen = unix:DIR/f.sock\n", "", 2, "store: none given"},
      {"store = DIR/s.db\n", "", 2, "listen: no address given"},
      {"store = DIR/s.db\nlisten = tcp:127.0.0.1:0\n", "", 2, "needs insecure"},
      {"store = DIR/s.db\nlisten = tcp:127.0.0.1:0\ninsecure = true\n", "", 0, "configuration ok"},
      {"store = DIR/s.db\nlisten = tls:127.0.0.1:0\n", "", 2, "tls-cert"},
      {"store = DIR/s.db\nlisten = udp:1\n", "", 2, "listen: udp:1"},
      {farm + "pwhash-limits = fast\n", "", 2, "pwhash-limits"},
      {farm + "map-cert = CN\n", "", 2, "map-cert"},
      {farm + "server-id = 1x\n", "", 2, "server-id"},
      {farm + "keys = DIR/none\n", "", 2, "keys:"},
      {"store = farm:\nlisten = unix:DIR/f\n", "", 2, "store: farm:"},
      {ldap + "\nlisten = unix:DIR/f\nserver-id = 4096\n", "", 2, "takes 0 to 4095"},
      {ldap + "????x-server-id=3\nlisten = unix:DIR/f\nserver-id = 4\n", "", 2,
       "x-server-id=3 differs from server-id 4"},
      {ldap + "????x-server-id=4\nlisten = unix:DIR/f\nserver-id = 4\n", "", 0, "configuration ok"},
      {"store = DIR/s.db\nlisten = tcp:127.0.0.1:0\n", "--listen unix:DIR/f", 0,
       "configuration ok"},  // the command line wins
      {"-", "--store DIR/s.db --listen unix:DIR/f", 0, "configuration ok"},
      {"?", "", 2, "cannot be read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file + c.args);
    TempFolder dir;
    std::vector<std::string> args{"--check-config"};
    if (c.file == "?") {
      args.insert(args.end(), {"--config", dir.Path() + "/missing.conf"});
    } else if (c.file != "-") {
      WriteFile(dir.Path() + "/farm.conf", Replace(c.file, "DIR", dir.Path()));
      args.insert(args.end(), {"--config", dir.Path() + "/farm.conf"});
    }
    std::istringstream words(Replace(c.args, "DIR", dir.Path()));
    for (std::string arg; words >> arg;) args.push_back(arg);
    std::string output;
    EXPECT_EQ(RunToEnd(args, &output), c.exit) << output;
    EXPECT_NE(output.find(c.says), std::string::npos) << output;
  }
}

// The owner over the Unix socket adds an administrator for a TLS console's account; that
// console works over TLS by its certificate, within its privileges; a certificate of another
// authority is refused. (The transport's tests refuse the other certificates and plain TCP.)
TEST(ZelfarmdTest, LibraryOverUnixSocketAndTls) {
  TempFolder dir;
  zel::transport::testing::Certificates certs;
  ASSERT_TRUE(zel::transport::testing::MakeCertificates(dir.Path(), &certs));
  const std::string socket = dir.Path() + "/f.sock";
  const std::string tls = "tls:127.0.0.1:" + std::to_string(20000 + ::getpid() % 20000);
  ServerProcess server(
      dir.Path(), {"--store", "sqlite:" + dir.Path() + "/s.db", "--listen", "unix:" + socket,
                   "--listen", tls, "--tls-cert", certs.serverCert, "--tls-key", certs.serverKey,
                   "--tls-ca", certs.ca, "--map-cert", "CN=alice,O=North=NT:NORTH\\alice",
                   "--owner", CurrentLogin(), "--pwhash-limits", "min"});
  ASSERT_TRUE(server.Start(socket)) << server.Log();

  zel::transport::Client owner(UnixClient(socket, true));
  zel::transport::ConsoleHost ownerHost(owner, 50);
  ASSERT_EQ(
      AddAdmin(ownerHost, u"NT", u"NORTH\\alice",
               {zel::subsystem::Privilege::kReadFarm, zel::subsystem::Privilege::kChangeTree}),
      0);

  zel::transport::ClientOptions tlsOptions;
  tlsOptions.address = tls;
  tlsOptions.timeout = 3000ms;
  tlsOptions.offerDispatcher = false;
  tlsOptions.ca = certs.ca;
  tlsOptions.cert = certs.clientCert;
  tlsOptions.key = certs.clientKey;
  zel::transport::Client aliceClient(tlsOptions);
  uint64_t folder = 0;
  EXPECT_EQ(CreateFolder(aliceClient, 60, u"AlicesFolder", &folder), 0);
  EXPECT_NE(folder, 0u);
  zel::transport::ConsoleHost aliceHost(aliceClient, 60);
  EXPECT_EQ(AddAdmin(aliceHost, u"unix", u"bob"), zel::subsystem::kAccessDenied);

  tlsOptions.cert = certs.otherCert;
  tlsOptions.key = certs.otherKey;
  zel::transport::Client stranger(tlsOptions);
  EXPECT_EQ(CreateFolder(stranger, 61, u"Strangers", &folder), zel::rt::kRefused);
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(10s), 0) << server.Log();
}

// A Unix peer that is neither the owner nor an administrator changes nothing.
TEST(ZelfarmdTest, UnixPeerWithoutAdministratorIsRefused) {
  TempFolder dir;
  const std::string socket = dir.Path() + "/f.sock";
  ServerProcess server(dir.Path(), {"--store", dir.Path() + "/s.db", "--listen", "unix:" + socket,
                                    "--owner", "somebody-else", "--pwhash-limits", "min"});
  ASSERT_TRUE(server.Start(socket)) << server.Log();
  zel::transport::Client client(UnixClient(socket, true));
  zel::transport::ConsoleHost host(client, 50);
  EXPECT_EQ(AddAdmin(host, u"unix", u"mallory"), zel::subsystem::kAccessDenied);
  uint64_t folder = 0;
  EXPECT_EQ(CreateFolder(client, 50, u"Mine", &folder), zel::subsystem::kAccessDenied);
}

TEST(ZelfarmdTest, SigtermStopsAndSighupReloads) {
  TempFolder dir;
  const std::string config = dir.Path() + "/farm.conf";
  const std::string first = dir.Path() + "/a.sock", second = dir.Path() + "/b.sock";
  WriteFile(config, "store = " + dir.Path() + "/s.db\nlisten = unix:" + first + "\n");
  ServerProcess server(dir.Path(), {"--config", config});
  ASSERT_TRUE(server.Start(first)) << server.Log();

  // A new address in the file: after SIGHUP the server listens there and no more at the old.
  WriteFile(config, "store = " + dir.Path() + "/s.db\nlisten = unix:" + second + "\n");
  server.Signal(SIGHUP);
  for (int i = 0; i < 500 && !Answers(second); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(Answers(second)) << server.Log();
  EXPECT_FALSE(Answers(first));
  // A file that does not read: the running configuration stays.
  WriteFile(config, "colour = blue\n");
  server.Signal(SIGHUP);
  for (int i = 0; i < 500 && server.Log().find("reload refused") == std::string::npos; ++i) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_NE(server.Log().find("reload refused"), std::string::npos) << server.Log();
  EXPECT_TRUE(Answers(second));

  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(10s), 0) << server.Log();
  EXPECT_FALSE(std::filesystem::exists(second));
  EXPECT_NE(server.Log().find("stopped"), std::string::npos);
}

// Socket activation: systemd-socket-activate listens and starts zelfarmd at the first console,
// handing the socket over; the same unix: address in the configuration is served by it.
TEST(ZelfarmdTest, ServesASocketHandedOver) {
  TempFolder dir;
  const std::string socket = dir.Path() + "/f.sock";
  ServerProcess server(dir.Path(),
                       {"-l", socket, ZELFARMD_PATH, "--store", dir.Path() + "/s.db", "--listen",
                        "unix:" + socket, "--owner", CurrentLogin(), "--pwhash-limits", "min"},
                       "/usr/bin/systemd-socket-activate");
  ASSERT_TRUE(server.Start(socket)) << server.Log();
  zel::transport::Client client(UnixClient(socket));
  uint64_t folder = 0;
  EXPECT_EQ(CreateFolder(client, 50, u"Activated", &folder), 0) << server.Log();
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(10s), 0) << server.Log();
}

// 16 consoles send a mix of writes (folders) and reads (the audit's first record); the
// server dies by kill -9 in the second round. Every call answers 0 or a code of the
// transport within its timeout; after a restart every folder answered as made is there.
TEST(ZelfarmdTest, LoadSurvivesKillOfTheServer) {
  const char* env = std::getenv("ZEL_FARM_LOAD_REQUESTS");
  const int perConsole = env != nullptr ? std::atoi(env) : 20;
  TempFolder dir;
  const std::string socket = dir.Path() + "/f.sock", store = dir.Path() + "/s.db";
  const std::vector<std::string> args{"--store",         store,     "--listen",
                                      "unix:" + socket,  "--owner", CurrentLogin(),
                                      "--pwhash-limits", "min"};
  auto server = std::make_unique<ServerProcess>(dir.Path(), args);
  ASSERT_TRUE(server->Start(socket)) << server->Log();

  constexpr int kConsoles = 16;
  std::vector<std::unique_ptr<zel::transport::Client>> clients;
  for (int i = 0; i < kConsoles; ++i) {
    clients.push_back(std::make_unique<zel::transport::Client>(UnixClient(socket)));
  }
  std::mutex mu;
  std::vector<std::pair<uint16_t, uint64_t>> written;  // (console UID, folder)
  std::vector<std::string> failures;
  auto run = [&](int round, bool killed) {
    std::vector<std::thread> threads;
    for (int c = 0; c < kConsoles; ++c) {
      threads.emplace_back([&, c] {
        const auto uid = static_cast<uint16_t>(100 + c);
        for (int i = 0; i < perConsole; ++i) {
          const auto started = std::chrono::steady_clock::now();
          int32_t result = 0;
          uint64_t folder = 0;
          if (i % 2 == 0) {
            const std::string name =
                "f" + std::to_string(round) + "_" + std::to_string(c) + "_" + std::to_string(i);
            result =
                CreateFolder(*clients[c], uid, std::u16string(name.begin(), name.end()), &folder);
          } else {
            proto::AuditQueryRequest query;
            query.maxCount = 1;
            result = Call(*clients[c], uid, query);
          }
          const auto took = std::chrono::steady_clock::now() - started;
          std::lock_guard lock(mu);
          if (result == 0 && folder != 0) written.emplace_back(uid, folder);
          const bool clear =
              result == 0 ||
              (killed && (result == zel::rt::kConnectionBroken || result == zel::rt::kServerGone ||
                          result == zel::rt::kTimeout || result == zel::rt::kRefused));
          if (!clear || took > 4s) {
            failures.push_back("console " + std::to_string(c) + " call " + std::to_string(i) +
                               ": " + std::to_string(result));
          }
        }
      });
    }
    if (killed) {
      std::this_thread::sleep_for(100ms);
      server->Signal(SIGKILL);
      server->Wait(5s);
    }
    for (std::thread& thread : threads) thread.join();
  };
  run(1, false);
  EXPECT_TRUE(failures.empty()) << failures.front();
  EXPECT_EQ(written.size(), static_cast<std::size_t>(kConsoles * ((perConsole + 1) / 2)));
  run(2, true);
  EXPECT_TRUE(failures.empty()) << failures.front();

  server = std::make_unique<ServerProcess>(dir.Path(), args);
  ASSERT_TRUE(server->Start(socket)) << server->Log();
  // A folder that exists can be renamed; one that does not cannot.
  for (const auto& [uid, folder] : written) {
    const std::string name = "r" + std::to_string(folder);
    const int32_t renamed = Call(
        *clients[uid - 100], uid,
        proto::RenameFolderRequest{folder, ZELString(std::u16string(name.begin(), name.end()))});
    EXPECT_EQ(renamed, 0) << "folder " << folder;
  }
  server->Signal(SIGTERM);
  EXPECT_EQ(server->Wait(10s), 0) << server->Log();
  EXPECT_EQ(IntegrityCheck(store), "ok");
}

// The resident memory of process `pid` in bytes (0 when it cannot be read).
std::size_t ResidentBytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stoul(line.substr(6)) * 1024;
  }
  return 0;
}

// A console killed mid-request, then thousands of connections opened at once that never greet:
// the server refuses those past its limit, keeps serving the console it had, stays within bounded
// memory, refuses a new console clearly while full and serves new consoles once the crowd is gone.
TEST(ZelfarmdTest, ThousandsOfConnectionsAtOnce) {
  TempFolder dir;
  const std::string socket = dir.Path() + "/f.sock";
  ServerProcess server(dir.Path(), {"--store", dir.Path() + "/s.db", "--listen", "unix:" + socket,
                                    "--owner", CurrentLogin(), "--pwhash-limits", "min"});
  ASSERT_TRUE(server.Start(socket)) << server.Log();
  // First a console process killed in the middle of its requests: it disturbs nothing.
  const pid_t console = ::fork();
  if (console == 0) {
    zel::transport::Client client(UnixClient(socket));
    uint64_t folder = 0;
    for (int i = 0;; ++i)
      CreateFolder(client, 70, u"c" + std::u16string(1, u'a' + i % 26), &folder);
  }
  std::this_thread::sleep_for(300ms);
  ::kill(console, SIGKILL);
  int status = 0;
  ::waitpid(console, &status, 0);
  zel::transport::Client early(UnixClient(socket));
  uint64_t folder = 0;
  ASSERT_EQ(CreateFolder(early, 50, u"Before", &folder), 0);
  const std::size_t before = ResidentBytes(server.Pid());

  constexpr int kCrowd = 3000;  // past the server's default limit of 1,024
  std::vector<int> crowd;
  for (int i = 0; i < kCrowd; ++i) {
    const int fd = zel::transport::testing::ConnectRaw("unix:" + socket);
    if (fd >= 0) crowd.push_back(fd);
  }
  EXPECT_EQ(crowd.size(), static_cast<std::size_t>(kCrowd));
  EXPECT_EQ(CreateFolder(early, 50, u"During", &folder), 0);
  zel::transport::Client late(UnixClient(socket));
  EXPECT_EQ(CreateFolder(late, 51, u"Late", &folder), zel::rt::kRefused);
  const std::size_t during = ResidentBytes(server.Pid());
  EXPECT_LT(during, before + (64u << 20)) << before << " bytes before, " << during << " during";

  for (const int fd : crowd) ::close(fd);
  int32_t after = zel::rt::kRefused;
  for (int i = 0; i < 50 && after != 0; ++i) {
    after = CreateFolder(late, 51, u"After", &folder);
    if (after != 0) std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(after, 0);
  server.Signal(SIGTERM);
  EXPECT_EQ(server.Wait(10s), 0) << server.Log();
}

}  // namespace
}  // namespace zel::farm::testing
