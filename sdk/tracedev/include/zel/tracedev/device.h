// The seam between a trace provider and its device.
#pragma once

#include "zel/tracedev/export.h"
#include "zel/tracedev/protocol.h"

namespace zel::trace {

class TraceDevice {
 public:
  // Registers the provider (the first two pointers of its registration record). The control
  // block, valid for the rest of the process, or null when the device refuses.
  virtual const ControlBlock* Register(const RegistrationRecord& registration) = 0;
  // Takes one record (header.size bytes; descriptors point into the caller's memory).
  virtual void Send(const TraceRecord& record) = 0;
  // Lets go of the device after a refused registration.
  virtual void Close() = 0;

 protected:
  ~TraceDevice() = default;
};

// The platform's device: the driver on Windows; elsewhere the file device, when the
// environment names a control file (kControlFileVariable). Null when there is none. Each call
// makes a new device object that lives for the rest of the process.
ZEL_TRACEDEV_API TraceDevice* OpenPlatformDevice();

inline constexpr const char* kControlFileVariable = "ZEL_TRACE_CONTROL";

}  // namespace zel::trace
