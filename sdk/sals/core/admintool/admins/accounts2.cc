// Administrator accounts, second version (interface level 2), DeleteAdminNode and FreeMemory.
#include "admintool/sal/exchange.h"
#include "admintool/trace/trace.h"
#include "admintool/tree/tree_events.h"
#include "zel/admintool/protocol/messages.h"

namespace {

namespace atp = zel::admintool;
using zel::sal::Request;

Request WithWriteTrace(const zel::trace::Message& writeFailed) {
  Request codes{};
  codes.writeFailure = &writeFailed;
  return codes;
}

}  // namespace

int32_t ZEL_AdminToolSAL3::AddUsers2(uint32_t count, ZEL_ADMIN_USERINFO* users) {
  if (count != 0 && users == nullptr) return ZEL_E_INVALID_ARG;
  atp::AddUsers2Request request{count, users};
  return zel::sal::Exchange(
      zel::sal::SalAccess::EndpointOf(*this),
      zel::sal::RequestFor(request, WithWriteTrace(zel::trace::kAddUsers2WriteFailed)), request);
}

int32_t ZEL_AdminToolSAL3::SetPrivilege2(uint64_t adminUID, uint32_t attribute1,
                                         uint32_t attribute2, uint32_t privilegeCount,
                                         uint32_t* privileges) {
  if (privilegeCount != 0 && privileges == nullptr) return ZEL_E_INVALID_ARG;
  atp::SetPrivilege2Request request{adminUID, attribute1, attribute2, privilegeCount, privileges};
  return zel::sal::Exchange(
      zel::sal::SalAccess::EndpointOf(*this),
      zel::sal::RequestFor(request, WithWriteTrace(zel::trace::kSetPrivilege2WriteFailed)),
      request);
}

int32_t ZEL_AdminToolSAL3::GetPrivilege2(uint64_t adminUID, uint32_t& attribute1,
                                         uint32_t& attribute2, uint32_t& privilegeCount,
                                         uint32_t** privileges) {
  if (privileges == nullptr) return ZEL_E_INVALID_ARG;
  *privileges = nullptr;
  atp::GetPrivilege2Request request{adminUID};
  atp::GetPrivilege2Reply reply{attribute1, attribute2, privilegeCount, *privileges};
  return zel::sal::Exchange(
      zel::sal::SalAccess::EndpointOf(*this),
      zel::sal::RequestFor(request, WithWriteTrace(zel::trace::kGetPrivilege2WriteFailed)), request,
      reply, [&] { atp::ReleaseMessage(reply); });
}

int32_t ZEL_AdminToolSAL3::GetStaticGroupPermission(ZELString& group, uint32_t& count,
                                                    AdminObjectCapability** capabilities) {
  if (capabilities == nullptr) return ZEL_E_INVALID_ARG;
  *capabilities = nullptr;
  atp::GetStaticGroupPermissionRequest request{group};
  atp::GetStaticGroupPermissionReply reply{group, count, *capabilities};
  return zel::sal::Exchange(
      zel::sal::SalAccess::EndpointOf(*this),
      zel::sal::RequestFor(request,
                           WithWriteTrace(zel::trace::kGetStaticGroupPermissionWriteFailed)),
      request, reply, [&] {
        delete[] * capabilities;  // the count stays as read
        *capabilities = nullptr;
      });
}

int32_t ZEL_AdminToolSAL3::EnumerateKeldraAdmins(uint32_t& count, ZEL_ADMIN_USERINFO** records,
                                                 uint8_t selectorA, uint8_t selectorB) {
  if (records == nullptr) return ZEL_E_INVALID_ARG;
  count = 0;
  *records = nullptr;
  atp::EnumerateKeldraAdminsRequest request{selectorA, selectorB};
  atp::EnumerateKeldraAdminsReply reply{count, *records};
  return zel::sal::Exchange(
      zel::sal::SalAccess::EndpointOf(*this),
      zel::sal::RequestFor(request, WithWriteTrace(zel::trace::kEnumerateKeldraAdminsWriteFailed)),
      request, reply, [&] { atp::ReleaseMessage(reply); });
}

int32_t ZEL_AdminToolSAL3::DeleteAdminNode(ZEL_AdminToolObject& node, ZELString& parentDN,
                                           ZELString& name) {
  using namespace zel::tree;
  const uint32_t parent = zel::admintool::WireSize(parentDN);
  int32_t result =
      PostNotification(eventDispatcher,
                       CreateTreeOpNotificationEvent(
                           node.objectSize() + zel::admintool::WireSize(name) + 2 * parent + 6),
                       [&](ZEL_BUF_EventBuffer& event) {
                         WriteTreeOperationHead(event, 0, 1);
                         WriteSectionHead(event, kOpDelete, parentDN, 1);
                         event << name;
                         node.write(event);  // this section's one name is followed by the node
                       });
  if (result != 0) return result;
  result =
      PostNotification(eventDispatcher, CreateContainerChangeEvent(2 * parent + 6),
                       [&](ZEL_BUF_EventBuffer& event) { WriteContainerChange(event, parentDN); });
  if (result != 0) return result;
  ZEL_TRACE(kInfo, kAdminNodeDeleted, TraceString, name.getName());
  return 0;
}

int32_t ZEL_AdminToolSAL3::FreeMemory(void* memory, uint32_t type) {
  if (memory == nullptr) return 0;
  switch (type) {
    case kFreePlainArray:
      zel::sal::ReleasePlain(memory);
      break;
    case kFreeUserInfoArray:
      zel::sal::DeleteArray(static_cast<ZEL_ADMIN_USERINFO*>(memory));
      break;
    case kFreeUserInfo2:
      zel::sal::DeleteObject(static_cast<ZEL_ADMIN_USERINFO2*>(memory));
      break;
    case kFreeUserInfo2Array:
      zel::sal::DeleteArray(static_cast<ZEL_ADMIN_USERINFO2*>(memory));
      break;
    case kFreeContactInfoArray:
      zel::sal::DeleteArray(static_cast<ZEL_ADMIN_CONTACTINFO*>(memory));
      break;
    default:
      ZEL_TRACE(kInfo, kFreeMemoryUnknownType, TraceUInt32, type);
      break;
  }
  return 0;
}

int32_t ZEL_AdminToolSAL::FreeCapabilities(AdminObjectCapability* capabilities) {
  delete[] capabilities;
  return 0;
}
