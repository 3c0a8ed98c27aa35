// Administrator accounts, second version (interface level 2), DeleteAdminNode and FreeMemory.
#include "admintool/admins/record_wire.h"
#include "admintool/sal/exchange.h"
#include "admintool/sal/size_hint.h"
#include "admintool/trace/trace.h"
#include "admintool/tree/tree_events.h"

namespace {

using zel::admins::EnsureRoom;
using zel::sal::Request;

constexpr Request kAddUsers2{67, 0, 2, &zel::trace::kAddUsers2WriteFailed};
constexpr Request kSetPrivilege2{69, 0, 2, &zel::trace::kSetPrivilege2WriteFailed};
constexpr Request kGetPrivilege2{71, 0, 2, &zel::trace::kGetPrivilege2WriteFailed};
constexpr Request kGetStaticGroupPermission{73, 0, 2,
                                            &zel::trace::kGetStaticGroupPermissionWriteFailed};
constexpr Request kEnumerateKeldraAdmins{75, 0, 2, &zel::trace::kEnumerateKeldraAdminsWriteFailed};

// Runs a reader whose storage may run out: no storage becomes 0x80000002.
template <typename Read>
int32_t OrNoStorage(Read&& read) {
  try {
    return read();
  } catch (const ::bad_alloc&) {
    return ZEL_E_NO_EVENT;
  }
}

int32_t ResultOnly(ZEL_BUF_BufferReader&, int32_t result) { return result; }

}  // namespace

int32_t ZEL_AdminToolSAL3::AddUsers2(uint32_t count, ZEL_ADMIN_USERINFO* users) {
  if (count != 0 && users == nullptr) return ZEL_E_INVALID_ARG;
  return zel::sal::RequestReply(
      zel::sal::SalAccess::EndpointOf(*this), kAddUsers2,
      [&](ZEL_BUF_EventBuffer& request) {
        request << count;
        for (uint32_t i = 0; i < count; ++i) zel::admins::WriteAccountRecord(request, users[i]);
        return 0;
      },
      ResultOnly, [] {});
}

int32_t ZEL_AdminToolSAL3::SetPrivilege2(uint64_t adminUID, uint32_t attribute1,
                                         uint32_t attribute2, uint32_t privilegeCount,
                                         uint32_t* privileges) {
  if (privilegeCount != 0 && privileges == nullptr) return ZEL_E_INVALID_ARG;
  return zel::sal::RequestReply(
      zel::sal::SalAccess::EndpointOf(*this), kSetPrivilege2,
      [&](ZEL_BUF_EventBuffer& request) {
        request << adminUID << attribute1 << attribute2 << privilegeCount;
        if (privilegeCount != 0) zel::admins::AppendRaw(request, privileges, privilegeCount * 4);
        return 0;
      },
      ResultOnly, [] {});
}

int32_t ZEL_AdminToolSAL3::GetPrivilege2(uint64_t adminUID, uint32_t& attribute1,
                                         uint32_t& attribute2, uint32_t& privilegeCount,
                                         uint32_t** privileges) {
  if (privileges == nullptr) return ZEL_E_INVALID_ARG;
  *privileges = nullptr;
  return zel::sal::RequestReply(
      zel::sal::SalAccess::EndpointOf(*this), kGetPrivilege2,
      [&](ZEL_BUF_EventBuffer& request) {
        request << adminUID;
        return 0;
      },
      [&](ZEL_BUF_BufferReader& reply, int32_t result) {
        return OrNoStorage([&] {
          reply >> attribute1 >> attribute2 >> privilegeCount;
          if (privilegeCount != 0) {
            zel::admins::ReadPlainArray(reply, privilegeCount, privileges);  // result unchanged
          }
          return result;
        });
      },
      [&] {
        zel::sal::ReleasePlain(*privileges);
        *privileges = nullptr;
      });
}

int32_t ZEL_AdminToolSAL3::GetStaticGroupPermission(ZELString& group, uint32_t& count,
                                                    AdminObjectCapability** capabilities) {
  if (capabilities == nullptr) return ZEL_E_INVALID_ARG;
  *capabilities = nullptr;
  return zel::sal::RequestReply(
      zel::sal::SalAccess::EndpointOf(*this), kGetStaticGroupPermission,
      [&](ZEL_BUF_EventBuffer& request) {
        request << group;
        return 0;
      },
      [&](ZEL_BUF_BufferReader& reply, int32_t result) {
        return OrNoStorage([&] {
          reply >> group >> count;
          if (count == 0) return result;
          *capabilities = zel::admins::NewRecordArray<AdminObjectCapability>(
              reply, count, zel::admins::kMinCapabilityRecord);
          for (uint32_t i = 0; i < count; ++i) {
            uint64_t objectUID = 0;
            uint32_t m = 0;
            reply >> objectUID >> m;
            EnsureRoom(reply, m, 4);
            AdminObjectCapability& capability = (*capabilities)[i];
            if (capability.Init(objectUID, m) < 0) throw ::bad_alloc();
            if (capability.privilegeCount != 0) reply.ReadData(capability.privileges, 4 * m);
          }
          return result;
        });
      },
      [&] {
        zel::sal::DeleteArray(*capabilities);
        *capabilities = nullptr;
      });
}

int32_t ZEL_AdminToolSAL3::EnumerateKeldraAdmins(uint32_t& count, ZEL_ADMIN_USERINFO** records,
                                                 uint8_t selectorA, uint8_t selectorB) {
  if (records == nullptr) return ZEL_E_INVALID_ARG;
  count = 0;
  *records = nullptr;
  return zel::sal::RequestReply(
      zel::sal::SalAccess::EndpointOf(*this), kEnumerateKeldraAdmins,
      [&](ZEL_BUF_EventBuffer& request) {
        request << selectorA << selectorB;
        return 0;
      },
      [&](ZEL_BUF_BufferReader& reply, int32_t result) {
        return OrNoStorage([&] {
          reply >> count;
          if (count == 0) return result;
          *records = zel::admins::NewRecordArray<ZEL_ADMIN_USERINFO>(
              reply, count, zel::admins::kMinAccountRecord);
          for (uint32_t i = 0; i < count; ++i) {
            zel::admins::ReadAccountRecord(reply, (*records)[i]);
          }
          return result;
        });
      },
      [&] {
        zel::sal::DeleteArray(*records);
        *records = nullptr;
        count = 0;
      });
}

int32_t ZEL_AdminToolSAL3::DeleteAdminNode(ZEL_AdminToolObject& node, ZELString& parentDN,
                                           ZELString& name) {
  using namespace zel::tree;
  const uint32_t parent = zel::sal::WireSize(parentDN);
  int32_t result = PostNotification(
      eventDispatcher,
      CreateTreeOpNotificationEvent(node.objectSize() + zel::sal::WireSize(name) + 2 * parent + 6),
      [&](ZEL_BUF_EventBuffer& event) {
        event << int32_t{0} << int16_t{1} << static_cast<int16_t>(kOpDelete) << parentDN
              << int16_t{1} << name;
        node.write(event);
      });
  if (result != 0) return result;
  result = PostNotification(eventDispatcher, CreateContainerChangeEvent(2 * parent + 6),
                            [&](ZEL_BUF_EventBuffer& event) {
                              event << int32_t{0} << int16_t{1} << kContainerMarker << parentDN;
                            });
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
  zel::sal::DeleteArray(capabilities);
  return 0;
}
