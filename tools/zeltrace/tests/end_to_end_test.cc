// Tracing end to end, in a process of its own: the tool switches tracing on, SAL objects write
// their records through the platform's device, and the tool prints them back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/runtime/testing/child_process.h"
#include "zel/runtime/testing/portable.h"
#include "zel/runtime/testing/scripted_host.h"
#include "zel/tracedev/device.h"

namespace {

zel::rt::testing::TempFolder* g_folder;

// The tool (beside this program) with `arguments`: what it printed.
std::string RunTool(const std::vector<std::string>& arguments, int* exitCode = nullptr) {
  zel::rt::testing::ChildProcess tool =
      zel::rt::testing::ChildProcess::Start(ZELTRACE_TOOL, arguments);
  const std::string output = tool.ReadAll();
  const int code = tool.Wait();
  if (exitCode != nullptr) *exitCode = code;
  return output;
}

TEST(EndToEndTest, RecordsOfSalObjectsReachTheTraceFileAndReadBack) {
  const std::string trace = g_folder->File("trace");
  {
    zel::rt::testing::ScriptedHost host;
    ZEL_AdminToolSAL6 sal(host);
    // The tool lowers the level while the process runs: entry records stop at once.
    RunTool({"enable", "--trace", trace, "--flags", "error,info,entry", "--level", "4"});
    ZEL_AdminToolSAL6 quiet(host);
  }
  const std::string dump = RunTool({"dump", trace});
  EXPECT_NE(dump.find("sal 10: SAL object constructed"), std::string::npos) << dump;
  EXPECT_NE(dump.find("sal6 10: sixth-version SAL object constructed"), std::string::npos);
  EXPECT_NE(dump.find("sal5 11: no local implementation"), std::string::npos);
  // Three entry records and one information record from the first object; from the second,
  // made at level 4, only its information record.
  std::size_t lines = 0;
  for (char c : dump) lines += c == '\n';
  EXPECT_EQ(lines, 5u) << dump;
  EXPECT_NE(RunTool({"status"}).find("on, flags 0x0b, level 4"), std::string::npos);
  RunTool({"disable"});
  EXPECT_NE(RunTool({"status"}).find("off"), std::string::npos);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  zel::rt::testing::TempFolder folder("zeltrace-e2e");
  g_folder = &folder;
  zel::rt::testing::SetEnvironment(zel::trace::kControlFileVariable,
                                   folder.File("control").c_str());
  // Tracing is on before the first SAL object of the process opens the device.
  int enabled = -1;
  RunTool({"enable", "--trace", folder.File("trace")}, &enabled);
  if (enabled != 0) return 2;
  return RUN_ALL_TESTS();
}
