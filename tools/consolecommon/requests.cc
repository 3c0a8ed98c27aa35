#include "zel/console/requests.h"

#include "zel/protocol/events.h"

namespace zel::console {

int32_t SendOurs(zel::transport::Client& client, uint16_t sourceUID, uint16_t eventID,
                 const ZEL_BUF_BinBuffer& payload, std::unique_ptr<ZEL_BUF_EventBuffer>* answer) {
  auto* request = new ZEL_BUF_EventBuffer(eventID, ZELVersion(1, 0), 0);
  request->SetSrcSubsystemUID(sourceUID);
  request->SetDestSubsystemUID(zel::protocol::kAdminToolSubsystemUID);
  if (payload.GetSize() > 0) request->AppendBytes(payload.GetData(), payload.GetSize());
  ZEL_BUF_EventBuffer* reply = nullptr;
  const int32_t sent = client.Send(request, &reply);
  if (sent < 0) return sent;
  answer->reset(reply);
  if (reply == nullptr || reply->GetSize() < 4) return static_cast<int32_t>(0x80060008u);
  return 0;
}

}  // namespace zel::console
