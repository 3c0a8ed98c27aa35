#include "farm_folders.h"

#include <atomic>
#include <cstring>

#include "zel/protocol/events.h"
#include "zel/protocol/folders.h"

namespace zel::bench {

bool MakeFolder(zel::transport::Client& client, const std::string& prefix) {
  static std::atomic<int> made{0};
  const std::string name = prefix + std::to_string(++made);
  auto* request =
      new ZEL_BUF_EventBuffer(zel::protocol::CreateFolderRequest::kEventID, ZELVersion(1, 0), 0);
  request->SetSrcSubsystemUID(51);
  request->SetDestSubsystemUID(zel::protocol::kAdminToolSubsystemUID);
  zel::protocol::Encode(zel::protocol::CreateFolderRequest{0, ZELString::FromUtf8(name)}, *request);
  ZEL_BUF_EventBuffer* reply = nullptr;
  const int32_t sent = client.Send(request, &reply);
  int32_t result = sent;
  if (sent >= 0 && reply->GetSize() >= 4) std::memcpy(&result, reply->GetData(), 4);
  delete reply;
  return result == 0;
}

}  // namespace zel::bench
