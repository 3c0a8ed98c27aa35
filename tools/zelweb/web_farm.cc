#include "web_farm.h"

#include <nlohmann/json.hpp>

#include "zel/admintool/protocol/describe.h"
#include "zel/protocol/events.h"

namespace zelweb {
namespace {

// Session hosts take UIDs from here up; zeladmin's host is 200, the farm's own below 100.
constexpr uint16_t kFirstSeatUID = 0x400;
constexpr uint16_t kLastSeatUID = 0x7FFF;
// Notifications kept for streams that fall a little behind (a reconnecting EventSource asks
// from its last ID).
constexpr std::size_t kRecentEvents = 256;

}  // namespace

WebFarm::WebFarm(zel::transport::ClientOptions options)
    : client_(std::make_unique<zel::transport::Client>(std::move(options))) {}

WebFarm::~WebFarm() = default;

int32_t WebFarm::Start(std::string* error) {
  int32_t result = client_->Connect();
  uint32_t subscription = 0;
  if (result >= 0) {
    result = client_->Subscribe(
        {zel::protocol::event::kTreeOperation, zel::protocol::event::kContainerChange}, false,
        [this](uint32_t, std::unique_ptr<ZEL_BUF_EventBuffer> event) {
          OnNotification(std::move(event));
        },
        &subscription);
  }
  if (result < 0) *error = zel::transport::Client::LastError();
  return result;
}

bool WebFarm::ActsAsOwner() {
  std::unique_ptr<FarmSeat> seat = NewSeat();
  if (!seat) return false;
  AllowedFolders* folders = nullptr;
  int32_t result = 0;
  {
    auto lock = Locked();
    result = seat->sal->GetPermissionsForCurrentUser(folders);
  }
  delete folders;
  ReturnSeat(std::move(seat));
  return result == 1;  // kUnrestricted: the owner, whom no folder limits
}

std::unique_ptr<FarmSeat> WebFarm::NewSeat() {
  uint16_t uid = 0;
  {
    std::lock_guard<std::mutex> lock(seats_);
    for (uint16_t candidate = kFirstSeatUID; candidate <= kLastSeatUID; ++candidate) {
      if (taken_.count(candidate) == 0) {
        uid = candidate;
        break;
      }
    }
    if (uid == 0) return nullptr;
    taken_.insert(uid);
  }
  auto seat = std::make_unique<FarmSeat>();
  seat->uid = uid;
  auto lock = Locked();
  seat->host = std::make_unique<zel::transport::ConsoleHost>(*client_, uid);
  seat->sal = std::make_unique<ZEL_AdminToolSAL6>(*seat->host);
  return seat;
}

void WebFarm::ReturnSeat(std::unique_ptr<FarmSeat> seat) {
  if (!seat) return;
  const uint16_t uid = seat->uid;
  {
    // The library's object before its host.
    auto lock = Locked();
    seat->sal.reset();
    seat->host.reset();
  }
  std::lock_guard<std::mutex> lock(seats_);
  taken_.erase(uid);
}

void WebFarm::OnNotification(std::unique_ptr<ZEL_BUF_EventBuffer> event) {
  const auto d =
      zel::admintool::DescribeEvent(event->GetEventID(), zel::protocol::Direction::kNotification,
                                    event->GetData(), event->GetSize());
  nlohmann::json fields = nlohmann::json::object();
  for (const auto& f : d.fields) {
    fields[f.name] = f.secret ? nlohmann::json("(secret)") : nlohmann::json(f.value);
  }
  const std::string data =
      nlohmann::json{{"event", d.eventID}, {"name", d.eventName}, {"fields", fields}}.dump(
          -1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::lock_guard<std::mutex> lock(events_);
  ++lastEvent_;
  recent_.emplace_back(
      lastEvent_, "id: " + std::to_string(lastEvent_) + "\nevent: tree\ndata: " + data + "\n\n");
  if (recent_.size() > kRecentEvents) recent_.pop_front();
  arrived_.notify_all();
}

uint64_t WebFarm::LastEvent() {
  std::lock_guard<std::mutex> lock(events_);
  return lastEvent_;
}

std::optional<std::string> WebFarm::WaitEvents(uint64_t after, uint64_t* last,
                                               std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(events_);
  if (!arrived_.wait_for(lock, timeout, [&] { return lastEvent_ > after; })) return std::nullopt;
  std::string text;
  for (const auto& [number, sse] : recent_) {
    if (number > after) text += sse;
  }
  *last = lastEvent_;
  return text;
}

}  // namespace zelweb
