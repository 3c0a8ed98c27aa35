// This program's registry suites run on a private slapd, a fresh base for each test.
#include "directory_test_support.h"
#include "zel/directory/testing/slapd.h"

namespace zel::sal::testing {

std::vector<StoreKind> StoresUnderTest() {
  return {StoreKind{"LDAP",
                    [] {
                      static zel::dir::testing::Slapd server(ZEL_LDAP_SCHEMA);
                      static int made = 0;
                      const std::string base = server.NewBase("registry" + std::to_string(++made));
                      return std::make_shared<zel::dir::testing::StoreAt>(server.Location(base));
                    },
                    false}};
}

}  // namespace zel::sal::testing
