// The file device of the Windows platform, chosen instead of the driver when the environment
// names a control file.
#pragma once

#include "zel/tracedev/device.h"

namespace zel::trace {

// The file device when kControlFileVariable names a control file; null otherwise.
TraceDevice* OpenWindowsFileDevice();

}  // namespace zel::trace
