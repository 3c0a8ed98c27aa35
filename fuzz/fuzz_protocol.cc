// Every message of ours read from any bytes (the first byte picks the message and its
// direction): a value or ZEL_BUF_ReadException, never a read outside the payload; what reads
// writes back to exactly the bytes it was read from, and EncodedSize knows that size. The
// description of the same bytes agrees: parsed exactly when the reader read, with the same
// trailing bytes, or stopped inside the payload.
#include <cstring>

#include "fuzz_support.h"
#include "zel/protocol/messages.h"

namespace {

using zel::protocol::Direction;
using zel::protocol::EventDescription;

template <class Message>
void Check(const uint8_t* bytes, uint32_t size) {
  using M = typename Message::Type;
  ZEL_BUF_BufferReader in(bytes, size);
  M message{};
  bool parsed = true;
  try {
    zel::protocol::Decode(in, message);
  } catch (const ZEL_BUF_ReadException&) {
    parsed = false;
  }
  if (parsed) {
    const uint32_t consumed = in.GetOffset();
    ZEL_BUF_BinBuffer again;
    zel::protocol::Encode(message, again);
    ZEL_FUZZ_CHECK(again.GetSize() == consumed);
    ZEL_FUZZ_CHECK(consumed == 0 || std::memcmp(again.GetData(), bytes, consumed) == 0);
    ZEL_FUZZ_CHECK(zel::protocol::EncodedSize(message) == consumed);
  }
  EventDescription description;
  ZEL_FUZZ_CHECK(zel::protocol::DescribeEventOfOurs(Message::kEventID, Message::kDirection, bytes,
                                                    size, description));
  ZEL_FUZZ_CHECK(description.parsed == parsed);
  if (parsed) {
    ZEL_FUZZ_CHECK(description.trailing == in.GetRemaining());
  } else {
    ZEL_FUZZ_CHECK(description.stoppedAt <= size);
  }
  for (const zel::protocol::Field& field : description.fields) {
    ZEL_FUZZ_CHECK(!field.secret || field.value.empty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const zel::fuzz::Input input(data, size);
  if (input.bytes.size() > 0xFFFF) return 0;
  const std::size_t pick = input.selector % zel::protocol::kMessageCount;
  std::size_t index = 0;
  zel::protocol::ForEachMessageOfOurs([&](auto message) {
    if (index++ == pick) {
      Check<decltype(message)>(input.bytes.data(), static_cast<uint32_t>(input.bytes.size()));
    }
  });
  return 0;
}
