#include "zel/hub/notification_hub.h"

#include <algorithm>
#include <utility>

#include "zel/protocol/events.h"

namespace zel::hub {

// One subscriber. Its own lock is held while its callback runs, so that Unsubscribe can wait
// for a delivery in progress and no two deliveries to it overlap.
struct NotificationHub::Slot {
  SubscriptionID id = 0;
  Subscriber callback;
  std::mutex delivering;
  bool live = true;  // under `delivering`
};

namespace {

// The slot whose callback this thread runs now, so that a callback can unsubscribe itself
// without waiting for its own lock.
thread_local const void* deliveringSlot = nullptr;

// Marks `slot` as the one this thread delivers to, until the end of the scope (also when the
// callback throws).
class Delivering {
 public:
  explicit Delivering(const void* slot) : outer_(deliveringSlot) { deliveringSlot = slot; }
  Delivering(const Delivering&) = delete;
  Delivering& operator=(const Delivering&) = delete;
  ~Delivering() { deliveringSlot = outer_; }

 private:
  const void* outer_;
};

}  // namespace

bool IsNotification(uint16_t eventID) {
  // The tree notifications, and the consoles' report of administrator UIDs they could not
  // resolve: the farm acts on none of them; consoles that subscribed are told.
  return eventID == zel::protocol::event::kTreeOperation ||
         eventID == zel::protocol::event::kContainerChange ||
         eventID == zel::protocol::event::kPostAdminNameUnResolved;
}

NotificationHub::~NotificationHub() = default;

SubscriptionID NotificationHub::Subscribe(Subscriber subscriber) {
  if (!subscriber) return 0;
  auto slot = std::make_shared<Slot>();
  slot->callback = std::move(subscriber);
  std::lock_guard<std::mutex> lock(mutex_);
  slot->id = nextID_++;
  slots_.push_back(slot);
  return slot->id;
}

bool NotificationHub::Unsubscribe(SubscriptionID id) {
  std::shared_ptr<Slot> slot;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = std::find_if(slots_.begin(), slots_.end(),
                              [id](const std::shared_ptr<Slot>& s) { return s->id == id; });
    if (found == slots_.end()) return false;
    slot = *found;
    slots_.erase(found);
  }
  if (deliveringSlot == slot.get()) {
    slot->live = false;  // this thread runs its callback and holds its lock already
  } else {
    std::lock_guard<std::mutex> wait(slot->delivering);
    slot->live = false;
  }
  return true;
}

std::size_t NotificationHub::SubscriberCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return slots_.size();
}

std::size_t NotificationHub::Relay(const zel::rt::Caller& poster,
                                   const ZEL_BUF_EventBuffer& event) {
  if (!IsNotification(event.GetEventID())) {
    ++refused_;
    return 0;
  }
  std::vector<std::shared_ptr<Slot>> now;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    now = slots_;
  }
  std::size_t handed = 0;
  for (const auto& slot : now) {
    std::lock_guard<std::mutex> deliver(slot->delivering);
    if (!slot->live) continue;  // unsubscribed since the list was taken
    Delivering marked(slot.get());
    slot->callback(poster, event);
    ++handed;
  }
  ++relayed_;
  return handed;
}

void NotificationHub::Attach(zel::rt::FarmSubsystem& host) {
  host.SetPostHandler(
      [this](const zel::rt::Caller& poster, std::unique_ptr<ZEL_BUF_EventBuffer> event) {
        Relay(poster, *event);
      });
}

}  // namespace zel::hub
