// zeladmin end to end over TLS (a console certificate mapped to an account by the server), and
// `monitor`: it shows another console's change decoded, and its requests and replies with the
// secrets blanked, ends cleanly on SIGINT, and is refused to an administrator without the
// privilege.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "test_farm.h"
#include "zeladmin_fixture.h"

namespace {

using namespace zeladmin_testing;
using nlohmann::json;
using zel::transport::testing::Certificates;

// A TCP port nothing listens on just now.
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

TEST_F(ZeladminFarmTest, CommandsOverTlsWithAMappedCertificate) {
  Certificates certs;
  ASSERT_TRUE(zel::transport::testing::MakeCertificates(dir_, &certs));
  const std::string tls = "tls:127.0.0.1:" + std::to_string(FreePort());
  StartFarm(Login(), {"--listen", tls, "--tls-cert", certs.serverCert, "--tls-key", certs.serverKey,
                      "--tls-ca", certs.ca, "--map-cert",
                      std::string(Certificates::kClientSubject) + "=unix:alice"});
  Init();
  ASSERT_EQ(Z({"admins", "add", "alice"}).status, 0);
  ASSERT_EQ(Z({"admins", "privileges", "set", "alice",
               "read-farm,manage-administrators,change-tree,manage-plugins,read-audit"})
                .status,
            0);
  const std::vector<std::string> asAlice{"--farm",         tls,      "--cert",
                                         certs.clientCert, "--key",  certs.clientKey,
                                         "--ca",           certs.ca, "--json"};
  struct Case {
    std::vector<std::string> args;
    std::string key;
    json expected;
  } cases[] = {
      {{"permissions"}, "unrestricted", false},
      {{"folders", "create", "east"}, "dn", "east"},
      {{"plugins", "add", "Disks"}, "name", "Disks"},
      {{"admins", "contact", "set", "alice", "Alice"}, "contact", {"Alice", "", ""}},
      {{"tree", "ls"}, "children", {{{"dn", "east"}}}},
      {{"audit", "--who", "unix:alice"}, "records", nullptr},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = asAlice;
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome run = Z(args);
    ASSERT_EQ(run.status, 0) << c.args[0] << ": " << run.err;
    const json got = json::parse(run.out, nullptr, false);
    if (c.key == "children") {
      EXPECT_EQ(got["children"][0]["dn"], "east") << run.out;
    } else if (c.key == "records") {
      EXPECT_GE(got["records"].size(), 3u) << run.out;  // alice's changes, by her account
    } else {
      EXPECT_EQ(got[c.key], c.expected) << c.args[0] << ": " << run.out;
    }
  }
  // Without a certificate, or with one of another authority, the farm refuses the console.
  const Outcome none = Z({"--farm", tls, "--ca", certs.ca, "admins", "list"});
  EXPECT_EQ(none.status, 3) << none.err;
  EXPECT_EQ(none.err.rfind("zeladmin: 0x8001000C kRefused: connecting to the farm", 0), 0u)
      << none.err;
  const Outcome other = Z({"--farm", tls, "--cert", certs.otherCert, "--key", certs.otherKey,
                           "--ca", certs.ca, "admins", "list"});
  EXPECT_EQ(other.status, 3) << other.err;
}

// A monitor process (text or JSON) writing into files of the test's folder; SIGINT ends it.
struct MonitorProcess {
  pid_t pid = -1;
  std::string out, err;

  MonitorProcess(const std::string& dir, const std::string& farm, bool asJson)
      : out(dir + (asJson ? "/monitor-json.out" : "/monitor-text.out")), err(out + ".err") {
    pid = fork();
    if (pid == 0) {
      freopen(out.c_str(), "w", stdout);
      freopen(err.c_str(), "w", stderr);
      setenv("ZEL_FARM", farm.c_str(), 1);
      if (asJson) {
        execl(ZELADMIN_PATH, ZELADMIN_PATH, "--json", "monitor", "--timeout", "30",
              static_cast<char*>(nullptr));
      } else {
        execl(ZELADMIN_PATH, ZELADMIN_PATH, "monitor", "--timeout", "30",
              static_cast<char*>(nullptr));
      }
      _exit(127);
    }
  }
  static std::string Read(const std::string& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool WaitFor(const std::string& file, const std::string& text) const {
    for (int i = 0; i < 200; ++i) {
      if (Read(file).find(text) != std::string::npos) return true;
      usleep(50 * 1000);
    }
    return false;
  }
  int Stop() {
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
  }
};

TEST_F(ZeladminFarmTest, MonitorShowsAnotherConsolesChangeAndEndsOnSigint) {
  StartFarm(Login());
  Init();
  MonitorProcess monitor(dir_, farm_, true);
  ASSERT_TRUE(monitor.WaitFor(monitor.err, "watching")) << MonitorProcess::Read(monitor.err);
  ASSERT_EQ(Z({"tree", "add", "east", "--title", "East wing"}).status, 0);
  // The monitor prints the notification as it passes; then SIGINT ends it cleanly.
  json seen;
  for (int i = 0; i < 200 && seen.is_null(); ++i) {
    std::istringstream lines(MonitorProcess::Read(monitor.out));
    for (std::string line; std::getline(lines, line);) {
      const json event = json::parse(line, nullptr, false);
      if (event.is_object() && event["event"] == 81) seen = event;
    }
    if (seen.is_null()) usleep(50 * 1000);
  }
  const int status = monitor.Stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << status << MonitorProcess::Read(monitor.err);
  ASSERT_TRUE(seen.is_object()) << MonitorProcess::Read(monitor.out);
  EXPECT_EQ(seen["parsed"], true) << seen.dump();
  EXPECT_EQ(seen["fields"]["sections[0].items[0].title"], "\"East wing\"") << seen.dump();

  // An administrator without the monitor privilege is refused.
  ASSERT_EQ(Z({"admins", "add", Login()}).status, 0);
  ASSERT_EQ(Z({"admins", "privileges", "set", Login(), "read-farm"}).status, 0);
  StartFarm("someone-else");
  const Outcome refused = Z({"monitor", "--count", "1", "--timeout", "5"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err.rfind("zeladmin: 0x8001000C kRefused: subscribing to every event", 0), 0u)
      << refused.err;
}

TEST_F(ZeladminFarmTest, MonitorShowsRequestsAndRepliesWithTheSecretsBlanked) {
  StartFarm(Login());
  Init();
  std::ofstream(dir_ + "/pw3") << "Zebra-Quartz-77\n";
  const std::vector<std::string> secretForms = {"Zebra-Quartz-77", "5a656272612d51756172747a2d3737",
                                                "5A656272612D51756172747A2D3737"};
  MonitorProcess text(dir_, farm_, false), asJson(dir_, farm_, true);
  ASSERT_TRUE(text.WaitFor(text.err, "watching")) << MonitorProcess::Read(text.err);
  ASSERT_TRUE(asJson.WaitFor(asJson.err, "watching")) << MonitorProcess::Read(asJson.err);
  ASSERT_EQ(Z({"admins", "password", "first", "--password-file", dir_ + "/pw3"}).status, 0);
  // The request and its reply, paired by request ID.
  json request, reply;
  for (int i = 0; i < 200 && !(request.is_object() && reply.is_object()); ++i) {
    std::istringstream lines(MonitorProcess::Read(asJson.out));
    for (std::string line; std::getline(lines, line);) {
      const json event = json::parse(line, nullptr, false);
      if (!event.is_object() || event["event"] != 1005) continue;
      (event["monitored"]["flow"] == "request" ? request : reply) = event;
    }
    if (!reply.is_object()) usleep(50 * 1000);
  }
  ASSERT_TRUE(text.WaitFor(text.out, "SetCredential (1005) reply"));
  EXPECT_EQ(text.Stop(), 0);
  EXPECT_EQ(asJson.Stop(), 0);
  ASSERT_TRUE(request.is_object() && reply.is_object()) << MonitorProcess::Read(asJson.out);
  EXPECT_EQ(request["fields"]["newPassword"], "(secret)") << request.dump();
  EXPECT_EQ(request["monitored"]["peer"], "unix:" + Login()) << request.dump();
  EXPECT_NE(request["monitored"]["connection"], 0) << request.dump();
  EXPECT_EQ(reply["monitored"]["requestID"], request["monitored"]["requestID"]) << reply.dump();
  EXPECT_EQ(reply["direction"], "reply");
  EXPECT_EQ(reply["fields"]["result"], "0") << reply.dump();
  const std::string textOut = MonitorProcess::Read(text.out);
  EXPECT_NE(textOut.find("newPassword = (secret)"), std::string::npos) << textOut;
  for (const std::string& output : {MonitorProcess::Read(asJson.out), textOut}) {
    for (const std::string& secret : secretForms) {
      EXPECT_EQ(output.find(secret), std::string::npos) << secret << " in\n" << output;
    }
  }
  // The farm really took the new password: the secret was blanked on the way, not lost.
  std::ofstream(dir_ + "/wrong") << "not it\n";
  EXPECT_EQ(Z({"logon", "first", "--password-file", dir_ + "/pw3"}).status, 0);
  EXPECT_NE(Z({"logon", "first", "--password-file", dir_ + "/wrong"}).status, 0);
}

}  // namespace
