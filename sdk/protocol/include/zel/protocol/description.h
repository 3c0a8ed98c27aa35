// An event described as named fields, for people and tools (the console's event monitor renders
// these as text or JSON). Every describer of a message fills one of these from the same grammar
// the message's writer and reader use; a secret field is never copied in: its value stays empty
// whatever the bytes were, and Text() shows kBlanked in its place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zel/protocol/export.h"

namespace zel::protocol {

inline constexpr const char* kBlanked = "(secret)";

enum class Direction : uint8_t { kRequest, kReply, kNotification };

// "request", "reply" or "notification".
ZEL_PROTOCOL_API const char* DirectionName(Direction direction);

struct Field {
  std::string name;   // a path: "count", "users[2].name", "privileges[0]"
  std::string value;  // readable: decimal or 0x-hex numbers, quoted text, hex bytes
  bool secret = false;
};

struct EventDescription {
  uint16_t eventID = 0;
  std::string eventName;   // from the event table, or "event N" for an unknown ID
  std::string direction;   // "request", "reply" or "notification"
  bool parsed = true;      // false when the payload did not follow the message's grammar
  uint32_t stoppedAt = 0;  // payload offset where reading stopped, when not parsed
  uint32_t trailing = 0;   // payload bytes after the last field
  std::vector<Field> fields;

  // One line per field under a heading line; an unparsed event says where it stopped.
  ZEL_PROTOCOL_API std::string Text() const;
};

// Describes the payload of an event of ours (ID 1000 up) travelling in `direction` into `out`.
// False, with `out` untouched, when the ID is not one of ours or has no message that way (the
// group enumeration's reply is event 81, the library's). A payload that does not follow the
// message's grammar gives parsed=false and the offset of the field where reading stopped.
ZEL_PROTOCOL_API bool DescribeEventOfOurs(uint16_t eventID, Direction direction,
                                          const uint8_t* payload, uint32_t size,
                                          EventDescription& out);

// Bytes [begin, end) of a payload.
struct ByteRange {
  uint32_t begin = 0;
  uint32_t end = 0;
};

// What blanking keeps of a payload: everything before `kept` but the `secrets` ranges (the
// contents of secret fields; their counts stay, so the blanked payload reads as the original
// did). `kept` is where the last field read whole ends: the payload's size when it followed the
// grammar to its end, less when it stopped early or trailed.
struct SecretMap {
  uint32_t kept = 0;
  std::vector<ByteRange> secrets;
};

// Zeroes, in place, every byte the map does not keep. The payload keeps its size.
ZEL_PROTOCOL_API void ZeroUnkept(const SecretMap& map, uint8_t* payload, uint32_t size);

// What blanking keeps of the payload of an event of ours travelling in `direction`, read by the
// message's grammar, into `out`. False, with `out` untouched, when the ID is not one of ours or
// has no message that way.
ZEL_PROTOCOL_API bool MapSecretsOfOurs(uint16_t eventID, Direction direction,
                                       const uint8_t* payload, uint32_t size, SecretMap& out);

}  // namespace zel::protocol
