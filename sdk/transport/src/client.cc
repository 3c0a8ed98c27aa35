// The console side. Threads: the client has one thread of its own, which connects, greets, runs
// TLS links and calls the notification and post handlers. Callers encode their frames on their
// own threads.
//
// A link without TLS leaves Asio once greeted: callers write their frames straight to the
// socket, and whoever holds the link's read role reads it. A caller waiting for its reply takes
// the role when nobody holds it (leader/follower), so a reply wakes only its caller, as a plain
// blocking read would; what it reads for others goes to them (replies to their callers,
// notifications and posts to the client's thread). A leader that has its reply hands the role to
// another waiting caller, or, with none, arms a one-shot watch of the socket in the client's
// loop, so that the client's thread reads what comes while no caller waits.
//
// On a TLS link the client's thread reads every frame; callers wait on a condition variable
// until their reply, the connection's end, or their deadline.
#include "zel/transport/client.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "channel.h"
#include "zel/runtime/codes.h"
#include "zel/runtime/plugins.h"
#include "zel/transport/address.h"

namespace zel::transport {
namespace {

using boost::system::error_code;
using Clock = std::chrono::steady_clock;

thread_local std::string lastError;

int32_t Fail(int32_t code, std::string why) {
  lastError = std::move(why);
  return code;
}

// Nothing answers at the address: the server is not running there.
bool ServerIsGone(const error_code& error) {
  return error == asio::error::connection_refused || error == asio::error::not_found ||
         error == asio::error::host_unreachable || error == asio::error::network_unreachable ||
         error == asio::error::host_not_found ||
         error == boost::system::errc::no_such_file_or_directory;
}

}  // namespace

std::string DefaultFarmAddress() {
  const char* given = std::getenv("ZEL_FARM");
  return given != nullptr && *given != '\0' ? given : "unix:/run/zelfarmd/zelfarmd.sock";
}

// One connection, from its first connect to its end. Touched only on the client's thread.
class Link : public std::enable_shared_from_this<Link> {
 public:
  explicit Link(uint64_t generation) : generation_(generation) {}
  ~Link() {
    if (released_) ::close(fd_);
  }

  uint64_t generation_;
  std::unique_ptr<Channel> channel_;
  std::unique_ptr<asio::ip::tcp::resolver> resolver_;
  // The socket while it connects; the channel takes it over.
  std::shared_ptr<LocalSocket> localSocket_;
  std::shared_ptr<TcpSocket> tcpSocket_;
  std::unique_ptr<asio::steady_timer> deadline_;
  FrameAssembler assembler_;
  std::deque<EncodedFrame> queue_;
  bool writing_ = false;
  bool up_ = false;
  bool dead_ = false;
  // Once up, a link without TLS is written by the callers themselves, one at a time, straight
  // to the socket: a frame then leaves without waking the client's thread. Set before the link
  // is handed to any caller.
  bool direct_ = false;
  std::mutex writeMu_;
  bool closed_ = false;  // under writeMu_: the socket is closed, nothing more is written

  // Direct links: the socket (set before the link is handed to any caller), whether it has left
  // Asio (then the link closes it when the last user lets go, so its number is never reused
  // under a reader), and the one-shot watch of it in the client's loop.
  int fd_ = -1;
  bool released_ = false;
  std::unique_ptr<asio::posix::stream_descriptor> watch_;
  // Under Impl::mu_. The assembler is touched only by the holder of the read role.
  bool reading_ = false;  // a thread holds the read role
  bool armed_ = false;    // the watch wakes the client's thread when the socket is readable
  bool down_ = false;     // the link has ended: nobody reads or arms any more
};

class Client::Impl : public std::enable_shared_from_this<Client::Impl> {
 public:
  explicit Impl(ClientOptions options) : options_(std::move(options)) {}

  int32_t Connected(Clock::time_point deadline, std::shared_ptr<Link>* link);
  int32_t Call(EncodedFrame frame, uint64_t requestID, Clock::time_point deadline,
               const std::shared_ptr<Link>& link, std::unique_ptr<ZEL_BUF_EventBuffer>* reply);
  void Queue(const std::shared_ptr<Link>& link, EncodedFrame frame);
  // Hands a frame to the client's thread for writing, from any thread.
  void Hand(const std::shared_ptr<Link>& link, EncodedFrame frame, Clock::time_point deadline) {
    if (link->direct_) return WriteDirect(link, *frame, deadline);
    auto shared = std::make_shared<EncodedFrame>(std::move(frame));
    asio::post(
        io_, [self = shared_from_this(), link, shared] { self->Queue(link, std::move(*shared)); });
  }
  void WriteDirect(const std::shared_ptr<Link>& link, const ZEL_BUF_BinBuffer& frame,
                   Clock::time_point deadline);
  void Stop();
  void SetPostHandler(uint16_t uid, PostHandler handler);
  // Ends the connection (and an attempt under way), from any thread; off the client's thread it
  // returns once they are gone.
  void Drop(const std::string& why);
  // Under mu_ (thread_ is started under it).
  bool OnOwnThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  const ClientOptions options_;
  std::mutex mu_;
  std::condition_variable changed_;
  std::atomic<uint64_t> nextRequest_{1};

  struct Subscription {
    std::vector<uint32_t> eventIDs;
    bool monitor = false;
    std::shared_ptr<NotificationHandler> handler;
    std::shared_ptr<MonitorHandler> monitorHandler;  // takes monitored frames, when given
  };
  int32_t Subscribe(Subscription asked, uint32_t* subscription);
  std::map<uint32_t, Subscription> subscriptions_;                 // under mu_
  std::map<uint16_t, std::shared_ptr<PostHandler>> postHandlers_;  // under mu_, by host UID
  std::optional<uint16_t> delivering_;  // under mu_: the host whose post handler runs now
  std::condition_variable delivered_;
  uint32_t nextSubscription_ = 1;  // under mu_

 private:
  // A call waiting for its reply; each has its own condition, so a reply wakes only its caller
  // (or, on a direct link, hands it the read role).
  struct Pending {
    std::condition_variable answered;
    uint64_t generation = 0;
    bool done = false;
    int32_t result = 0;
    std::unique_ptr<ZEL_BUF_EventBuffer> reply;
    std::string why;  // why the connection ended, when it did
  };

  // On the client's thread.
  void Begin(std::shared_ptr<Link> link);
  void Handshake(const std::shared_ptr<Link>& link);
  void ReadMore(const std::shared_ptr<Link>& link);
  void Read(const std::shared_ptr<Link>& link, const error_code& error, std::size_t count);
  void Handle(const std::shared_ptr<Link>& link, Frame& frame);
  void WriteNext(const std::shared_ptr<Link>& link);
  void Up(const std::shared_ptr<Link>& link);
  void Down(const std::shared_ptr<Link>& link, int32_t code, const std::string& why);
  void Detach(const std::shared_ptr<Link>& link);
  void WatchNext(const std::shared_ptr<Link>& link);
  void Watched(const std::shared_ptr<Link>& link);

  // The read role of a direct link; any thread.
  enum class Led { kAnswered, kTimedOut, kBroken };
  Led Lead(const std::shared_ptr<Link>& link, const Pending& mine, Clock::time_point deadline,
           std::string* why);
  bool ReadSocket(const std::shared_ptr<Link>& link, bool* more, std::string* why);
  bool TakeFrames(const std::shared_ptr<Link>& link, std::string* why);
  bool Route(const std::shared_ptr<Link>& link, Frame& frame, std::string* why);
  void Complete(Frame& frame);
  // Under mu_.
  void TakeRole(Link& link);
  void PassRole(Link& link, const Pending* leaving);
  void Watch(Link& link, uint32_t events);
  int32_t AwaitDirect(const std::shared_ptr<Link>& link, Pending& waiting, bool leading,
                      Clock::time_point deadline);
  int32_t MakeTlsContext(const std::string& host, std::string* why);

  asio::io_context io_;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work_;
  std::thread thread_;
  std::optional<asio::ssl::context> tls_;
  // Under mu_: the connection, the attempt under way and how the last one ended.
  std::shared_ptr<Link> link_;
  std::shared_ptr<Link> attempt_;
  bool connecting_ = false;
  uint64_t generation_ = 0;
  int32_t attemptResult_ = 0;
  std::string attemptError_;
  std::map<uint64_t, Pending*> pending_;
};

// Waits until a connection is up, starting an attempt when none is under way. 0 and the link,
// or how the attempt ended.
int32_t Client::Impl::Connected(Clock::time_point deadline, std::shared_ptr<Link>* link) {
  std::unique_lock lock(mu_);
  if (OnOwnThread()) {
    return Fail(zel::rt::kInvalidArgument, "a notification handler cannot wait for the farm");
  }
  if (!thread_.joinable()) {
    work_.emplace(io_.get_executor());
    thread_ = std::thread([this] { io_.run(); });
  }
  if (!link_ && !connecting_) {
    connecting_ = true;
    attemptResult_ = zel::rt::kOk;
    attemptError_.clear();
    auto fresh = std::make_shared<Link>(++generation_);
    attempt_ = fresh;
    asio::post(io_, [self = shared_from_this(), fresh] { self->Begin(fresh); });
  }
  const uint64_t attempt = generation_;
  if (!changed_.wait_until(lock, deadline,
                           [&] { return !connecting_ || generation_ != attempt; })) {
    return Fail(zel::rt::kTimeout, "no answer from " + options_.address + " within the timeout");
  }
  if (!link_) {
    // The attempt failed, or the link it made went down (a drop) before this call could take
    // it: never an empty link with success.
    if (attemptResult_ < 0) return Fail(attemptResult_, attemptError_);
    return Fail(zel::rt::kConnectionBroken, "the connection broke as soon as it was made");
  }
  *link = link_;
  return zel::rt::kOk;
}

int32_t Client::Impl::MakeTlsContext(const std::string& host, std::string* why) {
  if (tls_) return zel::rt::kOk;
  tls_.emplace(asio::ssl::context::tls_client);
  error_code failure;
  tls_->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                    asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                    asio::ssl::context::no_tlsv1_1);
  if (!options_.ca.empty()) tls_->load_verify_file(options_.ca, failure);
  if (!failure && !options_.cert.empty()) tls_->use_certificate_chain_file(options_.cert, failure);
  if (!failure && !options_.key.empty()) {
    tls_->use_private_key_file(options_.key, asio::ssl::context::pem, failure);
  }
  if (failure) {
    tls_.reset();
    *why = "the TLS files cannot be used: " + failure.message();
    return zel::rt::kInvalidArgument;
  }
  tls_->set_verify_mode(asio::ssl::verify_peer);
  // The server's certificate must name the host of the address (a name, or an IP address).
  tls_->set_verify_callback(asio::ssl::host_name_verification(host));
  return zel::rt::kOk;
}

void Client::Impl::Begin(std::shared_ptr<Link> link) {
  Address address;
  std::string why;
  int32_t code = ParseAddress(options_.address, &address, &why);
  if (code == zel::rt::kOk && address.kind == Address::Kind::kTcp && !options_.insecure) {
    code = zel::rt::kRefused;
    why = "plain TCP carries no identity and needs insecure mode";
  }
  if (code == zel::rt::kOk && address.kind == Address::Kind::kTls) {
    code = MakeTlsContext(address.host, &why);
  }
  if (code != zel::rt::kOk) return Down(link, code, options_.address + ": " + why);

  // The whole greeting (connect, handshake, hello) has the call's timeout.
  link->deadline_ = std::make_unique<asio::steady_timer>(io_, options_.timeout);
  link->deadline_->async_wait([self = shared_from_this(), link](const error_code& error) {
    if (!error && !link->up_) {
      self->Down(link, zel::rt::kTimeout, "no answer from " + self->options_.address);
    }
  });
  if (address.kind == Address::Kind::kUnix) {
    auto socket = std::make_shared<LocalSocket>(io_);
    link->localSocket_ = socket;
    socket->async_connect(asio::local::stream_protocol::endpoint(address.path),
                          [self = shared_from_this(), link, socket](const error_code& error) {
                            if (link->dead_) return;
                            if (error) {
                              return self->Down(link,
                                                ServerIsGone(error) ? zel::rt::kServerGone
                                                                    : zel::rt::kConnectionBroken,
                                                self->options_.address + ": " + error.message());
                            }
                            link->channel_ = MakeLocalChannel(std::move(*socket));
                            link->localSocket_.reset();
                            self->Handshake(link);
                          });
    return;
  }
  const bool tls = address.kind == Address::Kind::kTls;
  link->resolver_ = std::make_unique<asio::ip::tcp::resolver>(io_);
  link->resolver_->async_resolve(
      address.host, std::to_string(address.port),
      [self = shared_from_this(), link, tls](const error_code& error,
                                             const asio::ip::tcp::resolver::results_type& found) {
        if (link->dead_) return;
        if (error) {
          return self->Down(link, zel::rt::kServerGone,
                            self->options_.address + ": " + error.message());
        }
        auto socket = std::make_shared<TcpSocket>(self->io_);
        link->tcpSocket_ = socket;
        asio::async_connect(
            *socket, found, [self, link, socket, tls](const error_code& failed, const auto&) {
              if (link->dead_) return;
              if (failed) {
                return self->Down(
                    link, ServerIsGone(failed) ? zel::rt::kServerGone : zel::rt::kConnectionBroken,
                    self->options_.address + ": " + failed.message());
              }
              socket->set_option(asio::ip::tcp::no_delay(true));
              link->channel_ = tls ? MakeTlsChannel(std::move(*socket), *self->tls_, false)
                                   : MakeTcpChannel(std::move(*socket));
              link->tcpSocket_.reset();
              self->Handshake(link);
            });
      });
}

void Client::Impl::Handshake(const std::shared_ptr<Link>& link) {
  link->channel_->Handshake([self = shared_from_this(), link](const error_code& error) {
    if (link->dead_) return;
    if (error) {
      return self->Down(link, zel::rt::kRefused, "the TLS handshake failed: " + error.message());
    }
    int32_t code = 0;
    self->Queue(link, EncodeHello(self->options_.protocolMajor, self->options_.protocolMinor,
                                  zel::rt::kOk, "", &code));
    self->ReadMore(link);
  });
}

void Client::Impl::ReadMore(const std::shared_ptr<Link>& link) {
  if (link->dead_) return;
  uint32_t room = 0;
  uint8_t* at = link->assembler_.WritePointer(64u << 10, &room);
  link->channel_->ReadSome(
      at, room, [self = shared_from_this(), link](const error_code& error, std::size_t count) {
        self->Read(link, error, count);
      });
}

void Client::Impl::Read(const std::shared_ptr<Link>& link, const error_code& error,
                        std::size_t count) {
  if (link->dead_) return;
  if (error) {
    // Before the greeting's answer a closed connection is the server's refusal (a TLS server
    // that does not accept our certificate closes it so).
    if (!link->up_) {
      return Down(link, zel::rt::kRefused,
                  "the server closed the connection while greeting: " + error.message());
    }
    return Down(link, zel::rt::kConnectionBroken, "the connection broke: " + error.message());
  }
  link->assembler_.Commit(static_cast<uint32_t>(count));
  for (;;) {
    const uint8_t* body = nullptr;
    uint32_t size = 0;
    const FrameAssembler::State state = link->assembler_.Next(&body, &size);
    if (state == FrameAssembler::State::kNeedMore) break;
    Frame frame;
    if (state != FrameAssembler::State::kFrameReady ||
        DecodeFrame(body, size, &frame) != zel::rt::kOk) {
      return Down(link, zel::rt::kConnectionBroken, "the server sent a malformed frame");
    }
    Handle(link, frame);
    if (link->dead_) return;
  }
  if (link->direct_) return Detach(link);
  ReadMore(link);
}

void Client::Impl::Handle(const std::shared_ptr<Link>& link, Frame& frame) {
  if (!link->up_) {
    if (frame.kind == FrameKind::kRefusal) {
      return Down(link, frame.result < 0 ? frame.result : zel::rt::kRefused,
                  "the server refused: " + frame.message);
    }
    if (frame.kind != FrameKind::kHello || frame.magic != kFrameMagic) {
      return Down(link, zel::rt::kConnectionBroken, "the server did not greet");
    }
    if (frame.result < 0) {
      return Down(link, frame.result, "the server refused: " + frame.message);
    }
    if (frame.major != options_.protocolMajor) {
      return Down(link, zel::rt::kVersionMismatch,
                  "the server speaks protocol " + std::to_string(frame.major) + "." +
                      std::to_string(frame.minor) + "; this console speaks " +
                      std::to_string(options_.protocolMajor) + "." +
                      std::to_string(options_.protocolMinor));
    }
    return Up(link);
  }
  switch (frame.kind) {
    case FrameKind::kReply:
      return Complete(frame);
    case FrameKind::kNotify: {
      std::shared_ptr<NotificationHandler> handler;
      {
        std::lock_guard lock(mu_);
        auto found = subscriptions_.find(frame.subscription);
        if (found != subscriptions_.end()) handler = found->second.handler;
      }
      if (!handler || !*handler) return;
      try {
        (*handler)(frame.subscription, std::move(frame.event));
      } catch (...) {
        // A handler's exception must not end the client's thread: the notification is lost.
      }
      return;
    }
    case FrameKind::kMonitored: {
      Subscription found;
      {
        std::lock_guard lock(mu_);
        auto at = subscriptions_.find(frame.subscription);
        if (at != subscriptions_.end()) found = at->second;
      }
      try {
        if (found.monitorHandler && *found.monitorHandler) {
          (*found.monitorHandler)(frame.monitored, std::move(frame.event));
        } else if (found.handler && *found.handler) {
          (*found.handler)(frame.subscription, std::move(frame.event));
        }
      } catch (...) {
        // As for notifications: the event is lost, the client's thread goes on.
      }
      return;
    }
    case FrameKind::kPost: {
      const uint16_t uid = frame.event->GetDestSubsystemUID();
      std::shared_ptr<PostHandler> handler;
      {
        std::lock_guard lock(mu_);
        auto found = postHandlers_.find(uid);
        if (found == postHandlers_.end()) return;  // no host of that UID takes it
        handler = found->second;
        delivering_ = uid;
      }
      try {
        (*handler)(std::move(frame.event));
      } catch (...) {
        // As for notifications: the event is lost, the client's thread goes on.
      }
      std::lock_guard lock(mu_);
      delivering_.reset();
      delivered_.notify_all();
      return;
    }
    case FrameKind::kRefusal:
      return Down(link, zel::rt::kConnectionBroken, "the server closed: " + frame.message);
    default:
      return Down(link, zel::rt::kConnectionBroken,
                  std::string("the server sent a ") + FrameKindName(frame.kind) + " frame");
  }
}

void Client::Impl::Complete(Frame& frame) {
  std::lock_guard lock(mu_);
  auto found = pending_.find(frame.requestID);
  // A reply nobody waits for any more (its caller timed out) is dropped.
  if (found == pending_.end()) return;
  Pending& waiting = *found->second;
  waiting.result = frame.result;
  waiting.reply = std::move(frame.event);
  waiting.done = true;
  waiting.answered.notify_one();
}

// The greeting succeeded: the link serves calls, and what was subscribed is asked again. A
// direct link's read role stays with the client's thread until the frames already read are
// handled and the socket has left Asio (Detach).
void Client::Impl::Up(const std::shared_ptr<Link>& link) {
  link->up_ = true;
  link->direct_ = link->channel_->WritableDirectly();
  if (link->direct_) link->fd_ = link->channel_->NativeHandle();
  link->deadline_->cancel();
  std::vector<EncodedFrame> again;
  {
    std::lock_guard lock(mu_);
    link->reading_ = link->direct_;
    link_ = link;
    attempt_.reset();
    connecting_ = false;
    for (const auto& [id, subscription] : subscriptions_) {
      int32_t code = 0;
      // Request ID 0 is never a caller's: its reply is dropped.
      again.push_back(EncodeSubscribe(0, id, subscription.monitor, subscription.eventIDs, &code));
    }
    changed_.notify_all();
  }
  for (auto& frame : again) Hand(link, std::move(frame), Clock::now() + options_.timeout);
}

// The link ends: an attempt that failed, or a connection that broke. Every call waiting on it
// gets `code`; the next call connects again.
void Client::Impl::Down(const std::shared_ptr<Link>& link, int32_t code, const std::string& why) {
  if (link->dead_) return;
  link->dead_ = true;
  {
    // Withdrawn before the socket closes: a call that sees the close (through the server, say)
    // and starts again must find no connection, not this one.
    std::lock_guard lock(mu_);
    if (link_ == link) link_.reset();
    if (attempt_ == link) attempt_.reset();
    link->down_ = true;  // from now on nobody takes the read role or touches the watch
  }
  if (link->deadline_) link->deadline_->cancel();
  if (link->resolver_) link->resolver_->cancel();
  if (link->watch_) {
    error_code ignored;
    link->watch_->close(ignored);
  }
  if (link->channel_) {
    // A caller may be writing to (or reading) the socket: shutting it down wakes it, and the
    // socket is closed only once the write has let go of it (a released one by the link).
    if (link->direct_) ::shutdown(link->fd_, SHUT_RDWR);
    std::lock_guard writing(link->writeMu_);
    link->closed_ = true;
    link->channel_->Close();
  }
  error_code ignored;
  if (link->localSocket_) link->localSocket_->close(ignored);
  if (link->tcpSocket_) link->tcpSocket_->close(ignored);
  link->queue_.clear();
  std::lock_guard lock(mu_);
  if (!link->up_ && generation_ == link->generation_) {
    connecting_ = false;
    attemptResult_ = code;
    attemptError_ = why;
  }
  for (auto& [id, waiting] : pending_) {
    if (waiting->generation == link->generation_ && !waiting->done) {
      waiting->done = true;
      waiting->result = link->up_ ? zel::rt::kConnectionBroken : code;
      waiting->why = why;
      waiting->answered.notify_one();
    }
  }
  changed_.notify_all();
}

void Client::Impl::Queue(const std::shared_ptr<Link>& link, EncodedFrame frame) {
  if (link->dead_ || !frame) return;
  link->queue_.push_back(std::move(frame));
  if (!link->writing_) WriteNext(link);
}

void Client::Impl::WriteNext(const std::shared_ptr<Link>& link) {
  if (link->queue_.empty()) {
    link->writing_ = false;
    return;
  }
  link->writing_ = true;
  const ZEL_BUF_BinBuffer& front = *link->queue_.front();
  link->channel_->Write(front.GetData(), front.GetSize(),
                        [self = shared_from_this(), link](const error_code& error, std::size_t) {
                          if (link->dead_) return;
                          if (error && !link->up_) {
                            // A server that refuses the greeting closes at once; its
                            // refusal is still to be read, and the read says why.
                            link->queue_.clear();
                            link->writing_ = false;
                            return;
                          }
                          if (error) {
                            return self->Down(link, zel::rt::kConnectionBroken,
                                              "the connection broke: " + error.message());
                          }
                          link->queue_.pop_front();
                          self->WriteNext(link);
                        });
}

// Writes a whole frame from the caller's thread. A frame that cannot be written whole by the
// deadline leaves the stream cut in the middle: the link is ended (its calls answer
// kConnectionBroken) and the next call connects again.
void Client::Impl::WriteDirect(const std::shared_ptr<Link>& link, const ZEL_BUF_BinBuffer& frame,
                               Clock::time_point deadline) {
  std::unique_lock writing(link->writeMu_);
  if (link->closed_) return;
  const int fd = link->fd_;
  const uint8_t* at = frame.GetData();
  std::size_t left = frame.GetSize();
  while (left > 0) {
    const ssize_t wrote = ::send(fd, at, left, MSG_NOSIGNAL);
    if (wrote > 0) {
      at += wrote;
      left -= static_cast<std::size_t>(wrote);
      continue;
    }
    const auto wait =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (wrote < 0 && (errno == EAGAIN || errno == EINTR) && wait.count() > 0) {
      pollfd ready{fd, POLLOUT, 0};
      ::poll(&ready, 1, static_cast<int>(wait.count()));
      continue;
    }
    writing.unlock();
    asio::post(io_, [self = shared_from_this(), link] {
      self->Down(link, zel::rt::kConnectionBroken, "the connection broke while writing");
    });
    return;
  }
}

// Sends one frame that expects a reply and waits for it until `deadline`.
int32_t Client::Impl::Call(EncodedFrame frame, uint64_t requestID, Clock::time_point deadline,
                           const std::shared_ptr<Link>& link,
                           std::unique_ptr<ZEL_BUF_EventBuffer>* reply) {
  Pending waiting;
  waiting.generation = link->generation_;
  bool leading = false;
  {
    std::lock_guard lock(mu_);
    if (link_ != link) return Fail(zel::rt::kConnectionBroken, "the connection broke");
    pending_[requestID] = &waiting;
    // Taken before the frame leaves, so that its reply cannot wake the client's thread first.
    if (link->direct_ && !link->reading_ && !link->down_) {
      TakeRole(*link);
      leading = true;
    }
  }
  Hand(link, std::move(frame), deadline);
  std::unique_lock lock(mu_);
  if (link->direct_) {
    lock.unlock();
    AwaitDirect(link, waiting, leading, deadline);
    lock.lock();
  } else {
    waiting.answered.wait_until(lock, deadline, [&] { return waiting.done; });
  }
  const bool answered = waiting.done;
  pending_.erase(requestID);
  // A call that was handed the read role and leaves without it passes it on.
  if (link->direct_) PassRole(*link, nullptr);
  if (!answered) {
    return Fail(zel::rt::kTimeout, "no reply from " + options_.address + " within the timeout");
  }
  if (waiting.result < 0) {
    if (waiting.result == zel::rt::kConnectionBroken) {
      return Fail(waiting.result, "the connection broke during the call: " + waiting.why);
    }
    return Fail(waiting.result, "the server answered a failure");
  }
  *reply = std::move(waiting.reply);
  return waiting.result;
}

// --- The read role of a direct link -----------------------------------------------------------

// Waits until `waiting` is answered (or the link ends) or the deadline passes, reading the
// socket whenever the read role is free. Leaves with the role let go.
int32_t Client::Impl::AwaitDirect(const std::shared_ptr<Link>& link, Pending& waiting, bool leading,
                                  Clock::time_point deadline) {
  std::unique_lock lock(mu_);
  while (!waiting.done) {
    if (!leading) {
      if (!link->reading_ && !link->down_) {
        TakeRole(*link);
        leading = true;
      } else if (!waiting.answered.wait_until(lock, deadline, [&] {
                   return waiting.done || (!link->reading_ && !link->down_);
                 })) {
        break;
      }
      continue;
    }
    lock.unlock();
    std::string why;
    const Led led = Lead(link, waiting, deadline, &why);
    lock.lock();
    link->reading_ = false;
    leading = false;
    if (led == Led::kBroken && !link->down_) {
      // Ended on the client's thread, which tells every call of the link (this one too).
      link->down_ = true;
      asio::post(io_, [self = shared_from_this(), link, why] {
        self->Down(link, zel::rt::kConnectionBroken, why);
      });
    }
    if (led == Led::kTimedOut) break;
  }
  return waiting.done ? waiting.result : zel::rt::kTimeout;
}

// Reads until this call's reply has come (it may be read by this thread or, before the role was
// taken, by another), the deadline passes or the connection ends.
Client::Impl::Led Client::Impl::Lead(const std::shared_ptr<Link>& link, const Pending& mine,
                                     Clock::time_point deadline, std::string* why) {
  for (;;) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return Led::kTimedOut;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
    const timespec wait{static_cast<time_t>(seconds.count()),
                        static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
    pollfd ready{link->fd_, POLLIN, 0};
    const int polled = ::ppoll(&ready, 1, &wait, nullptr);
    if (polled < 0 && errno != EINTR) {
      *why = std::string("the connection broke: ") + std::strerror(errno);
      return Led::kBroken;
    }
    if (polled <= 0) continue;
    bool more = false;
    do {
      if (!ReadSocket(link, &more, why)) return Led::kBroken;
    } while (more);
    std::lock_guard lock(mu_);
    if (mine.done) return Led::kAnswered;
  }
}

// One read of what has come, without waiting; every whole frame goes to its owner. *more says
// the read filled the room it had (more may be waiting). False when the connection ended.
bool Client::Impl::ReadSocket(const std::shared_ptr<Link>& link, bool* more, std::string* why) {
  *more = false;
  uint32_t room = 0;
  uint8_t* at = link->assembler_.WritePointer(64u << 10, &room);
  const ssize_t got = ::recv(link->fd_, at, room, MSG_DONTWAIT);
  if (got < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return true;
    *why = std::string("the connection broke: ") + std::strerror(errno);
    return false;
  }
  if (got == 0) {
    *why = "the connection broke: the server closed it";
    return false;
  }
  link->assembler_.Commit(static_cast<uint32_t>(got));
  *more = static_cast<uint32_t>(got) == room;
  return TakeFrames(link, why);
}

bool Client::Impl::TakeFrames(const std::shared_ptr<Link>& link, std::string* why) {
  for (;;) {
    const uint8_t* body = nullptr;
    uint32_t size = 0;
    const FrameAssembler::State state = link->assembler_.Next(&body, &size);
    if (state == FrameAssembler::State::kNeedMore) return true;
    Frame frame;
    if (state != FrameAssembler::State::kFrameReady ||
        DecodeFrame(body, size, &frame) != zel::rt::kOk) {
      *why = "the server sent a malformed frame";
      return false;
    }
    if (!Route(link, frame, why)) return false;
  }
}

// A reply goes to its caller; notifications, monitored events and posts are delivered on the
// client's thread (in the order they came, since one thread reads at a time). False for a frame
// that ends the link.
bool Client::Impl::Route(const std::shared_ptr<Link>& link, Frame& frame, std::string* why) {
  switch (frame.kind) {
    case FrameKind::kReply:
      Complete(frame);
      return true;
    case FrameKind::kNotify:
    case FrameKind::kMonitored:
    case FrameKind::kPost:
      if (OnOwnThread()) {
        Handle(link, frame);
      } else {
        auto handed = std::make_shared<Frame>(std::move(frame));
        asio::post(io_, [self = shared_from_this(), link, handed] { self->Handle(link, *handed); });
      }
      return true;
    case FrameKind::kRefusal:
      *why = "the server closed: " + frame.message;
      return false;
    default:
      *why = std::string("the server sent a ") + FrameKindName(frame.kind) + " frame";
      return false;
  }
}

void Client::Impl::TakeRole(Link& link) {
  link.reading_ = true;
  if (link.armed_) {
    Watch(link, 0);
    link.armed_ = false;
  }
}

// The role is free: a call still waiting on the link takes it, or, with none, the client's
// thread watches the socket.
void Client::Impl::PassRole(Link& link, const Pending* leaving) {
  if (link.reading_ || link.down_ || !link.watch_) return;
  for (const auto& [id, waiting] : pending_) {
    if (waiting != leaving && waiting->generation == link.generation_ && !waiting->done) {
      waiting->answered.notify_one();
      return;
    }
  }
  if (!link.armed_) {
    Watch(link, EPOLLIN | EPOLLRDHUP);
    link.armed_ = true;
  }
}

// One-shot: once it has fired, the socket wakes nobody until it is armed again.
void Client::Impl::Watch(Link& link, uint32_t events) {
  epoll_event asked{};
  asked.events = events | EPOLLONESHOT;
  ::epoll_ctl(link.watch_->native_handle(), EPOLL_CTL_MOD, link.fd_, &asked);
}

// After the greeting, on the client's thread: the socket leaves Asio and the read role is let go.
void Client::Impl::Detach(const std::shared_ptr<Link>& link) {
  const int fd = link->channel_->Release();
  link->released_ = fd >= 0;
  const int set = fd < 0 ? -1 : ::epoll_create1(EPOLL_CLOEXEC);
  epoll_event disarmed{};
  disarmed.events = EPOLLONESHOT;
  if (set < 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) != 0 ||
      ::epoll_ctl(set, EPOLL_CTL_ADD, fd, &disarmed) != 0) {
    const std::string why =
        std::string("the connection cannot be watched: ") + std::strerror(errno);
    if (set >= 0) ::close(set);
    return Down(link, zel::rt::kConnectionBroken, why);
  }
  {
    std::lock_guard lock(mu_);
    link->watch_ = std::make_unique<asio::posix::stream_descriptor>(io_, set);
    link->reading_ = false;
    PassRole(*link, nullptr);
  }
  WatchNext(link);
}

void Client::Impl::WatchNext(const std::shared_ptr<Link>& link) {
  link->watch_->async_wait(asio::posix::stream_descriptor::wait_read,
                           [self = shared_from_this(), link](const error_code& error) {
                             if (!error && !link->dead_) self->Watched(link);
                           });
}

// The socket became readable while the watch was armed: no call held the role then.
void Client::Impl::Watched(const std::shared_ptr<Link>& link) {
  epoll_event fired{};
  ::epoll_wait(link->watch_->native_handle(), &fired, 1, 0);  // takes the one-shot event
  {
    std::lock_guard lock(mu_);
    link->armed_ = false;
    if (link->down_) return;
    // A call that took the role since reads what came; it arms the watch when it lets go.
    if (!link->reading_)
      link->reading_ = true;
    else
      return WatchNext(link);
  }
  std::string why;
  bool more = false;
  bool open = true;
  do {
    open = ReadSocket(link, &more, &why);
  } while (open && more);
  if (!open) return Down(link, zel::rt::kConnectionBroken, why);
  {
    std::lock_guard lock(mu_);
    link->reading_ = false;
    PassRole(*link, nullptr);
  }
  WatchNext(link);
}

void Client::Impl::Drop(const std::string& why) {
  bool onOwnThread = false;
  {
    std::lock_guard lock(mu_);
    if (!thread_.joinable()) return;
    onOwnThread = OnOwnThread();
  }
  auto dropped = std::make_shared<std::promise<void>>();
  std::future<void> done = dropped->get_future();
  asio::post(io_, [self = shared_from_this(), why, dropped] {
    std::shared_ptr<Link> link;
    std::shared_ptr<Link> attempt;
    {
      std::lock_guard lock(self->mu_);
      link = self->link_;
      attempt = self->attempt_;
    }
    if (link) self->Down(link, zel::rt::kConnectionBroken, why);
    if (attempt) self->Down(attempt, zel::rt::kConnectionBroken, why);
    dropped->set_value();
  });
  // Once Drop returns the connection is gone, so that the next call connects again instead of
  // going out on the old connection and failing when the drop catches up with it. The client's
  // own thread (a handler) cannot wait for itself.
  if (!onOwnThread) done.wait();
}

// Ends the connection and lets the thread run out of work: every socket is closed, so every
// handler still pending completes and nothing is left holding the client.
void Client::Impl::Stop() {
  {
    std::lock_guard lock(mu_);
    if (!thread_.joinable()) return;
  }
  Drop("the console closed the connection");
  work_.reset();
  thread_.join();
}

Client::Client(ClientOptions options) : impl_(std::make_shared<Impl>(std::move(options))) {
  if (impl_->options_.offerDispatcher) {
    ZelPluginApis.Offer(kZelEventDispatcherInterface, static_cast<ZEL_PIF_EventDispatcher*>(this));
  }
}

Client::~Client() {
  void* ours = static_cast<ZEL_PIF_EventDispatcher*>(this);
  if (ZelPluginApis.Offered(kZelEventDispatcherInterface) == ours) {
    ZelPluginApis.Withdraw(kZelEventDispatcherInterface);
  }
  impl_->Stop();
}

int32_t Client::Connect() {
  std::shared_ptr<Link> link;
  return impl_->Connected(Clock::now() + impl_->options_.timeout, &link);
}

void Client::Disconnect() { impl_->Drop("the console closed the connection"); }

int32_t Client::Send(ZEL_BUF_EventBuffer* request, ZEL_BUF_EventBuffer** reply) {
  std::unique_ptr<ZEL_BUF_EventBuffer> owned(request);
  *reply = nullptr;
  if (request == nullptr) return Fail(zel::rt::kInvalidArgument, "no request");
  const Clock::time_point deadline = Clock::now() + impl_->options_.timeout;
  std::shared_ptr<Link> link;
  int32_t code = impl_->Connected(deadline, &link);
  if (code != zel::rt::kOk) return code;
  const uint64_t id = impl_->nextRequest_++;
  EncodedFrame frame = EncodeRequest(id, *request, &code);
  if (!frame) return Fail(code, "the request cannot be sent");
  owned.reset();
  std::unique_ptr<ZEL_BUF_EventBuffer> answer;
  const int32_t result = impl_->Call(std::move(frame), id, deadline, link, &answer);
  if (result < 0) return result;
  if (!answer) return Fail(zel::rt::kNoReply, "the server answered without a reply");
  *reply = answer.release();
  return result;
}

int32_t Client::Post(ZEL_BUF_EventBuffer* event) {
  std::unique_ptr<ZEL_BUF_EventBuffer> owned(event);
  if (event == nullptr) return Fail(zel::rt::kInvalidArgument, "no event");
  std::shared_ptr<Link> link;
  int32_t code = impl_->Connected(Clock::now() + impl_->options_.timeout, &link);
  if (code != zel::rt::kOk) return code;
  EncodedFrame frame = EncodePost(*event, &code);
  if (!frame) return Fail(code, "the event cannot be sent");
  impl_->Hand(link, std::move(frame), Clock::now() + impl_->options_.timeout);
  return zel::rt::kOk;
}

int32_t Client::Subscribe(const std::vector<uint16_t>& eventIDs, bool monitor,
                          NotificationHandler handler, uint32_t* subscription) {
  Impl::Subscription asked;
  asked.eventIDs.assign(eventIDs.begin(), eventIDs.end());
  asked.monitor = monitor;
  asked.handler = std::make_shared<NotificationHandler>(std::move(handler));
  return impl_->Subscribe(std::move(asked), subscription);
}

int32_t Client::Monitor(MonitorHandler handler, uint32_t* subscription) {
  Impl::Subscription asked;
  asked.monitor = true;
  asked.monitorHandler = std::make_shared<MonitorHandler>(std::move(handler));
  return impl_->Subscribe(std::move(asked), subscription);
}

int32_t Client::Impl::Subscribe(Subscription asked, uint32_t* subscription) {
  const Clock::time_point deadline = Clock::now() + options_.timeout;
  std::shared_ptr<Link> link;
  int32_t code = Connected(deadline, &link);
  if (code != zel::rt::kOk) return code;
  uint32_t id = 0;
  EncodedFrame frame;
  const uint64_t requestID = nextRequest_++;
  {
    std::lock_guard lock(mu_);
    id = nextSubscription_++;
    frame = EncodeSubscribe(requestID, id, asked.monitor, asked.eventIDs, &code);
    if (!frame) return Fail(code, "the subscription cannot be sent");
    subscriptions_[id] = std::move(asked);
  }
  std::unique_ptr<ZEL_BUF_EventBuffer> none;
  const int32_t result = Call(std::move(frame), requestID, deadline, link, &none);
  if (result < 0) {
    std::lock_guard lock(mu_);
    subscriptions_.erase(id);
    return result;
  }
  *subscription = id;
  return zel::rt::kOk;
}

int32_t Client::Unsubscribe(uint32_t subscription) {
  {
    std::lock_guard lock(impl_->mu_);
    if (impl_->subscriptions_.erase(subscription) == 0) {
      return Fail(zel::rt::kInvalidArgument, "no such subscription");
    }
  }
  const Clock::time_point deadline = Clock::now() + impl_->options_.timeout;
  std::shared_ptr<Link> link;
  int32_t code = impl_->Connected(deadline, &link);
  if (code != zel::rt::kOk) return code;
  const uint64_t requestID = impl_->nextRequest_++;
  EncodedFrame frame = EncodeUnsubscribe(requestID, subscription, &code);
  if (!frame) return Fail(code, "the request cannot be sent");
  std::unique_ptr<ZEL_BUF_EventBuffer> none;
  const int32_t result = impl_->Call(std::move(frame), requestID, deadline, link, &none);
  return result < 0 ? result : zel::rt::kOk;
}

void Client::Impl::SetPostHandler(uint16_t uid, PostHandler handler) {
  std::unique_lock lock(mu_);
  if (handler) {
    postHandlers_[uid] = std::make_shared<PostHandler>(std::move(handler));
  } else {
    postHandlers_.erase(uid);
  }
  if (OnOwnThread()) return;  // a handler that changes handlers would wait for itself
  delivered_.wait(lock, [&] { return delivering_ != uid; });
}

void Client::SetPostHandler(uint16_t uid, PostHandler handler) {
  impl_->SetPostHandler(uid, std::move(handler));
}

std::string Client::LastError() { return lastError; }

}  // namespace zel::transport
