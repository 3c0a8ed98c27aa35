// The reader against bytes it cannot trust: every truncation of a valid payload and hostile
// length prefixes (the fuzzer covers arbitrary bytes). It must answer values or
// ZEL_BUF_ReadException, never read outside the buffer (the sanitizer build checks), and never
// allocate more than the bytes could fill.
#include <gtest/gtest.h>

#include "zel/runtime/alloc.h"
#include "zel/runtime/reader.h"
#include "zel/runtime/testing/scripted_host.h"

namespace {

using Reason = ZEL_BUF_ReadException::Reason;
using zel::rt::testing::Bytes;

// Reads one value of every kind; releases what it read. Throws what the reader throws.
void ReadEverything(ZEL_BUF_BufferReader& reader) {
  uint8_t u8;
  uint16_t u16;
  int32_t i32;
  uint64_t u64;
  ZELString text;
  ZELMultiString list;
  char16_t* wide = nullptr;
  uint8_t raw[5];
  reader >> u8 >> u16 >> i32 >> u64 >> text >> list >> wide;
  ZEL_BUF_Free_Debug(wide, "reader_hostile_test", __LINE__);
  reader.ReadData(raw, sizeof raw);
}

TEST(ReaderHostileTest, EveryTruncationOfAValidPayloadIsAShortRead) {
  const Bytes valid = zel::rt::testing::Write([](ZEL_BUF_BinBuffer& out) {
    ZELMultiString list;
    list.add(ZELString(u"one"));
    list.add(ZELString(u"two"));
    out << uint8_t{1} << uint16_t{2} << int32_t{-3} << uint64_t{4} << ZELString(u"text") << list
        << u"wide";
    out.AppendBytes("raw!!", 5);
  });
  for (std::size_t cut = 0; cut <= valid.size(); ++cut) {
    ZEL_BUF_BufferReader reader(valid.data(), static_cast<uint32_t>(cut));
    try {
      ReadEverything(reader);
      EXPECT_EQ(cut, valid.size()) << "a payload cut at " << cut << " read in full";
      EXPECT_EQ(reader.GetRemaining(), 0u);
    } catch (const ZEL_BUF_ReadException& e) {
      EXPECT_EQ(e.reason(), Reason::kShort) << "cut at " << cut;
    }
  }
  EXPECT_EQ(zel::rt::OutstandingDebugBlocks(ZEL_BUF_BufferReader::kStringTag), 0u);
}

TEST(ReaderHostileTest, HostilePrefixesFailBeforeAnythingIsAllocatedOrMoved) {
  enum Kind { kWide, kText, kList };
  const struct {
    const char* what;
    Kind kind;
    Bytes bytes;
    Reason reason;
    bool noStorage = false;
  } rows[] = {
      {"huge length", kWide, {0xFF, 0xFF, 0xFF, 0xFF, 'a', 0, 0, 0}, Reason::kShort},
      {"one byte too many", kText, {5, 0, 0, 0, 'a', 0, 0, 0}, Reason::kShort},
      {"odd length", kWide, {3, 0, 0, 0, 'a', 0, 0}, Reason::kMalformed},
      {"no terminator", kText, {4, 0, 0, 0, 'a', 0, 'b', 0}, Reason::kMalformed},
      {"NUL inside", kWide, {6, 0, 0, 0, 'a', 0, 0, 0, 0, 0}, Reason::kMalformed},
      {"no whole prefix", kText, {1, 0, 0}, Reason::kShort},
      {"huge list count", kList, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, Reason::kShort},
      {"second item cut", kList, {2, 0, 0, 0, 2, 0, 0, 0, 0, 0, 9, 9, 9}, Reason::kShort},
      {"no storage", kWide, {6, 0, 0, 0, 'o', 0, 'k', 0, 0, 0}, Reason::kNoMemory, true},
  };
  for (const auto& row : rows) {
    ZEL_BUF_BufferReader reader(row.bytes.data(), static_cast<uint32_t>(row.bytes.size()));
    const uint64_t allocations = zel::rt::GetAllocationStats().allocations;
    if (row.noStorage) zel::rt::FailNthAllocation(1);
    try {
      ZELString text;
      ZELMultiString list;
      char16_t* wide = nullptr;
      if (row.kind == kWide) reader >> wide;
      if (row.kind == kText) reader >> text;
      if (row.kind == kList) reader >> list;
      ZEL_BUF_Free_Debug(wide, "reader_hostile_test", __LINE__);
      ADD_FAILURE() << row.what << ": the read did not fail";
    } catch (const ZEL_BUF_ReadException& e) {
      EXPECT_EQ(e.reason(), row.reason) << row.what;
    }
    EXPECT_EQ(reader.GetOffset(), 0u) << row.what << ": a failed read moved the position";
    EXPECT_EQ(zel::rt::GetAllocationStats().allocations, allocations)
        << row.what << ": storage was taken before the bytes were judged";
  }
}

TEST(ReaderHostileTest, TheOwnFlagDecidesWhoReleasesTheBuffer) {
  const uint64_t live = zel::rt::LiveEventCount();
  auto* kept = new ZEL_BUF_EventBuffer(81, ZELVersion(1, 0), 0);
  { ZEL_BUF_BufferReader reader(kept, 0); }
  EXPECT_EQ(zel::rt::LiveEventCount(), live + 1);
  { ZEL_BUF_BufferReader reader(kept, 1); }
  EXPECT_EQ(zel::rt::LiveEventCount(), live);

  ZEL_BUF_BufferReader empty(static_cast<ZEL_BUF_BinBuffer*>(nullptr), 1);
  uint8_t value;
  EXPECT_THROW(empty >> value, ZEL_BUF_ReadException);
}

}  // namespace
