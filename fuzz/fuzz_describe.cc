// The event describer (what a monitor shows of any event it sees) and the blanking the server
// does before a monitor sees it, over any bytes: the first byte picks an event of the table and
// a direction, the rest is the payload. A description never reads outside the payload, never
// shows a secret, and says where it stopped. Blanking keeps the size, only zeroes bytes (all of
// them after where it stopped), and leaves a payload that describes as the original did.
#include <string>
#include <vector>

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

  std::vector<uint8_t> blanked(input.bytes.begin(), input.bytes.end());
  const uint32_t kept =
      zel::admintool::BlankSecrets(event.id, direction, blanked.data(), payloadSize);
  ZEL_FUZZ_CHECK(blanked.size() == payloadSize);
  ZEL_FUZZ_CHECK(kept <= payloadSize);
  for (uint32_t i = 0; i < payloadSize; ++i) {
    ZEL_FUZZ_CHECK(blanked[i] == 0 || blanked[i] == input.bytes[i]);
    ZEL_FUZZ_CHECK(i < kept || blanked[i] == 0);
  }
  if (described.parsed) {
    ZEL_FUZZ_CHECK(kept == payloadSize - described.trailing);
    if (described.trailing == 0) {
      const auto again =
          zel::admintool::DescribeEvent(event.id, direction, blanked.data(), payloadSize);
      ZEL_FUZZ_CHECK(again.Text() == text);
    }
  }
  return 0;
}
