// Permission queries (interface level 4).
#include <new>

#include "admintool/admins/record_wire.h"
#include "admintool/sal/exchange.h"
#include "admintool/trace/trace.h"

namespace {

using zel::sal::Request;

constexpr Request kGetPermissionsForCurrentUser{91, 0, 4};
constexpr Request kDeleteCapabilityObjects{92, 0, 4};
constexpr Request kGetPrivilegesByBlob{96, 0, 4};

}  // namespace

int32_t ZEL_AdminToolSAL5::GetPermissionsForCurrentUser(AllowedFolders*& folders) {
  folders = nullptr;
  int32_t forwarded = 0;
  if (zel::sal::ForwardToLocal(
          *this,
          [&](AdminToolInterface4& local) { return local.GetPermissionsForCurrentUser(folders); },
          &forwarded)) {
    return forwarded;
  }
  auto release = [&] {
    delete folders;
    folders = nullptr;
  };
  return zel::trace::TraceIfFailed(
      zel::trace::kPermissionsFailed,
      zel::sal::RequestReply(
          zel::sal::SalAccess::EndpointOf(*this), kGetPermissionsForCurrentUser,
          [](ZEL_BUF_EventBuffer&) { return 0; },
          [&](ZEL_BUF_BufferReader& reply, int32_t result) -> int32_t {
            try {
              folders = new (std::nothrow) AllowedFolders;  // empty, even for a count of 0
              if (folders == nullptr) throw ::bad_alloc();
              zel::admins::ReadFolderList(reply, *folders);
            } catch (const ::bad_alloc&) {
              release();
              return ZEL_E_NO_EVENT;
            }
            return result;
          },
          release));
}

int32_t ZEL_AdminToolSAL5::DeleteCapabilityObjectsInDB() {
  int32_t forwarded = 0;
  if (zel::sal::ForwardToLocal(
          *this, [](AdminToolInterface4& local) { return local.DeleteCapabilityObjectsInDB(); },
          &forwarded)) {
    return forwarded;
  }
  return zel::trace::TraceIfFailed(
      zel::trace::kDeleteCapabilitiesFailed,
      zel::sal::RequestReply(
          zel::sal::SalAccess::EndpointOf(*this), kDeleteCapabilityObjects,
          [](ZEL_BUF_EventBuffer&) { return 0; },
          [](ZEL_BUF_BufferReader&, int32_t result) { return result; }, [] {}));
}

int32_t ZEL_AdminToolSAL5::GetPrivilegesByBlob(UM_AcctIDBlobWriter& blob, uint8_t& flag,
                                               uint32_t& attribute, uint32_t& count,
                                               uint32_t** privileges) {
  if (privileges == nullptr) return ZEL_E_INVALID_ARG;
  const int32_t result = zel::sal::RequestReply(
      zel::sal::SalAccess::EndpointOf(*this), kGetPrivilegesByBlob,
      [&](ZEL_BUF_EventBuffer& request) {
        return blob.WriteToEvent(&request) == 0 ? 0 : ZEL_E_FAIL;
      },
      [&](ZEL_BUF_BufferReader& reply, int32_t answer) -> int32_t {
        reply >> flag >> attribute >> count;
        if (count == 0) return answer;  // the privileges output is not written
        uint32_t* values = nullptr;
        try {
          zel::admins::ReadPlainArray(reply, count, &values);
        } catch (const ::bad_alloc&) {
          return ZEL_E_NO_EVENT;
        } catch (const ZEL_BUF_ReadException&) {
          zel::sal::ReleasePlain(values);  // outputs read so far stay; the array does not
          throw;
        }
        *privileges = values;
        return answer;
      },
      [] {});
  if (result == ZEL_E_NO_EVENT)
    zel::trace::TraceIfFailed(zel::trace::kPrivilegesByBlobFailed, result);
  return result;
}
