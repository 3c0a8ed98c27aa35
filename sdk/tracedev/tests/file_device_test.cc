// The portable device end to end: a control file a tool writes, a process that registers and
// sends records, and the trace file decoded back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <tuple>

#include "file_device_support.h"

namespace {

using namespace zel::trace;
using namespace zel::trace::testing;

// The process of DamageWhileAProcessTraces: exits 0 once tracing is off, 2 when it cannot
// register, 3 when tracing stayed on for 10 seconds.
const zel::rt::testing::ChildRole kTraceUntilOff("trace-until-off", [](const std::string& path) {
  zel::rt::testing::SetEnvironment(kControlFileVariable, path.c_str());
  TraceDevice* device = OpenPlatformDevice();
  const ControlBlock* control = RegisterTestComponent(device);
  if (control == nullptr) return 2;
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // "tracing" reaches the parent at once
  const uint16_t number = 1;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (bool first = true; std::chrono::steady_clock::now() < until; first = false) {
    device->Send(RecordOf(&number, {{1}}));
    if (first) std::printf("tracing\n");
    if (__atomic_load_n(&control->logger, __ATOMIC_RELAXED) == 0) return 0;
  }
  return 3;
});

TEST_F(FileDeviceTest, RecordsTravelFromTheProviderToTheTraceFileOfItsComponentOnly) {
  ASSERT_EQ(WriteControlFile(controlPath_, Settings(kFlagError | kFlagEntry)), "");
  TraceDevice* device = OpenPlatformDevice();
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->Register(RegistrationRecord{&kControlGuid, u"Other", nullptr}), nullptr);
  const ControlBlock* control = RegisterTestComponent(device);
  ASSERT_NE(control, nullptr);
  EXPECT_EQ(std::make_tuple(control->logger, control->flags, control->level),
            std::make_tuple(7u, kFlagError | kFlagEntry, 5));
  // The tool's later change shows through the shared mapping at once.
  ASSERT_EQ(WriteControlFile(controlPath_, Settings(kFlagInfo)), "");
  EXPECT_EQ(control->flags, kFlagInfo);

  const uint16_t number = 42;
  const std::vector<std::vector<uint8_t>> args = {{1, 2, 3, 4}, {'h', 0, 'i', 0, 0, 0}};
  device->Send(RecordOf(&number, args));
  const std::vector<std::vector<uint8_t>> blockArgs = {{9, 9}};
  TraceRecord block = RecordOf(&number, blockArgs);
  block.header.size = 80;  // more than eight arguments travel as one block
  device->Send(block);
  device->Close();

  std::ifstream in(tracePath_, std::ios::binary);
  bool damaged = true;
  const std::vector<FileRecord> records =
      DecodeTraceFile(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}), &damaged);
  EXPECT_FALSE(damaged);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].messageNumber, 42);
  EXPECT_EQ(records[0].guid.data1, kMessageGuid.data1);
  EXPECT_EQ(records[0].arguments, args);
  EXPECT_EQ(records[0].processID, zel::rt::testing::CurrentProcessId());
  EXPECT_EQ(records[1].sequence, records[0].sequence + 1);
  EXPECT_EQ(records[1].arguments, blockArgs);

  ControlSettings read;
  ASSERT_EQ(ReadControlFile(controlPath_, &read), "");
  EXPECT_EQ(std::make_tuple(read.component, read.tracePath, read.flags),
            std::make_tuple(std::u16string(u"TestComponent"), tracePath_, kFlagInfo));
  EXPECT_NE(ReadControlFile(tracePath_ + ".missing", &read), "");
  zel::rt::testing::SetEnvironment(kControlFileVariable, nullptr);
  EXPECT_EQ(OpenPlatformDevice(), nullptr);
}

// A control file damaged before a process starts: the device refuses it at once (a FIFO must not
// hang the process that opens it) and maps nothing.
TEST_F(FileDeviceTest, ADamagedControlFileIsRefusedBeforeItIsMapped) {
  const Damage rows[] = {
      {"shortened", [](const std::string& path) { std::filesystem::resize_file(path, 100); }},
      {"grown", [](const std::string& path) { std::filesystem::resize_file(path, 8192); }},
      {"other magic", [](const std::string& path) { Overwrite(path, 0, "ZELTRCTX"); }},
      {"other version", [](const std::string& path) { Overwrite(path, 8, "\x02"); }},
      {"a folder",
       [](const std::string& path) {
         std::filesystem::remove(path);
         std::filesystem::create_directory(path);
       }},
  };
  for (const Damage& row : rows) {
    std::filesystem::remove_all(controlPath_);
    ASSERT_EQ(WriteControlFile(controlPath_, Settings(kFlagError)), "");
    row.apply(controlPath_);
    TraceDevice* device = OpenPlatformDevice();
    EXPECT_EQ(RegisterTestComponent(device), nullptr) << row.name;
    device->Close();
  }
}

// A process that traces while someone overwrites its control file in place: it lives on, and
// tracing ends. (Files shortened under the mapping: the platform's own test.)
TEST_F(FileDeviceTest, DamageWhileAProcessTracesSwitchesTracingOffAndLeavesItAlive) {
  ASSERT_EQ(WriteControlFile(controlPath_, Settings(kFlagError)), "");
  EXPECT_EQ(DamageWhileAProcessTraces(
                {"magic overwritten", [](const std::string& path) { Overwrite(path, 0, "XXXX"); }}),
            0);
}

// 32-bit builds carry addresses sign-extended.
static_assert(WidenAddress32(0x80001000u) == 0xFFFFFFFF80001000ull);
static_assert(WidenAddress32(0x7FFFF000u) == 0x000000007FFFF000ull);

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
