// Default user and user deletion (interface level 3).
#include "admintool/sal/exchange.h"
#include "admintool/sal/size_hint.h"

namespace {
int32_t ResultOnly(ZEL_BUF_BufferReader&, int32_t result) { return result; }
}  // namespace

int32_t ZEL_AdminToolSAL4::AddDefaultUser2(ZELString& first, ZELString& second, uint8_t option) {
  const zel::sal::Request request{83, zel::sal::WireSize(first) + zel::sal::WireSize(second) + 1,
                                  3};
  return zel::sal::RequestReply(
      zel::sal::SalAccess::EndpointOf(*this), request,
      [&](ZEL_BUF_EventBuffer& event) {
        event << first << second << option;
        return 0;
      },
      ResultOnly, [] {});
}

int32_t ZEL_AdminToolSAL4::DeleteUser(uint32_t count, uint64_t* uids) {
  if (count == 0 || uids == nullptr) return ZEL_E_INVALID_ARG;
  const zel::sal::Request request{27, 8 * count + 4, 3};
  return zel::sal::RequestReply(
      zel::sal::SalAccess::EndpointOf(*this), request,
      [&](ZEL_BUF_EventBuffer& event) {
        event << count;
        for (uint32_t i = 0; i < count; ++i) event << uids[i];  // one by one, not raw
        return 0;
      },
      ResultOnly, [] {});
}
