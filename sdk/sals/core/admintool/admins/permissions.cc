// Permission queries (interface level 4).
#include <new>

#include "admintool/sal/exchange.h"
#include "admintool/trace/trace.h"
#include "zel/admintool/protocol/messages.h"

namespace {

namespace atp = zel::admintool;

zel::sal::Request TracedUnder(const zel::trace::Message& failed) {
  zel::sal::Request codes{};
  codes.failure = &failed;
  return codes;
}

}  // namespace

int32_t ZEL_AdminToolSAL5::GetPermissionsForCurrentUser(AllowedFolders*& folders) {
  folders = nullptr;
  if (auto local = zel::sal::ForwardToLocal(
          *this, [&](AdminToolInterface4& l) { return l.GetPermissionsForCurrentUser(folders); })) {
    return *local;
  }
  atp::GetPermissionsForCurrentUserRequest request;
  return zel::sal::RequestReply(
      zel::sal::SalAccess::EndpointOf(*this),
      zel::sal::RequestFor(request, TracedUnder(zel::trace::kPermissionsFailed)),
      [](ZEL_BUF_EventBuffer&) { return 0; },
      [&](ZEL_BUF_BufferReader& reader, int32_t result) {
        folders = new (std::nothrow) AllowedFolders;  // empty, even for a count of 0
        if (folders == nullptr) return ZEL_E_NO_EVENT;
        atp::GetPermissionsForCurrentUserReply reply{*folders};
        const int32_t status = atp::ReadMessage(reader, reply);
        return status != 0 ? status : result;
      },
      [&] {
        delete folders;
        folders = nullptr;
      });
}

int32_t ZEL_AdminToolSAL5::DeleteCapabilityObjectsInDB() {
  if (auto local = zel::sal::ForwardToLocal(
          *this, [](AdminToolInterface4& l) { return l.DeleteCapabilityObjectsInDB(); })) {
    return *local;
  }
  atp::DeleteCapabilityObjectsInDBRequest request;
  return zel::sal::Exchange(
      zel::sal::SalAccess::EndpointOf(*this),
      zel::sal::RequestFor(request, TracedUnder(zel::trace::kDeleteCapabilitiesFailed)), request);
}

int32_t ZEL_AdminToolSAL5::GetPrivilegesByBlob(UM_AcctIDBlobWriter& blob, uint8_t& flag,
                                               uint32_t& attribute, uint32_t& count,
                                               uint32_t** privileges) {
  if (privileges == nullptr) return ZEL_E_INVALID_ARG;
  atp::GetPrivilegesByBlobRequest request{&blob, {}};
  // The array is handed over only once read in full; a count of 0 leaves the output untouched.
  uint32_t* values = nullptr;
  atp::GetPrivilegesByBlobReply reply{flag, attribute, count, values};
  const int32_t result = zel::sal::Exchange(zel::sal::SalAccess::EndpointOf(*this),
                                            zel::sal::RequestFor(request), request, reply, [&] {
                                              zel::sal::ReleasePlain(values);
                                              values = nullptr;
                                            });
  if (values != nullptr) *privileges = values;
  if (result == ZEL_E_NO_EVENT) {
    zel::trace::TraceIfFailed(zel::trace::kPrivilegesByBlobFailed, result);
  }
  return result;
}
