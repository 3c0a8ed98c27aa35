#include "zel/transport/address.h"

#include <charconv>

#include "zel/runtime/codes.h"

namespace zel::transport {
namespace {

int32_t Refuse(std::string* error, std::string reason) {
  *error = std::move(reason);
  return zel::rt::kInvalidArgument;
}

// HOST:PORT, HOST in brackets when it holds colons.
int32_t ParseHostPort(std::string_view rest, Address* address, std::string* error) {
  std::string_view host;
  std::string_view port;
  if (!rest.empty() && rest.front() == '[') {
    const auto close = rest.find(']');
    if (close == std::string_view::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
      return Refuse(error, "an IPv6 host is written [HOST]:PORT");
    }
    host = rest.substr(1, close - 1);
    port = rest.substr(close + 2);
  } else {
    const auto colon = rest.rfind(':');
    if (colon == std::string_view::npos) return Refuse(error, "the address needs HOST:PORT");
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
    if (host.find(':') != std::string_view::npos) {
      return Refuse(error, "an IPv6 host is written in brackets");
    }
  }
  if (host.empty()) return Refuse(error, "the host is empty");
  unsigned value = 0;
  const auto [end, status] = std::from_chars(port.data(), port.data() + port.size(), value);
  if (port.empty() || status != std::errc() || end != port.data() + port.size() || value > 65535) {
    return Refuse(error, "the port is not a number from 0 to 65535");
  }
  address->host = std::string(host);
  address->port = static_cast<uint16_t>(value);
  return zel::rt::kOk;
}

}  // namespace

std::string Address::Text() const {
  switch (kind) {
    case Kind::kUnix:
      return "unix:" + path;
    case Kind::kTls:
    case Kind::kTcp: {
      const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
      return (kind == Kind::kTls ? "tls:" : "tcp:") + shown + ":" + std::to_string(port);
    }
  }
  return {};
}

int32_t ParseAddress(std::string_view text, Address* address, std::string* error) {
  Address parsed;
  int32_t code = zel::rt::kOk;
  if (text.starts_with("unix:")) {
    parsed.kind = Address::Kind::kUnix;
    parsed.path = std::string(text.substr(5));
    if (parsed.path.empty()) code = Refuse(error, "the socket path is empty");
    // sockaddr_un holds 108 bytes with the terminator.
    if (parsed.path.size() > 107) code = Refuse(error, "the socket path is longer than 107 bytes");
  } else if (text.starts_with("tls:")) {
    parsed.kind = Address::Kind::kTls;
    code = ParseHostPort(text.substr(4), &parsed, error);
  } else if (text.starts_with("tcp:")) {
    parsed.kind = Address::Kind::kTcp;
    code = ParseHostPort(text.substr(4), &parsed, error);
  } else {
    code = Refuse(error, "an address begins with unix:, tls: or tcp:");
  }
  if (code == zel::rt::kOk) *address = std::move(parsed);
  return code;
}

}  // namespace zel::transport
