#include "zel/farm/farm_host.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <chrono>

#include "zel/admintool/protocol/describe.h"
#include "zel/directory/codes.h"
#include "zel/protocol/events.h"
#include "zel/runtime/codes.h"

namespace zel::farm {

namespace {

// A configured unix: address that names a socket handed over is served by that socket (the
// same configuration works with and without socket activation).
void DropInheritedAddresses(zel::transport::ServerOptions* options) {
  for (const int fd : options->inheritedUnixSockets) {
    sockaddr_un name{};
    socklen_t size = sizeof name;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&name), &size) != 0) continue;
    const std::string address = std::string("unix:") + name.sun_path;
    std::erase(options->listen, address);
  }
}

}  // namespace

FarmHost::FarmHost(std::string store, zel::subsystem::Options options, LogHook log)
    : store_(std::move(store)), log_(std::move(log)) {
  hub_.Attach(farm_.AddSubsystem(zel::protocol::kNotificationHubUID));
  zel::rt::FarmSubsystem& host = farm_.AddSubsystem(zel::protocol::kAdminToolSubsystemUID);
  admintoolHost_ = &host;
  host.Plugins().Offer(kZelDirectoryStoreInterface, &store_);
  admintool_ = std::make_unique<zel::subsystem::AdminToolSubsystem>(host, std::move(options));
  admintool_->Attach(host);
  host.SetConnectionClosedHandler(
      [this](uint64_t connection) { admintool_->ConnectionClosed(connection); });
  // One subscriber for every console: the server sends each notification to the connections
  // that asked for its event.
  // A subsystem's one-way event for a console (the store's change notifications) goes to the
  // connection it names, on whichever server runs now.
  farm_.SetConnectionPostHandler(
      [this](uint64_t connection, std::unique_ptr<ZEL_BUF_EventBuffer> event) {
        auto server = Current();
        return server ? server->PostTo(connection, *event) : zel::rt::kNoSuchSubsystem;
      });
  relay_ = hub_.Subscribe([this](const zel::rt::Caller&, const ZEL_BUF_EventBuffer& event) {
    if (auto server = Current()) server->Publish(event);
  });
  // Only a directory server is shared by several farm servers; a SQLite file is one server's.
  const std::string& location = store_.Path();
  for (const char* scheme : {"ldap://", "ldaps://", "ldapi://"}) {
    if (location.rfind(scheme, 0) == 0) follower_ = std::thread([this] { FollowOtherServers(); });
  }
}

FarmHost::~FarmHost() {
  {
    std::lock_guard lock(followLock_);
    ending_ = true;
  }
  followWake_.notify_all();
  if (follower_.joinable()) follower_.join();
  Stop();
  hub_.Unsubscribe(relay_);
}

void FarmHost::FollowOtherServers() {
  constexpr auto kInterval = std::chrono::milliseconds(200);
  // A store that cannot be reached is tried again less often: each try holds the subsystem's
  // lock for as long as connecting takes.
  constexpr auto kRetryInterval = std::chrono::seconds(2);
  std::unique_lock lock(followLock_);
  while (!ending_) {
    lock.unlock();
    const int32_t followed = admintool_->FollowOtherServers(log_);
    lock.lock();
    if (followed == zel::dir::kNotSupported) return;
    followWake_.wait_for(lock, followed == 0 ? kInterval : kRetryInterval,
                         [this] { return ending_; });
  }
}

std::shared_ptr<zel::transport::Server> FarmHost::Current() const {
  std::lock_guard lock(mu_);
  return server_;
}

int32_t FarmHost::Start(zel::transport::ServerOptions options, std::string* error) {
  DropInheritedAddresses(&options);
  auto server = std::make_shared<zel::transport::Server>(farm_, options);
  if (log_) server->SetLogHook(log_);
  // Monitors see every event blanked by the grammar its writers and readers use.
  server->SetBlankHook(
      [](uint16_t eventID, zel::transport::Flow flow, uint8_t* payload, uint32_t size) {
        zel::admintool::BlankSecrets(eventID, zel::transport::DirectionOf(flow), payload, size);
      });
  const int32_t code = server->Start(error);
  if (code != 0) return code;
  std::lock_guard lock(mu_);
  server_ = std::move(server);
  options_ = std::move(options);
  return 0;
}

int32_t FarmHost::Reconfigure(zel::transport::ServerOptions options, std::string* error,
                              bool* running) {
  zel::transport::ServerOptions previous;
  {
    std::lock_guard lock(mu_);
    previous = options_;
  }
  // Sockets handed over by the service manager stay: a new server takes them again.
  options.inheritedUnixSockets = previous.inheritedUnixSockets;
  Stop();
  const int32_t code = Start(std::move(options), error);
  *running = code == 0;
  if (code != 0) {
    std::string again;
    *running = Start(std::move(previous), &again) == 0;
  }
  return code;
}

void FarmHost::Stop() {
  std::shared_ptr<zel::transport::Server> server;
  {
    std::lock_guard lock(mu_);
    server = std::move(server_);
  }
  if (server) server->Stop();
}

int32_t FarmHost::CheckStore() {
  ZEL_PS_LDAPSAL directory(*admintoolHost_);
  return directory.InstallLDAP();
}

std::vector<std::string> FarmHost::ListeningAddresses() const {
  auto server = Current();
  return server ? server->ListeningAddresses() : std::vector<std::string>{};
}

}  // namespace zel::farm
