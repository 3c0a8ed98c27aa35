// The frames that carry events between a console and its farm server, shared by both ends.
//
// Grammar (the runtime's encoding: little-endian, no padding; kinds as in zel/protocol/grammar.h):
//
//   frame       = length:u32 body          1 <= length <= kMaxFrameBody
//   body        = kind:u8 fields
//   kind 1 hello        magic:u32 ("ZELF") major:u16 minor:u16 result:i32 message:bytes
//                       The console greets first with result 0; the server answers with its own
//                       version and 0, or with a negative result and a message (UTF-8) and
//                       closes. Either end refuses a peer whose major version differs.
//   kind 2 request      requestID:u64 event
//   kind 3 reply        requestID:u64 result:i32 hasEvent:u8 [event when hasEvent is 1]
//   kind 4 post         event                          (one-way, no reply; from the server:
//                       a subsystem's event for the console-side host it names)
//   kind 5 subscribe    requestID:u64 subscription:u32 monitor:u8 eventIDs:u32s
//                       answered by a reply without event (result 0, or why it was refused);
//                       monitor 1: every event, whatever eventIDs holds
//   kind 6 unsubscribe  requestID:u64 subscription:u32 answered by a reply without event
//   kind 7 notify       subscription:u32 event         (server to console)
//   kind 8 refusal      result:i32 message:bytes       the sender closes after it
//   kind 9 monitored    subscription:u32 flow:u8 dropped:u32 connection:u64 requestID:u64
//                       result:i32 peer:bytes event    (server to a monitor; minor version 1)
//                       An event that passed through the server, its secret fields and
//                       whatever its grammar could not classify zeroed. flow: 1 request,
//                       2 reply, 3 post from a console, 4 post to a console, 5 notification.
//                       dropped: events this subscription missed just before this one (the
//                       monitor read too slowly). connection and peer (UTF-8, at most
//                       kMaxPeerBytes): the console's connection and account, 0 and empty for
//                       a notification. requestID and result: a request's and its reply's.
//
//   event       = eventID:u16 versionMajor:u8 versionMinor:u8 srcHost:u32 destHost:u32
//                 srcUID:u16 destUID:u16 interfaceLevel:u32 payload:bytes
//
// The payload is the last field of every frame that carries an event: its count must equal
// the bytes that remain, and it holds at most kMaxPayload bytes (the runtime's event maximum).
// Request IDs are the console's; subscription IDs are the console's too, so that it can
// subscribe again under the same IDs after reconnecting.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zel/protocol/grammar.h"
#include "zel/runtime/buffers.h"

namespace zel::transport {

inline constexpr uint32_t kFrameMagic = 0x464C455Au;  // "ZELF" on the wire
inline constexpr uint16_t kProtocolMajor = 1;
// Minor 1: consoles that take monitored frames (older ones get notifications only).
inline constexpr uint16_t kProtocolMinor = 1;

// The fixed fields of an event on the wire, the payload's count included.
inline constexpr uint32_t kEventHeadSize = 24;
// The longest peer text a monitored frame carries (a longer one is cut).
inline constexpr uint32_t kMaxPeerBytes = 256;
// The fields of a monitored frame before its event, at their longest.
inline constexpr uint32_t kMaxMonitoredHead = 4 + 1 + 4 + 8 + 8 + 4 + 4 + kMaxPeerBytes;
// The longest body: a monitored frame's kind and fields and an event with the largest payload.
inline constexpr uint32_t kMaxFrameBody =
    1 + kMaxMonitoredHead + kEventHeadSize + zel::protocol::kMaxPayload;

enum class FrameKind : uint8_t {
  kHello = 1,
  kRequest = 2,
  kReply = 3,
  kPost = 4,
  kSubscribe = 5,
  kUnsubscribe = 6,
  kNotify = 7,
  kRefusal = 8,
  kMonitored = 9,
};

// How a monitored event passed through the server.
enum class Flow : uint8_t {
  kRequest = 1,
  kReply = 2,
  kPostFromConsole = 3,
  kPostToConsole = 4,
  kNotification = 5,
};

// The direction an event's describer and blanker read it in: requests and replies as such,
// every one-way event as a notification.
inline zel::protocol::Direction DirectionOf(Flow flow) {
  switch (flow) {
    case Flow::kRequest:
      return zel::protocol::Direction::kRequest;
    case Flow::kReply:
      return zel::protocol::Direction::kReply;
    default:
      return zel::protocol::Direction::kNotification;
  }
}

// What a monitored frame says besides its event.
struct MonitoredFrom {
  Flow flow = Flow::kRequest;
  uint32_t dropped = 0;
  uint64_t connection = 0;
  uint64_t requestID = 0;
  int32_t result = 0;
  std::string peer;
};

// One decoded frame. Which fields mean something depends on the kind (see the grammar).
struct Frame {
  FrameKind kind = FrameKind::kHello;
  uint32_t magic = kFrameMagic;
  uint16_t major = kProtocolMajor;
  uint16_t minor = kProtocolMinor;
  uint64_t requestID = 0;
  int32_t result = 0;
  uint32_t subscription = 0;
  bool monitor = false;
  std::vector<uint32_t> eventIDs;
  std::string message;
  MonitoredFrom monitored;  // kMonitored (its subscription in `subscription`)
  // Requests, posts, notifications, monitored frames and replies that carry one.
  std::unique_ptr<ZEL_BUF_EventBuffer2> event;
};

// A frame ready to write: the length and the body, in one buffer.
using EncodedFrame = std::unique_ptr<ZEL_BUF_BinBuffer>;

// Each encoder answers the frame, or null with the reason in *code (kEventTooLarge for a payload
// past kMaxPayload, kNoMemory).
EncodedFrame EncodeHello(uint16_t major, uint16_t minor, int32_t result, const std::string& message,
                         int32_t* code);
EncodedFrame EncodeRequest(uint64_t requestID, const ZEL_BUF_EventBuffer& event, int32_t* code);
// `event` may be null: a reply without event.
EncodedFrame EncodeReply(uint64_t requestID, int32_t result, const ZEL_BUF_EventBuffer* event,
                         int32_t* code);
EncodedFrame EncodePost(const ZEL_BUF_EventBuffer& event, int32_t* code);
EncodedFrame EncodeSubscribe(uint64_t requestID, uint32_t subscription, bool monitor,
                             const std::vector<uint32_t>& eventIDs, int32_t* code);
EncodedFrame EncodeUnsubscribe(uint64_t requestID, uint32_t subscription, int32_t* code);
EncodedFrame EncodeNotify(uint32_t subscription, const ZEL_BUF_EventBuffer& event, int32_t* code);
EncodedFrame EncodeRefusal(int32_t result, const std::string& message, int32_t* code);
// `from.peer` past kMaxPeerBytes is cut.
EncodedFrame EncodeMonitored(uint32_t subscription, const MonitoredFrom& from,
                             const ZEL_BUF_EventBuffer& event, int32_t* code);

// Decodes one body (what follows the length). 0 and *frame filled, or a negative code:
// kInvalidArgument for a body that is not a well-formed frame (unknown kind, a field that runs
// past the end, bytes left over, an event ID list that does not fit), kNoMemory.
int32_t DecodeFrame(const uint8_t* body, uint32_t size, Frame* frame);

// Collects frames from a byte stream: reads land at WritePointer, Next hands out whole bodies.
// Storage grows with the bytes that really came, never from the length a peer announces.
class FrameAssembler {
 public:
  enum class State { kNeedMore, kFrameReady, kTooLong, kEmpty };

  // Where the next bytes go; *room (at least 1) is how many may be written there. A frame that
  // has not fully come grows the storage by at most `chunk` beyond what has come.
  uint8_t* WritePointer(uint32_t chunk, uint32_t* room);
  // `count` bytes were written at WritePointer.
  void Commit(uint32_t count) { end_ += count; }
  // The next whole body (valid until the next WritePointer), or why there is none: kNeedMore,
  // or kTooLong / kEmpty for a length that cannot be a frame (the stream is to be dropped).
  State Next(const uint8_t** body, uint32_t* size);
  // Whether part of a frame has come (a stalled half frame is timed out, an idle stream not).
  bool InFrame() const { return end_ > start_; }

 private:
  static constexpr uint32_t kInitial = 16u << 10;

  std::vector<uint8_t> buffer_;
  uint32_t start_ = 0;  // the first byte not handed out
  uint32_t end_ = 0;    // the end of what came
};

// A copy of `event` (header, interface level and payload), or null when no storage can be had.
std::unique_ptr<ZEL_BUF_EventBuffer2> CopyEvent(const ZEL_BUF_EventBuffer& event);
// The same with another payload of the same size in place of the event's.
std::unique_ptr<ZEL_BUF_EventBuffer2> CopyEventWith(const ZEL_BUF_EventBuffer& event,
                                                    const uint8_t* payload);

// The text of a frame kind, for log lines.
const char* FrameKindName(FrameKind kind);

}  // namespace zel::transport
