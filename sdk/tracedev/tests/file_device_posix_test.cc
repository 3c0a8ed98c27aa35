// What only a POSIX system lets happen to a control file: a FIFO in its place, and the file
// shortened under a process's mapping (a read there is a bus error).
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "file_device_support.h"

namespace {

using namespace zel::trace;
using namespace zel::trace::testing;

// Opening must not hang on it: the device refuses it at once.
TEST_F(FileDeviceTest, AFifoInPlaceOfTheControlFileIsRefused) {
  ASSERT_EQ(::mkfifo(controlPath_.c_str(), 0600), 0);
  TraceDevice* device = OpenPlatformDevice();
  EXPECT_EQ(RegisterTestComponent(device), nullptr);
  device->Close();
}

TEST_F(FileDeviceTest, AControlFileShortenedUnderATracingProcessSwitchesTracingOff) {
  const Damage rows[] = {
      {"truncated to nothing", [](const std::string& path) { ::truncate(path.c_str(), 0); }},
      {"truncated to its magic", [](const std::string& path) { ::truncate(path.c_str(), 8); }},
  };
  for (const Damage& row : rows) {
    ASSERT_EQ(WriteControlFile(controlPath_, Settings(kFlagError)), "") << row.name;
    EXPECT_EQ(DamageWhileAProcessTraces(row), 0) << row.name;
    std::filesystem::remove(controlPath_);
  }
}

// The device's guard takes only faults on its own mapping: a bus error anywhere else in a traced
// process still ends it as it would without tracing.
TEST_F(FileDeviceTest, ABusErrorElsewhereStillEndsTheProcess) {
  ASSERT_EQ(WriteControlFile(controlPath_, Settings(kFlagError)), "");
  const std::string other = folder_.File("other");
  std::ofstream(other) << std::string(4096, 'x');
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TraceDevice* device = OpenPlatformDevice();
    if (!RegisterTestComponent(device)) ::_exit(2);
    const int fd = ::open(other.c_str(), O_RDONLY);
    auto* mapped =
        static_cast<volatile const char*>(::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
    if (::truncate(other.c_str(), 0) != 0) ::_exit(4);
    ::_exit(42 + mapped[0]);  // a bus error
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  // Killed by the signal, or (under a sanitizer, whose handler came first) ended by its report:
  // an exit of 1, or an abort when the sanitizer is told to abort on error.
  const bool endedByTheFault = WIFSIGNALED(status)
                                   ? WTERMSIG(status) == SIGBUS || WTERMSIG(status) == SIGABRT
                                   : WEXITSTATUS(status) == 1;
  EXPECT_TRUE(endedByTheFault) << "exit " << WEXITSTATUS(status) << ", signal "
                               << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

}  // namespace
