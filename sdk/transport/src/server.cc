// The server: acceptors, one session per connection, the event loop's threads.
//
// Threads: the event loop runs on `threads` threads. Each connection has a strand: its reads,
// timer and subscriptions are touched only there. A request's handler runs on any loop thread
// (so one connection's requests are handled side by side), and that thread writes its reply: a
// frame goes straight to a socket without TLS when nothing else is being written to it (no hop
// back to the strand, no completion to wake a thread for); what cannot be written at once is
// queued, and the queue is written from the strand. The write queue has its own lock. One-way
// events are handed to their subsystem on the strand, in the order they came. Publish and PostTo
// may be called from any thread; they post to the strands.
#include "zel/transport/server.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

#include "channel.h"
#include "zel/runtime/codes.h"
#include "zel/transport/address.h"

namespace zel::transport {
namespace {

using boost::system::error_code;
using Clock = std::chrono::steady_clock;

// How much the body of a frame may grow per read beyond what came.
constexpr uint32_t kReadChunk = 64u << 10;

// The account of a Unix peer: "unix:LOGIN" (or "unix:#UID" for a UID without a login).
std::string UnixLogin(int fd, uid_t* uid) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return {};
  *uid = credentials.uid;
  passwd entry{};
  passwd* found = nullptr;
  char text[1024];
  if (getpwuid_r(credentials.uid, &entry, text, sizeof text, &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return "#" + std::to_string(credentials.uid);
}

// Connection IDs are unique in the process, not only per server: a subsystem may still hold
// what it kept for a connection of a server that a reload replaced.
std::atomic<uint64_t> nextConnection{1};

// Raises the soft limit of open files to the hard one: each connection holds one.
void RaiseFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace

class Session;

class Server::Impl : public std::enable_shared_from_this<Server::Impl> {
 public:
  Impl(zel::rt::InProcessFarm& farm, ServerOptions options)
      : farm_(farm), options_(std::move(options)) {}

  int32_t Start(std::string* error);
  void Stop();
  void Publish(const ZEL_BUF_EventBuffer& event);
  int32_t PostTo(uint64_t connection, const ZEL_BUF_EventBuffer& event);
  void Log(const std::string& line) {
    if (logHook_) logHook_(line);
  }
  void Forget(uint64_t id) {
    std::lock_guard lock(mu_);
    sessions_.erase(id);
    monitorSessions_.erase(id);
    monitors_ = monitorSessions_.size();
  }
  // Whether any connection monitors now: the one check on the paths of every event.
  bool Monitored() const { return monitors_.load(std::memory_order_relaxed) != 0; }
  void Watch(uint64_t id, std::weak_ptr<Session> session, bool watching) {
    std::lock_guard lock(mu_);
    if (watching) {
      monitorSessions_[id] = std::move(session);
    } else {
      monitorSessions_.erase(id);
    }
    monitors_ = monitorSessions_.size();
  }
  // Hands a blanked copy of `event` to every monitoring connection.
  void Monitor(MonitoredFrom from, const ZEL_BUF_EventBuffer& event);
  // The reply to request `id` (event `eventID`); one without an event is shown as an empty
  // event of the request's ID with the call's result.
  void MonitorReply(const zel::rt::Caller& caller, uint64_t id, uint16_t eventID, int32_t result,
                    const std::unique_ptr<ZEL_BUF_EventBuffer>& reply) {
    const ZEL_BUF_EventBuffer2 none(eventID, ZELVersion(1, 0), 0, 0);
    const ZEL_BUF_EventBuffer& shown =
        reply ? *reply : static_cast<const ZEL_BUF_EventBuffer&>(none);
    Monitor({Flow::kReply, 0, caller.connection, id, result, caller.peer}, shown);
  }

  zel::rt::InProcessFarm& farm_;
  const ServerOptions options_;
  Server::SubscribeHook subscribeHook_;
  Server::LogHook logHook_;
  Server::BlankHook blankHook_;
  asio::io_context io_;
  std::optional<asio::ssl::context> tls_;
  mutable std::mutex mu_;
  std::map<uint64_t, std::weak_ptr<Session>> sessions_;
  std::map<uint64_t, std::weak_ptr<Session>> monitorSessions_;  // under mu_
  std::atomic<std::size_t> monitors_{0};                        // monitorSessions_.size()
  std::vector<std::string> listening_;
  bool stopping_ = false;  // under mu_

 private:
  struct Listener {
    Address address;
    std::unique_ptr<asio::local::stream_protocol::acceptor> local;
    std::unique_ptr<asio::ip::tcp::acceptor> tcp;
    std::unique_ptr<asio::steady_timer> backoff;
  };

  int32_t Listen(const Address& address, std::string* error);
  int32_t Adopt(int fd, std::string* error);
  void Accept(Listener& listener);
  void Accepted(Listener& listener, const error_code& error);
  void Begin(std::unique_ptr<Channel> channel, asio::any_io_executor strand, Address::Kind kind);

  std::vector<std::unique_ptr<Listener>> listeners_;
  std::vector<std::string> unixPaths_;
  std::vector<std::thread> threads_;
  bool started_ = false;
};

// An event on its way to the monitors, blanked once for all of them.
struct MonitoredEvent {
  MonitoredFrom from;
  std::unique_ptr<ZEL_BUF_EventBuffer2> event;
};

// One console's connection.
class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(std::shared_ptr<Server::Impl> server, std::unique_ptr<Channel> channel,
          asio::any_io_executor strand, uint64_t id, Address::Kind kind, bool overLimit)
      : server_(std::move(server)),
        channel_(std::move(channel)),
        strand_(std::move(strand)),
        timer_(strand_),
        kind_(kind),
        overLimit_(overLimit) {
    caller_.connection = id;
  }
  ~Session() { server_->farm_.ConnectionClosed(caller_.connection); }

  void Start();
  // On the strand: a notification for every subscription that asks for this event.
  void Notify(const std::shared_ptr<const ZEL_BUF_EventBuffer2>& event);
  void PostNotify(std::shared_ptr<const ZEL_BUF_EventBuffer2> event) {
    asio::post(strand_, [self = shared_from_this(), event] { self->Notify(event); });
  }
  // A one-way event of a subsystem for this console, once greeted.
  void PostFrame(EncodedFrame frame) {
    auto shared = std::make_shared<EncodedFrame>(std::move(frame));
    asio::post(strand_, [self = shared_from_this(), shared] {
      if (self->greeted_) self->Queue(std::move(*shared));
    });
  }
  void PostMonitored(std::shared_ptr<const MonitoredEvent> event) {
    asio::post(strand_, [self = shared_from_this(), event] { self->Monitored(*event); });
  }
  // Set once the connection is identified, before any request of it is handled.
  const zel::rt::Caller& caller() const { return caller_; }
  void CloseOnStrand(const std::string& why) {
    asio::post(strand_, [self = shared_from_this(), why] { self->Close(why); });
  }

 private:
  // Runs a subsystem's handler on a loop thread. An exception must not end the thread (and with
  // it the server): it becomes a failed call and a log line.
  template <class Run>
  static int32_t Guarded(Server::Impl& server, const char* what, Run run) {
    try {
      return run();
    } catch (const std::bad_alloc&) {
      server.Log(std::string(what) + " ran out of memory");
      return zel::rt::kNoMemory;
    } catch (...) {
      server.Log(std::string(what) + " threw an exception");
      return zel::rt::kNotAccepted;
    }
  }

  void Identify();
  void ReadMore();
  void Read(const error_code& error, std::size_t count);
  void Handle(Frame& frame);
  void Greeted(const Frame& frame);
  void Request(Frame& frame);
  void Subscribe(const Frame& frame);
  // A request handed to its subsystem, on a loop thread off the strand; then its answer.
  void Dispatch(const zel::rt::Caller& caller, ZEL_BUF_EventBuffer* request, uint64_t requestID);
  // A reply leaves for the console (written at once when it can be), from any thread.
  void Answer(uint64_t requestID, int32_t result, const ZEL_BUF_EventBuffer* reply);
  // On the strand: the event for every monitor subscription, unless the queue is too long.
  void Monitored(const MonitoredEvent& event);
  // Tells the server whether this connection monitors now.
  void WatchIfMonitoring();
  // Any thread (TLS channels: the strand only).
  void Queue(EncodedFrame frame);
  bool SendNow(const ZEL_BUF_BinBuffer& frame, std::size_t* sent);
  std::size_t QueuedBytes() {
    std::lock_guard lock(writeMu_);
    return queuedBytes_;
  }
  void WriteNext();
  void Refuse(int32_t code, const std::string& message);
  void CloseAfterWrite(const std::string& why);
  void Close(const std::string& why);
  void ArmTimer();
  void Wait(Clock::time_point at);

  std::shared_ptr<Server::Impl> server_;
  std::unique_ptr<Channel> channel_;
  asio::any_io_executor strand_;
  asio::steady_timer timer_;
  Clock::time_point deadline_ = Clock::time_point::max();  // when the connection is dropped
  const char* deadlineWhy_ = "read timeout";
  Clock::time_point timerAt_ = Clock::time_point::max();  // when the timer fires next
  Address::Kind kind_;
  bool overLimit_;
  zel::rt::Caller caller_;
  FrameAssembler assembler_;
  bool greeted_ = false;
  uint16_t minor_ = 0;  // the console's protocol minor version: 1 takes monitored frames
  bool closed_ = false;
  bool closeAfterWrite_ = false;
  Clock::time_point greetBy_;
  const bool direct_ = channel_->WritableDirectly();
  std::mutex writeMu_;
  bool writeClosed_ = false;        // under writeMu_: the socket is closed, nothing more is written
  std::deque<EncodedFrame> queue_;  // under writeMu_, and the three below
  std::size_t frontSent_ = 0;       // bytes of the first queued frame already written
  std::size_t queuedBytes_ = 0;
  bool writing_ = false;  // the strand writes the queue
  std::atomic<uint32_t> inFlight_{0};
  std::map<uint32_t, SubscriptionRequest> subscriptions_;
  std::map<uint32_t, uint32_t> dropped_;  // monitored events each monitor subscription missed
};

void Session::Start() {
  greetBy_ = Clock::now() + server_->options_.readTimeout;
  ArmTimer();
  channel_->Handshake([self = shared_from_this()](const error_code& error) {
    if (error) return self->Close("TLS handshake failed: " + error.message());
    self->Identify();
  });
}

// Who is at the other end, as the channel vouches; then the hello is awaited.
void Session::Identify() {
  const ServerOptions& options = server_->options_;
  if (kind_ == Address::Kind::kUnix) {
    uid_t uid = 0;
    const std::string login = UnixLogin(channel_->NativeHandle(), &uid);
    if (!login.empty()) {
      caller_.peer = "unix:" + login;
      caller_.owner = !options.owner.empty() && login == options.owner;
    }
  } else if (kind_ == Address::Kind::kTls) {
    const std::string subject = channel_->PeerSubject();
    const auto mapped = options.certMap.find(subject);
    if (mapped == options.certMap.end()) {
      return Refuse(zel::rt::kRefused,
                    "the certificate subject \"" + subject + "\" is not mapped to an account");
    }
    caller_.peer = mapped->second;
  }
  if (overLimit_) return Refuse(zel::rt::kRefused, "the server has too many connections");
  ReadMore();
}

void Session::ReadMore() {
  if (closed_ || closeAfterWrite_) return;
  uint32_t room = 0;
  uint8_t* at = assembler_.WritePointer(kReadChunk, &room);
  channel_->ReadSome(at, room,
                     [self = shared_from_this()](const error_code& error, std::size_t count) {
                       self->Read(error, count);
                     });
}

void Session::Read(const error_code& error, std::size_t count) {
  if (closed_) return;
  if (error) {
    return Close(error == asio::error::eof ? "closed by the console" : error.message());
  }
  assembler_.Commit(static_cast<uint32_t>(count));
  for (;;) {
    const uint8_t* body = nullptr;
    uint32_t size = 0;
    const FrameAssembler::State state = assembler_.Next(&body, &size);
    if (state == FrameAssembler::State::kNeedMore) break;
    if (state != FrameAssembler::State::kFrameReady) {
      return Refuse(zel::rt::kInvalidArgument, state == FrameAssembler::State::kTooLong
                                                   ? "a frame is longer than the maximum"
                                                   : "a frame is empty");
    }
    Frame frame;
    const int32_t decoded = DecodeFrame(body, size, &frame);
    if (decoded != zel::rt::kOk) return Refuse(decoded, "a frame is malformed");
    Handle(frame);
    if (closed_ || closeAfterWrite_) return;
  }
  ArmTimer();
  ReadMore();
}

void Session::Handle(Frame& frame) {
  if (!greeted_) {
    if (frame.kind != FrameKind::kHello) return Refuse(zel::rt::kInvalidArgument, "no hello");
    return Greeted(frame);
  }
  zel::rt::Caller caller = caller_;
  switch (frame.kind) {
    case FrameKind::kRequest:
      return Request(frame);
    case FrameKind::kPost:
      caller.sourceUID = frame.event->GetSrcSubsystemUID();
      if (server_->Monitored()) {
        server_->Monitor({Flow::kPostFromConsole, 0, caller.connection, 0, 0, caller.peer},
                         *frame.event);
      }
      Guarded(*server_, "a post handler", [&] {
        server_->farm_.PostAs(caller, frame.event.release());
        return zel::rt::kOk;
      });
      return;
    case FrameKind::kSubscribe:
      return Subscribe(frame);
    case FrameKind::kUnsubscribe: {
      const bool known = subscriptions_.erase(frame.subscription) == 1;
      dropped_.erase(frame.subscription);
      WatchIfMonitoring();
      int32_t code = 0;
      Queue(EncodeReply(frame.requestID, known ? zel::rt::kOk : zel::rt::kInvalidArgument, nullptr,
                        &code));
      return;
    }
    default:
      return Refuse(zel::rt::kInvalidArgument,
                    std::string("a console does not send ") + FrameKindName(frame.kind));
  }
}

void Session::Greeted(const Frame& frame) {
  const ServerOptions& options = server_->options_;
  int32_t code = 0;
  if (frame.magic != kFrameMagic) return Refuse(zel::rt::kInvalidArgument, "not a farm console");
  if (frame.major != options.protocolMajor) {
    const std::string message = "the console speaks protocol " + std::to_string(frame.major) + "." +
                                std::to_string(frame.minor) + "; this server speaks " +
                                std::to_string(options.protocolMajor) + "." +
                                std::to_string(options.protocolMinor);
    server_->Log("connection " + std::to_string(caller_.connection) + " refused: " + message);
    Queue(EncodeHello(options.protocolMajor, options.protocolMinor, zel::rt::kVersionMismatch,
                      message, &code));
    return CloseAfterWrite(message);
  }
  greeted_ = true;
  minor_ = frame.minor;
  Queue(EncodeHello(options.protocolMajor, options.protocolMinor, zel::rt::kOk, "", &code));
}

void Session::Request(Frame& frame) {
  int32_t code = 0;
  if (inFlight_.load() >= server_->options_.maxInFlight) {
    // Refused at once rather than queued: the console sees it and can try again later.
    return Queue(EncodeReply(frame.requestID, zel::rt::kRefused, nullptr, &code));
  }
  ++inFlight_;
  zel::rt::Caller caller = caller_;
  caller.sourceUID = frame.event->GetSrcSubsystemUID();
  if (server_->Monitored()) {
    server_->Monitor({Flow::kRequest, 0, caller.connection, frame.requestID, 0, caller.peer},
                     *frame.event);
  }
  // Posted work always runs (the loop ends only when none is left), so the farm always takes
  // the request over.
  ZEL_BUF_EventBuffer* request = frame.event.release();
  asio::defer(server_->io_, [self = shared_from_this(), caller, request, id = frame.requestID] {
    self->Dispatch(caller, request, id);
    --self->inFlight_;
  });
}

void Session::Dispatch(const zel::rt::Caller& caller, ZEL_BUF_EventBuffer* request,
                       uint64_t requestID) {
  const uint16_t eventID = request->GetEventID();  // the farm takes the request over
  ZEL_BUF_EventBuffer* answer = nullptr;
  const int32_t result = Guarded(*server_, "a request handler",
                                 [&] { return server_->farm_.SendAs(caller, request, &answer); });
  std::unique_ptr<ZEL_BUF_EventBuffer> reply(answer);
  if (server_->Monitored()) server_->MonitorReply(caller, requestID, eventID, result, reply);
  Answer(requestID, result, reply.get());
}

void Session::Answer(uint64_t requestID, int32_t result, const ZEL_BUF_EventBuffer* reply) {
  int32_t encoded = 0;
  EncodedFrame out = EncodeReply(requestID, result, reply, &encoded);
  if (!out) out = EncodeReply(requestID, encoded, nullptr, &encoded);  // a reply too large to send
  if (direct_) return Queue(std::move(out));
  auto shared = std::make_shared<EncodedFrame>(std::move(out));
  asio::post(strand_, [self = shared_from_this(), shared] { self->Queue(std::move(*shared)); });
}

void Session::Subscribe(const Frame& frame) {
  SubscriptionRequest asked{frame.subscription, frame.monitor, frame.eventIDs};
  int32_t result = zel::rt::kOk;
  if (server_->subscribeHook_) {
    result = server_->subscribeHook_(caller_, asked);
  } else if (asked.monitor && !caller_.owner) {
    result = zel::rt::kRefused;
  }
  if (result >= 0) subscriptions_[asked.subscription] = std::move(asked);
  WatchIfMonitoring();
  int32_t code = 0;
  Queue(EncodeReply(frame.requestID, result, nullptr, &code));
}

void Session::WatchIfMonitoring() {
  // A console of minor version 0 cannot read monitored frames: its monitor gets the
  // notifications as it always did.
  const bool watching = minor_ >= 1 && std::any_of(subscriptions_.begin(), subscriptions_.end(),
                                                   [](const auto& s) { return s.second.monitor; });
  server_->Watch(caller_.connection, weak_from_this(), watching);
}

void Session::Monitored(const MonitoredEvent& event) {
  if (closed_ || !greeted_) return;
  for (const auto& [subscription, asked] : subscriptions_) {
    if (!asked.monitor) continue;
    uint32_t& dropped = dropped_[subscription];
    MonitoredFrom from = event.from;
    from.dropped = dropped;
    int32_t code = 0;
    EncodedFrame frame = EncodeMonitored(subscription, from, *event.event, &code);
    // A monitor that reads too slowly misses events rather than holding the server's memory.
    if (!frame || QueuedBytes() + frame->GetSize() > server_->options_.maxMonitorQueuedBytes) {
      ++dropped;
      continue;
    }
    dropped = 0;
    Queue(std::move(frame));
  }
}

void Session::Notify(const std::shared_ptr<const ZEL_BUF_EventBuffer2>& event) {
  if (closed_ || !greeted_) return;
  const uint32_t id = event->GetEventID();
  // A monitor that takes monitored frames has this notification among them.
  const bool monitorsByFrame = minor_ >= 1;
  for (const auto& [subscription, asked] : subscriptions_) {
    const bool wanted = asked.monitor ? !monitorsByFrame
                                      : std::find(asked.eventIDs.begin(), asked.eventIDs.end(),
                                                  id) != asked.eventIDs.end();
    int32_t code = 0;
    if (wanted) Queue(EncodeNotify(subscription, *event, &code));
  }
}

// A frame is written at once, on the calling thread, when the channel allows it and nothing is
// queued before it; the rest of it (a console that reads slowly) is queued for the strand.
void Session::Queue(EncodedFrame frame) {
  if (!frame) return;
  std::unique_lock lock(writeMu_);
  if (writeClosed_) return;
  std::size_t sent = 0;
  if (direct_ && !writing_) {
    if (!SendNow(*frame, &sent)) {
      const std::string why = std::string("write failed: ") + std::strerror(errno);
      lock.unlock();
      return CloseOnStrand(why);
    }
    if (sent == frame->GetSize()) return;
  }
  queuedBytes_ += frame->GetSize() - sent;
  if (queuedBytes_ > server_->options_.maxQueuedBytes) {
    lock.unlock();
    return CloseOnStrand("the console reads too slowly");
  }
  if (queue_.empty()) frontSent_ = sent;
  queue_.push_back(std::move(frame));
  if (writing_) return;
  writing_ = true;
  lock.unlock();
  if (direct_) {
    asio::post(strand_, [self = shared_from_this()] { self->WriteNext(); });
  } else {
    WriteNext();  // TLS: queued on the strand only
  }
}

// Writes what the socket takes without waiting; false when the connection is broken (errno).
bool Session::SendNow(const ZEL_BUF_BinBuffer& frame, std::size_t* sent) {
  const int fd = channel_->NativeHandle();
  while (*sent < frame.GetSize()) {
    const ssize_t wrote =
        ::send(fd, frame.GetData() + *sent, frame.GetSize() - *sent, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (wrote > 0) {
      *sent += static_cast<std::size_t>(wrote);
    } else if (wrote < 0 && errno == EINTR) {
      continue;
    } else {
      return wrote < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
  }
  return true;
}

// On the strand: writes the queue, front first, until it is empty.
void Session::WriteNext() {
  std::unique_lock lock(writeMu_);
  if (writeClosed_) return;
  if (queue_.empty()) {
    writing_ = false;
    lock.unlock();
    if (closeAfterWrite_) Close("refused");
    return;
  }
  const ZEL_BUF_BinBuffer& front = *queue_.front();
  const std::size_t from = frontSent_;
  lock.unlock();
  channel_->Write(front.GetData() + from, front.GetSize() - from,
                  [self = shared_from_this()](const error_code& error, std::size_t) {
                    if (self->closed_) return;
                    if (error) return self->Close("write failed: " + error.message());
                    {
                      std::lock_guard done(self->writeMu_);
                      if (self->writeClosed_) return;
                      self->queuedBytes_ -= self->queue_.front()->GetSize() - self->frontSent_;
                      self->frontSent_ = 0;
                      self->queue_.pop_front();
                    }
                    self->WriteNext();
                  });
}

// Closes once what is queued has been written (at once when nothing is).
void Session::CloseAfterWrite(const std::string& why) {
  closeAfterWrite_ = true;
  bool idle = false;
  {
    std::lock_guard lock(writeMu_);
    idle = !writing_;
  }
  if (idle) Close(why);
  ArmTimer();
}

// A refusal frame says why, then the connection closes: only this connection.
void Session::Refuse(int32_t code, const std::string& message) {
  server_->Log("connection " + std::to_string(caller_.connection) + " (" +
               (caller_.peer.empty() ? "no identity" : caller_.peer) + ") refused: " + message);
  int32_t encoded = 0;
  Queue(EncodeRefusal(code, message, &encoded));
  CloseAfterWrite(message);
}

void Session::Close(const std::string& why) {
  if (closed_) return;
  closed_ = true;
  timer_.cancel();
  {
    // A reply may be being written straight to the socket: it is closed once that let go.
    std::lock_guard lock(writeMu_);
    writeClosed_ = true;
    channel_->Close();
    queue_.clear();
  }
  server_->Forget(caller_.connection);
  server_->Log("connection " + std::to_string(caller_.connection) + " closed: " + why);
}

// The deadline: the greeting within the read timeout; then, while part of a frame has come, the
// rest within the read timeout; otherwise the idle timeout (if any). Only the deadline moves with
// each read; the timer is touched when it must fire earlier than it is set to, and when it
// fires it compares with the deadline then in force (and waits again, or closes).
void Session::ArmTimer() {
  if (closed_) return;
  const ServerOptions& options = server_->options_;
  deadlineWhy_ = "read timeout";
  if (!greeted_ || closeAfterWrite_) {
    deadline_ = closeAfterWrite_ ? Clock::now() + options.readTimeout : greetBy_;
  } else if (assembler_.InFrame()) {
    deadline_ = Clock::now() + options.readTimeout;
  } else if (options.idleTimeout.count() > 0) {
    deadline_ = Clock::now() + options.idleTimeout;
    deadlineWhy_ = "idle timeout";
  } else {
    deadline_ = Clock::time_point::max();
  }
  if (deadline_ < timerAt_) Wait(deadline_);
}

void Session::Wait(Clock::time_point at) {
  timerAt_ = at;
  timer_.expires_at(at);
  timer_.async_wait([self = shared_from_this(), at](const error_code& error) {
    if (error || self->closed_ || self->timerAt_ != at) return;  // cancelled, or set anew
    self->timerAt_ = Clock::time_point::max();
    if (self->deadline_ <= Clock::now()) return self->Close(self->deadlineWhy_);
    if (self->deadline_ != Clock::time_point::max()) self->Wait(self->deadline_);
  });
}

int32_t Server::Impl::Start(std::string* error) {
  if (started_) {
    *error = "the server runs already";
    return zel::rt::kInvalidArgument;
  }
  RaiseFileLimit();
  int32_t code = zel::rt::kOk;
  std::vector<Address> addresses;
  for (const std::string& text : options_.listen) {
    Address address;
    code = ParseAddress(text, &address, error);
    if (code != zel::rt::kOk) {
      *error = text + ": " + *error;
      break;
    }
    if (address.kind == Address::Kind::kTcp && !options_.insecure) {
      *error = text + ": plain TCP carries no identity and needs insecure mode";
      code = zel::rt::kRefused;
      break;
    }
    addresses.push_back(address);
  }
  for (const Address& address : addresses) {
    if (code != zel::rt::kOk) break;
    code = Listen(address, error);
  }
  for (const int fd : options_.inheritedUnixSockets) {
    if (code != zel::rt::kOk) break;
    code = Adopt(fd, error);
  }
  if (code != zel::rt::kOk) {
    listeners_.clear();
    for (const std::string& path : unixPaths_) ::unlink(path.c_str());
    unixPaths_.clear();
    listening_.clear();
    return code;
  }
  for (auto& listener : listeners_) Accept(*listener);
  unsigned count = options_.threads != 0 ? options_.threads : std::thread::hardware_concurrency();
  if (count == 0) count = 1;
  for (unsigned i = 0; i < count; ++i) {
    threads_.emplace_back([this] { io_.run(); });
  }
  started_ = true;
  return zel::rt::kOk;
}

int32_t Server::Impl::Listen(const Address& address, std::string* error) {
  auto listener = std::make_unique<Listener>();
  listener->address = address;
  listener->backoff = std::make_unique<asio::steady_timer>(io_);
  error_code failure;
  if (address.kind == Address::Kind::kUnix) {
    // A socket file nobody answers on is what a stopped server left: it is replaced. Anything
    // else at the path is left alone.
    struct stat status {};
    if (::lstat(address.path.c_str(), &status) == 0) {
      if (!S_ISSOCK(status.st_mode)) {
        *error = address.Text() + ": the path exists and is not a socket";
        return zel::rt::kInvalidArgument;
      }
      asio::local::stream_protocol::socket probe(io_);
      error_code refused;
      probe.connect(asio::local::stream_protocol::endpoint(address.path), refused);
      if (!refused) {
        *error = address.Text() + ": another server listens there";
        return zel::rt::kInvalidArgument;
      }
      ::unlink(address.path.c_str());
    }
    listener->local = std::make_unique<asio::local::stream_protocol::acceptor>(io_);
    asio::local::stream_protocol::endpoint endpoint(address.path);
    listener->local->open(endpoint.protocol(), failure);
    if (!failure) listener->local->bind(endpoint, failure);
    if (!failure) listener->local->listen(asio::socket_base::max_listen_connections, failure);
    if (!failure) {
      unixPaths_.push_back(address.path);
      listening_.push_back(address.Text());
    }
  } else {
    if (address.kind == Address::Kind::kTls && !tls_) {
      tls_.emplace(asio::ssl::context::tls_server);
      tls_->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                        asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                        asio::ssl::context::no_tlsv1_1);
      tls_->use_certificate_chain_file(options_.tlsCert, failure);
      if (!failure) tls_->use_private_key_file(options_.tlsKey, asio::ssl::context::pem, failure);
      if (!failure) tls_->load_verify_file(options_.tlsCA, failure);
      if (failure) {
        tls_.reset();
        *error = address.Text() + ": the TLS files cannot be used: " + failure.message();
        return zel::rt::kInvalidArgument;
      }
      // Mutual authentication: a console without a certificate from the authority is refused
      // in the handshake.
      tls_->set_verify_mode(asio::ssl::verify_peer | asio::ssl::verify_fail_if_no_peer_cert);
    }
    asio::ip::tcp::resolver resolver(io_);
    auto found = resolver.resolve(address.host, std::to_string(address.port),
                                  asio::ip::tcp::resolver::passive, failure);
    if (!failure && found.empty()) failure = asio::error::host_not_found;
    if (!failure) {
      const asio::ip::tcp::endpoint endpoint = found.begin()->endpoint();
      listener->tcp = std::make_unique<asio::ip::tcp::acceptor>(io_);
      listener->tcp->open(endpoint.protocol(), failure);
      if (!failure) listener->tcp->set_option(asio::socket_base::reuse_address(true), failure);
      if (!failure) listener->tcp->bind(endpoint, failure);
      if (!failure) listener->tcp->listen(asio::socket_base::max_listen_connections, failure);
      if (!failure) {
        Address bound = address;
        bound.port = listener->tcp->local_endpoint().port();
        listening_.push_back(bound.Text());
      }
    }
  }
  if (failure) {
    *error = address.Text() + ": " + failure.message();
    return zel::rt::kInvalidArgument;
  }
  listeners_.push_back(std::move(listener));
  return zel::rt::kOk;
}

int32_t Server::Impl::Adopt(int fd, std::string* error) {
  sockaddr_un name{};
  socklen_t size = sizeof name;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&name), &size) != 0 ||
      name.sun_family != AF_UNIX) {
    *error = "descriptor " + std::to_string(fd) + ": not a Unix-domain socket";
    return zel::rt::kInvalidArgument;
  }
  auto listener = std::make_unique<Listener>();
  listener->address.kind = Address::Kind::kUnix;
  listener->address.path = name.sun_path;
  listener->backoff = std::make_unique<asio::steady_timer>(io_);
  listener->local = std::make_unique<asio::local::stream_protocol::acceptor>(io_);
  error_code failure;
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) {
    *error = "descriptor " + std::to_string(fd) + ": " + std::strerror(errno);
    return zel::rt::kInvalidArgument;
  }
  listener->local->assign(asio::local::stream_protocol(), copy, failure);
  if (failure) {
    ::close(copy);
    *error = "descriptor " + std::to_string(fd) + ": " + failure.message();
    return zel::rt::kInvalidArgument;
  }
  listening_.push_back(listener->address.Text());
  listeners_.push_back(std::move(listener));
  return zel::rt::kOk;
}

void Server::Impl::Accept(Listener& listener) {
  asio::any_io_executor strand = asio::make_strand(io_);
  auto self = shared_from_this();
  if (listener.local) {
    listener.local->async_accept(
        strand, [self, &listener, strand](const error_code& error, LocalSocket socket) {
          if (!error)
            self->Begin(MakeLocalChannel(std::move(socket)), strand, Address::Kind::kUnix);
          self->Accepted(listener, error);
        });
  } else {
    listener.tcp->async_accept(
        strand, [self, &listener, strand](const error_code& error, TcpSocket socket) {
          if (!error) {
            socket.set_option(asio::ip::tcp::no_delay(true));
            const bool tls = listener.address.kind == Address::Kind::kTls;
            self->Begin(tls ? MakeTlsChannel(std::move(socket), *self->tls_, true)
                            : MakeTcpChannel(std::move(socket)),
                        strand, listener.address.kind);
          }
          self->Accepted(listener, error);
        });
  }
}

// Accepts the next connection. After a failure (no descriptors left, say) it waits a little
// first, so that a full file table does not make the loop spin.
void Server::Impl::Accepted(Listener& listener, const error_code& error) {
  if (error == asio::error::operation_aborted) return;
  {
    // An accept that completed while the listeners were closing starts no other: on a closed
    // acceptor it would fail and retry for ever, and the loop would never run out of work.
    std::lock_guard lock(mu_);
    if (stopping_) return;
  }
  if (!error) return Accept(listener);
  Log("accepting on " + listener.address.Text() + " failed: " + error.message());
  listener.backoff->expires_after(std::chrono::milliseconds(100));
  listener.backoff->async_wait([self = shared_from_this(), &listener](const error_code& waited) {
    if (!waited) self->Accept(listener);
  });
}

// `strand`: the executor the socket was accepted on, where all of the session's work runs.
void Server::Impl::Begin(std::unique_ptr<Channel> channel, asio::any_io_executor strand,
                         Address::Kind kind) {
  const uint64_t id = nextConnection++;
  std::shared_ptr<Session> session;
  {
    std::lock_guard lock(mu_);
    if (stopping_) return channel->Close();
    const bool overLimit = sessions_.size() >= options_.maxConnections;
    session = std::make_shared<Session>(shared_from_this(), std::move(channel), strand, id, kind,
                                        overLimit);
    if (!overLimit) sessions_[id] = session;
  }
  session->Start();
}

void Server::Impl::Stop() {
  if (!started_) return;
  {
    std::lock_guard lock(mu_);
    stopping_ = true;  // a connection accepted from now on is closed at once
  }
  std::promise<void> listenersClosed;
  asio::post(io_, [this, &listenersClosed] {
    for (auto& listener : listeners_) {
      error_code ignored;
      if (listener->local) listener->local->close(ignored);
      if (listener->tcp) listener->tcp->close(ignored);
      listener->backoff->cancel();
    }
    listenersClosed.set_value();
  });
  listenersClosed.get_future().wait();
  std::vector<std::shared_ptr<Session>> open;
  {
    std::lock_guard lock(mu_);
    for (auto& [id, weak] : sessions_) {
      if (auto session = weak.lock()) open.push_back(session);
    }
  }
  for (auto& session : open) session->CloseOnStrand("the server stops");
  open.clear();
  // With the listeners and connections closed the loop runs out of work and its threads end
  // once the requests being handled have answered.
  for (auto& thread : threads_) thread.join();
  threads_.clear();
  // The loop may have run out of work before a close above was queued (a connection whose last
  // read had already ended): such a handler would hold its session, and the session this
  // server, for ever. Run what is left here; every connection is closed, so it ends.
  io_.restart();
  io_.run();
  io_.restart();  // ready for another Start
  for (const std::string& path : unixPaths_) ::unlink(path.c_str());
  unixPaths_.clear();
  started_ = false;
}

void Server::Impl::Monitor(MonitoredFrom from, const ZEL_BUF_EventBuffer& event) {
  std::vector<std::shared_ptr<Session>> monitors;
  {
    std::lock_guard lock(mu_);
    for (auto& [id, weak] : monitorSessions_) {
      if (auto session = weak.lock()) monitors.push_back(std::move(session));
    }
  }
  if (monitors.empty()) return;
  std::vector<uint8_t> payload(event.GetData(), event.GetData() + event.GetSize());
  const auto size = static_cast<uint32_t>(payload.size());
  if (blankHook_) {
    blankHook_(event.GetEventID(), from.flow, payload.data(), size);
  } else {
    std::fill(payload.begin(), payload.end(), uint8_t{0});
  }
  auto blanked = std::make_shared<MonitoredEvent>();
  blanked->from = std::move(from);
  blanked->event = CopyEventWith(event, payload.data());
  if (!blanked->event) return;
  for (auto& session : monitors) session->PostMonitored(blanked);
}

void Server::Impl::Publish(const ZEL_BUF_EventBuffer& event) {
  if (Monitored()) Monitor({Flow::kNotification, 0, 0, 0, 0, {}}, event);
  std::shared_ptr<const ZEL_BUF_EventBuffer2> copy(CopyEvent(event));
  if (!copy) return;
  std::lock_guard lock(mu_);
  for (auto& [id, weak] : sessions_) {
    if (auto session = weak.lock()) {
      session->PostNotify(copy);
    }
  }
}

int32_t Server::Impl::PostTo(uint64_t connection, const ZEL_BUF_EventBuffer& event) {
  int32_t code = zel::rt::kOk;
  EncodedFrame frame = EncodePost(event, &code);
  if (!frame) return code;
  std::shared_ptr<Session> session;
  {
    std::lock_guard lock(mu_);
    auto found = sessions_.find(connection);
    if (found != sessions_.end()) session = found->second.lock();
  }
  if (!session) return zel::rt::kNoSuchSubsystem;
  if (Monitored()) {
    const zel::rt::Caller& to = session->caller();
    Monitor({Flow::kPostToConsole, 0, to.connection, 0, 0, to.peer}, event);
  }
  session->PostFrame(std::move(frame));
  return zel::rt::kOk;
}

Server::Server(zel::rt::InProcessFarm& farm, ServerOptions options)
    : impl_(std::make_shared<Impl>(farm, std::move(options))) {}

Server::~Server() { Stop(); }

void Server::SetSubscribeHook(SubscribeHook hook) { impl_->subscribeHook_ = std::move(hook); }
void Server::SetLogHook(LogHook hook) { impl_->logHook_ = std::move(hook); }
void Server::SetBlankHook(BlankHook hook) { impl_->blankHook_ = std::move(hook); }
int32_t Server::Start(std::string* error) { return impl_->Start(error); }
void Server::Stop() { impl_->Stop(); }
void Server::Publish(const ZEL_BUF_EventBuffer& event) { impl_->Publish(event); }
int32_t Server::PostTo(uint64_t connection, const ZEL_BUF_EventBuffer& event) {
  return impl_->PostTo(connection, event);
}

std::vector<std::string> Server::ListeningAddresses() const { return impl_->listening_; }

std::size_t Server::ConnectionCount() const {
  std::lock_guard lock(impl_->mu_);
  return impl_->sessions_.size();
}

}  // namespace zel::transport
