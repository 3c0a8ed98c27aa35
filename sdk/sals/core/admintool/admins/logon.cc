// Administrator check and logon: IsUserKeldraAdmin (interface level 1) and Logon2 (level 2).
#include <cstring>

#include "admintool/sal/exchange.h"
#include "zel/admintool/allocation.h"
#include "zel/admintool/protocol/messages.h"

namespace atp = zel::admintool;

int32_t ZEL_AdminToolSAL2::IsUserKeldraAdmin(UM_AcctIDBlobWriter& account, void* answer) {
  atp::IsUserKeldraAdminRequest request{&account, {}};
  atp::IsUserKeldraAdminReply reply;
  const int32_t result = zel::sal::Exchange(zel::sal::SalAccess::EndpointOf(*this),
                                            zel::sal::RequestFor(request), request, reply, [] {});
  // Written only once read in full, so a short reply leaves the answer as it was.
  if (result >= 0 && answer != nullptr) std::memcpy(answer, &reply.answer, sizeof reply.answer);
  return result;
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
  atp::Logon2Request request{logonName, credentialLength, credentials};
  atp::Logon2Reply reply{resolvedName, logonValue, *valueCount, *values, *uidCount, *uids};
  zel::sal::Request codes{};
  codes.writeFailure = &zel::trace::kLogon2WriteFailed;
  return zel::sal::RequestReply(
      zel::sal::SalAccess::EndpointOf(*this), zel::sal::RequestFor(request, codes),
      zel::sal::MessageWriter(request),
      [&](ZEL_BUF_BufferReader& reader, int32_t result) {
        logonStatus = static_cast<uint32_t>(result);
        if (const int32_t status = atp::ReadMessage(reader, reply)) return status;
        // The answer of the last array read (0) replaces the reply's status.
        return *valueCount != 0 || *uidCount != 0 ? 0 : result;
      },
      [&] {
        atp::ReleaseMessage(reply);
        *valueCount = 0;
        *uidCount = 0;
      });
}
