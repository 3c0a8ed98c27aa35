// The farm as zelweb reaches it: one client (one connection) for the process, one console-side
// host for each web session, and the farm's notifications fanned out to every event stream.
//
// The library starts no thread and takes no lock, so zelweb calls it under one lock
// (Locked()): one farm call at a time for the whole process.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/transport/client.h"
#include "zel/transport/console_host.h"

namespace zelweb {

// A console-side host of one web session with the library's SAL object on it.
struct FarmSeat {
  uint16_t uid = 0;
  std::unique_ptr<zel::transport::ConsoleHost> host;
  std::unique_ptr<ZEL_AdminToolSAL6> sal;
};

class WebFarm {
 public:
  explicit WebFarm(zel::transport::ClientOptions options);
  ~WebFarm();

  // Connects and subscribes to the tree's notifications; a negative code and *error when the
  // farm cannot be reached.
  int32_t Start(std::string* error);
  // Whether this process's own account is the farm's owner (every session would then act with
  // the owner's power whoever logged on).
  bool ActsAsOwner();

  std::unique_lock<std::mutex> Locked() { return std::unique_lock<std::mutex>(farm_); }
  zel::transport::Client& Client() { return *client_; }

  // A new host with a UID no other session holds; null when all are taken.
  std::unique_ptr<FarmSeat> NewSeat();
  void ReturnSeat(std::unique_ptr<FarmSeat> seat);

  // Notifications: each has a number; Wait answers the ones after `after` as SSE text (and the
  // last number in *last), or nothing after `timeout`.
  std::optional<std::string> WaitEvents(uint64_t after, uint64_t* last,
                                        std::chrono::milliseconds timeout);
  uint64_t LastEvent();

 private:
  void OnNotification(std::unique_ptr<ZEL_BUF_EventBuffer> event);

  std::unique_ptr<zel::transport::Client> client_;
  std::mutex farm_;
  std::mutex seats_;
  std::set<uint16_t> taken_;

  std::mutex events_;
  std::condition_variable arrived_;
  uint64_t lastEvent_ = 0;
  std::deque<std::pair<uint64_t, std::string>> recent_;  // the last few, as SSE text
};

}  // namespace zelweb
