// Frame encoders and the decoder, beside each other; the grammar is in zel/transport/frame.h.
#include "zel/transport/frame.h"

#include <algorithm>
#include <new>

#include "zel/runtime/codes.h"

namespace zel::transport {
namespace {

using zel::protocol::kMaxPayload;

// The fixed fields of each kind, listed once for the writer, the reader and the sizer.
struct HelloFields {
  uint32_t magic = kFrameMagic;
  uint16_t major = kProtocolMajor;
  uint16_t minor = kProtocolMinor;
  int32_t result = 0;
  std::vector<uint8_t> message;

  template <class V>
  void Fields(V& v) {
    v.U32("magic", magic);
    v.U16("major", major);
    v.U16("minor", minor);
    v.I32("result", result);
    v.Bytes("message", message);
  }
};

struct RefusalFields {
  int32_t result = 0;
  std::vector<uint8_t> message;

  template <class V>
  void Fields(V& v) {
    v.I32("result", result);
    v.Bytes("message", message);
  }
};

struct RequestFields {
  uint64_t requestID = 0;

  template <class V>
  void Fields(V& v) {
    v.U64("requestID", requestID);
  }
};

struct ReplyFields {
  uint64_t requestID = 0;
  int32_t result = 0;
  uint8_t hasEvent = 0;

  template <class V>
  void Fields(V& v) {
    v.U64("requestID", requestID);
    v.I32("result", result);
    v.U8("hasEvent", hasEvent);
    v.Valid(hasEvent <= 1);
  }
};

struct SubscribeFields {
  uint64_t requestID = 0;
  uint32_t subscription = 0;
  uint8_t monitor = 0;
  std::vector<uint32_t> eventIDs;

  template <class V>
  void Fields(V& v) {
    v.U64("requestID", requestID);
    v.U32("subscription", subscription);
    v.U8("monitor", monitor);
    v.Valid(monitor <= 1);
    v.U32s("eventIDs", eventIDs);
    v.Valid(
        std::all_of(eventIDs.begin(), eventIDs.end(), [](uint32_t id) { return id <= 0xFFFF; }));
  }
};

struct UnsubscribeFields {
  uint64_t requestID = 0;
  uint32_t subscription = 0;

  template <class V>
  void Fields(V& v) {
    v.U64("requestID", requestID);
    v.U32("subscription", subscription);
  }
};

// A post has the event alone.
struct NoFields {
  template <class V>
  void Fields(V&) {}
};

struct NotifyFields {
  uint32_t subscription = 0;

  template <class V>
  void Fields(V& v) {
    v.U32("subscription", subscription);
  }
};

struct MonitoredFields {
  uint32_t subscription = 0;
  uint8_t flow = 0;
  uint32_t dropped = 0;
  uint64_t connection = 0;
  uint64_t requestID = 0;
  int32_t result = 0;
  std::vector<uint8_t> peer;

  template <class V>
  void Fields(V& v) {
    v.U32("subscription", subscription);
    v.U8("flow", flow);
    v.Valid(flow >= static_cast<uint8_t>(Flow::kRequest) &&
            flow <= static_cast<uint8_t>(Flow::kNotification));
    v.U32("dropped", dropped);
    v.U64("connection", connection);
    v.U64("requestID", requestID);
    v.I32("result", result);
    v.Bytes("peer", peer);
    v.Valid(peer.size() <= kMaxPeerBytes);
  }
};

// The event's header; its payload (count, bytes) follows and ends the frame.
struct EventHead {
  uint16_t eventID = 0;
  uint8_t versionMajor = 1;
  uint8_t versionMinor = 0;
  uint32_t srcHost = 0;
  uint32_t destHost = 0;
  uint16_t srcUID = 0;
  uint16_t destUID = 0;
  uint32_t interfaceLevel = 0;

  template <class V>
  void Fields(V& v) {
    v.U16("eventID", eventID);
    v.U8("versionMajor", versionMajor);
    v.U8("versionMinor", versionMinor);
    v.U32("srcHost", srcHost);
    v.U32("destHost", destHost);
    v.U16("srcUID", srcUID);
    v.U16("destUID", destUID);
    v.U32("interfaceLevel", interfaceLevel);
  }
};

std::vector<uint8_t> BytesOf(const std::string& text) { return {text.begin(), text.end()}; }

EventHead HeadOf(const ZEL_BUF_EventBuffer& event) {
  EventHead head;
  head.eventID = event.GetEventID();
  head.versionMajor = event.GetVersion().first;
  head.versionMinor = event.GetVersion().second;
  head.srcHost = event.GetSrcHostID();
  head.destHost = event.GetDestHostID();
  head.srcUID = event.GetSrcSubsystemUID();
  head.destUID = event.GetDestSubsystemUID();
  if (const auto* second = dynamic_cast<const ZEL_BUF_EventBuffer2*>(&event)) {
    head.interfaceLevel = second->GetInterfaceLevel();
  }
  return head;
}

// Writes one frame: the length, the kind, the fixed fields and, when given, the event. The
// buffer is sized exactly once.
template <class F>
EncodedFrame Write(FrameKind kind, F fields, const ZEL_BUF_EventBuffer* event, int32_t* code) {
  const uint64_t payload = event != nullptr ? event->GetSize() : 0;
  if (payload > kMaxPayload) {
    *code = zel::rt::kEventTooLarge;
    return nullptr;
  }
  const uint64_t body =
      1 + zel::protocol::EncodedSize(fields) + (event != nullptr ? kEventHeadSize + payload : 0);
  if (body > kMaxFrameBody) {
    *code = zel::rt::kEventTooLarge;
    return nullptr;
  }
  EncodedFrame out(new (std::nothrow) ZEL_BUF_BinBuffer(static_cast<uint32_t>(4 + body)));
  if (!out) {
    *code = zel::rt::kNoMemory;
    return nullptr;
  }
  out->SetMaxSize(4 + kMaxFrameBody);
  try {
    *out << static_cast<uint32_t>(body) << static_cast<uint8_t>(kind);
    zel::protocol::Encode(fields, *out);
    if (event != nullptr) {
      zel::protocol::Encode(HeadOf(*event), *out);
      *out << static_cast<uint32_t>(payload);
      const int32_t appended = out->AppendBytes(event->GetData(), static_cast<uint32_t>(payload));
      if (appended != 0) throw ZEL_BUF_AppendException(appended);
    }
  } catch (const ZEL_BUF_AppendException& failure) {
    *code = failure.code();
    return nullptr;
  }
  *code = zel::rt::kOk;
  return out;
}

// Reads the event that ends a frame: its header, then a payload that is exactly what remains.
std::unique_ptr<ZEL_BUF_EventBuffer2> ReadEvent(ZEL_BUF_BufferReader& in, const uint8_t* body) {
  EventHead head;
  zel::protocol::Decode(in, head);
  uint32_t payload = 0;
  in >> payload;
  if (payload != in.GetRemaining() || payload > kMaxPayload) {
    throw ZEL_BUF_ReadException(ZEL_BUF_ReadException::Reason::kMalformed);
  }
  std::unique_ptr<ZEL_BUF_EventBuffer2> event(new (std::nothrow) ZEL_BUF_EventBuffer2(
      head.eventID, ZELVersion(head.versionMajor, head.versionMinor), payload,
      head.interfaceLevel));
  if (!event) throw ZEL_BUF_ReadException(ZEL_BUF_ReadException::Reason::kNoMemory);
  event->SetSrcHostID(head.srcHost);
  event->SetDestHostID(head.destHost);
  event->SetSrcSubsystemUID(head.srcUID);
  event->SetDestSubsystemUID(head.destUID);
  if (event->AppendData(body + in.GetOffset(), payload) != 0) {
    throw ZEL_BUF_ReadException(ZEL_BUF_ReadException::Reason::kNoMemory);
  }
  return event;
}

void EndOfFrame(ZEL_BUF_BufferReader& in) {
  if (in.GetRemaining() != 0) {
    throw ZEL_BUF_ReadException(ZEL_BUF_ReadException::Reason::kMalformed);
  }
}

}  // namespace

EncodedFrame EncodeHello(uint16_t major, uint16_t minor, int32_t result, const std::string& message,
                         int32_t* code) {
  HelloFields fields;
  fields.major = major;
  fields.minor = minor;
  fields.result = result;
  fields.message = BytesOf(message);
  return Write(FrameKind::kHello, std::move(fields), nullptr, code);
}

EncodedFrame EncodeRequest(uint64_t requestID, const ZEL_BUF_EventBuffer& event, int32_t* code) {
  return Write(FrameKind::kRequest, RequestFields{requestID}, &event, code);
}

EncodedFrame EncodeReply(uint64_t requestID, int32_t result, const ZEL_BUF_EventBuffer* event,
                         int32_t* code) {
  ReplyFields fields{requestID, result, static_cast<uint8_t>(event != nullptr ? 1 : 0)};
  return Write(FrameKind::kReply, fields, event, code);
}

EncodedFrame EncodePost(const ZEL_BUF_EventBuffer& event, int32_t* code) {
  return Write(FrameKind::kPost, NoFields{}, &event, code);
}

EncodedFrame EncodeSubscribe(uint64_t requestID, uint32_t subscription, bool monitor,
                             const std::vector<uint32_t>& eventIDs, int32_t* code) {
  SubscribeFields fields{requestID, subscription, static_cast<uint8_t>(monitor ? 1 : 0), eventIDs};
  return Write(FrameKind::kSubscribe, std::move(fields), nullptr, code);
}

EncodedFrame EncodeUnsubscribe(uint64_t requestID, uint32_t subscription, int32_t* code) {
  return Write(FrameKind::kUnsubscribe, UnsubscribeFields{requestID, subscription}, nullptr, code);
}

EncodedFrame EncodeNotify(uint32_t subscription, const ZEL_BUF_EventBuffer& event, int32_t* code) {
  return Write(FrameKind::kNotify, NotifyFields{subscription}, &event, code);
}

EncodedFrame EncodeRefusal(int32_t result, const std::string& message, int32_t* code) {
  return Write(FrameKind::kRefusal, RefusalFields{result, BytesOf(message)}, nullptr, code);
}

EncodedFrame EncodeMonitored(uint32_t subscription, const MonitoredFrom& from,
                             const ZEL_BUF_EventBuffer& event, int32_t* code) {
  MonitoredFields fields{subscription,
                         static_cast<uint8_t>(from.flow),
                         from.dropped,
                         from.connection,
                         from.requestID,
                         from.result,
                         BytesOf(from.peer.substr(0, kMaxPeerBytes))};
  return Write(FrameKind::kMonitored, std::move(fields), &event, code);
}

int32_t DecodeFrame(const uint8_t* body, uint32_t size, Frame* frame) {
  if (size == 0 || size > kMaxFrameBody) return zel::rt::kInvalidArgument;
  ZEL_BUF_BufferReader in(body, size);
  try {
    uint8_t kind = 0;
    in >> kind;
    frame->kind = static_cast<FrameKind>(kind);
    switch (frame->kind) {
      case FrameKind::kHello: {
        HelloFields fields;
        zel::protocol::Decode(in, fields);
        frame->magic = fields.magic;
        frame->major = fields.major;
        frame->minor = fields.minor;
        frame->result = fields.result;
        frame->message.assign(fields.message.begin(), fields.message.end());
        break;
      }
      case FrameKind::kRequest: {
        RequestFields fields;
        zel::protocol::Decode(in, fields);
        frame->requestID = fields.requestID;
        frame->event = ReadEvent(in, body);
        return zel::rt::kOk;
      }
      case FrameKind::kReply: {
        ReplyFields fields;
        zel::protocol::Decode(in, fields);
        frame->requestID = fields.requestID;
        frame->result = fields.result;
        if (fields.hasEvent == 1) {
          frame->event = ReadEvent(in, body);
          return zel::rt::kOk;
        }
        break;
      }
      case FrameKind::kPost:
        frame->event = ReadEvent(in, body);
        return zel::rt::kOk;
      case FrameKind::kSubscribe: {
        SubscribeFields fields;
        zel::protocol::Decode(in, fields);
        frame->requestID = fields.requestID;
        frame->subscription = fields.subscription;
        frame->monitor = fields.monitor == 1;
        frame->eventIDs = std::move(fields.eventIDs);
        break;
      }
      case FrameKind::kUnsubscribe: {
        UnsubscribeFields fields;
        zel::protocol::Decode(in, fields);
        frame->requestID = fields.requestID;
        frame->subscription = fields.subscription;
        break;
      }
      case FrameKind::kNotify: {
        NotifyFields fields;
        zel::protocol::Decode(in, fields);
        frame->subscription = fields.subscription;
        frame->event = ReadEvent(in, body);
        return zel::rt::kOk;
      }
      case FrameKind::kMonitored: {
        MonitoredFields fields;
        zel::protocol::Decode(in, fields);
        frame->subscription = fields.subscription;
        frame->monitored = MonitoredFrom{static_cast<Flow>(fields.flow),
                                         fields.dropped,
                                         fields.connection,
                                         fields.requestID,
                                         fields.result,
                                         std::string(fields.peer.begin(), fields.peer.end())};
        frame->event = ReadEvent(in, body);
        return zel::rt::kOk;
      }
      case FrameKind::kRefusal: {
        RefusalFields fields;
        zel::protocol::Decode(in, fields);
        frame->result = fields.result;
        frame->message.assign(fields.message.begin(), fields.message.end());
        break;
      }
      default:
        return zel::rt::kInvalidArgument;
    }
    EndOfFrame(in);
  } catch (const ZEL_BUF_ReadException& failure) {
    return failure.reason() == ZEL_BUF_ReadException::Reason::kNoMemory ? zel::rt::kNoMemory
                                                                        : zel::rt::kInvalidArgument;
  } catch (const std::bad_alloc&) {
    return zel::rt::kNoMemory;
  }
  return zel::rt::kOk;
}

namespace {
uint32_t LoadLength(const uint8_t* at) {
  return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}
}  // namespace

uint8_t* FrameAssembler::WritePointer(uint32_t chunk, uint32_t* room) {
  if (start_ == end_) {
    start_ = end_ = 0;
    // After a large frame the storage goes back to its usual size.
    if (buffer_.size() > 4 * kInitial) std::vector<uint8_t>().swap(buffer_);
  } else if (start_ > 0) {
    std::copy(buffer_.begin() + start_, buffer_.begin() + end_, buffer_.begin());
    end_ -= start_;
    start_ = 0;
  }
  uint64_t want = kInitial;
  if (end_ >= 4) {
    // A frame whose length has come: room for it, but never more than `chunk` past what came.
    const uint64_t whole = 4 + uint64_t{LoadLength(buffer_.data())};
    want = std::max<uint64_t>(want, std::min<uint64_t>(whole, uint64_t{end_} + chunk));
  }
  if (buffer_.size() < want) buffer_.resize(want);
  if (buffer_.size() == end_) buffer_.resize(end_ + std::max<uint32_t>(chunk, 1));
  *room = static_cast<uint32_t>(buffer_.size()) - end_;
  return buffer_.data() + end_;
}

FrameAssembler::State FrameAssembler::Next(const uint8_t** body, uint32_t* size) {
  if (end_ - start_ < 4) return State::kNeedMore;
  const uint32_t length = LoadLength(buffer_.data() + start_);
  if (length == 0) return State::kEmpty;
  if (length > kMaxFrameBody) return State::kTooLong;
  if (end_ - start_ - 4 < length) return State::kNeedMore;
  *body = buffer_.data() + start_ + 4;
  *size = length;
  start_ += 4 + length;
  return State::kFrameReady;
}

std::unique_ptr<ZEL_BUF_EventBuffer2> CopyEvent(const ZEL_BUF_EventBuffer& event) {
  return CopyEventWith(event, event.GetData());
}

std::unique_ptr<ZEL_BUF_EventBuffer2> CopyEventWith(const ZEL_BUF_EventBuffer& event,
                                                    const uint8_t* payload) {
  const EventHead head = HeadOf(event);
  std::unique_ptr<ZEL_BUF_EventBuffer2> copy(new (std::nothrow) ZEL_BUF_EventBuffer2(
      head.eventID, event.GetVersion(), event.GetSize(), head.interfaceLevel));
  if (!copy) return nullptr;
  copy->SetMaxSize(event.GetMaxSize());
  copy->SetSrcHostID(head.srcHost);
  copy->SetDestHostID(head.destHost);
  copy->SetSrcSubsystemUID(head.srcUID);
  copy->SetDestSubsystemUID(head.destUID);
  if (event.GetSize() > 0 && copy->AppendData(payload, event.GetSize()) != 0) return nullptr;
  return copy;
}

const char* FrameKindName(FrameKind kind) {
  switch (kind) {
    case FrameKind::kHello:
      return "hello";
    case FrameKind::kRequest:
      return "request";
    case FrameKind::kReply:
      return "reply";
    case FrameKind::kPost:
      return "post";
    case FrameKind::kSubscribe:
      return "subscribe";
    case FrameKind::kUnsubscribe:
      return "unsubscribe";
    case FrameKind::kNotify:
      return "notify";
    case FrameKind::kRefusal:
      return "refusal";
    case FrameKind::kMonitored:
      return "monitored";
  }
  return "unknown";
}

}  // namespace zel::transport
