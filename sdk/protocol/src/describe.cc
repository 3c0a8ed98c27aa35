// DescribeEventOfOurs: one row per message of ours, made from the list in messages.h.
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
};

template <class... Messages>
constexpr auto MakeTable(std::tuple<Messages...>*) {
  return std::array<Describable, sizeof...(Messages)>{Describable{
      Messages::kEventID, Messages::kDirection, &DescribePayload<typename Messages::Type>}...};
}

constexpr auto kDescribable = MakeTable(static_cast<AllMessagesOfOurs*>(nullptr));

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
  for (const Describable& row : kDescribable) {
    if (row.eventID != eventID || row.direction != direction) continue;
    const EventInfo* info = FindEvent(eventID);
    out = EventDescription{};
    out.eventID = eventID;
    out.eventName = info != nullptr ? info->name : "event " + std::to_string(eventID);
    out.direction = DirectionName(direction);
    row.describe(payload, size, out);
    return true;
  }
  return false;
}

}  // namespace zel::protocol
