// The tool as a user runs it: the real binary in a process of its own, one row per command line.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "zel/runtime/testing/child_process.h"
#include "zel/runtime/testing/portable.h"
#include "zel/tracedev/files.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int exitCode = -1;  // -1 when the tool did not exit by itself (a signal, an abort)
  std::string output;
};

// A tool that reads a whole endless file into memory must fail fast, not exhaust the machine. A
// sanitizer reserves far more address space than any ulimit allows; it bounds allocations itself.
#if defined(__SANITIZE_ADDRESS__)
#define ZEL_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZEL_UNDER_ASAN 1
#endif
#endif
#if defined(ZEL_UNDER_ASAN)
constexpr const char* kMemoryBound =
    "export ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}max_allocation_size_mb=1000\"; ";
#else
constexpr const char* kMemoryBound = "ulimit -v 1000000; ";
#endif

// Runs the tool with `arguments` (its output and errors together), bounded in memory and time.
ToolRun RunTool(const std::string& arguments) {
  const std::string command = std::string(kMemoryBound) + "exec timeout 30 " +
                              zel::rt::testing::ChildEmulatorPrefix() + ZELTRACE_TOOL + " " +
                              arguments + " 2>&1";
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char chunk[512];
  while (fgets(chunk, sizeof chunk, pipe) != nullptr) run.output += chunk;
  const int status = pclose(pipe);
  if (WIFEXITED(status) && WEXITSTATUS(status) < 124) run.exitCode = WEXITSTATUS(status);
  return run;
}

TEST(CommandLineTest, EveryCommandLineEndsInAnAnswerAndAnExitCode) {
  zel::rt::testing::TempFolder folder("zeltrace-cli");
  const std::string notes = folder.File("notes"), control = folder.File("control");
  const std::string trace = folder.File("trace"), dir = folder.File("dir");
  const std::string dangling = folder.File("dangling"), huge = folder.File("huge");
  fs::create_directories(dir);
  fs::create_symlink(folder.File("target"), dangling);
  std::ofstream(notes) << std::string(5000, 'n');
  // A record that claims a gigabyte, after one good record.
  zel::trace::FileRecord record;
  record.arguments = {{1, 2, 3, 4}};
  const std::vector<uint8_t> good = zel::trace::EncodeFileRecord(record);
  std::vector<uint8_t> bytes = good;
  bytes.insert(bytes.end(), good.begin(), good.end());
  const std::size_t length = good.size() + 4;  // of the second record
  bytes[length] = bytes[length + 1] = bytes[length + 2] = 0;
  bytes[length + 3] = 0x40;
  std::ofstream(huge, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  const struct {
    std::string arguments;
    int exitCode;
    std::string says;
  } rows[] = {
      {"--help", 0, "usage:"},
      {"enable --help", 0, "usage:"},
      {"", 1, "no command"},
      {"frobnicate --control " + control, 1, "unknown command frobnicate"},
      // A file that is not a control file is refused, never overwritten; nor is a link followed.
      {"enable --control " + notes + " --trace " + trace, 1, "is not a trace control file"},
      {"disable --control " + notes, 1, "is not a trace control file"},
      {"status --control " + dir, 1, "not a trace control file"},
      {"enable --control " + dangling + " --trace " + trace, 1, ""},
      {"enable --control " + control + " --trace " + trace + " --level abc", 1,
       "--level takes 0 to 255"},
      {"enable --control " + control + " --trace " + trace + " --level 256", 1,
       "--level takes 0 to 255"},
      {"enable --control " + control + " --trace " + trace + " --level 4x", 1,
       "--level takes 0 to 255"},
      {"status --control " + control, 1, "cannot open"},
      {"enable --control " + control + " --trace " + trace + " --level 3", 0, ""},
      {"enable --control " + control + " --trace " + trace + " --level 7", 0, ""},
      {"status --control " + control, 0, "on, flags 0x0b, level 7"},
      {"dump " + dir, 1, "cannot read"},
      {"dump /dev/zero", 1, "no record starts at offset 0"},
      {"dump " + folder.File("missing"), 1, "cannot open"},
      {"dump " + huge, 1, "record claims 1073741824 bytes"},  // the good record before it printed
      {"dump " + huge, 1, "#0 "},
      {"dump " + notes, 1, "no record starts at offset 0"},
  };
  for (const auto& row : rows) {
    const ToolRun run = RunTool(row.arguments);
    EXPECT_EQ(run.exitCode, row.exitCode) << row.arguments << "\n" << run.output;
    EXPECT_NE(run.output.find(row.says), std::string::npos) << row.arguments << "\n" << run.output;
  }
  std::ifstream in(notes);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), std::string(5000, 'n'));
  EXPECT_FALSE(fs::exists(folder.File("target")));
}

}  // namespace
