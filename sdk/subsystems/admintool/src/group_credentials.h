// The check of a group enumeration request's credentials (event 82): its account and
// deciphered password must be an administrator's name and password, checked as a logon is.
// Inner to the subsystem.
#pragma once

#include <cstdint>

#include "zel/runtime/caller.h"
#include "zel/subsystem/handlers.h"
#include "zel/usersal/credentials.h"

namespace zel::subsystem {

// 0 when the credentials are an administrator's; otherwise the code the group reply carries.
int32_t CheckGroupCredentials(Context& ctx, const zel::rt::Caller& caller,
                              const UM_Credentials& credentials);

}  // namespace zel::subsystem
