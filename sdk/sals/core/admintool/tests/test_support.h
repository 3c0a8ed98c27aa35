// What the library's tests share: the process's capturing trace device, installed before the
// first SAL object is made, and a scripted host ready for a SAL object.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "admintool/trace/trace.h"
#include "zel/runtime/testing/scripted_host.h"
#include "zel/tracedev/testing/capture_device.h"

namespace zel::sal::testing {

zel::trace::testing::CaptureDevice& TraceCapture();

// Every test starts with tracing on for every class and nothing captured.
class SalTest : public ::testing::Test {
 protected:
  SalTest() {
    TraceCapture().records.clear();
    TraceCapture().EnableAll();
  }
  ~SalTest() override { EXPECT_EQ(host_.Outstanding(), "") << "left behind by the test"; }

  // Captured records of one module and number.
  std::vector<zel::trace::testing::CapturedRecord> Traced(zel::trace::Message message) const {
    std::vector<zel::trace::testing::CapturedRecord> found;
    for (const auto& record : TraceCapture().records) {
      if (record.messageNumber == message.number &&
          std::memcmp(&record.guid, &zel::trace::GuidOf(message.module), 16) == 0) {
        found.push_back(record);
      }
    }
    return found;
  }

  zel::rt::testing::ScriptedHost host_{0x00070005};
};

}  // namespace zel::sal::testing
