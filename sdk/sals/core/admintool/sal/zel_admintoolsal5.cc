#include "zel/admintool/zel_admintoolsal5.h"

#include "admintool/trace/trace.h"

namespace {
// Interface number, in the host's plug-in API table, of a local AdminToolInterface4. What is
// offered there must be an AdminToolInterface4*.
constexpr uint32_t kLocalImplementationInterface = 2300;
}  // namespace

ZEL_AdminToolSAL5::ZEL_AdminToolSAL5(ZEL_PIF_ISubSystem& host)
    : ZEL_AdminToolSAL4(host), localImplementation(nullptr), hostPluginApis(nullptr) {
  ZEL_TRACE(kEntry, kSal5Constructed, TraceNoData);
  hostPluginApis = host.GetPluginApis();
  if (hostPluginApis == nullptr) return;
  void* local = nullptr;
  const int32_t acquired = hostPluginApis->AcquireInterface(kLocalImplementationInterface, &local);
  if (acquired < 0) {
    // The object stays usable: its fourth-interface operations build events.
    ZEL_TRACE(kInfo, kSal5NoLocalImplementation, TraceUInt32, static_cast<uint32_t>(acquired));
    return;
  }
  localImplementation = static_cast<AdminToolInterface4*>(local);
}

ZEL_AdminToolSAL5::~ZEL_AdminToolSAL5() {
  if (hostPluginApis != nullptr && localImplementation != nullptr) {
    hostPluginApis->ReleaseInterface(kLocalImplementationInterface, localImplementation);
  }
}

ZEL_AdminToolSAL6::ZEL_AdminToolSAL6(ZEL_PIF_ISubSystem& host) : ZEL_AdminToolSAL5(host) {
  ZEL_TRACE(kEntry, kSal6Constructed, TraceNoData);
}

ZEL_AdminToolSAL6::~ZEL_AdminToolSAL6() = default;
