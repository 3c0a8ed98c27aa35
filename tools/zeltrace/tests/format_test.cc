#include <gtest/gtest.h>

#include "format.h"
#include "message_texts.h"

namespace {

TEST(MessageTextTest, EveryTraceSiteOfTheLibraryHasAText) {
#define ZELTRACE_EXPECT_TEXT(name, module, number) \
  EXPECT_NE(zeltrace::MessageText(module, number), nullptr) << #name;
  ZEL_TRACE_MESSAGES(ZELTRACE_EXPECT_TEXT)
#undef ZELTRACE_EXPECT_TEXT
  EXPECT_EQ(zeltrace::MessageText(zel::trace::Module::kSal, 9999), nullptr);
}

TEST(FormatTest, ArgumentsReadAsStringsIntegersOrBytes) {
  EXPECT_EQ(zeltrace::FormatArgument({'h', 0, 'i', 0, 0, 0}), "\"hi\"");
  EXPECT_EQ(zeltrace::FormatArgument({0xF7, 0xFF, 0xFF, 0xFF}), "0xfffffff7 (-9)");
  EXPECT_EQ(zeltrace::FormatArgument({1, 0, 0, 0, 0, 0, 0, 0x80}), "0x8000000000000001");
  EXPECT_EQ(zeltrace::FormatArgument({1, 2, 3}), "bytes:010203");
  // A known message says what its arguments are: a one-letter string is not an integer.
  EXPECT_EQ(zeltrace::FormatArgument({'x', 0, 0, 0}, 's'), "\"x\"");
  EXPECT_EQ(zeltrace::FormatArgument({'x', 0, 0, 0}), "0x00000078 (120)");
  EXPECT_EQ(zeltrace::FormatArgument({'a', 0, 0, 0, 'b', 0}), "bytes:610000006200");  // NUL inside

  zel::trace::FileRecord record;
  record.sequence = 3;
  record.processID = 42;
  record.guid = zel::trace::GuidOf(zel::trace::Module::kSal5);
  record.messageNumber = 11;
  record.arguments = {{6, 0, 1, 0x80}};
  EXPECT_EQ(zeltrace::FormatRecord(record),
            "#3 1970-01-01T00:00:00.000000Z pid 42 sal5 11: no local implementation (interface "
            "2300): operations use events (code) | 0x80010006 (-2147418106)");
}

TEST(FormatTest, TimesPrintAsUtcOnEveryPlatform) {
  // Past 2038 too, where a 32-bit time_t ends.
  const struct {
    uint64_t timeNs;
    const char* stamp;
  } kCases[] = {
      {951782400ull * 1000000000 + 5000, "2000-02-29T00:00:00.000005Z"},
      {2147483647ull * 1000000000 + 999999999, "2038-01-19T03:14:07.999999Z"},
      {2147483648ull * 1000000000, "2038-01-19T03:14:08.000000Z"},
      {4107542400ull * 1000000000 - 1000, "2100-02-28T23:59:59.999999Z"},
  };
  for (const auto& c : kCases) {
    zel::trace::FileRecord record;
    record.timeNs = c.timeNs;
    const std::string line = zeltrace::FormatRecord(record);
    EXPECT_EQ(line.substr(3, line.find(' ', 3) - 3), c.stamp) << line;
  }
}

}  // namespace
