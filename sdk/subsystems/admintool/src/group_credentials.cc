#include "src/group_credentials.h"

#include "zel/subsystem/codes.h"

namespace zel::subsystem {

// Until passwords can be checked, no credentials are an administrator's.
int32_t CheckGroupCredentials(Context&, const zel::rt::Caller&, const UM_Credentials&) {
  return kAccessDenied;
}

}  // namespace zel::subsystem
