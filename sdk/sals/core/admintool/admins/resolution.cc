// Administrator name and UID resolution; unresolved names announced (event 97). These never
// forward to a local implementation.
#include <string>

#include "admintool/sal/exchange.h"
#include "admintool/trace/trace.h"
#include "admintool/tree/tree_events.h"
#include "zel/runtime/alloc.h"

namespace {

constexpr const char* kNameTag = "zel_admintoolsal5";
constexpr uint16_t kUnresolvedNamesEvent = 97;

}  // namespace

int32_t ZEL_AdminToolSAL5::GetAdminUIDByName(const char16_t* firstName, const char16_t* secondName,
                                             uint64_t& uid) {
  uid = 0;
  if (firstName == nullptr && secondName == nullptr) return ZEL_E_INVALID_ARG;
  const char16_t* first = firstName != nullptr ? firstName : u"";
  const char16_t* second = secondName != nullptr ? secondName : u"";
  const auto chars = static_cast<uint32_t>(std::char_traits<char16_t>::length(first) +
                                           std::char_traits<char16_t>::length(second));
  const zel::sal::Request request{93, chars, 4};
  return zel::trace::TraceIfFailed(zel::trace::kAdminUIDByNameFailed,
                                   zel::sal::RequestReply(
                                       zel::sal::SalAccess::EndpointOf(*this), request,
                                       [&](ZEL_BUF_EventBuffer& event) {
                                         event << first << second;
                                         return 0;
                                       },
                                       [&](ZEL_BUF_BufferReader& reply, int32_t result) {
                                         reply >> uid;  // written only when read in full
                                         return result;
                                       },
                                       [] {}));
}

int32_t ZEL_AdminToolSAL5::GetAdminNameByUID(uint64_t uid, char16_t*& firstName,
                                             char16_t*& secondName) {
  firstName = nullptr;
  secondName = nullptr;
  const zel::sal::Request request{94, 8, 4, nullptr, ZEL_E_FAIL};
  return zel::trace::TraceIfFailed(zel::trace::kAdminNameByUIDFailed,
                                   zel::sal::RequestReply(
                                       zel::sal::SalAccess::EndpointOf(*this), request,
                                       [&](ZEL_BUF_EventBuffer& event) {
                                         event << uid;
                                         return 0;
                                       },
                                       [&](ZEL_BUF_BufferReader& reply, int32_t result) {
                                         // A name read before the reply runs short stays with the
                                         // caller.
                                         reply >> firstName >> secondName;
                                         return result;
                                       },
                                       [] {}));
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
  const zel::sal::Request request{kUnresolvedNamesEvent, 0, 0};
  return zel::sal::PostOneWay(
      zel::sal::SalAccess::DispatcherOf(*this), request,
      [](ZEL_BUF_EventBuffer& event) {
        event.SetSrcHostID(zel::tree::kSourceHost);
        event.SetDestHostID(zel::tree::kSourceHost);  // 0x80000001 here, unlike tree events
        event.SetSrcSubsystemUID(22);
        event.SetDestSubsystemUID(zel::tree::kNotificationTarget);
      },
      [&](ZEL_BUF_EventBuffer& event) {
        event << value << count;
        for (uint32_t i = 0; i < count; ++i) event << uids[i];
        return 0;
      });
}
