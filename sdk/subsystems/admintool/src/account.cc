#include "zel/subsystem/account.h"

namespace zel::subsystem {

std::string Account::Text() const {
  std::string text = ZELString(std::u16string_view(authority)).toUtf8();
  return text.append(":").append(ZELString(std::u16string_view(name)).toUtf8());
}

Account Account::FromText(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    return Account{u"", std::u16string(ZELString::FromUtf8(text).view())};
  }
  return Account{std::u16string(ZELString::FromUtf8(text.substr(0, colon)).view()),
                 std::u16string(ZELString::FromUtf8(text.substr(colon + 1)).view())};
}

Account Account::FromIdentity(const UM_AccountIdentity& identity) {
  std::u16string name(identity.domain.view());
  if (!name.empty()) name += u'\\';
  name += identity.accountName.view();
  return Account{std::u16string(identity.authority.view()), std::move(name)};
}

Account Account::FromRecord(const ZELString& accountName, const ZELString& accountAuthority) {
  return Account{std::u16string(accountAuthority.view()), std::u16string(accountName.view())};
}

std::u16string_view Account::Domain() const {
  const std::size_t slash = name.find(u'\\');
  return slash == std::u16string::npos ? std::u16string_view()
                                       : std::u16string_view(name).substr(0, slash);
}

std::u16string_view Account::BareName() const {
  const std::size_t slash = name.find(u'\\');
  return slash == std::u16string::npos ? std::u16string_view(name)
                                       : std::u16string_view(name).substr(slash + 1);
}

bool Account::Valid() const {
  return !BareName().empty() && name.find(u'\0') == std::u16string::npos &&
         authority.find(u'\0') == std::u16string::npos &&
         authority.find(u':') == std::u16string::npos;
}

}  // namespace zel::subsystem
