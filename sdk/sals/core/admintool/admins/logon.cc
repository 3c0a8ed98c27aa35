// Administrator check and logon: IsUserKeldraAdmin (interface level 1) and Logon2 (level 2).
#include <cstring>

#include "admintool/admins/record_wire.h"
#include "zel/admintool/allocation.h"
#include "admintool/sal/exchange.h"
#include "zel/admintool/exceptions.h"

namespace {

using zel::sal::Request;

constexpr Request kIsUserKeldraAdmin{48, 0, 1};
constexpr Request kLogon2{65, 0, 2, &zel::trace::kLogon2WriteFailed};

}  // namespace

int32_t ZEL_AdminToolSAL2::IsUserKeldraAdmin(UM_AcctIDBlobWriter& account, void* answer) {
  return zel::sal::RequestReply(
      zel::sal::SalAccess::EndpointOf(*this), kIsUserKeldraAdmin,
      [&](ZEL_BUF_EventBuffer& request) {
        return account.WriteToEvent(&request) == 0 ? 0 : ZEL_E_FAIL;
      },
      [&](ZEL_BUF_BufferReader& reply, int32_t result) {
        uint32_t value = 0;
        reply >> value;
        // Written only once read in full, so a short reply leaves the answer as it was.
        if (answer != nullptr) std::memcpy(answer, &value, sizeof value);
        return result;
      },
      [] {});
}

int32_t ZEL_AdminToolSAL3::Logon2(ZELString& logonName, uint32_t credentialLength,
                                  uint8_t* credentials, uint32_t& logonStatus,
                                  ZELString& resolvedName, uint32_t& logonValue,
                                  uint32_t* valueCount, uint32_t** values, uint32_t* uidCount,
                                  uint64_t** uids, uint32_t /*unused*/) {
  if (valueCount == nullptr || values == nullptr || uidCount == nullptr || uids == nullptr) {
    return ZEL_E_INVALID_ARG;
  }
  *valueCount = 0;
  *values = nullptr;
  *uidCount = 0;
  *uids = nullptr;
  auto cleanup = [&] {
    zel::sal::ReleasePlain(*values);
    *values = nullptr;
    *valueCount = 0;
    zel::sal::ReleasePlain(*uids);
    *uids = nullptr;
    *uidCount = 0;
  };
  return zel::sal::RequestReply(
      zel::sal::SalAccess::EndpointOf(*this), kLogon2,
      [&](ZEL_BUF_EventBuffer& request) {
        request << logonName << credentialLength;
        // Appended even when empty; a failed append is a failed write like any other.
        const int32_t appended = request.AppendData(credentials, credentialLength);
        if (appended < 0) throw ZEL_BUF_AppendException(appended);
        return 0;
      },
      [&](ZEL_BUF_BufferReader& reply, int32_t result) {
        logonStatus = static_cast<uint32_t>(result);
        reply >> resolvedName >> logonValue >> *valueCount;
        try {
          if (*valueCount != 0) result = zel::admins::ReadPlainArray(reply, *valueCount, values);
          reply >> *uidCount;
          if (*uidCount != 0) result = zel::admins::ReadPlainArray(reply, *uidCount, uids);
        } catch (const ::bad_alloc&) {
          return ZEL_E_NO_EVENT;
        }
        return result;
      },
      cleanup);
}
