// A caller's credentials: user name, password and domain. The password is wiped when the record
// goes.
#pragma once

#include "zel/runtime/strings.h"
#include "zel/usersal/export.h"

class ZEL_USERSAL_API UM_Credentials {
 public:
  UM_Credentials() = default;
  UM_Credentials(const UM_Credentials&) = delete;
  UM_Credentials& operator=(const UM_Credentials&) = delete;
  ~UM_Credentials();

  ZELString userName;
  ZELString password;
  ZELString domain;
};
