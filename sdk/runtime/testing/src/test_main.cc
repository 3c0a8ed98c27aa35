// The main of the test programs: a child started in a role runs that role, anything else runs
// the tests.
#include <gtest/gtest.h>

#include "zel/runtime/testing/child_process.h"

int main(int argc, char** argv) {
  int exitCode = 0;
  if (zel::rt::testing::RunChildRoleIfAsked(&exitCode)) return exitCode;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
