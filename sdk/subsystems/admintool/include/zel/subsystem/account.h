// Accounts as the farm names them: an authority ("unix", "NT", ...) and a name that is
// "DOMAIN\NAME" (split at the first backslash) or just "NAME". Text form
// "AUTHORITY:DOMAIN\NAME" ("unix:alice", "NT:NORTH\alice"); the account-ID blob's three parts
// (authority, domain, account name) map onto the same. Names compare exactly (case matters).
#pragma once

#include <string>
#include <string_view>

#include "zel/runtime/strings.h"
#include "zel/usersal/account_blob.h"

namespace zel::subsystem {

struct Account {
  std::u16string authority;
  std::u16string name;  // "DOMAIN\NAME" or "NAME"

  // "AUTHORITY:NAME" in UTF-8.
  std::string Text() const;
  // The text form split at its first ':' (no ':': the name alone, without authority).
  static Account FromText(std::string_view text);
  // The blob's parts: the name is "DOMAIN\NAME", or "NAME" when the domain is empty.
  static Account FromIdentity(const UM_AccountIdentity& identity);
  // The record's pair (accountName, accountAuthority).
  static Account FromRecord(const ZELString& accountName, const ZELString& accountAuthority);

  std::u16string_view Domain() const;    // before the first backslash ("" when there is none)
  std::u16string_view BareName() const;  // after it (the whole name when there is none)
  // A name is needed; neither part may hold a NUL.
  bool Valid() const;
  bool operator==(const Account&) const = default;
};

}  // namespace zel::subsystem
