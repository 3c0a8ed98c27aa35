// Live events: `tree watch` (the tree's notifications, events 81 and 95) and `monitor` (every
// event through the farm server; the server grants it by privilege). Each event is printed as
// the protocol module describes it, as it comes.
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <iostream>
#include <mutex>

#include "commands.h"
#include "zel/admintool/protocol/describe.h"
#include "zel/protocol/events.h"

namespace zeladmin {
namespace {

using nlohmann::json;

constexpr int32_t kRefused = static_cast<int32_t>(0x8001000Cu);

volatile std::sig_atomic_t g_stop = 0;
extern "C" void OnSignal(int) { g_stop = 1; }

json DescriptionJson(const zel::protocol::EventDescription& d) {
  json fields = json::object();
  for (const auto& f : d.fields) fields[f.name] = f.secret ? json("(secret)") : json(f.value);
  return {{"event", d.eventID},
          {"name", d.eventName},
          {"direction", d.direction},
          {"parsed", d.parsed},
          {"fields", fields}};
}

int Watch(Command& c, const std::vector<uint16_t>& events, bool monitor, int count,
          int timeoutSeconds, const char* what) {
  std::mutex mutex;
  std::condition_variable changed;
  int seen = 0;
  const bool asJson = c.out.json;
  auto handler = [&](uint32_t, std::unique_ptr<ZEL_BUF_EventBuffer> event) {
    const auto d =
        zel::admintool::DescribeEvent(event->GetEventID(), zel::protocol::Direction::kNotification,
                                      event->GetData(), event->GetSize());
    std::lock_guard<std::mutex> lock(mutex);
    if (asJson) {
      std::cout << DescriptionJson(d).dump() << std::endl;
    } else {
      std::cout << d.Text() << std::endl;
    }
    ++seen;
    changed.notify_all();
  };
  uint32_t subscription = 0;
  const int32_t result = c.farm.Client().Subscribe(events, monitor, handler, &subscription);
  if (result < 0) {
    const Failure failure{std::string("subscribing to ") + what, result, TransportDetail()};
    std::cerr << "zeladmin: " << ErrorLine(failure) << '\n';
    // The farm was reached: a subscription it refuses (a privilege it does not grant) is a
    // failed operation, not an unreachable farm.
    return result == kRefused ? kExitFailed : ExitStatus(failure);
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  if (!c.out.quiet) std::cerr << "watching " << what << std::endl;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  std::unique_lock<std::mutex> lock(mutex);
  while (g_stop == 0 && (count == 0 || seen < count) &&
         (timeoutSeconds == 0 || std::chrono::steady_clock::now() < deadline)) {
    changed.wait_for(lock, std::chrono::milliseconds(100));
  }
  lock.unlock();
  c.farm.Client().Unsubscribe(subscription);
  // Ending by the count or a signal is success; a timeout before the count came is not.
  return (count != 0 && seen < count && g_stop == 0) ? kExitFailed : kExitOk;
}

}  // namespace

int TreeWatch(Command& c, int count, int timeoutSeconds) {
  return Watch(c, {zel::protocol::event::kTreeOperation, zel::protocol::event::kContainerChange},
               false, count, timeoutSeconds, "the tree's notifications");
}

int Monitor(Command& c, int count, int timeoutSeconds) {
  return Watch(c, {}, true, count, timeoutSeconds, "every event");
}

}  // namespace zeladmin
