#include "zel/subsystem/notifier.h"

#include <memory>
#include <new>

#include "zel/admintool/protocol/tree_forms.h"
#include "zel/protocol/events.h"
#include "zel/runtime/codes.h"

namespace zel::subsystem {

int32_t Notifier::Post(uint16_t eventID, uint32_t sizeHint,
                       const std::function<void(ZEL_BUF_EventBuffer&)>& write) {
  zel::rt::EventTransport* transport = host_.GetEventTransport();
  if (transport == nullptr) return zel::rt::kNoTransport;
  std::unique_ptr<ZEL_BUF_EventBuffer> event(
      new (std::nothrow) ZEL_BUF_EventBuffer(eventID, ZELVersion(1, 0), sizeHint));
  if (!event) return zel::rt::kNoMemory;
  // Addressed as the library's notifications are, so the hub sees one shape from both.
  event->SetSrcHostID(zel::admintool::kNotificationSourceHost);
  event->SetDestHostID(zel::admintool::kNotificationDestinationHost);
  event->SetSrcSubsystemUID(zel::protocol::kAdminToolSubsystemUID);
  event->SetDestSubsystemUID(zel::protocol::kNotificationHubUID);
  try {
    write(*event);
  } catch (const ZEL_BUF_AppendException& e) {
    return e.code();
  }
  return transport->Post(event.release());
}

}  // namespace zel::subsystem
