// The reader against bytes it cannot trust: every truncation of a valid payload and hostile
// length prefixes (the fuzzer covers arbitrary bytes). It must answer values or ZEL_BUF_ReadException, never read outside
// the buffer (the sanitizer build checks), and never allocate more than the bytes could fill.
#include <gtest/gtest.h>


#include "zel/runtime/alloc.h"
#include "zel/runtime/reader.h"
#include "zel/runtime/testing/scripted_host.h"

namespace {

using Reason = ZEL_BUF_ReadException::Reason;
using zel::rt::testing::Bytes;
using zel::rt::testing::Write;

ZEL_BUF_BinBuffer* BufferOf(const Bytes& bytes) {
  auto* buffer = new ZEL_BUF_BinBuffer(static_cast<uint32_t>(bytes.size()));
  EXPECT_EQ(buffer->AppendBytes(bytes.data(), static_cast<uint32_t>(bytes.size())), 0);
  return buffer;
}

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
  reader >> u8 >> u16 >> i32 >> u64 >> text >> list;
  reader >> wide;
  ZEL_BUF_Free_Debug(wide, "reader_hostile_test", __LINE__);
  reader.ReadData(raw, sizeof raw);
}

// Why `read` fails on `bytes`; also checks that the failed read moved nothing and kept nothing.
Reason ReasonOf(const Bytes& bytes, const std::function<void(ZEL_BUF_BufferReader&)>& read) {
  ZEL_BUF_BufferReader reader(BufferOf(bytes), 1);
  const uint32_t offset = reader.GetOffset();
  const uint64_t allocations = zel::rt::GetAllocationStats().allocations;
  try {
    read(reader);
  } catch (const ZEL_BUF_ReadException& e) {
    EXPECT_EQ(reader.GetOffset(), offset) << "a failed read moved the position";
    EXPECT_EQ(zel::rt::GetAllocationStats().allocations, allocations)
        << "storage was taken before the bytes were judged";
    return e.reason();
  }
  ADD_FAILURE() << "the read did not fail";
  return Reason::kMalformed;
}

TEST(ReaderHostileTest, EveryTruncationOfAValidPayloadIsAShortRead) {
  const Bytes valid = Write([](ZEL_BUF_BinBuffer& out) {
    ZELMultiString list;
    list.add(ZELString(u"one"));
    list.add(ZELString(u"two"));
    out << uint8_t{1} << uint16_t{2} << int32_t{-3} << uint64_t{4} << ZELString(u"text") << list
        << u"wide";
    out.AppendBytes("raw!!", 5);
  });
  {
    ZEL_BUF_BufferReader whole(BufferOf(valid), 1);
    ReadEverything(whole);
    EXPECT_EQ(whole.GetRemaining(), 0u);
  }
  for (std::size_t cut = 0; cut < valid.size(); ++cut) {
    const Bytes prefix(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(cut));
    ZEL_BUF_BufferReader reader(BufferOf(prefix), 1);
    try {
      ReadEverything(reader);
      ADD_FAILURE() << "a payload cut at " << cut << " read in full";
    } catch (const ZEL_BUF_ReadException& e) {
      EXPECT_EQ(e.reason(), Reason::kShort) << "cut at " << cut;
    }
  }
  EXPECT_EQ(zel::rt::OutstandingDebugBlocks(ZEL_BUF_BufferReader::kStringTag), 0u);
}

TEST(ReaderHostileTest, HostileStringPrefixesFailBeforeAnythingIsAllocated) {
  auto wide = [](ZEL_BUF_BufferReader& r) {
    char16_t* text = nullptr;
    r >> text;
    ZEL_BUF_Free_Debug(text, "reader_hostile_test", __LINE__);
  };
  auto text = [](ZEL_BUF_BufferReader& r) {
    ZELString value;
    r >> value;
  };
  const Bytes huge = {0xFF, 0xFF, 0xFF, 0xFF, 'a', 0, 0, 0};
  const Bytes oneTooMany = {5, 0, 0, 0, 'a', 0, 0, 0};
  EXPECT_EQ(ReasonOf(huge, wide), Reason::kShort);
  EXPECT_EQ(ReasonOf(oneTooMany, text), Reason::kShort);
  EXPECT_EQ(ReasonOf({3, 0, 0, 0, 'a', 0, 0}, wide), Reason::kMalformed);           // odd
  EXPECT_EQ(ReasonOf({4, 0, 0, 0, 'a', 0, 'b', 0}, text), Reason::kMalformed);      // no end
  EXPECT_EQ(ReasonOf({6, 0, 0, 0, 'a', 0, 0, 0, 0, 0}, wide), Reason::kMalformed);  // NUL inside
  EXPECT_EQ(ReasonOf({1, 0, 0}, text), Reason::kShort);                             // no prefix

  auto list = [](ZEL_BUF_BufferReader& r) {
    ZELMultiString value;
    r >> value;
  };
  EXPECT_EQ(ReasonOf({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, list), Reason::kShort);
  EXPECT_EQ(ReasonOf({2, 0, 0, 0, 2, 0, 0, 0, 0, 0, 9, 9, 9}, list), Reason::kShort);

  const Bytes fine = Write([](ZEL_BUF_BinBuffer& out) { out << u"ok"; });
  EXPECT_EQ(ReasonOf(fine,
                     [&](ZEL_BUF_BufferReader& r) {
                       zel::rt::FailNthAllocation(1);
                       wide(r);
                     }),
            Reason::kNoMemory);
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
