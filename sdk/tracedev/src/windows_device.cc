// The trace driver of the Windows platform, reached through its device and two control codes.
#if defined(_WIN32)

#include <windows.h>

#include "windows_file_device.h"
#include "zel/tracedev/device.h"

namespace zel::trace {
namespace {

class DriverDevice final : public TraceDevice {
 public:
  explicit DriverDevice(HANDLE handle) : handle_(handle) {}

  const ControlBlock* Register(const RegistrationRecord& registration) override {
    // Only the control GUID and component name pointers travel to the driver.
    const void* input[2] = {registration.controlGuid, registration.componentName};
    ControlBlock* control = nullptr;
    DWORD returned = 0;
    if (!DeviceIoControl(handle_, kIoctlRegister, input, sizeof input, &control, sizeof control,
                         &returned, nullptr)) {
      return nullptr;
    }
    return control;
  }

  void Send(const TraceRecord& record) override {
    DWORD returned = 0;
    DeviceIoControl(handle_, kIoctlRecord, const_cast<TraceRecord*>(&record), record.header.size,
                    nullptr, 0, &returned, nullptr);
  }

  void Close() override { CloseHandle(handle_); }

 private:
  HANDLE handle_;
};

}  // namespace

TraceDevice* OpenPlatformDevice() {
  // A control file named in the environment selects the file device, without the driver.
  if (TraceDevice* file = OpenWindowsFileDevice()) return file;
  HANDLE handle = CreateFileW(reinterpret_cast<LPCWSTR>(kWindowsDeviceName), 0, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  static DriverDevice device(handle);
  return &device;
}

}  // namespace zel::trace

#endif  // _WIN32
