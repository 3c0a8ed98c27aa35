// zelfarmd as a process: its configuration checks, who is refused, signals, a socket handed
// over, a load that the server's death interrupts, and a crowd of connections.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
#include "zel/transport/console_host.h"

namespace zel::farm::testing {
namespace {

namespace proto = zel::protocol;
using zel::transport::testing::CurrentLogin;

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// Creates a folder; its result and *folder.
int32_t CreateFolder(zel::transport::Client& client, uint16_t uid, const std::string& name,
                     uint64_t* folder = nullptr) {
  std::unique_ptr<ZEL_BUF_EventBuffer> reply;
  const std::u16string wide(name.begin(), name.end());
  const int32_t result = Call(client, uid, proto::CreateFolderRequest{0, wide.c_str()}, &reply);
  if (result == 0 && folder != nullptr && reply->GetSize() >= 12) {
    std::memcpy(folder, reply->GetData() + 4, 8);
  }
  return result;
}

// The arguments of a server on a SQLite store in `dir` owned by this process's user, serving the
// Unix socket `socket`.
std::vector<std::string> Serving(const TempFolder& dir, const std::string& socket) {
  return {"--store", dir.File("s.db"), "--listen",        "unix:" + socket,
          "--owner", CurrentLogin(),   "--pwhash-limits", "min"};
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
    std::vector<std::string> argv{ZELFARMD_PATH, "--check-config"};
    if (c.file != "-") argv.insert(argv.end(), {"--config", dir.File("farm.conf")});
    if (c.file != "?" && c.file != "-") {
      std::ofstream(dir.File("farm.conf")) << Replace(c.file, "DIR", dir.Path());
    }
    std::istringstream words(Replace(c.args, "DIR", dir.Path()));
    for (std::string arg; words >> arg;) argv.push_back(arg);
    const Outcome run = RunToEnd(argv);
    EXPECT_EQ(run.status, c.exit) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find(c.says), std::string::npos) << run.out << run.err;
  }
}

// A Unix peer that is neither the owner nor an administrator changes nothing. (The console
// tool's tests refuse certificates of another authority and administrators without a privilege.)
TEST(ZelfarmdTest, UnixPeerWithoutAdministratorIsRefused) {
  TempFolder dir;
  const std::string socket = dir.File("f.sock");
  std::vector<std::string> args = Serving(dir, socket);
  args[5] = "somebody-else";  // the owner
  const auto server = StartServer(dir.Path(), args, socket);
  ASSERT_TRUE(server);
  zel::transport::Client client(UnixClient(socket, true));
  zel::transport::ConsoleHost host(client, 50);
  ZEL_AdminToolSAL6 sal(host);
  ZEL_ADMIN_USERINFO record[1];
  record[0].accountName = u"mallory";
  record[0].accountAuthority = u"unix";
  EXPECT_EQ(static_cast<AdminToolInterface2&>(sal).AddUsers2(1, record),
            zel::subsystem::kAccessDenied);
  EXPECT_EQ(CreateFolder(client, 50, "Mine"), zel::subsystem::kAccessDenied);
}

TEST(ZelfarmdTest, SigtermStopsAndSighupReloads) {
  TempFolder dir;
  const std::string config = dir.File("farm.conf"), first = dir.File("a"), second = dir.File("b");
  std::ofstream(config) << "store = " << dir.File("s.db") << "\nlisten = unix:" << first << "\n";
  const auto server = StartServer(dir.Path(), {"--config", config}, first);
  ASSERT_TRUE(server);
  // A new address in the file: after SIGHUP the server listens there and no more at the old.
  std::ofstream(config) << "store = " << dir.File("s.db") << "\nlisten = unix:" << second << "\n";
  server->Signal(SIGHUP);
  EXPECT_TRUE(Eventually([&] { return Answers(second); }));
  EXPECT_FALSE(Answers(first));
  // A file that does not read: the running configuration stays.
  std::ofstream(config) << "colour = blue\n";
  server->Signal(SIGHUP);
  const std::string log = dir.File("zelfarmd.log");
  EXPECT_TRUE(
      Eventually([&] { return ReadFile(log).find("reload refused") != std::string::npos; }));
  EXPECT_TRUE(Answers(second));

  server->Signal(SIGTERM);
  EXPECT_EQ(server->Wait(), 0) << ReadFile(log);
  EXPECT_FALSE(std::filesystem::exists(second));
  EXPECT_NE(ReadFile(log).find("stopped"), std::string::npos);
}

// Socket activation: systemd-socket-activate listens and starts zelfarmd at the first console,
// handing the socket over; the same unix: address in the configuration is served by it.
TEST(ZelfarmdTest, ServesASocketHandedOver) {
  TempFolder dir;
  const std::string socket = dir.File("f.sock");
  std::vector<std::string> argv{"/usr/bin/systemd-socket-activate", "-l", socket, ZELFARMD_PATH};
  for (const std::string& arg : Serving(dir, socket)) argv.push_back(arg);
  Process activator(argv, dir.File("zelfarmd.log"));
  ASSERT_TRUE(Eventually([&] { return Answers(socket); }));
  zel::transport::Client client(UnixClient(socket));
  EXPECT_EQ(CreateFolder(client, 50, "Activated"), 0) << ReadFile(dir.File("zelfarmd.log"));
  activator.Signal(SIGTERM);
  EXPECT_EQ(activator.Wait(), 0);
}

// 16 consoles send a mix of writes (folders) and reads (the audit's first record); the
// server dies by kill -9 in the second round. Every call answers 0 or a code of the
// transport within its timeout; after a restart every folder answered as made is there.
TEST(ZelfarmdTest, LoadSurvivesKillOfTheServer) {
  const char* env = std::getenv("ZEL_FARM_LOAD_REQUESTS");
  const int perConsole = env != nullptr ? std::atoi(env) : 20;
  TempFolder dir;
  const std::string socket = dir.File("f.sock");
  auto server = StartServer(dir.Path(), Serving(dir, socket), socket);
  ASSERT_TRUE(server);

  constexpr int kConsoles = 16;
  std::vector<std::unique_ptr<zel::transport::Client>> clients;
  for (int i = 0; i < kConsoles; ++i) {
    clients.push_back(std::make_unique<zel::transport::Client>(UnixClient(socket)));
  }
  std::mutex mu;
  std::vector<std::pair<uint16_t, uint64_t>> written;  // (console UID, folder)
  std::vector<std::string> failures;
  proto::AuditQueryRequest oneAuditRecord;
  oneAuditRecord.maxCount = 1;
  auto run = [&](int round, bool killed) {
    std::vector<std::thread> threads;
    for (int c = 0; c < kConsoles; ++c) {
      threads.emplace_back([&, c] {
        const auto uid = static_cast<uint16_t>(100 + c);
        for (int i = 0; i < perConsole; ++i) {
          const auto started = std::chrono::steady_clock::now();
          uint64_t folder = 0;
          const std::string name = "f" + std::to_string(round) + "_" + std::to_string(c * 1000 + i);
          const int32_t result = i % 2 == 0 ? CreateFolder(*clients[c], uid, name, &folder)
                                            : Call(*clients[c], uid, oneAuditRecord);
          const auto took = std::chrono::steady_clock::now() - started;
          std::lock_guard lock(mu);
          if (result == 0 && folder != 0) written.emplace_back(uid, folder);
          const bool clear =
              result == 0 ||
              (killed && (result == zel::rt::kConnectionBroken || result == zel::rt::kServerGone ||
                          result == zel::rt::kTimeout || result == zel::rt::kRefused));
          if (!clear || took > 4s) {
            failures.push_back("console " + std::to_string(c) + ": " + std::to_string(result));
          }
        }
      });
    }
    if (killed) {
      std::this_thread::sleep_for(100ms);
      server->Signal(SIGKILL);
      server->Wait();
    }
    for (std::thread& thread : threads) thread.join();
  };
  run(1, false);
  EXPECT_TRUE(failures.empty()) << failures.front();
  EXPECT_EQ(written.size(), static_cast<std::size_t>(kConsoles * ((perConsole + 1) / 2)));
  run(2, true);
  EXPECT_TRUE(failures.empty()) << failures.front();

  server = StartServer(dir.Path(), Serving(dir, socket), socket);
  ASSERT_TRUE(server);
  // A folder that exists can be renamed; one that does not cannot.
  for (const auto& [uid, folder] : written) {
    const std::string name = "r" + std::to_string(folder);
    const ZELString wide(std::u16string(name.begin(), name.end()));
    EXPECT_EQ(Call(*clients[uid - 100], uid, proto::RenameFolderRequest{folder, wide}), 0) << name;
  }
  server->Signal(SIGTERM);
  EXPECT_EQ(server->Wait(), 0);
  EXPECT_EQ(IntegrityCheck(dir.File("s.db")), "ok");
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
  const std::string socket = dir.File("f.sock");
  const auto server = StartServer(dir.Path(), Serving(dir, socket), socket);
  ASSERT_TRUE(server);
  const pid_t console = ::fork();
  if (console == 0) {
    zel::transport::Client client(UnixClient(socket));
    for (int i = 0;; ++i) CreateFolder(client, 70, "c" + std::to_string(i));
  }
  std::this_thread::sleep_for(300ms);
  ::kill(console, SIGKILL);
  ::waitpid(console, nullptr, 0);
  zel::transport::Client early(UnixClient(socket));
  ASSERT_EQ(CreateFolder(early, 50, "Before"), 0);
  const std::size_t before = ResidentBytes(server->Pid());

  constexpr int kCrowd = 3000;  // past the server's default limit of 1,024
  std::vector<int> crowd;
  for (int i = 0; i < kCrowd; ++i) {
    const int fd = zel::transport::testing::ConnectRaw("unix:" + socket);
    if (fd >= 0) crowd.push_back(fd);
  }
  EXPECT_EQ(crowd.size(), static_cast<std::size_t>(kCrowd));
  EXPECT_EQ(CreateFolder(early, 50, "During"), 0);
  zel::transport::Client late(UnixClient(socket));
  EXPECT_EQ(CreateFolder(late, 51, "Late"), zel::rt::kRefused);
  const std::size_t during = ResidentBytes(server->Pid());
  EXPECT_LT(during, before + (64u << 20)) << before << " bytes before, " << during << " during";

  for (const int fd : crowd) ::close(fd);
  EXPECT_TRUE(Eventually([&] { return CreateFolder(late, 51, "After") == 0; }, 5s));
  server->Signal(SIGTERM);
  EXPECT_EQ(server->Wait(), 0);
}

}  // namespace
}  // namespace zel::farm::testing
