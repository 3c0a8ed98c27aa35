// A farm server in one object: an in-process farm with the AdminTool subsystem (UID 22) on the
// store, the notification hub (UID 1), and the transport's server in front of them. The hub's
// notifications go to every console that subscribed to them, the store's change notifications
// to the connection of the console that subscribed; a connection that closes ends the logons
// and the change subscriptions made over it.
//
// zelfarmd is this object, a command line and signals; console developers start one in their
// own tests (zel/farm/testing/test_farm_server.h).
//
// Threads: the server's loop threads run every request (the subsystem lets one in at a time)
// and relay the hub's notifications. Start, Reconfigure and Stop are called from one thread.
// On a store that other servers share (LDAP), one more thread reads their changes every
// 200 ms and hands them to the hub as notifications (none on SQLite, one server's file).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "zel/directory/service.h"
#include "zel/hub/notification_hub.h"
#include "zel/runtime/farm.h"
#include "zel/subsystem/admintool.h"
#include "zel/transport/server.h"

namespace zel::farm {

class FarmHost {
 public:
  using LogHook = std::function<void(std::string_view line)>;

  // `store`: sqlite:PATH or PATH. The log hook (may be empty) takes the server's lines.
  FarmHost(std::string store, zel::subsystem::Options options, LogHook log);
  FarmHost(const FarmHost&) = delete;
  FarmHost& operator=(const FarmHost&) = delete;
  ~FarmHost();  // Stop()

  // Starts the server with `options`. 0, or the transport's code with why in *error.
  int32_t Start(zel::transport::ServerOptions options, std::string* error);
  // Stops the server (requests in flight finish first) and starts it again with `options`.
  // When those cannot be used the previous options are started again and their code answered
  // with why in *error; kept running is whatever *running says.
  int32_t Reconfigure(zel::transport::ServerOptions options, std::string* error, bool* running);
  // Stops accepting, finishes the requests in flight, closes every connection.
  void Stop();

  // Opens the store now and checks it (on a directory server: reached, credentials taken,
  // schema loaded, base entry there): 0, or the directory's code.
  int32_t CheckStore();

  std::vector<std::string> ListeningAddresses() const;
  zel::rt::InProcessFarm& Farm() { return farm_; }

 private:
  class Store final : public ZEL_DIR_StoreLocation {
   public:
    explicit Store(std::string path) : path_(std::move(path)) {}
    std::string StorePath() override { return path_; }
    const std::string& Path() const { return path_; }

   private:
    std::string path_;
  };

  std::shared_ptr<zel::transport::Server> Current() const;
  // The follower thread: other servers' changes until the host ends.
  void FollowOtherServers();

  Store store_;
  LogHook log_;
  zel::rt::InProcessFarm farm_;
  zel::rt::FarmSubsystem* admintoolHost_ = nullptr;
  zel::hub::NotificationHub hub_;
  std::unique_ptr<zel::subsystem::AdminToolSubsystem> admintool_;
  zel::hub::SubscriptionID relay_ = 0;
  mutable std::mutex mu_;  // guards server_ and options_
  std::shared_ptr<zel::transport::Server> server_;
  zel::transport::ServerOptions options_;
  std::mutex followLock_;  // guards ending_
  std::condition_variable followWake_;
  bool ending_ = false;
  std::thread follower_;
};

}  // namespace zel::farm
