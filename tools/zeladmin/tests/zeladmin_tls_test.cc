// zeladmin end to end over TLS (a console certificate mapped to an account by the server), and
// `monitor`: it shows another console's change decoded, and its requests and replies with the
// secrets blanked, ends cleanly on SIGINT, and is refused to an administrator without the
// privilege.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "test_farm.h"
#include "zeladmin_fixture.h"

namespace {

using namespace zeladmin_testing;
using zel::transport::testing::Certificates;

TEST_F(ZeladminFarmTest, CommandsOverTlsWithAMappedCertificate) {
  Certificates certs;
  ASSERT_TRUE(zel::transport::testing::MakeCertificates(dir_, &certs));
  const std::string tls = "tls:127.0.0.1:" + std::to_string(zel::dir::testing::Slapd::FreePort());
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
  const struct {
    std::vector<std::string> args;
    const char* field;  // a JSON pointer into the reply
    json expected;
  } cases[] = {
      {{"permissions"}, "/unrestricted", false},
      {{"folders", "create", "east"}, "/dn", "east"},
      {{"plugins", "add", "Disks"}, "/name", "Disks"},
      {{"admins", "contact", "set", "alice", "Alice"}, "/contact", {"Alice", "", ""}},
      {{"tree", "ls"}, "/children/0/dn", "east"},
      {{"audit", "--who", "unix:alice"}, "/records/2/actor", "unix:alice"},  // her 3 changes
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = asAlice;
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome run = Z(args);
    ASSERT_EQ(run.status, 0) << c.args[0] << ": " << run.err;
    const json got = json::parse(run.out, nullptr, false);
    EXPECT_EQ(got.value(json::json_pointer(c.field), json()), c.expected) << run.out;
  }
  // Her certificate makes her alice, not the owner: the password hashes are not hers.
  std::vector<std::string> hashes = asAlice;
  hashes.insert(hashes.end(), {"export", dir_ + "/hashes.json", "--include-secrets"});
  EXPECT_EQ(Z(hashes).status, 1);
  // Without a certificate, or with one of another authority, the farm refuses the console.
  const Outcome none = Z({"--farm", tls, "--ca", certs.ca, "admins", "list"});
  EXPECT_EQ(none.status, 3) << none.err;
  EXPECT_EQ(none.err.rfind("zeladmin: 0x8001000C kRefused: connecting to the farm", 0), 0u)
      << none.err;
  const Outcome other = Z({"--farm", tls, "--cert", certs.otherCert, "--key", certs.otherKey,
                           "--ca", certs.ca, "admins", "list"});
  EXPECT_EQ(other.status, 3) << other.err;
}

// The events of kind `event` in `direction` a JSON monitor wrote so far, by line.
std::vector<json> Monitored(const std::string& output, int event, const char* direction) {
  std::vector<json> events;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const json parsed = json::parse(line, nullptr, false);
    if (parsed.is_object() && parsed["event"] == event && parsed["direction"] == direction) {
      events.push_back(parsed);
    }
  }
  return events;
}

// Monitors (text and JSON) show another console's change decoded, and its requests and replies
// with the secrets blanked; SIGINT ends them cleanly. An administrator without the privilege is
// refused.
TEST_F(ZeladminFarmTest, MonitorShowsChangesRequestsAndRepliesWithTheSecretsBlanked) {
  StartFarm(Login());
  Init();
  std::ofstream(dir_ + "/pw3") << "Zebra-Quartz-77\n";
  const auto text = Background("text", {"monitor", "--timeout", "30"});
  const auto asJson = Background("json", {"--json", "monitor", "--timeout", "30"});
  ASSERT_EQ(Z({"tree", "add", "east", "--title", "East wing"}).status, 0);
  ASSERT_EQ(Z({"admins", "password", "first", "--password-file", dir_ + "/pw3"}).status, 0);
  EXPECT_TRUE(Eventually([&] { return Said("text", "SetCredential (1005) reply"); }));
  EXPECT_TRUE(Eventually([&] { return !Monitored(Read("json"), 1005, "reply").empty(); }));
  text->Signal(SIGINT);
  asJson->Signal(SIGINT);
  EXPECT_EQ(text->Wait(), 0);
  EXPECT_EQ(asJson->Wait(), 0);

  const std::vector<json> tree = Monitored(Read("json"), 81, "notification");
  ASSERT_FALSE(tree.empty()) << Read("json");  // as the console posted it, as it was published
  EXPECT_EQ(tree.back()["parsed"], true) << tree.back().dump();
  EXPECT_EQ(tree.back()["fields"]["sections[0].items[0].title"], "\"East wing\"")
      << tree.back().dump();
  // The request and its reply, paired by request ID.
  const std::vector<json> requests = Monitored(Read("json"), 1005, "request");
  const std::vector<json> replies = Monitored(Read("json"), 1005, "reply");
  ASSERT_EQ(requests.size(), 1u) << Read("json");
  ASSERT_EQ(replies.size(), 1u) << Read("json");
  const json &request = requests[0], &reply = replies[0];
  EXPECT_EQ(request["fields"]["newPassword"], "(secret)") << request.dump();
  EXPECT_EQ(request["monitored"]["peer"], "unix:" + Login()) << request.dump();
  EXPECT_NE(request["monitored"]["connection"], 0) << request.dump();
  EXPECT_EQ(reply["monitored"]["requestID"], request["monitored"]["requestID"]) << reply.dump();
  EXPECT_EQ(reply["monitored"]["flow"], "reply");
  EXPECT_EQ(reply["fields"]["result"], "0") << reply.dump();
  EXPECT_TRUE(Said("text", "newPassword = (secret)")) << Read("text");
  for (const std::string output : {"text", "json"}) {
    for (const std::string secret :
         {"Zebra-Quartz-77", "5a656272612d51756172747a2d3737", "5A656272612D51756172747A2D3737"}) {
      EXPECT_FALSE(Said(output, secret)) << secret << " in\n" << Read(output);
    }
  }
  // The farm really took the new password: the secret was blanked on the way, not lost.
  std::ofstream(dir_ + "/wrong") << "not it\n";
  EXPECT_EQ(Z({"logon", "first", "--password-file", dir_ + "/pw3"}).status, 0);
  EXPECT_NE(Z({"logon", "first", "--password-file", dir_ + "/wrong"}).status, 0);

  ASSERT_EQ(Z({"admins", "add", Login()}).status, 0);
  ASSERT_EQ(Z({"admins", "privileges", "set", Login(), "read-farm"}).status, 0);
  StartFarm("someone-else");
  const Outcome refused = Z({"monitor", "--count", "1", "--timeout", "5"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err.rfind("zeladmin: 0x8001000C kRefused: subscribing to every event", 0), 0u)
      << refused.err;
}

}  // namespace
