// The portable device end to end: a control file a tool writes, a process that registers and
// sends records, and the trace file decoded back.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "zel/tracedev/device.h"
#include "zel/tracedev/files.h"

namespace {

using namespace zel::trace;

constexpr Guid kMessageGuid = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr Guid kControlGuid = {0xCAFE, 0, 0, {0}};

class FileDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("zeltrace-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
    controlPath_ = (folder_ / "control").string();
    tracePath_ = (folder_ / "trace").string();
    ::setenv(kControlFileVariable, controlPath_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv(kControlFileVariable);
    std::filesystem::remove_all(folder_);
  }

  ControlSettings Settings(uint8_t flags) const {
    return ControlSettings{u"TestComponent", tracePath_, 7, flags, 5};
  }

  std::vector<uint8_t> TraceBytes() const {
    std::ifstream in(tracePath_, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path folder_;
  std::string controlPath_;
  std::string tracePath_;
};

// A record as a provider builds it: `count` arguments described one by one.
TraceRecord RecordOf(const uint16_t* number, const std::vector<std::vector<uint8_t>>& args) {
  TraceRecord record{};
  record.header.size = static_cast<uint16_t>(16 * (args.size() + 4));
  record.header.guidAddress = WidenAddress(&kMessageGuid);
  record.fields[0] = Descriptor{WidenAddress(number), 2, 0};
  for (std::size_t i = 0; i < args.size(); ++i) {
    record.fields[i + 1] =
        Descriptor{WidenAddress(args[i].data()), static_cast<uint32_t>(args[i].size()), 0};
  }
  return record;
}

TEST_F(FileDeviceTest, RecordsTravelFromTheProviderToTheTraceFile) {
  ASSERT_EQ(WriteControlFile(controlPath_, Settings(kFlagError | kFlagEntry)), "");
  TraceDevice* device = OpenPlatformDevice();
  ASSERT_NE(device, nullptr);
  const ControlBlock* control =
      device->Register(RegistrationRecord{&kControlGuid, u"TestComponent", nullptr});
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(control->logger, 7u);
  EXPECT_EQ(control->flags, kFlagError | kFlagEntry);
  EXPECT_EQ(control->level, 5);

  // The tool's later change shows through the shared mapping at once.
  ASSERT_EQ(WriteControlFile(controlPath_, Settings(0)), "");
  EXPECT_EQ(control->flags, 0);

  const uint16_t number = 42;
  const std::vector<std::vector<uint8_t>> args = {{1, 2, 3, 4}, {'h', 0, 'i', 0, 0, 0}};
  device->Send(RecordOf(&number, args));
  const std::vector<std::vector<uint8_t>> blockArgs = {{9, 9}};
  TraceRecord block = RecordOf(&number, blockArgs);
  block.header.size = 80;  // more than eight arguments travel as one block
  device->Send(block);
  device->Close();

  bool damaged = true;
  const std::vector<FileRecord> records = DecodeTraceFile(TraceBytes(), &damaged);
  EXPECT_FALSE(damaged);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].messageNumber, 42);
  EXPECT_EQ(records[0].guid.data1, kMessageGuid.data1);
  EXPECT_EQ(records[0].arguments, args);
  EXPECT_EQ(records[0].processID, static_cast<uint32_t>(::getpid()));
  EXPECT_EQ(records[1].sequence, records[0].sequence + 1);
  EXPECT_EQ(records[1].arguments, blockArgs);
}

TEST_F(FileDeviceTest, TheDeviceRefusesOtherComponentsAndIsAbsentWithoutAControlFile) {
  ASSERT_EQ(WriteControlFile(controlPath_, Settings(kFlagInfo)), "");
  TraceDevice* device = OpenPlatformDevice();
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->Register(RegistrationRecord{&kControlGuid, u"Other", nullptr}), nullptr);
  device->Close();

  ControlSettings read;
  ASSERT_EQ(ReadControlFile(controlPath_, &read), "");
  EXPECT_EQ(read.component, u"TestComponent");
  EXPECT_EQ(read.tracePath, tracePath_);
  EXPECT_EQ(read.flags, kFlagInfo);

  ::unsetenv(kControlFileVariable);
  EXPECT_EQ(OpenPlatformDevice(), nullptr);
  EXPECT_NE(ReadControlFile(tracePath_ + ".missing", &read), "");
}

// A control file damaged before a process starts: the device refuses it at once (a FIFO must not
// hang the process that opens it) and maps nothing.
TEST_F(FileDeviceTest, ADamagedControlFileIsRefusedBeforeItIsMapped) {
  struct Row {
    const char* damage;
    std::function<void(const std::string&)> apply;
  };
  const Row rows[] = {
      {"shortened", [](const std::string& path) { ::truncate(path.c_str(), 100); }},
      {"grown", [](const std::string& path) { ::truncate(path.c_str(), 8192); }},
      {"other magic", [](const std::string& path) { std::fstream(path).write("ZELTRCTX", 8); }},
      {"other version",
       [](const std::string& path) {
         std::fstream f(path);
         f.seekp(8);
         f.write("\x02", 1);
       }},
      {"a fifo",
       [](const std::string& path) {
         std::filesystem::remove(path);
         ::mkfifo(path.c_str(), 0600);
       }},
      {"a folder",
       [](const std::string& path) {
         std::filesystem::remove(path);
         std::filesystem::create_directory(path);
       }},
  };
  for (const Row& row : rows) {
    std::filesystem::remove_all(controlPath_);
    ASSERT_EQ(WriteControlFile(controlPath_, Settings(kFlagError)), "");
    row.apply(controlPath_);
    TraceDevice* device = OpenPlatformDevice();
    EXPECT_EQ(device->Register(RegistrationRecord{&kControlGuid, u"TestComponent", nullptr}),
              nullptr)
        << row.damage;
    device->Close();
  }
}

// A process that traces while someone damages its control file: it must live on, and tracing
// must end. The child emulates a trace site (read the block, send when on) until it reads a
// logger of 0; it answers 0 then, 3 when tracing never stopped.
TEST_F(FileDeviceTest, DamageWhileAProcessTracesSwitchesTracingOffAndLeavesItAlive) {
  struct Row {
    const char* damage;
    std::function<void(const std::string&)> apply;
  };
  const Row rows[] = {
      {"truncated to nothing", [](const std::string& path) { ::truncate(path.c_str(), 0); }},
      {"truncated to its magic", [](const std::string& path) { ::truncate(path.c_str(), 8); }},
      {"magic overwritten", [](const std::string& path) { std::fstream(path).write("XXXX", 4); }},
  };
  for (const Row& row : rows) {
    ASSERT_EQ(WriteControlFile(controlPath_, Settings(kFlagError)), "") << row.damage;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      TraceDevice* device = OpenPlatformDevice();
      const ControlBlock* control =
          device->Register(RegistrationRecord{&kControlGuid, u"TestComponent", nullptr});
      if (control == nullptr) ::_exit(2);
      [[maybe_unused]] const auto n = ::write(ready[1], "r", 1);
      const uint16_t number = 1;
      const std::vector<std::vector<uint8_t>> args = {{1}};
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (std::chrono::steady_clock::now() < until) {
        if (__atomic_load_n(&control->logger, __ATOMIC_RELAXED) == 0) ::_exit(0);
        device->Send(RecordOf(&number, args));
      }
      ::_exit(3);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1) << row.damage;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the child is tracing
    row.apply(controlPath_);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_TRUE(WIFEXITED(status)) << row.damage << ": killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << row.damage;
    std::filesystem::remove(controlPath_);
  }
}

// The device's guard takes only faults on its own mapping: a bus error anywhere else in a traced
// process still ends it as it would without tracing.
TEST_F(FileDeviceTest, ABusErrorElsewhereStillEndsTheProcess) {
  ASSERT_EQ(WriteControlFile(controlPath_, Settings(kFlagError)), "");
  const std::string other = (folder_ / "other").string();
  std::ofstream(other) << std::string(4096, 'x');
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TraceDevice* device = OpenPlatformDevice();
    if (device->Register(RegistrationRecord{&kControlGuid, u"TestComponent", nullptr}) == nullptr) {
      ::_exit(2);
    }
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

TEST(TraceFileTest, ThirtyTwoBitAddressesAreSignExtended) {
  static_assert(WidenAddress32(0x80001000u) == 0xFFFFFFFF80001000ull);
  static_assert(WidenAddress32(0x7FFFF000u) == 0x000000007FFFF000ull);
  int local = 0;
  if constexpr (sizeof(void*) == 8) {
    EXPECT_EQ(WidenAddress(&local), reinterpret_cast<uintptr_t>(&local));
  }
}

TEST(TraceFileTest, ACutOrDamagedRecordEndsDecodingAndIsReported) {
  FileRecord record;
  record.messageNumber = 10;
  record.arguments = {{1}, {2, 3}};
  std::vector<uint8_t> bytes = EncodeFileRecord(record);
  const std::vector<uint8_t> one = bytes;
  bytes.insert(bytes.end(), one.begin(), one.end());
  for (std::size_t cut = one.size() + 1; cut < bytes.size(); ++cut) {
    bool damaged = false;
    const auto records = DecodeTraceFile(
        std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)),
        &damaged);
    EXPECT_TRUE(damaged) << "cut at " << cut;
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].arguments, record.arguments);
  }
  std::vector<uint8_t> lying = one;
  lying[one.size() - 3] = 0xFF;  // the last argument claims more bytes than the record holds
  bool damaged = false;
  EXPECT_TRUE(DecodeTraceFile(lying, &damaged).empty());
  EXPECT_TRUE(damaged);
}

}  // namespace
