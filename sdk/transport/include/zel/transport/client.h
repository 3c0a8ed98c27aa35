// The console side of the transport: one multiplexed connection to the farm server for the
// whole process. It is the send path (EventTransport) of the process's console-side hosts and,
// while it lives, the event-dispatch interface (300) of the process.
//
// Several threads may send at once; each call waits for its own reply, routed by request ID.
// Every call returns within the configured timeout: a negative code of the runtime when the
// server is gone (kServerGone), the connection broke (kConnectionBroken), no answer came
// (kTimeout), the server refused (kRefused) or speaks another major version
// (kVersionMismatch). The next call connects again.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zel/runtime/buffers.h"
#include "zel/runtime/pif.h"
#include "zel/transport/frame.h"

namespace zel::transport {

// The farm's address when a console is given none: $ZEL_FARM, else the server's usual socket.
std::string DefaultFarmAddress();

struct ClientOptions {
  std::string address = DefaultFarmAddress();
  // The longest a call waits: connecting, greeting, and the reply.
  std::chrono::milliseconds timeout{10000};
  // TLS: this console's certificate and key, and the authority that signs the server's
  // certificate (PEM files). The server's certificate must name the host of the address.
  std::string cert;
  std::string key;
  std::string ca;
  // Allows tcp: addresses (tests only: no identity, no protection).
  bool insecure = false;
  // Offer this client as the process's event-dispatch interface (300) while it lives.
  bool offerDispatcher = true;
  // The protocol version this console speaks (another only in tests).
  uint16_t protocolMajor = kProtocolMajor;
  uint16_t protocolMinor = kProtocolMinor;
};

class Client final : public zel::rt::EventTransport, public ZEL_PIF_EventDispatcher {
 public:
  // Called on the client's own thread for each notification, in the order they came. It must
  // not wait for the farm (Send, Subscribe and Unsubscribe called there answer kInvalidArgument).
  using NotificationHandler =
      std::function<void(uint32_t subscription, std::unique_ptr<ZEL_BUF_EventBuffer> event)>;

  // Called on the client's own thread for each one-way event the server posts to a
  // console-side host of this process (a change notification of the `farm:` store, say), under
  // the same rules as notification handlers.
  using PostHandler = std::function<void(std::unique_ptr<ZEL_BUF_EventBuffer> event)>;

  // Called on the client's own thread for each event a monitor sees, with how it passed through
  // the server (its secret fields are zero bytes), under the same rules as notification handlers.
  using MonitorHandler =
      std::function<void(const MonitoredFrom& from, std::unique_ptr<ZEL_BUF_EventBuffer> event)>;

  explicit Client(ClientOptions options);
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  // Closes the connection and ends the client's thread. No call may be under way.
  ~Client();

  // Connects now (calls connect by themselves when needed). 0 or a negative code.
  int32_t Connect();
  // Closes the connection; calls under way answer kConnectionBroken, and a call made after it
  // returns connects again.
  void Disconnect();

  int32_t Send(ZEL_BUF_EventBuffer* request, ZEL_BUF_EventBuffer** reply) override;
  // Hands the event to the connection; 0 says it was queued, not that it arrived.
  int32_t Post(ZEL_BUF_EventBuffer* event) override;
  int32_t PostEvent(ZEL_BUF_EventBuffer* event) override { return Post(event); }

  // Asks for the events with these IDs (or, with `monitor`, every event: the server grants it
  // by privilege). 0 and the subscription's ID in *subscription, or the server's refusal. The
  // client subscribes again by itself after it reconnects.
  int32_t Subscribe(const std::vector<uint16_t>& eventIDs, bool monitor,
                    NotificationHandler handler, uint32_t* subscription);
  int32_t Unsubscribe(uint32_t subscription);
  // Asks for every event that passes through the server: requests, replies, one-way events and
  // notifications (the server grants it by privilege). As Subscribe otherwise.
  int32_t Monitor(MonitorHandler handler, uint32_t* subscription);

  // Takes the events the server posts to the host `uid`; an empty handler stops that. Once it
  // returns (when not called from a handler) no delivery to the previous handler is under way.
  // Events for a UID without a handler are dropped.
  void SetPostHandler(uint16_t uid, PostHandler handler);

  // Why this thread's last call failed, in words (the server's message when it gave one).
  static std::string LastError();

 private:
  class Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace zel::transport
