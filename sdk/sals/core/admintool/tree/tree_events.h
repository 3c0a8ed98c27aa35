// Framing of the tree notifications and their posting. Inner to the library.
//
// Event 81: int32 status; int16 sections; per section: int16 op, parent DN, int16 items, items.
// Event 95: int32 0; int16 containers; int16 3; the container DNs.
#pragma once

#include <cstdint>

#include "zel/admintool/result_codes.h"
#include "zel/runtime/buffers.h"
#include "zel/runtime/pif.h"

namespace zel::tree {

enum Op : int16_t { kOpList = 0, kOpAdd = 1, kOpDelete = 2, kOpChange = 3 };

inline constexpr uint16_t kTreeOpEvent = 81;
inline constexpr uint16_t kGroupRequestWithCredentials = 82;
inline constexpr uint16_t kContainerChangeEvent = 95;
inline constexpr uint16_t kNotificationTarget = 1;
inline constexpr uint32_t kSourceHost = 0x80000001;
inline constexpr uint32_t kDestinationHost = 0x80000003;
inline constexpr int16_t kContainerMarker = 3;

// Writes `write(event)` into a built notification and posts it. A null event (it could not be
// built) is skipped: 0. A failed append destroys the event: 0x80060009. Otherwise the
// dispatcher's answer; the event is the dispatcher's whatever it answers.
template <typename Write>
int32_t PostNotification(ZEL_PIF_EventDispatcher* dispatcher, ZEL_BUF_EventBuffer* event,
                         Write&& write) {
  if (event == nullptr) return 0;
  try {
    write(*event);
  } catch (const ZEL_BUF_AppendException&) {
    delete event;
    return ZEL_E_WRITE_FAILED;
  }
  if (dispatcher == nullptr) {
    delete event;
    return ZEL_E_NO_DISPATCHER;
  }
  return dispatcher->PostEvent(event);
}

}  // namespace zel::tree
