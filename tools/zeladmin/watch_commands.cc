// Live events: `tree watch` (the tree's notifications, events 81 and 95) and `monitor` (every
// event through the farm server, secrets already blanked by the server; it grants it by
// privilege). Each event is printed as the protocol module describes it, as it comes; a
// monitored one with how it passed (flow, connection, peer, source UID, request ID).
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
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

const char* FlowName(zel::transport::Flow flow) {
  switch (flow) {
    case zel::transport::Flow::kRequest:
      return "request";
    case zel::transport::Flow::kReply:
      return "reply";
    case zel::transport::Flow::kPostFromConsole:
      return "post from console";
    case zel::transport::Flow::kPostToConsole:
      return "post to console";
    case zel::transport::Flow::kNotification:
      return "notification";
  }
  return "unknown";
}

// How a monitored event passed, before its description: "reply #7 to connection 3
// (unix:alice), source 0x00c8, result 0".
std::string MonitoredLine(const zel::transport::MonitoredFrom& from, uint16_t sourceUID) {
  using zel::transport::Flow;
  std::string line = FlowName(from.flow);
  if (from.flow == Flow::kRequest || from.flow == Flow::kReply) {
    line += " #" + std::to_string(from.requestID);
  }
  if (from.flow != Flow::kNotification) {
    const bool toConsole = from.flow == Flow::kReply || from.flow == Flow::kPostToConsole;
    line += (toConsole ? " to connection " : " from connection ") +
            std::to_string(from.connection) + " (" +
            (from.peer.empty() ? "no identity" : from.peer) + ")";
  }
  char source[8];
  std::snprintf(source, sizeof source, "0x%04x", sourceUID);
  line += std::string(", source ") + source;
  if (from.flow == Flow::kReply) {
    const std::string name = CodeName(from.result);
    line += ", result " + zel::protocol::ShowSigned(from.result) + (name.empty() ? "" : " " + name);
  }
  return line;
}

json MonitoredJson(const zel::transport::MonitoredFrom& from, uint16_t sourceUID) {
  return {{"flow", FlowName(from.flow)}, {"connection", from.connection}, {"peer", from.peer},
          {"sourceUID", sourceUID},      {"requestID", from.requestID},   {"result", from.result},
          {"dropped", from.dropped}};
}

int Watch(Command& c, const std::vector<uint16_t>& events, bool monitor, int count,
          int timeoutSeconds, const char* what) {
  std::mutex mutex;
  std::condition_variable changed;
  int seen = 0;
  const bool asJson = c.out.json;
  auto print = [&](const zel::protocol::EventDescription& d, const json& how,
                   const std::string& heading) {
    std::lock_guard<std::mutex> lock(mutex);
    // Events keep coming until the subscription is dropped: past the count asked for, none
    // is shown (a folder's change is followed at once by its container's).
    if (count != 0 && seen >= count) return;
    if (asJson) {
      json line = DescriptionJson(d);
      if (!how.is_null()) line["monitored"] = how;
      std::cout << line.dump() << std::endl;
    } else {
      std::cout << heading << d.Text() << std::endl;
    }
    ++seen;
    changed.notify_all();
  };
  auto handler = [&](uint32_t, std::unique_ptr<ZEL_BUF_EventBuffer> event) {
    print(
        zel::admintool::DescribeEvent(event->GetEventID(), zel::protocol::Direction::kNotification,
                                      event->GetData(), event->GetSize()),
        json(), "");
  };
  auto monitored = [&](const zel::transport::MonitoredFrom& from,
                       std::unique_ptr<ZEL_BUF_EventBuffer> event) {
    const uint16_t source = event->GetSrcSubsystemUID();
    std::string heading;
    if (from.dropped != 0) {
      heading =
          "(" + std::to_string(from.dropped) + " events dropped: the monitor read too slowly)\n";
    }
    heading += MonitoredLine(from, source) + "\n";
    print(zel::admintool::DescribeEvent(event->GetEventID(), zel::transport::DirectionOf(from.flow),
                                        event->GetData(), event->GetSize()),
          MonitoredJson(from, source), heading);
  };
  uint32_t subscription = 0;
  const int32_t result = monitor ? c.farm.Client().Monitor(monitored, &subscription)
                                 : c.farm.Client().Subscribe(events, false, handler, &subscription);
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
