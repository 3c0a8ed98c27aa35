// The server side of the transport: listens on farm addresses, greets each console, hands every
// request and one-way event to the subsystem it names in an in-process farm (with the caller the
// connection vouches for), and sends notifications to the consoles that subscribed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zel/runtime/buffers.h"
#include "zel/runtime/caller.h"
#include "zel/runtime/farm.h"
#include "zel/transport/frame.h"

namespace zel::transport {

// What a console asks to be told about.
struct SubscriptionRequest {
  uint32_t subscription = 0;
  // Every event, whatever eventIDs holds; granted only by the subscribe hook.
  bool monitor = false;
  std::vector<uint32_t> eventIDs;
};

struct ServerOptions {
  // Addresses to listen on (zel/transport/address.h); tcp: only with `insecure`.
  std::vector<std::string> listen;
  // Unix-domain sockets already bound and listening, handed over by the service manager
  // (socket activation). The server accepts on copies of them (the descriptors stay the
  // caller's, so a server started again takes them again) and leaves their files alone.
  std::vector<int> inheritedUnixSockets;
  bool insecure = false;
  // TLS: the server's certificate chain and key, and the authority that signs console
  // certificates (PEM files).
  std::string tlsCert;
  std::string tlsKey;
  std::string tlsCA;
  // Certificate subject (RFC 2253: "CN=alice,O=North") to account ("NT:NORTH\alice"). A TLS
  // console whose subject is not here is refused.
  std::map<std::string, std::string> certMap;
  // The login whose Unix peer is the farm's owner; empty: nobody.
  std::string owner;
  // Threads of the event loop; 0: as many as the machine has cores.
  unsigned threads = 0;
  uint32_t maxConnections = 1024;
  // Requests of one connection being handled at once; more are refused at once.
  uint32_t maxInFlight = 64;
  // Bytes queued for one connection that reads too slowly; past it the connection is dropped.
  uint32_t maxQueuedBytes = 64u << 20;
  // A monitored event that would take a connection's queue past this is not sent; the monitor
  // is told how many it missed with the next one it gets.
  uint32_t maxMonitorQueuedBytes = 16u << 20;
  // The greeting (TLS handshake and hello) and the rest of a frame once its first byte came
  // must arrive within this; otherwise the connection is dropped.
  std::chrono::milliseconds readTimeout{10000};
  // A connection with no frame under way for this long is closed; 0: never.
  std::chrono::milliseconds idleTimeout{0};
  // The protocol version this server speaks (another only in tests).
  uint16_t protocolMajor = kProtocolMajor;
  uint16_t protocolMinor = kProtocolMinor;
};

class Session;

class Server {
 public:
  // Decides a subscription: 0 grants it, a negative code refuses it. The default grants
  // subscriptions to named events to everyone and `monitor` to the owner only.
  using SubscribeHook = std::function<int32_t(const zel::rt::Caller&, const SubscriptionRequest&)>;
  // One log line (no secret is ever in one).
  using LogHook = std::function<void(std::string_view line)>;
  // Zeroes, in place, what a monitor must not see of the payload of an event that passed the
  // way `flow` says (its secret fields, whatever its grammar cannot classify); the size stays.
  // Without one, monitors get every payload zeroed.
  using BlankHook =
      std::function<void(uint16_t eventID, Flow flow, uint8_t* payload, uint32_t size)>;

  // The farm (and its subsystems) must outlive the server.
  Server(zel::rt::InProcessFarm& farm, ServerOptions options);
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  ~Server();  // Stop()

  // Set before Start: the loop's threads read them without a lock. Hooks run on those threads.
  void SetSubscribeHook(SubscribeHook hook);
  void SetLogHook(LogHook hook);
  void SetBlankHook(BlankHook hook);

  // Listens on every address and starts the event loop's threads. 0, or a negative code with
  // the reason in *error (nothing is left listening then).
  int32_t Start(std::string* error);
  // Stops accepting, closes every connection and waits for the threads. Requests being
  // handled finish first.
  void Stop();

  // Sends `event` to every subscription that asked for its ID, and to every monitor. Any thread.
  // Monitors (of consoles that take monitored frames) are also handed, blanked, every request,
  // reply and one-way event that passes through the server; only while one is subscribed does
  // the server copy anything for them.
  void Publish(const ZEL_BUF_EventBuffer& event);
  // Posts `event` (a copy; it stays the caller's) to the console-side host it names on
  // connection `connection` (zel::rt::Caller::connection). 0 once queued, kNoSuchSubsystem when
  // the connection is not open, or the encoder's code. Any thread.
  int32_t PostTo(uint64_t connection, const ZEL_BUF_EventBuffer& event);

  // The addresses really listened on (a tcp: or tls: port 0 becomes the port given).
  std::vector<std::string> ListeningAddresses() const;
  // Connections open now.
  std::size_t ConnectionCount() const;

 private:
  friend class Session;
  class Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace zel::transport
