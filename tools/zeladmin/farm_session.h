// zeladmin's way to the farm: one connection, one console-side host, and the library's SAL
// object (sixth version) on it. Requests of ours go over the same connection as the library's.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "output.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/console/requests.h"
#include "zel/protocol/events.h"
#include "zel/protocol/grammar.h"
#include "zel/runtime/buffers.h"
#include "zel/transport/client.h"
#include "zel/transport/console_host.h"

namespace zeladmin {

// The subsystem UID of zeladmin's console-side host; one host per zeladmin process.
inline constexpr uint16_t kConsoleUID = 200;

struct FarmOptions {
  std::string address;  // empty: $ZEL_FARM, then the server's usual socket
  std::string cert, key, ca;
  bool insecure = false;
};

class FarmSession {
 public:
  explicit FarmSession(const FarmOptions& options);
  ~FarmSession();

  // Connects; false with *failure filled when the farm cannot be reached.
  bool Connect(Failure* failure);
  ZEL_AdminToolSAL6& Sal() { return *sal_; }
  zel::transport::Client& Client() { return *client_; }
  ZEL_PIF_ISubSystem& Host() { return *host_; }

  // Sends a request of ours to the AdminTool subsystem and reads its reply; the request's
  // result (or the send's failure). The reply's fields are read only when the result is not
  // negative; a reply that does not read answers ZEL_E_SHORT_REPLY.
  template <class Request, class Reply>
  int32_t Ours(const Request& request, Reply* reply) {
    return zel::console::Ours(*client_, kConsoleUID, request, reply);
  }

 private:
  std::unique_ptr<zel::transport::Client> client_;
  std::unique_ptr<zel::transport::ConsoleHost> host_;
  std::unique_ptr<ZEL_AdminToolSAL6> sal_;
};

// The words of the last failed call of this thread's connection, for error lines.
std::string TransportDetail();

}  // namespace zeladmin
