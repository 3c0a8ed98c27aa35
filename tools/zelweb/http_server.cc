#include "http_server.h"

#include <thread>

namespace zelweb {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
using tcp = net::ip::tcp;

// Runs the connection's own context until the operation started on it has finished; the
// stream's deadline cancels an operation that takes too long.
void RunOne(net::io_context& io) {
  io.restart();
  io.run();
}

template <class Stream>
beast::error_code WriteResponse(net::io_context& io, Stream& stream, beast::tcp_stream& lowest,
                                Response& response, std::chrono::seconds timeout) {
  beast::error_code ec;
  response.prepare_payload();
  lowest.expires_after(timeout);
  http::async_write(stream, response, [&](beast::error_code e, std::size_t) { ec = e; });
  RunOne(io);
  return ec;
}

template <class Stream>
beast::error_code WriteText(net::io_context& io, Stream& stream, beast::tcp_stream& lowest,
                            const std::string& text, std::chrono::seconds timeout) {
  beast::error_code ec;
  lowest.expires_after(timeout);
  net::async_write(stream, net::buffer(text), [&](beast::error_code e, std::size_t) { ec = e; });
  RunOne(io);
  return ec;
}

// Server-sent events: the header, then each text as the stream gives it, until it gives none
// or the browser has gone.
template <class Stream>
void StreamEvents(net::io_context& io, Stream& stream, beast::tcp_stream& lowest, Reply& reply,
                  std::chrono::seconds timeout) {
  std::string header =
      "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"
      "Cache-Control: no-store\r\nConnection: close\r\n";
  for (const auto& field : reply.response.base()) {
    if (field.name() == http::field::content_type || field.name() == http::field::cache_control) {
      continue;
    }
    header += std::string(field.name_string()) + ": " + std::string(field.value()) + "\r\n";
  }
  header += "\r\n";
  if (WriteText(io, stream, lowest, header, timeout)) return;
  while (std::optional<std::string> next = reply.stream()) {
    if (WriteText(io, stream, lowest, *next, timeout)) return;
  }
}

template <class Stream>
void ServeRequests(net::io_context& io, Stream& stream, beast::tcp_stream& lowest,
                   const ServerOptions& options, const Handler& handler) {
  beast::flat_buffer buffer;
  for (;;) {
    http::request_parser<http::string_body> parser;
    parser.body_limit(options.maxBody);
    parser.header_limit(16 * 1024);
    beast::error_code ec;
    lowest.expires_after(options.ioTimeout);
    http::async_read(stream, buffer, parser, [&](beast::error_code e, std::size_t) { ec = e; });
    RunOne(io);
    if (ec) {
      // A request the parser refused gets its reason; a closed or silent connection nothing.
      http::status status = http::status::bad_request;
      if (ec == http::error::body_limit) {
        status = http::status::payload_too_large;
      } else if (ec == http::error::header_limit) {
        status = http::status::request_header_fields_too_large;
      } else if (ec.category() != http::make_error_code(http::error::bad_target).category() ||
                 ec == http::error::end_of_stream || ec == http::error::partial_message) {
        return;
      }
      Request none;
      Response response = MakeResponse(none, status, R"({"error":"the request was refused"})");
      response.keep_alive(false);
      WriteResponse(io, stream, lowest, response, options.ioTimeout);
      return;
    }
    const Request request = parser.release();
    Reply reply = handler(request);
    if (reply.stream) {
      StreamEvents(io, stream, lowest, reply, options.ioTimeout);
      return;
    }
    reply.response.keep_alive(request.keep_alive());
    if (WriteResponse(io, stream, lowest, reply.response, options.ioTimeout)) return;
    if (!reply.response.keep_alive()) return;
  }
}

}  // namespace

Response MakeResponse(const Request& request, http::status status, std::string body,
                      const std::string& type) {
  Response response(status, request.version() == 0 ? 11 : request.version());
  response.set(http::field::server, "zelweb");
  response.set(http::field::content_type, type);
  response.set(http::field::cache_control, "no-store");
  response.set("X-Content-Type-Options", "nosniff");
  response.set("X-Frame-Options", "DENY");
  response.set("Referrer-Policy", "no-referrer");
  response.set("Content-Security-Policy",
               "default-src 'self'; img-src 'self' data: blob:; object-src 'none'; "
               "frame-ancestors 'none'; base-uri 'none'; form-action 'self'");
  response.body() = std::move(body);
  return response;
}

HttpServer::HttpServer(ServerOptions options, Handler handler)
    : options_(std::move(options)), handler_(std::move(handler)) {}

HttpServer::~HttpServer() = default;

bool HttpServer::Listen(std::string* error) {
  beast::error_code ec;
  const auto address = net::ip::make_address(options_.host, ec);
  if (ec) {
    *error = "not an IP address: " + options_.host;
    return false;
  }
  if (!options_.cert.empty() || !options_.key.empty()) {
    tls_ = std::make_unique<net::ssl::context>(net::ssl::context::tls_server);
    tls_->set_options(net::ssl::context::default_workarounds | net::ssl::context::no_sslv2 |
                      net::ssl::context::no_sslv3 | net::ssl::context::no_tlsv1 |
                      net::ssl::context::no_tlsv1_1);
    tls_->use_certificate_chain_file(options_.cert, ec);
    if (!ec) tls_->use_private_key_file(options_.key, net::ssl::context::pem, ec);
    if (ec) {
      *error = "TLS certificate or key: " + ec.message();
      return false;
    }
  }
  const tcp::endpoint endpoint(address, options_.port);
  acceptor_.open(endpoint.protocol(), ec);
  if (!ec) acceptor_.set_option(net::socket_base::reuse_address(true), ec);
  if (!ec) acceptor_.bind(endpoint, ec);
  if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
  if (ec) {
    *error =
        "listening on " + options_.host + ":" + std::to_string(options_.port) + ": " + ec.message();
    return false;
  }
  port_ = acceptor_.local_endpoint().port();
  v6_ = address.is_v6();
  return true;
}

void HttpServer::Run() {
  net::signal_set signals(context_, SIGINT, SIGTERM);
  signals.async_wait([this](beast::error_code, int) {
    beast::error_code ignored;
    acceptor_.close(ignored);
    context_.stop();
  });
  Accept();
  context_.run();
}

void HttpServer::Accept() {
  acceptor_.async_accept([this](beast::error_code ec, tcp::socket socket) {
    if (!ec) {
      if (connections_.load() >= options_.maxConnections) {
        socket.close(ec);  // too many at once: the browser tries again
      } else {
        ++connections_;
        const int fd = socket.release();
        std::thread([this, fd] {
          Serve(fd);
          --connections_;
        }).detach();
      }
    }
    if (acceptor_.is_open()) Accept();
  });
}

void HttpServer::Serve(int fd) {
  net::io_context io;
  beast::tcp_stream plain(io);
  beast::error_code ec;
  plain.socket().assign(v6_ ? tcp::v6() : tcp::v4(), fd, ec);
  if (ec) return;
  if (!tls_) {
    ServeRequests(io, plain, plain, options_, handler_);
    plain.socket().shutdown(tcp::socket::shutdown_send, ec);
    return;
  }
  beast::ssl_stream<beast::tcp_stream> secure(std::move(plain), *tls_);
  beast::tcp_stream& lowest = beast::get_lowest_layer(secure);
  lowest.expires_after(options_.ioTimeout);
  secure.async_handshake(net::ssl::stream_base::server, [&](beast::error_code e) { ec = e; });
  RunOne(io);
  if (ec) return;
  ServeRequests(io, secure, lowest, options_, handler_);
  lowest.expires_after(std::chrono::seconds(2));
  secure.async_shutdown([](beast::error_code) {});
  RunOne(io);
}

}  // namespace zelweb
