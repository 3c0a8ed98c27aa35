#include <gtest/gtest.h>

#include "test_support.h"
#include "zel/runtime/testing/child_process.h"

namespace zel::sal::testing {

zel::trace::testing::CaptureDevice& TraceCapture() {
  static zel::trace::testing::CaptureDevice device;
  return device;
}

}  // namespace zel::sal::testing

int main(int argc, char** argv) {
  zel::trace::InstallTraceDevice(&zel::sal::testing::TraceCapture());
  int exitCode = 0;
  if (zel::rt::testing::RunChildRoleIfAsked(&exitCode)) return exitCode;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
