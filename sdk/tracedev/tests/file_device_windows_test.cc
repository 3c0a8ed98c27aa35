// What Windows does to a control file that a process has mapped: it cannot be shortened, so a
// traced process never reads past its end.
#include <filesystem>
#include <system_error>

#include "file_device_support.h"

namespace {

using namespace zel::trace;
using namespace zel::trace::testing;

TEST_F(FileDeviceTest, AMappedControlFileCannotBeShortened) {
  ASSERT_EQ(WriteControlFile(controlPath_, Settings(kFlagError)), "");
  TraceDevice* device = OpenPlatformDevice();
  const ControlBlock* control = RegisterTestComponent(device);
  ASSERT_NE(control, nullptr);
  std::error_code refused;
  std::filesystem::resize_file(controlPath_, 8, refused);
  EXPECT_TRUE(refused);
  EXPECT_EQ(std::filesystem::file_size(controlPath_), kControlFileBytes);
  EXPECT_EQ(control->logger, 7u);
  device->Close();
  // Once the device let go, the file is an ordinary one again.
  std::filesystem::resize_file(controlPath_, 8, refused);
  EXPECT_FALSE(refused);
}

}  // namespace
