// zelweb's API over a real socket: zelfarmd and zelweb run as processes (farm_fixture.sh) on the
// demo farm; each case is an HTTP exchange, checked by status and body.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "zel/iconpng/icon_png.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

struct HttpAnswer {
  int status = 0;
  std::string headers, body;
};

struct Login {
  std::string cookie, csrf;
};

class ZelwebTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    work_ =
        new std::string(fs::temp_directory_path() / ("zelweb-test-" + std::to_string(getpid())));
    const std::string start = std::string(FIXTURE) + " start " + BIN_DIR + " " + *work_ + " " +
                              DEMO_FARM_PATH + " >" + *work_ + ".log 2>&1";
    ASSERT_EQ(std::system(start.c_str()), 0) << "see " << *work_ << ".log";
    std::ifstream in(*work_ + "/zelweb.url");
    std::string url;
    in >> url;  // http://127.0.0.1:PORT/
    port_ = std::stoi(url.substr(url.rfind(':') + 1));
  }
  static void TearDownTestSuite() {
    std::system((std::string(FIXTURE) + " stop " + *work_).c_str());
    fs::remove_all(*work_);
    fs::remove(*work_ + ".log");
    delete work_;
  }

  // One request on its own connection.
  static HttpAnswer Exchange(const std::string& method, const std::string& target,
                             const std::map<std::string, std::string>& headers,
                             const std::string& body = "") {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port_));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::string text =
        method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    for (const auto& [name, value] : headers) text += name + ": " + value + "\r\n";
    text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    for (std::size_t sent = 0; sent < text.size();) {
      const ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;  // the server may answer (413) before it read everything
      sent += static_cast<std::size_t>(n);
    }
    std::string reply;
    char buffer[8192];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
      reply.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    HttpAnswer answer;
    const std::size_t split = reply.find("\r\n\r\n");
    if (reply.size() > 12) answer.status = std::stoi(reply.substr(9, 3));
    answer.headers = reply.substr(0, split);
    if (split != std::string::npos) answer.body = reply.substr(split + 4);
    return answer;
  }

  static Login LogOn(const std::string& name) {
    const HttpAnswer answer = Exchange("POST", "/api/logon", {{"Content-Type", "application/json"}},
                                       json{{"name", name}, {"password", "demo password"}}.dump());
    EXPECT_EQ(answer.status, 200) << answer.body;
    const std::size_t at = answer.headers.find("zelweb_session=");
    const std::size_t end = answer.headers.find(';', at);
    return {answer.headers.substr(at, end - at), json::parse(answer.body).value("csrf", "")};
  }

  static HttpAnswer As(const Login& who, const std::string& method, const std::string& target,
                       const std::string& body = "", const std::string& type = "application/json") {
    return Exchange(method, target,
                    {{"Cookie", who.cookie}, {"X-CSRF-Token", who.csrf}, {"Content-Type", type}},
                    body);
  }

  static std::string* work_;
  static int port_;
};

std::string* ZelwebTest::work_ = nullptr;
int ZelwebTest::port_ = 0;

// A 32 x 32 PNG drawn here: the left half palette colour 9 (red), the right half 12 (blue).
std::vector<uint8_t> TwoColourIcon() {
  std::vector<uint8_t> bits(zel::iconpng::kIconBytes, 0);  // mask all 0: every pixel shows
  for (std::size_t row = 0; row < 32; ++row) {
    for (std::size_t byte = 0; byte < 16; ++byte) bits[row * 16 + byte] = byte < 8 ? 0x99 : 0xCC;
  }
  std::vector<uint8_t> png;
  std::string error;
  EXPECT_TRUE(zel::iconpng::IconToPng(bits.data(), bits.size(), &png, &error)) << error;
  return png;
}

TEST_F(ZelwebTest, EveryEndpointRefusesWhatItMust) {
  const Login alice = LogOn("unix:alice");  // read-farm, change-tree, manage-icons
  const Login bob = LogOn("unix:bob");      // read-farm, read-audit
  const Login admin = LogOn("unix:admin");  // every privilege
  const Login nobody{"zelweb_session=0000", ""};
  const Login forged{alice.cookie, std::string(64, 'a')};
  const Login tokenless{admin.cookie, ""};
  const std::string png = [] {
    auto p = TwoColourIcon();
    return std::string(p.begin(), p.end());
  }();
  const std::string big(300 * 1024, 'x');
  const std::string bobUID = json::parse(As(bob, "GET", "/api/me").body).value("uid", "");
  const std::string bobPrivileges = json{{"uid", bobUID}, {"privileges", json::array()}}.dump();
  struct Row {
    const char* what;
    const Login& who;
    const char* method;
    std::string target, body;
    std::string type;
    int status;
  };
  const Row rows[] = {
      {"no session: tree", nobody, "GET", "/api/tree?dn=", "", "", 401},
      {"no session: add node", nobody, "POST", "/api/tree/add", R"({"parent":"","name":"x"})",
       "application/json", 401},
      {"no session: administrators", nobody, "GET", "/api/admins", "", "", 401},
      {"no session: icon", nobody, "GET", "/api/icons/server.png", "", "", 401},
      {"no session: audit", nobody, "GET", "/api/audit", "", "", 401},
      {"no session: events", nobody, "GET", "/api/events", "", "", 401},
      {"bad token: add node", forged, "POST", "/api/tree/add", R"({"parent":"","name":"x"})",
       "application/json", 403},
      {"no token: add administrator", tokenless, "POST", "/api/admins/add",
       R"({"account":"unix:x"})", "application/json", 403},
      {"no token: remove icon", tokenless, "POST", "/api/icons/delete", R"({"name":"server"})",
       "application/json", 403},
      {"no token: logout", tokenless, "POST", "/api/logout", "{}", "application/json", 403},
      {"no privilege: add node", bob, "POST", "/api/tree/add", R"({"parent":"","name":"x"})",
       "application/json", 403},
      {"no privilege: delete node", bob, "POST", "/api/tree/delete", R"({"dn":"north"})",
       "application/json", 403},
      {"no privilege: add administrator", alice, "POST", "/api/admins/add",
       R"({"account":"unix:x"})", "application/json", 403},
      {"no privilege: privileges", alice, "POST", "/api/admins/privileges", bobPrivileges,
       "application/json", 403},
      {"no privilege: upload icon", bob, "POST", "/api/icons/upload?name=x", png, "image/png", 403},
      {"no privilege: audit", alice, "GET", "/api/audit", "", "", 403},
      {"bad input: a name with a separator", admin, "POST", "/api/tree/add",
       R"({"parent":"north","name":"a/b"})", "application/json", 400},
      {"bad input: not JSON", admin, "POST", "/api/tree/add", "{parent", "application/json", 400},
      {"bad input: a form post", admin, "POST", "/api/tree/add", "parent=&name=x",
       "application/x-www-form-urlencoded", 415},
      {"bad input: DN", admin, "GET", "/api/tree?dn=a//b", "", "", 400},
      {"bad input: UID", admin, "GET", "/api/admins/one?uid=zz", "", "", 400},
      {"bad input: icon UID", admin, "GET", "/api/icons/uid/0xZZ.png", "", "", 400},
      {"bad input: not a PNG", admin, "POST", "/api/icons/upload?name=x", "not a png", "image/png",
       400},
      {"bad input: unknown privilege", admin, "POST", "/api/admins/privileges",
       R"({"uid":"0x1","privileges":["fly"]})", "application/json", 400},
      {"bad input: move below itself", admin, "POST", "/api/tree/move",
       R"({"dn":"north","parent":"north/rack1"})", "application/json", 400},
      {"bad input: undecodable query", admin, "GET", "/api/tree?dn=%zz", "", "", 400},
      {"not found: administrator", admin, "GET", "/api/admins/one?uid=0x1234", "", "", 404},
      {"not found: icon", admin, "GET", "/api/icons/nothing.png", "", "", 404},
      {"not found: node", admin, "POST", "/api/tree/delete", R"({"dn":"north/none"})",
       "application/json", 404},
      {"not found: call", admin, "GET", "/api/nothing", "", "", 404},
      {"wrong method", admin, "GET", "/api/tree/add", "", "", 405},
      {"exists: node", admin, "POST", "/api/tree/add", R"({"parent":"","name":"north"})",
       "application/json", 409},
      {"oversized: upload", admin, "POST", "/api/icons/upload?name=x", big, "image/png", 413},
      {"oversized: logon", nobody, "POST", "/api/logon", big, "application/json", 413},
      {"logon: wrong password", nobody, "POST", "/api/logon",
       R"({"name":"unix:alice","password":"no"})", "application/json", 401},
      {"logon: unknown name", nobody, "POST", "/api/logon",
       R"({"name":"unix:nobody","password":"no"})", "application/json", 401},
      {"logon: no password", nobody, "POST", "/api/logon", R"({"name":"unix:alice"})",
       "application/json", 400},
  };
  for (const Row& row : rows) {
    const HttpAnswer answer = As(row.who, row.method, row.target, row.body, row.type);
    EXPECT_EQ(answer.status, row.status) << row.what << ": " << answer.body;
  }
  // Nothing refused was done.
  const json top = json::parse(As(admin, "GET", "/api/tree?dn=").body);
  for (const json& node : top["children"]) EXPECT_NE(node["name"], "x");
  EXPECT_EQ(As(admin, "GET", "/api/icons/server.png").status, 200);
}

TEST_F(ZelwebTest, SessionCookieAndLogout) {
  const HttpAnswer answer = Exchange("POST", "/api/logon", {{"Content-Type", "application/json"}},
                                     R"({"name":"unix:bob","password":"demo password"})");
  ASSERT_EQ(answer.status, 200);
  EXPECT_NE(answer.headers.find("HttpOnly; SameSite=Strict"), std::string::npos) << answer.headers;
  const Login bob = LogOn("unix:bob");
  const json me = json::parse(As(bob, "GET", "/api/me").body);
  EXPECT_EQ(me["privileges"], json({"read-farm", "read-audit"}));
  EXPECT_EQ(As(bob, "POST", "/api/logout", "{}").status, 200);
  EXPECT_EQ(As(bob, "GET", "/api/me").status, 401);
}

TEST_F(ZelwebTest, TreeChangesAndIconsRoundTrip) {
  const Login admin = LogOn("unix:admin");
  const auto post = [&](const char* path, const json& body) {
    const HttpAnswer answer = As(admin, "POST", path, body.dump());
    EXPECT_EQ(answer.status, 200) << path << ": " << answer.body;
    return answer.status == 200 ? json::parse(answer.body) : json();
  };
  post("/api/tree/add", {{"parent", "north"}, {"name", "web"}, {"title", "Web"}, {"icon", "rack"}});
  post("/api/tree/add", {{"parent", "north/web"}, {"name", "leaf"}});
  EXPECT_EQ(post("/api/tree/rename", {{"dn", "north/web"}, {"name", "www"}})["to"], "north/www");
  EXPECT_EQ(post("/api/tree/move", {{"dn", "north/www"}, {"parent", "south"}})["to"], "south/www");
  const json moved = json::parse(As(admin, "GET", "/api/tree?dn=south/www").body);
  ASSERT_EQ(moved["children"].size(), 1u);
  EXPECT_EQ(moved["children"][0]["dn"], "south/www/leaf");
  EXPECT_EQ(As(admin, "GET", "/api/tree/node?dn=north/www").status, 404);
  post("/api/tree/delete", {{"dn", "south/www"}});
  EXPECT_EQ(As(admin, "GET", "/api/tree/node?dn=south/www").status, 404);

  // An icon up and down again: the same pixels.
  const std::vector<uint8_t> png = TwoColourIcon();
  ASSERT_EQ(As(admin, "POST", "/api/icons/upload?name=halves", std::string(png.begin(), png.end()),
               "image/png")
                .status,
            200);
  const HttpAnswer down = As(admin, "GET", "/api/icons/halves.png");
  ASSERT_EQ(down.status, 200);
  std::vector<uint8_t> sent, got;
  std::string error;
  ASSERT_TRUE(zel::iconpng::PngToIcon(png.data(), png.size(), zel::iconpng::Colours::kExact, &sent,
                                      &error));
  ASSERT_TRUE(zel::iconpng::PngToIcon(reinterpret_cast<const uint8_t*>(down.body.data()),
                                      down.body.size(), zel::iconpng::Colours::kExact, &got,
                                      &error));
  EXPECT_EQ(got, sent);
  post("/api/icons/delete", {{"name", "halves"}});
  EXPECT_EQ(As(admin, "GET", "/api/icons/halves.png").status, 404);
}

// The farm grants its owner everything on the owner's connections: zelweb refuses to run as it.
TEST_F(ZelwebTest, RefusesToRunAsTheFarmsOwner) {
  const std::string command = std::string(BIN_DIR) + "/zelweb --farm unix:" + *work_ +
                              "/farm.sock --listen 127.0.0.1:0 >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

// Another zelweb on the fixture's farm with these options; its port (0 when it did not start)
// and its process ID.
int StartAnotherZelweb(const std::string& dir, const std::string& options,
                       const std::string& scheme, int* pid) {
  std::stringstream log;
  log << std::ifstream(dir + "/../zelweb.log").rdbuf();
  const std::string farm = log.str().substr(log.str().find("tcp:"));
  const std::string start = std::string(BIN_DIR) + "/zelweb --farm " +
                            farm.substr(0, farm.find_first_of(" \n")) +
                            " --insecure --listen 127.0.0.1:0 " + options + " >" + dir +
                            "/web.log 2>&1 & echo $! >" + dir + "/pid";
  if (std::system(start.c_str()) != 0) return 0;
  std::ifstream(dir + "/pid") >> *pid;
  for (int i = 0; i < 100; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::stringstream web;
    web << std::ifstream(dir + "/web.log").rdbuf();
    const std::string serving = "zelweb: serving " + scheme + "://127.0.0.1:";
    const std::size_t at = web.str().find(serving);
    if (at != std::string::npos) return std::stoi(web.str().substr(at + serving.size()));
  }
  return 0;
}

// A session unused for the idle timeout has ended.
TEST_F(ZelwebTest, AnIdleSessionEnds) {
  const std::string dir = *work_ + "/idle";
  fs::create_directories(dir);
  int web = 0;
  const int port = StartAnotherZelweb(dir, "--idle-timeout 10", "http", &web);
  ASSERT_NE(port, 0);
  const int fixturePort = port_;
  port_ = port;
  const Login bob = LogOn("unix:bob");
  EXPECT_EQ(As(bob, "GET", "/api/me").status, 200);
  std::this_thread::sleep_for(std::chrono::seconds(11));
  EXPECT_EQ(As(bob, "GET", "/api/me").status, 401);
  port_ = fixturePort;
  kill(web, SIGTERM);
}

// A logon over HTTPS, the server's certificate checked against the one the test made: the
// cookie is marked Secure.
TEST_F(ZelwebTest, ServesHttpsWithASecureCookie) {
  const std::string dir = *work_ + "/tls";
  fs::create_directories(dir);
  ASSERT_EQ(std::system(("cd " + dir +
                         " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1"
                         " -nodes -keyout key.pem -out cert.pem -days 2 -subj /CN=127.0.0.1"
                         " -addext subjectAltName=IP:127.0.0.1 >/dev/null 2>&1")
                            .c_str()),
            0);
  int web = 0;
  const int port = StartAnotherZelweb(
      dir, "--tls-cert " + dir + "/cert.pem --tls-key " + dir + "/key.pem", "https", &web);
  ASSERT_NE(port, 0);
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  ASSERT_EQ(SSL_CTX_load_verify_locations(context, (dir + "/cert.pem").c_str(), nullptr), 1);
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  SSL* ssl = SSL_new(context);
  X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), "127.0.0.1");
  SSL_set_fd(ssl, fd);
  ASSERT_EQ(SSL_connect(ssl), 1);
  const std::string body = R"({"name":"unix:bob","password":"demo password"})";
  const std::string request =
      "POST /api/logon HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
      "Content-Type: application/json\r\nContent-Length: " +
      std::to_string(body.size()) + "\r\n\r\n" + body;
  SSL_write(ssl, request.data(), static_cast<int>(request.size()));
  std::string reply;
  char buffer[4096];
  for (int n; (n = SSL_read(ssl, buffer, sizeof buffer)) > 0;)
    reply.append(buffer, static_cast<std::size_t>(n));
  SSL_free(ssl);
  close(fd);
  SSL_CTX_free(context);
  kill(web, SIGTERM);
  EXPECT_EQ(reply.substr(0, 15), "HTTP/1.1 200 OK") << reply;
  EXPECT_NE(reply.find("HttpOnly; SameSite=Strict; Secure"), std::string::npos) << reply;
}

}  // namespace
