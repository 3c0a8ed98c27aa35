// The transport's frame reading, as a server reads what a console sends: the input is a byte
// stream cut into reads of 1 to 64 bytes (the selector byte), frames are collected by the
// assembler and each body is decoded. A body is never longer than the maximum; the assembler
// hands out exactly the bytes that came, in order; a frame that decodes encodes back to exactly
// its bytes; a body that does not decode answers the decoder's code and nothing else.
#include <algorithm>
#include <cstring>

#include "fuzz_support.h"
#include "zel/runtime/codes.h"
#include "zel/transport/frame.h"

namespace {

using namespace zel::transport;

// The frame encoded again from what was decoded; null for a hello of a foreign magic (the
// encoder always writes ours).
EncodedFrame Again(const Frame& frame) {
  int32_t code = 0;
  switch (frame.kind) {
    case FrameKind::kHello:
      if (frame.magic != kFrameMagic) return nullptr;
      return EncodeHello(frame.major, frame.minor, frame.result, frame.message, &code);
    case FrameKind::kRequest:
      return EncodeRequest(frame.requestID, *frame.event, &code);
    case FrameKind::kReply:
      return EncodeReply(frame.requestID, frame.result, frame.event.get(), &code);
    case FrameKind::kPost:
      return EncodePost(*frame.event, &code);
    case FrameKind::kSubscribe:
      return EncodeSubscribe(frame.requestID, frame.subscription, frame.monitor, frame.eventIDs,
                             &code);
    case FrameKind::kUnsubscribe:
      return EncodeUnsubscribe(frame.requestID, frame.subscription, &code);
    case FrameKind::kNotify:
      return EncodeNotify(frame.subscription, *frame.event, &code);
    case FrameKind::kRefusal:
      return EncodeRefusal(frame.result, frame.message, &code);
    case FrameKind::kMonitored:
      return EncodeMonitored(frame.subscription, frame.monitored, *frame.event, &code);
  }
  ZEL_FUZZ_CHECK(false);
  return nullptr;
}

void CheckBody(const uint8_t* body, uint32_t size) {
  Frame frame;
  const int32_t code = DecodeFrame(body, size, &frame);
  ZEL_FUZZ_CHECK(code == zel::rt::kOk || code == zel::rt::kInvalidArgument);
  if (code != zel::rt::kOk) return;
  const EncodedFrame again = Again(frame);
  if (!again) return;
  ZEL_FUZZ_CHECK(again->GetSize() == 4 + size);
  ZEL_FUZZ_CHECK(std::memcmp(again->GetData() + 4, body, size) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const zel::fuzz::Input input(data, size);
  const uint32_t piece = input.selector % 64 + 1;
  FrameAssembler assembler;
  std::vector<uint8_t> handedOut;  // lengths and bodies, as they came
  std::size_t at = 0;
  bool dropped = false;
  while (at < input.bytes.size() && !dropped) {
    uint32_t room = 0;
    uint8_t* into = assembler.WritePointer(piece, &room);
    ZEL_FUZZ_CHECK(room >= 1);
    const std::size_t count = std::min<std::size_t>({piece, room, input.bytes.size() - at});
    std::memcpy(into, input.bytes.data() + at, count);
    assembler.Commit(static_cast<uint32_t>(count));
    at += count;
    for (;;) {
      const uint8_t* body = nullptr;
      uint32_t length = 0;
      const FrameAssembler::State state = assembler.Next(&body, &length);
      if (state == FrameAssembler::State::kNeedMore) break;
      if (state != FrameAssembler::State::kFrameReady) {
        dropped = true;
        break;
      }
      ZEL_FUZZ_CHECK(length >= 1 && length <= kMaxFrameBody);
      const uint8_t head[4] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                               static_cast<uint8_t>(length >> 16),
                               static_cast<uint8_t>(length >> 24)};
      handedOut.insert(handedOut.end(), head, head + 4);
      handedOut.insert(handedOut.end(), body, body + length);
      CheckBody(body, length);
    }
  }
  ZEL_FUZZ_CHECK(handedOut.size() <= input.bytes.size());
  ZEL_FUZZ_CHECK(std::equal(handedOut.begin(), handedOut.end(), input.bytes.begin()));
  ZEL_FUZZ_CHECK(dropped || assembler.InFrame() == (handedOut.size() < input.bytes.size()));
  return 0;
}
