// zeladmin's way to the farm: one connection, one console-side host, and the library's SAL
// object (sixth version) on it. Requests of ours go over the same connection as the library's.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "output.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/protocol/events.h"
#include "zel/protocol/grammar.h"
#include "zel/runtime/buffers.h"
#include "zel/transport/client.h"
#include "zel/transport/console_host.h"

namespace zeladmin {

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
    ZEL_BUF_BinBuffer payload;
    zel::protocol::Encode(request, payload);
    std::unique_ptr<ZEL_BUF_EventBuffer> answer;
    const int32_t sent = SendOurs(Request::kEventID, payload, &answer);
    if (sent < 0) return sent;
    ZEL_BUF_BufferReader in(answer->GetData(), answer->GetSize());
    try {
      zel::protocol::Decode(in, *reply);
    } catch (...) {
      return static_cast<int32_t>(0x80060008u);
    }
    return reply->result;
  }

 private:
  int32_t SendOurs(uint16_t eventID, const ZEL_BUF_BinBuffer& payload,
                   std::unique_ptr<ZEL_BUF_EventBuffer>* answer);

  std::unique_ptr<zel::transport::Client> client_;
  std::unique_ptr<zel::transport::ConsoleHost> host_;
  std::unique_ptr<ZEL_AdminToolSAL6> sal_;
};

// The words of the last failed call of this thread's connection, for error lines.
std::string TransportDetail();

}  // namespace zeladmin
