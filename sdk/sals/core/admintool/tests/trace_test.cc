// The trace channel: record layout, Emit's limits, the wrappers' string rule and the gating of
// trace sites by the control block.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "admintool/trace/trace.h"
#include "test_support.h"
#include "zel/runtime/alloc.h"

namespace {

using namespace zel::trace;
using zel::sal::testing::TraceCapture;
using zel::trace::testing::CaptureDevice;
using zel::trace::testing::CapturedRecord;

constexpr Guid kGuid = {0xABCD, 1, 2, {3}};

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenOnce();  // the capturing device, installed by the test main
    TraceCapture().records.clear();
    TraceCapture().EnableAll();
  }
  const CapturedRecord& Last() const { return TraceCapture().records.back(); }
};

TEST_F(TraceTest, ARecordHasTheFixedHeaderAndOneDescriptorPerArgument) {
  const uint8_t bytes[8][3] = {};
  const uint32_t sent = Emit(0x11111111, 0x22222222, kMessageFlags, &kGuid, 0x12345, &bytes[0], 1u,
                             &bytes[1], 2u, &bytes[2], 3u, &bytes[3], 3u, &bytes[4], 3u, &bytes[5],
                             3u, &bytes[6], 3u, &bytes[7], 3u, nullptr);
  EXPECT_EQ(sent, kStatusOk);
  ASSERT_EQ(TraceCapture().records.size(), 1u);
  const TraceHeader& header = Last().header;
  EXPECT_EQ(header.size, 192);
  EXPECT_EQ(header.fieldTypeFlags, 0);
  EXPECT_EQ(header.classType, 0xFF);
  EXPECT_EQ(header.logger, 0x2222222211111111u);
  EXPECT_EQ(header.timeStamp, 0u);
  EXPECT_EQ(header.guidAddress, WidenAddress(&kGuid));
  EXPECT_EQ(header.flags, 0x001A0000u);
  EXPECT_EQ(Last().messageNumber, 0x2345);  // the low 16 bits
  ASSERT_EQ(Last().descriptors.size(), 8u);
  EXPECT_EQ(Last().descriptors[0].address, WidenAddress(&bytes[0]));
  EXPECT_EQ(Last().descriptors[1].length, 2u);

  // Nine arguments travel as one block of all their bytes, in order.
  const uint8_t nine[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  Emit(0, 1, kMessageFlags, &kGuid, 7, &nine[0], 1u, &nine[1], 1u, &nine[2], 1u, &nine[3], 1u,
       &nine[4], 1u, &nine[5], 1u, &nine[6], 1u, &nine[7], 1u, &nine[8], 1u, nullptr);
  EXPECT_EQ(Last().header.size, 80);
  ASSERT_EQ(Last().arguments.size(), 1u);
  EXPECT_EQ(Last().arguments[0], std::vector<uint8_t>(nine, nine + 9));
}

TEST_F(TraceTest, EmitDropsOversizedRecordsAndBlocksWithoutStorage) {
  static uint8_t big[8193];
  EXPECT_EQ(Emit(0, 1, kMessageFlags, &kGuid, 1, big, 8000u, big, 192u, nullptr), kStatusOk);
  EXPECT_EQ(Emit(0, 1, kMessageFlags, &kGuid, 1, big, 8000u, big, 193u, nullptr), kStatusTooLarge);
  EXPECT_EQ(TraceCapture().records.size(), 1u);

  zel::rt::FailNthAllocation(1);
  const uint8_t b = 0;
  EXPECT_EQ(Emit(0, 1, kMessageFlags, &kGuid, 1, &b, 1u, &b, 1u, &b, 1u, &b, 1u, &b, 1u, &b, 1u, &b,
                 1u, &b, 1u, &b, 1u, nullptr),
            kStatusNoMemory);
  EXPECT_EQ(TraceCapture().records.size(), 1u);
}

TEST_F(TraceTest, WrappersSendStringsByTheStringRule) {
  TraceString(0, 1, 3, &kGuid, nullptr);
  EXPECT_EQ(Last().arguments[0].size(), 10u);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(Last().arguments[0].data())), u"NULL");
  TraceString(0, 1, 3, &kGuid, u"");
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(Last().arguments[0].data())),
            u"<NULL>");
  EXPECT_EQ(Last().arguments[0].size(), 14u);
  TraceTwoStrings(0, 1, 3, &kGuid, u"ab", nullptr);
  ASSERT_EQ(Last().arguments.size(), 2u);
  EXPECT_EQ(Last().arguments[0].size(), 6u);
  TraceStringAndFive(0, 1, 3, &kGuid, u"x", 1, 2, 3, 4, 0xA0B0C0D0);
  ASSERT_EQ(Last().arguments.size(), 6u);
  EXPECT_EQ(Last().arguments[5], (std::vector<uint8_t>{0xD0, 0xC0, 0xB0, 0xA0}));
  TraceUInt64(0, 1, 3, &kGuid, 0x0102030405060708);
  EXPECT_EQ(Last().arguments[0].size(), 8u);
  EXPECT_EQ(Last().header.size, 80);  // 16 × (1 + 4)
}

TEST_F(TraceTest, SitesFollowTheControlBlockFlagsLevelAndLogger) {
  auto fire = [] {
    ZEL_TRACE(kError, kSalConstructed, TraceNoData);
    ZEL_TRACE(kInfo, kSalConstructed, TraceNoData);
    ZEL_TRACE(kEntry, kSalConstructed, TraceNoData);
  };
  auto count = [&] {
    TraceCapture().records.clear();
    fire();
    return TraceCapture().records.size();
  };
  EXPECT_EQ(count(), 3u);
  TraceCapture().control.level = 4;  // entry needs 5
  EXPECT_EQ(count(), 2u);
  TraceCapture().control.flags = kFlagInfo;
  EXPECT_EQ(count(), 1u);
  TraceCapture().EnableAll();
  TraceCapture().control.logger = 0;  // no logger: every site silent
  EXPECT_EQ(count(), 0u);

  // Arguments are not even prepared while a site is off.
  int prepared = 0;
  auto argument = [&] {
    ++prepared;
    return 1u;
  };
  ZEL_TRACE(kError, kSalConstructed, TraceUInt32, argument());
  EXPECT_EQ(prepared, 0);
}

TEST(TraceOpenTest, ARefusingDeviceIsClosedAndLeavesTracingOff) {
  CaptureDevice refusing;
  refusing.refuse = true;
  EXPECT_EQ(OpenDevice(&refusing, kRegistration), nullptr);
  EXPECT_EQ(refusing.closes, 1);
  EXPECT_EQ(OpenDevice(nullptr, kRegistration), nullptr);
  CaptureDevice accepting;
  EXPECT_EQ(OpenDevice(&accepting, kRegistration), &accepting.control);
  EXPECT_EQ(accepting.closes, 0);
  EXPECT_EQ(std::u16string(kRegistration.flagNames).substr(0, 18), u"QDL_ERROR QDL_INFO");
}

}  // namespace
