#include "message_texts.h"

#include <cstring>
#include <iterator>

namespace zeltrace {
namespace {

using zel::trace::Module;

struct Text {
  Module module;
  uint16_t number;
  const char* arguments;
  const char* text;
};

constexpr Text kTexts[] = {
    {Module::kSal, 10, "", "SAL object constructed"},
    {Module::kSal, 27, "", "group reply: no group given"},
    {Module::kSal, 28, "u", "group reply sent (children)"},
    {Module::kSal, 38, "s", "node added (DN)"},
    {Module::kSal, 39, "u", "nodes added (count)"},
    {Module::kSal, 40, "s", "node deleted (name)"},
    {Module::kSal, 41, "s", "node attributes changed (name)"},
    {Module::kSal, 42, "ss", "nodes moved (from, to)"},
    {Module::kSal, 50, "s", "creating a missing context (DN)"},
    {Module::kSal, 51, "s", "a context could not be created (DN)"},
    {Module::kSal, 52, "s", "a created context could not be bound (DN)"},
    {Module::kSal, 55, "", "object context could not be bound"},
    {Module::kSal, 56, "s", "RegisterObject: the entry could not be written (DN)"},
    {Module::kSal, 57, "s", "GetObjectW: no entry could be read (DN)"},
    {Module::kSal, 58, "s", "DeleteObject: the entry could not be deleted (DN)"},
    {Module::kSal, 59, "u", "UpdateObject: capability values could not be merged (code)"},
    {Module::kSal, 60, "s", "ReadGroupFromDirectory: the search failed (group DN)"},
    {Module::kSal, 65, "", "icon context could not be bound"},
    {Module::kSal, 66, "s", "RegisterIcon: bits already stored, name added (name)"},
    {Module::kSal, 67, "u", "no storage for icon bits (allocator answer)"},
    {Module::kSal, 68, "s", "RegisterIcon: new icon stored (name)"},
    {Module::kSal, 69, "", "icon not found (UID or name)"},
    {Module::kSal, 70, "suuuuu", "icon read (name, UID high halves, UID low word, flags, size)"},
    {Module::kSal, 71, "u", "DeleteIcon: the name entry could not be deleted (code)"},
    {Module::kSal, 72, "", "DeleteIcon: no icon entry"},
    {Module::kSal, 75, "", "plug-in context could not be bound"},
    {Module::kSal, 76, "s", "RegisterPlugin: the entry could not be written (name)"},
    {Module::kSal, 77, "", "GetPlugin: plug-in context could not be bound"},
    {Module::kSal, 78, "s", "GetPlugin: no entry (name)"},
    {Module::kSal3, 10, "u", "Logon2: the request could not be written (append code)"},
    {Module::kSal3, 11, "u", "AddUsers2: the request could not be written (append code)"},
    {Module::kSal3, 12, "u", "SetPrivilege2: the request could not be written (append code)"},
    {Module::kSal3, 13, "u", "GetPrivilege2: the request could not be written (append code)"},
    {Module::kSal3, 14, "u",
     "GetStaticGroupPermission: the request could not be written (append code)"},
    {Module::kSal3, 15, "u",
     "EnumerateKeldraAdmins: the request could not be written (append code)"},
    {Module::kSal3, 16, "u", "FreeMemory: unknown kind, nothing released (kind)"},
    {Module::kSal3, 17, "s", "administrator node deleted (name)"},
    {Module::kSal5, 10, "", "fifth-version SAL object constructed"},
    {Module::kSal5, 11, "u",
     "no local implementation (interface 2300): operations use events (code)"},
    {Module::kSal5, 20, "u", "AddUsers3 failed (code)"},
    {Module::kSal5, 21, "u", "SetPrivilege3 failed (code)"},
    {Module::kSal5, 22, "u", "GetPrivilege3 failed (code)"},
    {Module::kSal5, 23, "u", "EnumerateKeldraAdmins2 failed (code)"},
    {Module::kSal5, 30, "u", "GetAdminUIDByName failed (code)"},
    {Module::kSal5, 31, "u", "GetAdminNameByUID failed (code)"},
    {Module::kSal5, 40, "u", "GetPermissionsForCurrentUser failed (code)"},
    {Module::kSal5, 41, "u", "DeleteCapabilityObjectsInDB failed (code)"},
    {Module::kSal5, 42, "u", "GetPrivilegesByBlob: no request (code)"},
    {Module::kSal5, 50, "u", "GetVoAdminAccountsForTicket failed (code)"},
    {Module::kSal5, 51, "u", "GetVoAdminAccountsForTicket: nonzero reply result (result)"},
    {Module::kSal5, 52, "u", "GetVoAdminAccountsForTicket returns (result)"},
    {Module::kSal6, 10, "", "sixth-version SAL object constructed"},
};

const Text* Find(Module module, uint16_t number) {
  for (const Text& entry : kTexts) {
    if (entry.module == module && entry.number == number) return &entry;
  }
  return nullptr;
}

}  // namespace

const char* MessageText(Module module, uint16_t number) {
  const Text* found = Find(module, number);
  return found != nullptr ? found->text : nullptr;
}

const char* ArgumentKinds(Module module, uint16_t number) {
  const Text* found = Find(module, number);
  return found != nullptr ? found->arguments : nullptr;
}

bool ModuleOf(const zel::trace::Guid& guid, Module* module) {
  for (uint8_t i = 0; i < std::size(zel::trace::kModuleGuids); ++i) {
    if (std::memcmp(&guid, &zel::trace::kModuleGuids[i], sizeof guid) == 0) {
      *module = static_cast<Module>(i);
      return true;
    }
  }
  return false;
}

}  // namespace zeltrace
