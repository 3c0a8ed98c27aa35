// What the directory asks of names beyond the ZELString DN syntax.
//
// A name holds no NUL. A backslash escapes the character after it, which must be '/' or '\'; a DN
// with any other backslash (one before another character, or a lone one at the end) is malformed,
// so that every well-formed DN reads back as exactly one list of names. A DN of one component that
// begins with '@' is a name the directory gives (to entries added with an empty DN): no caller
// adds an entry there, so the two never meet.
#pragma once

#include <string_view>

#include "zel/runtime/strings.h"

namespace zel::dir {

inline bool IsWellFormedDN(std::u16string_view dn) {
  // A NUL inside would make the name another name's prefix wherever it is read as text.
  if (dn.find(u'\0') != std::u16string_view::npos) return false;
  for (std::size_t i = 0; i < dn.size(); ++i) {
    if (dn[i] != u'\\') continue;
    if (i + 1 == dn.size() || (dn[i + 1] != u'/' && dn[i + 1] != u'\\')) return false;
    ++i;
  }
  return true;
}

inline bool IsGeneratedForm(const ZELString& dn) {
  return !dn.isEmpty() && dn.view().front() == u'@' && dn.parentDistinguishedName().isEmpty();
}

}  // namespace zel::dir
