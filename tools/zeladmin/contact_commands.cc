// An administrator's contact data (three lines the library keeps with its other data) and the
// farm's default user.
#include <iostream>

#include "commands.h"

namespace zeladmin {
namespace {

using nlohmann::json;

json ContactJson(const ZEL_ADMIN_CONTACTINFO& contact) {
  return json::array(
      {contact.contact1.toUtf8(), contact.contact2.toUtf8(), contact.contact3.toUtf8()});
}

void PrintContact(const std::string& uid, const json& lines) {
  std::vector<std::vector<std::string>> rows{{"uid", uid}};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    rows.push_back({"contact" + std::to_string(i + 1), lines[i]});
  }
  PrintTable({"FIELD", "VALUE"}, rows);
}

}  // namespace

int ContactGet(Command& c, const std::string& who) {
  AdminRecord admin(c);
  Failure failure;
  if (!admin.Read(who, "reading the contact data of " + who, &failure)) return Fail(failure);
  const uint64_t uid = admin.uid;
  const ZEL_ADMIN_CONTACTINFO& contact = admin.contact;
  if (c.out.json) {
    std::cout << json{{"uid", Hex(uid)}, {"contact", ContactJson(contact)}}.dump() << '\n';
  } else {
    PrintContact(Hex(uid), ContactJson(contact));
  }
  return kExitOk;
}

int ContactSet(Command& c, const std::string& who, const std::vector<std::string>& lines) {
  if (lines.size() > 3)
    return Usage("an administrator has three contact lines, not " + std::to_string(lines.size()));
  AdminRecord admin(c);
  Failure failure;
  const std::string doing = "setting the contact data of " + who;
  if (!admin.Read(who, doing, &failure)) return Fail(failure);
  ZEL_ADMIN_CONTACTINFO& contact = admin.contact;
  const uint64_t uid = admin.uid;
  ZELString* slots[] = {&contact.contact1, &contact.contact2, &contact.contact3};
  for (std::size_t i = 0; i < 3; ++i) {
    *slots[i] = ZELString::FromUtf8(i < lines.size() ? lines[i] : "");
  }
  const int32_t result = admin.Write();
  if (result < 0) return Fail({doing, result, ""});
  if (c.out.json) {
    std::cout << json{{"uid", Hex(uid)}, {"contact", ContactJson(contact)}}.dump() << '\n';
  } else if (!c.out.quiet) {
    PrintContact(Hex(uid), ContactJson(contact));
  }
  return kExitOk;
}

int DefaultUserSet(Command& c, const std::string& account) {
  const AccountName parsed = AccountName::Parse(account);
  if (parsed.name.empty()) return Usage("the default user needs a name");
  const std::string authority = parsed.authority.empty() ? "unix" : parsed.authority;
  ZELString name = ZELString::FromUtf8(parsed.name);
  ZELString authorityText = ZELString::FromUtf8(authority);
  const int32_t result = c.farm.Sal().AddDefaultUser2(name, authorityText, 0);
  const std::string text = authority + ":" + parsed.name;
  if (result < 0) return Fail({"setting the default user to " + text, result, ""});
  if (c.out.json) {
    std::cout << json{{"defaultUser", text}}.dump() << '\n';
  } else if (!c.out.quiet) {
    std::cout << "default user " << text << '\n';
  }
  return kExitOk;
}

}  // namespace zeladmin
