// This program's registry suites run on a SQLite file in a temporary folder.
#include "directory_test_support.h"

namespace zel::sal::testing {

std::vector<StoreKind> StoresUnderTest() {
  return {
      StoreKind{"SQLite", [] { return std::make_shared<zel::dir::testing::TempStore>(); }, true}};
}

}  // namespace zel::sal::testing
