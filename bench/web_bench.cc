// The web console's first page after log on: what the page asks the moment it shows (the
// current user, `GET /api/me`, then the tree's top, `GET /api/tree?dn=`), each on its own
// connection, until the body is read; beside the page's own file (`GET /`, built into zelweb)
// from the same server in the same run. zelfarmd and zelweb run as processes on the demo farm
// (the web console tests' fixture script starts them).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

struct Answer {
  int status = 0;
  std::string headers, body;
};

// One request on its own connection, read to its end.
Answer Exchange(int port, const std::string& method, const std::string& target,
                const std::string& headers, const std::string& body = "") {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Answer answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return answer;
  }
  const std::string text = method + " " + target +
                           " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + headers +
                           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  for (std::size_t sent = 0; sent < text.size();) {
    const ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  std::string reply;
  char buffer[16384];
  for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
    reply.append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  const std::size_t split = reply.find("\r\n\r\n");
  if (reply.size() > 12) answer.status = std::atoi(reply.substr(9, 3).c_str());
  answer.headers = reply.substr(0, split);
  if (split != std::string::npos) answer.body = reply.substr(split + 4);
  return answer;
}

// The farm and its web console, and a session of the administrator with every privilege.
struct Web {
  std::string work = "/tmp/zel-web-bench-" + std::to_string(getpid());
  int port = 0;
  std::string cookie, error;

  Web() {
    const std::string start = std::string(FIXTURE) + " start " + BIN_DIR + " " + work + " " +
                              DEMO_FARM_PATH + " >" + work + ".log 2>&1";
    if (std::system(start.c_str()) != 0) {
      error = "the farm did not start: see " + work + ".log";
      return;
    }
    std::string url;
    std::ifstream(work + "/zelweb.url") >> url;  // http://127.0.0.1:PORT/
    port = std::atoi(url.substr(url.rfind(':') + 1).c_str());
    const Answer logon = Exchange(port, "POST", "/api/logon", "Content-Type: application/json\r\n",
                                  R"({"name":"unix:admin","password":"demo password"})");
    const std::size_t at = logon.headers.find("zelweb_session=");
    if (logon.status != 200 || at == std::string::npos) {
      error = "log on refused";
      return;
    }
    cookie = logon.headers.substr(at, logon.headers.find(';', at) - at);
  }
  ~Web() {
    std::system((std::string(FIXTURE) + " stop " + work + " >/dev/null 2>&1").c_str());
    std::system(("rm -rf " + work + " " + work + ".log").c_str());
  }
};

Web& Served() {
  static Web web;
  return web;
}

void BM_WebFirstPage(benchmark::State& state) {
  Web& web = Served();
  if (!web.error.empty()) return state.SkipWithError(web.error.c_str());
  const std::string headers = "Cookie: " + web.cookie + "\r\n";
  for (auto _ : state) {
    const Answer me = Exchange(web.port, "GET", "/api/me", headers);
    const Answer tree = Exchange(web.port, "GET", "/api/tree?dn=", headers);
    if (me.status != 200 || tree.status != 200 || tree.body.find("children") == std::string::npos) {
      return state.SkipWithError("the first page's data did not come");
    }
  }
}
BENCHMARK(BM_WebFirstPage)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The baseline: the page's own file, as the server keeps it in memory, on as many connections.
void BM_WebStaticPage_Baseline(benchmark::State& state) {
  Web& web = Served();
  if (!web.error.empty()) return state.SkipWithError(web.error.c_str());
  for (auto _ : state) {
    const Answer first = Exchange(web.port, "GET", "/", "");
    const Answer second = Exchange(web.port, "GET", "/", "");
    if (first.status != 200 || second.status != 200 || first.body.empty()) {
      return state.SkipWithError("the page did not come");
    }
  }
}
BENCHMARK(BM_WebStaticPage_Baseline)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
