// zelweb: the farm's web console. One farm per process; each browser session logs on with its
// own console-side host. See docs/WEB.md.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <thread>

#include <CLI/CLI.hpp>

#include "api.h"
#include "http_server.h"
#include "sessions.h"
#include "web_farm.h"

namespace {

// HOST:PORT, an IPv6 host in brackets.
bool ParseListen(const std::string& text, zelweb::ServerOptions* options) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon + 1 == text.size()) return false;
  std::string host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  const std::string port = text.substr(colon + 1);
  if (host.empty() || port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const unsigned long number = std::stoul(port);
  if (number > 65535) return false;
  options->host = host;
  options->port = static_cast<uint16_t>(number);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"zelweb: the farm's web console"};
  std::string farm, listen = "127.0.0.1:8080", tlsCert, tlsKey, cert, key, ca;
  int idleTimeout = 900;
  bool insecure = false;
  app.add_option("--farm", farm,
                 "the farm server's address (default: $ZEL_FARM, then its usual socket)");
  app.add_option("--listen", listen, "HOST:PORT to serve the page on (default 127.0.0.1:8080)");
  app.add_option("--tls-cert", tlsCert, "serve HTTPS with this certificate (PEM)");
  app.add_option("--tls-key", tlsKey, "and this key (PEM)");
  app.add_option("--idle-timeout", idleTimeout, "seconds after which an unused session ends")
      ->check(CLI::Range(10, 7 * 24 * 3600));
  app.add_option("--cert", cert, "this console's certificate for a tls: farm address");
  app.add_option("--key", key, "its key");
  app.add_option("--ca", ca, "the authority of the farm server's certificate");
  app.add_flag("--insecure", insecure, "allow a tcp: farm address (tests only)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;  // --help is success; anything else a usage error
  }

  zelweb::ServerOptions serverOptions;
  if (!ParseListen(listen, &serverOptions)) {
    std::cerr << "zelweb: --listen: not HOST:PORT: " << listen << '\n';
    return 2;
  }
  if (tlsCert.empty() != tlsKey.empty()) {
    std::cerr << "zelweb: --tls-cert and --tls-key go together\n";
    return 2;
  }
  serverOptions.cert = tlsCert;
  serverOptions.key = tlsKey;

  std::signal(SIGPIPE, SIG_IGN);
  zel::transport::ClientOptions clientOptions;
  if (!farm.empty()) clientOptions.address = farm;
  clientOptions.cert = cert;
  clientOptions.key = key;
  clientOptions.ca = ca;
  clientOptions.insecure = insecure;
  zelweb::WebFarm webFarm(clientOptions);
  std::string error;
  if (const int32_t started = webFarm.Start(&error); started < 0) {
    std::fprintf(stderr, "zelweb: cannot reach the farm at %s: 0x%08X %s\n",
                 clientOptions.address.c_str(), static_cast<uint32_t>(started), error.c_str());
    return 3;
  }
  // The farm's owner may do everything whoever logged on: a web console acting as the owner
  // would give every session the owner's power.
  if (webFarm.ActsAsOwner()) {
    std::cerr << "zelweb: this account is the farm's owner; run zelweb under another account\n";
    return 2;
  }
  zelweb::Sessions sessions(webFarm, std::chrono::seconds(idleTimeout));
  zelweb::Api api(webFarm, sessions, !tlsCert.empty());
  zelweb::HttpServer server(serverOptions,
                            [&api](const zelweb::Request& request) { return api.Handle(request); });
  if (!server.Listen(&error)) {
    std::cerr << "zelweb: " << error << '\n';
    return 1;
  }
  std::cout << "zelweb: serving " << (server.Tls() ? "https" : "http") << "://"
            << (serverOptions.host.find(':') != std::string::npos ? "[" + serverOptions.host + "]"
                                                                  : serverOptions.host)
            << ':' << server.Port() << "/ for the farm at " << clientOptions.address << std::endl;
  std::thread([&sessions] {
    for (;;) {
      std::this_thread::sleep_for(std::chrono::seconds(5));
      sessions.EndIdle();
    }
  }).detach();
  server.Run();
  // Every session ends with a logout; threads still serving are not waited for.
  sessions.EndAll();
  std::cout << "zelweb: stopped" << std::endl;
  std::_Exit(0);
}
