// What the file device tests share: a control file and a trace file in a fresh folder named
// in the environment, records as a provider builds them, and a process that traces.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "zel/runtime/testing/child_process.h"
#include "zel/runtime/testing/portable.h"
#include "zel/tracedev/device.h"
#include "zel/tracedev/files.h"

namespace zel::trace::testing {

inline constexpr Guid kMessageGuid = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
inline constexpr Guid kControlGuid = {0xCAFE, 0, 0, {0}};

// A record as a provider builds it: `count` arguments described one by one.
inline TraceRecord RecordOf(const uint16_t* number, const std::vector<std::vector<uint8_t>>& args) {
  TraceRecord record{};
  record.header.size = static_cast<uint16_t>(16 * (args.size() + 4));
  record.header.guidAddress = WidenAddress(&kMessageGuid);
  record.fields[0] = Descriptor{WidenAddress(number), 2, 0};
  for (std::size_t i = 0; i < args.size(); ++i) {
    record.fields[i + 1] =
        Descriptor{WidenAddress(args[i].data()), static_cast<uint32_t>(args[i].size()), 0};
  }
  return record;
}

// Writes `text` over the file at `offset`, in place.
inline void Overwrite(const std::string& path, std::streamoff offset, const std::string& text) {
  std::fstream file(path);
  file.seekp(offset);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
}

// Registers the tests' component; its control block, or null when the device refuses it.
inline const ControlBlock* RegisterTestComponent(TraceDevice* device) {
  return device->Register(RegistrationRecord{&kControlGuid, u"TestComponent", nullptr});
}

// What is done to a control file, and which.
struct Damage {
  const char* name;
  std::function<void(const std::string& path)> apply;
};

class FileDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zel::rt::testing::SetEnvironment(kControlFileVariable, controlPath_.c_str());
  }
  void TearDown() override { zel::rt::testing::SetEnvironment(kControlFileVariable, nullptr); }

  ControlSettings Settings(uint8_t flags) const {
    return ControlSettings{u"TestComponent", tracePath_, 7, flags, 5};
  }

  // Starts a process that traces through the control file (a trace site: read the block, send
  // when on) until it reads a logger of 0, damages the file once it traces, and gives the
  // process's exit code: 0 when tracing stopped, 3 when it never did, -1 when it died.
  int DamageWhileAProcessTraces(const Damage& damage) {
    zel::rt::testing::ChildProcess child =
        zel::rt::testing::ChildProcess::StartRole("trace-until-off", controlPath_);
    std::string line;
    if (!child.ReadLine(&line) || line != "tracing") return child.Wait();
    damage.apply(controlPath_);
    return child.Wait();
  }

  zel::rt::testing::TempFolder folder_{"zeltrace"};
  std::string controlPath_ = folder_.File("control");
  std::string tracePath_ = folder_.File("trace");
};

}  // namespace zel::trace::testing
