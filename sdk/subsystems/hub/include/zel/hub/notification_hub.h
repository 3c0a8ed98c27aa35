// The notification hub, subsystem 1: the receiver of the console tree's one-way notifications
// (the tree-operation notification, event 81, and the container change notification, event 95).
// It keeps subscribers and hands each notification it receives to every one of them; the farm
// server subscribes once per console connection and fans the notifications out.
//
// Threads: every member may be called from several threads at once. A subscriber's callback
// runs on the thread that relays the notification, never twice at once, and never after
// Unsubscribe of it has returned (Unsubscribe waits for a delivery in progress to end, unless
// the callback unsubscribes itself). Callbacks run without the hub's lock held, so they may
// subscribe and unsubscribe; a callback that unsubscribes another subscriber may wait for that
// one's delivery to end. A callback that throws ends that relay; the exception passes to the
// relaying thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "zel/runtime/buffers.h"
#include "zel/runtime/caller.h"
#include "zel/runtime/farm.h"

namespace zel::hub {

// Told who posted a notification and the notification itself, which stays the hub's: a
// subscriber copies what it keeps.
using Subscriber =
    std::function<void(const zel::rt::Caller& poster, const ZEL_BUF_EventBuffer& notification)>;

// A subscription's number; never 0.
using SubscriptionID = uint64_t;

// Whether the hub relays events with this ID: 81, 95 and 97.
bool IsNotification(uint16_t eventID);

class NotificationHub {
 public:
  NotificationHub() = default;
  NotificationHub(const NotificationHub&) = delete;
  NotificationHub& operator=(const NotificationHub&) = delete;
  ~NotificationHub();

  // Adds a subscriber; its number, or 0 for an empty callback (nothing is added).
  SubscriptionID Subscribe(Subscriber subscriber);
  // Removes a subscriber; false when no subscriber has that number (any more).
  bool Unsubscribe(SubscriptionID id);
  std::size_t SubscriberCount() const;

  // Hands one posted event to every subscriber of this moment; answers how many were handed it.
  // An event that is no notification is not relayed (0) and counted as refused.
  std::size_t Relay(const zel::rt::Caller& poster, const ZEL_BUF_EventBuffer& event);

  // Takes the one-way events addressed to `host` (UID 1 in a farm). The hub must outlive the
  // host's deliveries to it.
  void Attach(zel::rt::FarmSubsystem& host);

  // Notifications relayed, and posts refused, since the hub was made.
  uint64_t Relayed() const { return relayed_.load(); }
  uint64_t Refused() const { return refused_.load(); }

 private:
  struct Slot;

  mutable std::mutex mutex_;  // guards slots_ and nextID_
  std::vector<std::shared_ptr<Slot>> slots_;
  SubscriptionID nextID_ = 1;
  std::atomic<uint64_t> relayed_{0};
  std::atomic<uint64_t> refused_{0};
};

}  // namespace zel::hub
