// The writer's byte layout, the reader's round trip, and the writer's sizing and limits.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "zel/runtime/alloc.h"
#include "zel/runtime/buffers.h"
#include "zel/runtime/codes.h"
#include "zel/runtime/pif.h"
#include "zel/runtime/reader.h"
#include "zel/runtime/testing/scripted_host.h"

namespace {

using zel::rt::testing::Bytes;

// The code an append throws with, or 0 when it throws nothing.
int32_t AppendCode(const std::function<void()>& append) {
  try {
    append();
  } catch (const ZEL_BUF_AppendException& e) {
    return e.code();
  }
  return 0;
}

TEST(CodecTest, EveryOperatorWritesItsDocumentedBytesAndTheReaderReadsThemBack) {
  const Bytes expected = {0xAB,                                            // uint8
                          0xFE, 0xFF,                                      // int16 -2
                          0x34, 0x12,                                      // uint16
                          0xFF, 0xFF, 0xFF, 0xFF,                          // int32 -1
                          0x04, 0x03, 0x02, 0x01,                          // uint32
                          0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // uint64
                          6,    0,    0,    0,    'H',  0,    'i',  0,
                          0,    0,                          // "Hi": 6 bytes with terminator
                          0,    0,    0,    0,              // null wide string
                          2,    0,    0,    0,    0,    0,  // empty ZELString: terminator only
                          2,    0,    0,    0,              // list of two
                          4,    0,    0,    0,    'a',  0,    0,    0,  //   "a"
                          2,    0,    0,    0,    0,    0,              //   ""
                          7,    8,    9};                               // raw bytes
  ZELMultiString list;
  list.add(ZELString(u"a"));
  list.add(ZELString());
  EXPECT_EQ(zel::rt::testing::Write([&](ZEL_BUF_BinBuffer& out) {
              out << uint8_t{0xAB} << int16_t{-2} << uint16_t{0x1234} << int32_t{-1}
                  << uint32_t{0x01020304} << uint64_t{0x0102030405060708} << u"Hi"
                  << static_cast<const char16_t*>(nullptr) << ZELString() << list;
              out.AppendBytes("\x07\x08\x09", 3);
            }),
            expected);

  ZEL_BUF_BufferReader reader(expected.data(), static_cast<uint32_t>(expected.size()));
  uint8_t u8;
  int16_t i16;
  uint16_t u16;
  int32_t i32;
  uint32_t u32;
  uint64_t u64;
  char16_t* wide = nullptr;
  char16_t* null = reinterpret_cast<char16_t*>(&u64);  // must be overwritten with null
  ZELString empty(u"not yet");
  ZELMultiString back;
  uint8_t raw[3] = {};
  reader >> u8 >> i16 >> u16 >> i32 >> u32 >> u64 >> wide >> null >> empty >> back;
  EXPECT_EQ(reader.ReadData(raw, sizeof raw), 0);
  EXPECT_EQ(std::make_tuple(u8, i16, u16, i32, u32, u64, raw[2]),
            std::make_tuple(0xAB, -2, 0x1234, -1, 0x01020304u, 0x0102030405060708u, 9));
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(std::u16string(wide), u"Hi");
  EXPECT_EQ(zel::rt::OutstandingDebugBlocks(ZEL_BUF_BufferReader::kStringTag), 1u);
  ZEL_BUF_Free_Debug(wide, "codec_test", __LINE__);
  EXPECT_EQ(null, nullptr);
  EXPECT_TRUE(empty.isEmpty());
  ASSERT_EQ(back.count(), 2u);
  EXPECT_EQ(back.at(0), ZELString(u"a"));
  EXPECT_EQ(reader.GetRemaining(), 0u);
}

TEST(CodecTest, AnExactSizeHintTakesOneAllocation) {
  const zel::rt::AllocationStats before = zel::rt::GetAllocationStats();
  {
    ZEL_BUF_EventBuffer event(48, ZELVersion(1, 0), 12);
    EXPECT_EQ(event.GetCapacity(), 0u);  // nothing is taken before the first append
    event << uint32_t{1} << uint64_t{2};
    EXPECT_EQ(event.GetCapacity(), 12u);
    EXPECT_EQ(zel::rt::GetAllocationStats().allocations - before.allocations, 1u);
    event << uint8_t{3};  // past the hint: the buffer grows and keeps what it held
    EXPECT_GT(event.GetCapacity(), 12u);
    EXPECT_EQ(event.GetSize(), 13u);
    EXPECT_EQ(event.GetData()[12], 3);
  }
  EXPECT_EQ(zel::rt::GetAllocationStats().outstanding(), before.outstanding());
}

TEST(CodecTest, FailedAppendsThrowOrAnswerACodeAndLeaveTheBufferAsItWas) {
  ZEL_BUF_EventBuffer event(65, ZELVersion(1, 0), 0);
  event.SetMaxSize(12);
  event << uint64_t{1};
  EXPECT_EQ(AppendCode([&] { event << ZELString(u"x"); }), zel::rt::kEventTooLarge);  // 4 + 4
  EXPECT_EQ(AppendCode([&] { event << uint64_t{2}; }), zel::rt::kEventTooLarge);
  EXPECT_EQ(event.AppendData("12345", 5), zel::rt::kEventTooLarge);
  EXPECT_EQ(event.GetSize(), 8u);
  event << uint32_t{3};  // exactly at the maximum
  EXPECT_EQ(event.GetSize(), 12u);

  ZEL_BUF_BinBuffer fresh;
  zel::rt::FailNthAllocation(1);
  EXPECT_EQ(AppendCode([&] { fresh << uint32_t{1}; }), zel::rt::kNoMemory);
  EXPECT_EQ(fresh.GetSize(), 0u);
  fresh << uint32_t{1};
  EXPECT_EQ(event.AppendData("x", 1, &fresh), zel::rt::kInvalidArgument);
  EXPECT_EQ(fresh.AppendBytes(nullptr, 1), zel::rt::kInvalidArgument);
  // A string with a NUL inside has no wire form: refused, nothing appended.
  EXPECT_EQ(AppendCode([&] { fresh << ZELString(std::u16string_view(u"a\0b", 3)); }),
            zel::rt::kInvalidArgument);
  EXPECT_EQ(fresh.GetSize(), 4u);
}

TEST(CodecTest, RepliesAreAddressedBackAndEventsTakeStorageThroughTheSeam) {
  std::unique_ptr<ZEL_BUF_EventBuffer2> request(CreateSALEvent2(71, ZELVersion(1, 0), 8, 5, 22, 2));
  ASSERT_NE(request, nullptr);
  request->SetSrcHostID(0x80000001);
  request->SetDestHostID(0x80000003);
  ZEL_BUF_EventBuffer* reply = nullptr;
  ASSERT_EQ(request->CreateReplyEvent(&reply, 81, ZELVersion(1, 0), 22, 4), 0);
  std::unique_ptr<ZEL_BUF_EventBuffer> owned(reply);
  EXPECT_EQ(
      std::make_tuple(reply->GetEventID(), reply->GetSizeHint(), reply->GetSrcSubsystemUID(),
                      reply->GetDestSubsystemUID(), reply->GetSrcHostID(), reply->GetDestHostID()),
      std::make_tuple(81, 4u, 22, 5, 0x80000003u, 0x80000001u));
  zel::rt::FailNthAllocation(1);
  EXPECT_EQ(CreateSALEvent2(71, ZELVersion(1, 0), 8, 5, 22, 2), nullptr);
  ZEL_BUF_EventBuffer* none = reply;
  EXPECT_EQ(request->CreateReplyEvent(&none, 81, ZELVersion(1, 0), 22, 4, request.get()),
            zel::rt::kInvalidArgument);
}

}  // namespace
