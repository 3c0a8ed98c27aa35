// Tracing end to end, in a process of its own: the tool switches tracing on, SAL objects write
// their records through the platform's device, and the tool prints them back.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/runtime/testing/scripted_host.h"
#include "zel/tracedev/device.h"

namespace {

std::filesystem::path g_folder;

std::string RunTool(const std::string& command) {
  std::string output;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  char line[512];
  while (pipe && fgets(line, sizeof line, pipe.get()) != nullptr) output += line;
  return output;
}

TEST(EndToEndTest, RecordsOfSalObjectsReachTheTraceFileAndReadBack) {
  const std::string tool = ZELTRACE_TOOL;
  const std::string trace = (g_folder / "trace").string();
  {
    zel::rt::testing::ScriptedHost host;
    ZEL_AdminToolSAL6 sal(host);
    // The tool lowers the level while the process runs: entry records stop at once.
    RunTool(tool + " enable --trace " + trace + " --flags error,info,entry --level 4");
    ZEL_AdminToolSAL6 quiet(host);
  }
  const std::string dump = RunTool(tool + " dump " + trace);
  EXPECT_NE(dump.find("sal 10: SAL object constructed"), std::string::npos) << dump;
  EXPECT_NE(dump.find("sal6 10: sixth-version SAL object constructed"), std::string::npos);
  EXPECT_NE(dump.find("sal5 11: no local implementation"), std::string::npos);
  // Three entry records and one information record from the first object; from the second,
  // made at level 4, only its information record.
  std::size_t lines = 0;
  for (char c : dump) lines += c == '\n';
  EXPECT_EQ(lines, 5u) << dump;
  EXPECT_NE(RunTool(tool + " status").find("on, flags 0x0b, level 4"), std::string::npos);
  RunTool(tool + " disable");
  EXPECT_NE(RunTool(tool + " status").find("off"), std::string::npos);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  g_folder = std::filesystem::temp_directory_path() / ("zeltrace-e2e-" + std::to_string(getpid()));
  std::filesystem::create_directories(g_folder);
  const std::string control = (g_folder / "control").string();
  const std::string trace = (g_folder / "trace").string();
  setenv(zel::trace::kControlFileVariable, control.c_str(), 1);
  // Tracing is on before the first SAL object of the process opens the device.
  const std::string enable = std::string(ZELTRACE_TOOL) + " enable --trace " + trace;
  if (std::system(enable.c_str()) != 0) return 2;
  const int result = RUN_ALL_TESTS();
  std::filesystem::remove_all(g_folder);
  return result;
}
