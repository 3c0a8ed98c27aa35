// The event describer (what a monitor shows of any event it sees) over any bytes: the first
// byte picks an event of the table and a direction, the rest is the payload. A description
// never reads outside the payload, never shows a secret, and says where it stopped.
#include <string>

#include "fuzz_support.h"
#include "zel/admintool/protocol/describe.h"
#include "zel/protocol/events.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const zel::fuzz::Input input(data, size);
  const auto events = zel::protocol::AllEvents();
  const auto& event = events[(input.selector >> 2) % events.size()];
  const auto direction = static_cast<zel::protocol::Direction>(input.selector % 3);
  const auto payloadSize = static_cast<uint32_t>(input.bytes.size());

  const zel::protocol::EventDescription described =
      zel::admintool::DescribeEvent(event.id, direction, input.bytes.data(), payloadSize);
  ZEL_FUZZ_CHECK(described.eventID == event.id);
  ZEL_FUZZ_CHECK(described.stoppedAt <= payloadSize);
  ZEL_FUZZ_CHECK(described.trailing <= payloadSize);
  for (const zel::protocol::Field& field : described.fields) {
    ZEL_FUZZ_CHECK(!field.name.empty());
    ZEL_FUZZ_CHECK(!field.secret || field.value.empty());
  }
  const std::string text = described.Text();
  ZEL_FUZZ_CHECK(text.find(described.eventName) != std::string::npos);
  return 0;
}
