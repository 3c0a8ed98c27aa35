// The HTTP side of zelweb: HTTP/1.1 on Boost.Beast, optionally under TLS. One thread per
// connection (a farm call blocks its caller), each with its own I/O context so that every read
// and write has a deadline; at most `maxConnections` at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "asio.h"

namespace zelweb {

namespace http = boost::beast::http;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

// A handler's answer: one response, or (with `stream`) a stream of server-sent events. The
// stream is asked for its next text until it answers nothing; it may wait, but not for long,
// so that a closed connection is noticed.
struct Reply {
  Response response;
  std::function<std::optional<std::string>()> stream;
};
using Handler = std::function<Reply(const Request&)>;

struct ServerOptions {
  std::string host = "127.0.0.1";
  uint16_t port = 8080;   // 0: any free port (Port() says which)
  std::string cert, key;  // both: TLS
  std::size_t maxBody = 256 * 1024;
  std::chrono::seconds ioTimeout{30};
  int maxConnections = 64;
};

class HttpServer {
 public:
  HttpServer(ServerOptions options, Handler handler);
  ~HttpServer();

  // Binds and listens; false with *error saying why.
  bool Listen(std::string* error);
  uint16_t Port() const { return port_; }
  bool Tls() const { return tls_ != nullptr; }
  // Serves until SIGINT or SIGTERM.
  void Run();

 private:
  void Accept();
  void Serve(int fd);

  ServerOptions options_;
  Handler handler_;
  boost::asio::io_context context_;
  boost::asio::ip::tcp::acceptor acceptor_{context_};
  std::unique_ptr<boost::asio::ssl::context> tls_;
  uint16_t port_ = 0;
  bool v6_ = false;
  std::atomic<int> connections_{0};
};

// A response with this status and body (JSON unless `type` says otherwise).
Response MakeResponse(const Request& request, http::status status, std::string body,
                      const std::string& type = "application/json");

}  // namespace zelweb
