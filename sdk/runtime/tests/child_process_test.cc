// The child processes that every multi-process and crash test stands on.
#include "zel/runtime/testing/child_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "zel/runtime/testing/portable.h"

namespace {

using zel::rt::testing::ChildProcess;
using zel::rt::testing::SetEnvironment;

constexpr const char* kVariable = "ZEL_CHILD_PROCESS_TEST";

// Prints two lines (ended both ways) and the variable without a line end; exits with the
// number it is given.
const zel::rt::testing::ChildRole kEcho("echo", [](const std::string& argument) {
  const char* seen = std::getenv(kVariable);
  std::printf("first\r\nsecond\n%s", seen != nullptr ? seen : "(unset)");
  return std::atoi(argument.c_str());
});

const zel::rt::testing::ChildRole kForever("forever", [](const std::string&) {
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  return 0;
});

TEST(ChildProcessTest, ARoleSeesTheEnvironmentAndItsOutputAndExitCodeComeBack) {
  const struct {
    const char* value;  // of the variable; null: unset
    const char* exitCode;
    const char* output;
  } kCases[] = {
      {"a b=c", "0", "first\nsecond\na b=c\n"},
      {"x", "7", "first\nsecond\nx\n"},
      {nullptr, "200", "first\nsecond\n(unset)\n"},
  };
  for (const auto& c : kCases) {
    SetEnvironment(kVariable, c.value);
    ChildProcess child = ChildProcess::StartRole("echo", c.exitCode);
    SetEnvironment(kVariable, nullptr);
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.ReadAll(), c.output);
    EXPECT_EQ(child.Wait(), std::atoi(c.exitCode));
  }
}

TEST(ChildProcessTest, ArgumentsArriveAsTheyWereGiven) {
  // The test program itself echoes its filter argument; quoting rules differ per platform.
  const char* kFilters[] = {"NoSuch.Test", "No Such.Test", "No\"Such", "NoSuch\\", "a\\\"b c\\\\"};
  for (const char* filter : kFilters) {
    ChildProcess child = ChildProcess::Start(zel::rt::testing::ThisProgramPath(),
                                             {std::string("--gtest_filter=") + filter});
    ASSERT_TRUE(child.Started());
    std::string first;
    ASSERT_TRUE(child.ReadLine(&first));
    EXPECT_EQ(first, std::string("Note: Google Test filter = ") + filter);
    EXPECT_EQ(child.Wait(), 0);
  }
}

TEST(ChildProcessTest, AKilledChildHasNoExitCodeAndAMissingProgramNoProcess) {
  ChildProcess child = ChildProcess::StartRole("forever", "");
  std::string line;
  ASSERT_TRUE(child.ReadLine(&line));
  EXPECT_EQ(line, "ready");
  child.Kill();
  EXPECT_EQ(child.Wait(), -1);

  // Under an emulator the emulator starts and then fails to load the program.
  ChildProcess missing = ChildProcess::Start("no-such-program", {});
  EXPECT_TRUE(!missing.Started() || missing.Wait() != 0);
}

}  // namespace
