#include "zel/protocol/privileges.h"

#include <array>
#include <charconv>

namespace zel::protocol {

namespace {

constexpr std::array<PrivilegeName, 9> kPrivileges{{
    {Privilege::kReadFarm, "read-farm"},
    {Privilege::kManageAdministrators, "manage-administrators"},
    {Privilege::kChangeTree, "change-tree"},
    {Privilege::kManageIcons, "manage-icons"},
    {Privilege::kManagePlugins, "manage-plugins"},
    {Privilege::kReadAudit, "read-audit"},
    {Privilege::kMonitor, "monitor"},
    {Privilege::kManageDefaultUser, "manage-default-user"},
    {Privilege::kManageCapabilities, "manage-capabilities"},
}};

}  // namespace

std::span<const PrivilegeName> Privileges() { return kPrivileges; }

std::string_view PrivilegeNameOf(uint32_t id) {
  for (const PrivilegeName& p : kPrivileges) {
    if (static_cast<uint32_t>(p.id) == id) return p.name;
  }
  return {};
}

std::optional<Privilege> PrivilegeNamed(std::string_view name) {
  uint32_t number = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), number);
  const bool numeric = error == std::errc{} && end == name.data() + name.size();
  for (const PrivilegeName& p : kPrivileges) {
    if (numeric ? static_cast<uint32_t>(p.id) == number : p.name == name) return p.id;
  }
  return std::nullopt;
}

}  // namespace zel::protocol
