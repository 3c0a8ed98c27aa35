// DescribeEventOfOurs: one row per message of ours, made from the list in messages.h.
#include <algorithm>
#include <array>

#include "zel/protocol/description.h"
#include "zel/protocol/events.h"
#include "zel/protocol/messages.h"

namespace zel::protocol {
namespace {

struct Describable {
  uint16_t eventID;
  Direction direction;
  void (*describe)(const uint8_t* payload, uint32_t size, EventDescription& out);
  SecretMap (*map)(const uint8_t* payload, uint32_t size);
};

template <class... Messages>
constexpr auto MakeTable(std::tuple<Messages...>*) {
  return std::array<Describable, sizeof...(Messages)>{Describable{
      Messages::kEventID, Messages::kDirection, &DescribePayload<typename Messages::Type>,
      &MapSecrets<typename Messages::Type>}...};
}

constexpr auto kDescribable = MakeTable(static_cast<AllMessagesOfOurs*>(nullptr));

const Describable* FindDescribable(uint16_t eventID, Direction direction) {
  for (const Describable& row : kDescribable) {
    if (row.eventID == eventID && row.direction == direction) return &row;
  }
  return nullptr;
}

}  // namespace

const char* DirectionName(Direction direction) {
  switch (direction) {
    case Direction::kRequest:
      return "request";
    case Direction::kReply:
      return "reply";
    case Direction::kNotification:
      return "notification";
  }
  return "unknown";
}

bool DescribeEventOfOurs(uint16_t eventID, Direction direction, const uint8_t* payload,
                         uint32_t size, EventDescription& out) {
  const Describable* row = FindDescribable(eventID, direction);
  if (row == nullptr) return false;
  const EventInfo* info = FindEvent(eventID);
  out = EventDescription{};
  out.eventID = eventID;
  out.eventName = info != nullptr ? info->name : "event " + std::to_string(eventID);
  out.direction = DirectionName(direction);
  row->describe(payload, size, out);
  return true;
}

void ZeroUnkept(const SecretMap& map, uint8_t* payload, uint32_t size) {
  const uint32_t kept = std::min(map.kept, size);
  std::fill(payload + kept, payload + size, uint8_t{0});
  for (const ByteRange& secret : map.secrets) {
    const uint32_t end = std::min(secret.end, kept);
    if (secret.begin < end) std::fill(payload + secret.begin, payload + end, uint8_t{0});
  }
}

bool MapSecretsOfOurs(uint16_t eventID, Direction direction, const uint8_t* payload, uint32_t size,
                      SecretMap& out) {
  const Describable* row = FindDescribable(eventID, direction);
  if (row == nullptr) return false;
  out = row->map(payload, size);
  return true;
}

}  // namespace zel::protocol
