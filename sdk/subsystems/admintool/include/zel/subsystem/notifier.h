// Notifications the subsystem sends after a change: the tree-operation (81) and container
// change (95) events, addressed from the AdminTool subsystem (22) to the notification hub (1)
// with the host IDs the library's notifications carry, and posted through the host's
// transport.
#pragma once

#include <cstdint>
#include <functional>

#include "zel/runtime/buffers.h"
#include "zel/runtime/pif.h"

namespace zel::subsystem {

class Notifier {
 public:
  explicit Notifier(ZEL_PIF_ISubSystem& host) : host_(host) {}

  // Makes event `eventID`, lets `write` fill its payload (it may throw
  // ZEL_BUF_AppendException: the event is dropped and the append's code answered) and posts it.
  // The transport's answer, or kNoTransport / kNoMemory of the runtime.
  int32_t Post(uint16_t eventID, uint32_t sizeHint,
               const std::function<void(ZEL_BUF_EventBuffer&)>& write);

 private:
  ZEL_PIF_ISubSystem& host_;
};

}  // namespace zel::subsystem
