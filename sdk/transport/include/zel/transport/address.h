// Farm addresses, as consoles and the server name them:
//   unix:PATH        a Unix-domain socket (the default kind)
//   tls:HOST:PORT    TCP with TLS, both ends authenticated by certificate
//   tcp:HOST:PORT    plain TCP, for tests only: it carries no identity and needs insecure mode
// A HOST that is an IPv6 address is written in brackets: tls:[::1]:7400.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zel::transport {

struct Address {
  enum class Kind { kUnix, kTls, kTcp };
  Kind kind = Kind::kUnix;
  std::string path;  // unix
  std::string host;  // tls, tcp (without brackets)
  uint16_t port = 0;

  // The address in its text form (brackets put back around an IPv6 host).
  std::string Text() const;
};

// 0 and *address filled, or kInvalidArgument with the reason in *error.
int32_t ParseAddress(std::string_view text, Address* address, std::string* error);

}  // namespace zel::transport
