// Default user and user deletion (interface level 3).
#include "admintool/sal/exchange.h"
#include "zel/admintool/protocol/messages.h"

int32_t ZEL_AdminToolSAL4::AddDefaultUser2(ZELString& first, ZELString& second, uint8_t option) {
  zel::admintool::AddDefaultUser2Request request{first, second, option};
  return zel::sal::Exchange(zel::sal::SalAccess::EndpointOf(*this), zel::sal::RequestFor(request),
                            request);
}

int32_t ZEL_AdminToolSAL4::DeleteUser(uint32_t count, uint64_t* uids) {
  if (count == 0 || uids == nullptr) return ZEL_E_INVALID_ARG;
  zel::admintool::DeleteUserRequest request{count, uids};
  return zel::sal::Exchange(zel::sal::SalAccess::EndpointOf(*this), zel::sal::RequestFor(request),
                            request);
}
