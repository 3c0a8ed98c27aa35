// Store locations and the backend each form names:
//
//   location = "farm:"                      the farm server's store, through the host
//            | "sqlite:" PATH               SQLite (PATH: a file name or a "file:" URI)
//            | "file:" ...                  SQLite, the URI as it is
//            | ("ldap" | "ldaps" | "ldapi") "://" ...   LDAP (ldap_store.h; not supported in
//                                                       builds without it)
//            | PATH                         SQLite (anything else is a file name)
#include <string_view>

#include "backend.h"
#include "farm_store.h"
#if defined(ZEL_DIRECTORY_LDAP)
#include "ldap_store.h"
#endif
#include "sqlite_store.h"
#include "zel/directory/codes.h"

namespace zel::dir {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

int32_t OpenBackend(const std::string& location, ZEL_PIF_ISubSystem& host,
                    std::unique_ptr<Store>* out) {
  if (location == "farm:") {
    out->reset(new FarmStore(host));
    return 0;
  }
  for (const char* scheme : {"ldap://", "ldaps://", "ldapi://"}) {
    if (!StartsWith(location, scheme)) continue;
#if defined(ZEL_DIRECTORY_LDAP)
    return LdapStore::Open(location, out);
#else
    return kNotSupported;
#endif
  }
  // "farm:" takes nothing after it; an empty location names nothing (SQLite would make a
  // temporary store of it, which nobody else would ever see).
  if (StartsWith(location, "farm:") || location.empty() || location == "sqlite:") {
    return kInvalidArgument;
  }
  if (StartsWith(location, "sqlite:")) {
    return SqliteStore::Open(location.substr(std::string_view("sqlite:").size()), out);
  }
  return SqliteStore::Open(location, out);
}

}  // namespace zel::dir
