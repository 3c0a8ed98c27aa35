// The privilege table: what tools accept (a name or a decimal number) and what they print.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "zel/protocol/privileges.h"

namespace {

using zel::protocol::Privilege;

TEST(PrivilegesTest, NamesAndNumbersReadAsTheSamePrivilege) {
  struct Case {
    std::string given;
    std::optional<Privilege> read;
  } cases[] = {
      {"read-farm", Privilege::kReadFarm},
      {"1", Privilege::kReadFarm},
      {"manage-capabilities", Privilege::kManageCapabilities},
      {"9", Privilege::kManageCapabilities},
      {"monitor", Privilege::kMonitor},
      {"0", std::nullopt},
      {"10", std::nullopt},
      {"01x", std::nullopt},
      {"-1", std::nullopt},
      {"Read-Farm", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zel::protocol::PrivilegeNamed(c.given), c.read) << '"' << c.given << '"';
  }
}

TEST(PrivilegesTest, EveryIdPrintsAsTheNameThatReadsBackToIt) {
  for (uint32_t id = 0; id < 64; ++id) {
    const std::string_view name = zel::protocol::PrivilegeNameOf(id);
    if (name.empty()) continue;
    EXPECT_EQ(zel::protocol::PrivilegeNamed(name), static_cast<Privilege>(id)) << name;
  }
  EXPECT_EQ(zel::protocol::Privileges().size(), 9u);
  EXPECT_EQ(zel::protocol::PrivilegeNameOf(0), "");
  EXPECT_EQ(zel::protocol::PrivilegeNameOf(0xFFFFFFFFu), "");
}

}  // namespace
