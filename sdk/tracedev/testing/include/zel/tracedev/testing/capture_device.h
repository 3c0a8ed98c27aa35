// A trace device for tests: its control block is plain memory a test sets, and it keeps a copy
// of every record it is sent (the bytes the descriptors point at included).
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "zel/tracedev/device.h"

namespace zel::trace::testing {

struct CapturedRecord {
  TraceHeader header{};
  Guid guid{};
  uint16_t messageNumber = 0;
  std::vector<Descriptor> descriptors;  // argument descriptors, in order
  std::vector<std::vector<uint8_t>> arguments;
};

class CaptureDevice final : public TraceDevice {
 public:
  ControlBlock control{};
  bool refuse = false;    // Register answers null
  bool retain = true;     // false: only count sends, without any allocation
  int registrations = 0;  // Register calls
  int closes = 0;
  uint64_t sends = 0;
  RegistrationRecord registered{};
  std::vector<CapturedRecord> records;

  // Every site on: the three classes' flags, the highest level, a logger attached.
  void EnableAll() {
    control.logger = 0x1234;
    control.flags = kFlagError | kFlagInfo | kFlagEntry;
    control.level = 0xFF;
  }

  const ControlBlock* Register(const RegistrationRecord& registration) override {
    ++registrations;
    registered = registration;
    return refuse ? nullptr : &control;
  }

  void Send(const TraceRecord& record) override {
    ++sends;
    if (!retain) return;
    CapturedRecord captured;
    captured.header = record.header;
    std::memcpy(&captured.guid, AddressOf(record.header.guidAddress), sizeof(Guid));
    std::memcpy(&captured.messageNumber, AddressOf(record.fields[0].address), 2);
    const std::size_t count = record.header.size == 80 ? 1 : record.header.size / 16 - 4;
    for (std::size_t i = 1; i <= count; ++i) {
      const Descriptor& field = record.fields[i];
      captured.descriptors.push_back(field);
      const auto* bytes = static_cast<const uint8_t*>(AddressOf(field.address));
      captured.arguments.emplace_back(bytes, bytes + field.length);
    }
    records.push_back(std::move(captured));
  }

  void Close() override { ++closes; }
};

}  // namespace zel::trace::testing
