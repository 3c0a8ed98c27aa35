// Store locations and the backend each form names:
//
//   location = "farm:"                      the farm server's store, through the host
//            | "sqlite:" PATH               SQLite (PATH: a file name or a "file:" URI)
//            | "file:" ...                  SQLite, the URI as it is
//            | ("ldap" | "ldaps" | "ldapi") "://" ...   not supported (no LDAP backend yet)
//            | PATH                         SQLite (anything else is a file name)
#include <string_view>

#include "backend.h"
#include "farm_store.h"
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
    if (StartsWith(location, scheme)) return kNotSupported;
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
