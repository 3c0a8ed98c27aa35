#include <gtest/gtest.h>

#include "test_support.h"

namespace zel::sal::testing {

zel::trace::testing::CaptureDevice& TraceCapture() {
  static zel::trace::testing::CaptureDevice device;
  return device;
}

}  // namespace zel::sal::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  zel::trace::InstallTraceDevice(&zel::sal::testing::TraceCapture());
  return RUN_ALL_TESTS();
}
