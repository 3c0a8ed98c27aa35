// Administrator name and UID resolution; unresolved names announced (event 97). These never
// forward to a local implementation.
#include <string>

#include "admintool/sal/exchange.h"
#include "admintool/trace/trace.h"
#include "admintool/tree/tree_events.h"
#include "zel/admintool/protocol/messages.h"
#include "zel/runtime/alloc.h"

namespace {

namespace atp = zel::admintool;
constexpr const char* kNameTag = "zel_admintoolsal5";

}  // namespace

int32_t ZEL_AdminToolSAL5::GetAdminUIDByName(const char16_t* firstName, const char16_t* secondName,
                                             uint64_t& uid) {
  uid = 0;
  if (firstName == nullptr && secondName == nullptr) return ZEL_E_INVALID_ARG;
  // A null name travels as the empty string.
  atp::GetAdminUIDByNameRequest request{const_cast<char16_t*>(firstName ? firstName : u""),
                                        const_cast<char16_t*>(secondName ? secondName : u"")};
  atp::GetAdminUIDByNameReply reply{uid};  // written only when read in full
  zel::sal::Request codes{};
  codes.failure = &zel::trace::kAdminUIDByNameFailed;
  return zel::sal::Exchange(zel::sal::SalAccess::EndpointOf(*this),
                            zel::sal::RequestFor(request, codes), request, reply, [] {});
}

int32_t ZEL_AdminToolSAL5::GetAdminNameByUID(uint64_t uid, char16_t*& firstName,
                                             char16_t*& secondName) {
  firstName = nullptr;
  secondName = nullptr;
  atp::GetAdminNameByUIDRequest request{uid};
  // A name read before the reply runs short stays with the caller.
  atp::GetAdminNameByUIDReply reply{firstName, secondName};
  zel::sal::Request codes{};
  codes.writeFailedCode = ZEL_E_FAIL;
  codes.failure = &zel::trace::kAdminNameByUIDFailed;
  return zel::sal::Exchange(zel::sal::SalAccess::EndpointOf(*this),
                            zel::sal::RequestFor(request, codes), request, reply, [] {});
}

void ZEL_AdminToolSAL5::FreeAdminName(char16_t*& firstName, char16_t*& secondName) {
  if (firstName != nullptr) ZEL_BUF_Free_Debug(firstName, kNameTag, __LINE__);
  firstName = nullptr;
  if (secondName != nullptr) ZEL_BUF_Free_Debug(secondName, kNameTag, __LINE__);
  secondName = nullptr;
}

int32_t ZEL_AdminToolSAL6::PostAdminNameUnResolvedNotification(uint64_t*& uids, uint32_t count,
                                                               uint32_t value) {
  if (count != 0 && uids == nullptr) return ZEL_E_INVALID_ARG;
  atp::AdminNameUnresolvedNotification notification{value, count, uids};
  return zel::sal::Post(
      zel::sal::SalAccess::DispatcherOf(*this), notification, [](ZEL_BUF_EventBuffer& event) {
        event.SetSrcHostID(zel::admintool::kNotificationSourceHost);
        event.SetDestHostID(zel::admintool::kNotificationSourceHost);  // unlike tree events
        event.SetSrcSubsystemUID(zel::protocol::kAdminToolSubsystemUID);
        event.SetDestSubsystemUID(zel::protocol::kNotificationHubUID);
      });
}
