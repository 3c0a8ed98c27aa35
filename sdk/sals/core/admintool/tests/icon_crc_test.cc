// Icons, plug-ins and the checksum.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "admintool/types/crc16_tables.h"
#include "zel/admintool/zel_admintoolobject.h"
#include "zel/admintool/zel_crc16.h"
#include "zel/runtime/alloc.h"
#include "zel/runtime/codes.h"

namespace {

uint16_t Crc(const std::string& text) {
  uint16_t crc = 0xBEEF;
  EXPECT_EQ(ZEL_CRC16(reinterpret_cast<const uint8_t*>(text.data()),
                      static_cast<uint32_t>(text.size()), &crc),
            0);
  return crc;
}

// 640 debug-allocated bytes of `fill`, for an icon to take over.
uint8_t* Bits(uint8_t fill, uint32_t size = 640) {
  void* block = nullptr;
  EXPECT_EQ(ZEL_BUF_Allocate_Debug(size, &block, "icon_crc_test", __LINE__), 0);
  std::memset(block, fill, size);
  return static_cast<uint8_t*>(block);
}

TEST(Crc16Test, FollowsTheDefinitionIncludingTheLastByteRule) {
  EXPECT_EQ(Crc("123456789"), 0x87D6);
  EXPECT_EQ(Crc("a"), 0x6100);
  EXPECT_EQ(Crc("abc"), 0x7D87);
  EXPECT_EQ(Crc(std::string(640, '\0')), 0);
  uint16_t untouched = 0x1234;
  EXPECT_EQ(ZEL_CRC16(reinterpret_cast<const uint8_t*>("x"), 0, &untouched),
            static_cast<int32_t>(0x80000001));
  EXPECT_EQ(untouched, 0x1234);
}

TEST(Crc16Test, TheFastFormEqualsTheBytewiseFormOnEveryLengthUpTo2048) {
  std::mt19937 random(1205);
  std::vector<uint8_t> data(2048);
  for (uint8_t& b : data) b = static_cast<uint8_t>(random());
  for (uint32_t length = 1; length <= data.size(); ++length) {
    uint16_t fast = 0;
    ASSERT_EQ(ZEL_CRC16(data.data(), length, &fast), 0);
    ASSERT_EQ(fast, zel::crc16::ChecksumBytewise(data.data(), length)) << "length " << length;
  }
}

TEST(IconTest, BitsAreExactly640BytesOwnedAndNeverShared) {
  ZEL_AdminToolIcon icon(7, u"printer", 3, 640, Bits(0xAA));
  EXPECT_EQ(icon.getSize(), 640);
  EXPECT_EQ(icon.getFlags(), 3);
  EXPECT_EQ(icon.setIconBits(4, 639, Bits(0xBB, 639)), static_cast<int32_t>(0x80000001));
  EXPECT_EQ(icon.getSize(), 0);
  EXPECT_EQ(icon.getData(), nullptr);
  EXPECT_EQ(icon.getFlags(), 255);
  EXPECT_EQ(icon.setIconBits(3, 640, Bits(0xCC)), 0);

  auto* source = new ZEL_AdminToolIcon(icon);
  ZEL_AdminToolIcon copy(uint64_t{0});
  copy = *source;
  delete source;  // the copy keeps bits of its own
  EXPECT_TRUE(copy.matches(icon.getData(), 640));
  EXPECT_NE(copy.getData(), icon.getData());
  EXPECT_FALSE(copy.matches(icon.getData(), 639));
  ZEL_AdminToolIcon empty(uint64_t{1}), alsoEmpty(uint64_t{2});
  EXPECT_TRUE(empty.matches(alsoEmpty.getData(), 0));
  EXPECT_EQ(copy.getCRC(), zel::crc16::ChecksumBytewise(icon.getData(), 640));

  zel::rt::FailNthAllocation(1);
  ZEL_AdminToolIcon starved(icon);  // no storage for its own bits: it has none
  EXPECT_EQ(starved.getData(), nullptr);
  EXPECT_EQ(starved.getFlags(), 255);
  EXPECT_EQ(zel::rt::OutstandingDebugBlocks(), 2u);  // the icon's bits and the copy's
}

TEST(IconTest, WireFormRoundTripsAndShortReadsLeaveNoBits) {
  ZEL_AdminToolIcon icon(7, u"printer", 3, 640, Bits(0x5A));
  icon.setUID(0x0000012100000009);
  ZEL_BUF_EventBuffer event(81, ZELVersion(1, 0), static_cast<uint32_t>(icon.objectSize()));
  EXPECT_EQ(icon.write(event), 0);
  EXPECT_EQ(event.GetSize(), 650u);
  ZEL_AdminToolIcon back(uint64_t{0});
  ZEL_BUF_BufferReader reader(&event, 0);
  EXPECT_EQ(back.read(reader), 0);
  EXPECT_EQ(back.getUID(), icon.getUID());
  EXPECT_TRUE(back.matches(icon.getData(), 640));

  ZEL_AdminToolIcon bare(uint64_t{5});
  bare.setIconBits(255, 0, nullptr);
  ZEL_BUF_EventBuffer small(81, ZELVersion(1, 0), 0);
  bare.write(small);
  EXPECT_EQ(small.GetSize(), 10u);  // the UID and the flags only
  ZEL_BUF_BufferReader smallReader(&small, 0);
  EXPECT_EQ(back.read(smallReader), 0);
  EXPECT_EQ(back.getData(), nullptr);
  EXPECT_EQ(back.getFlags(), 255);

  for (uint32_t cut : {0u, 9u, 10u, 649u}) {
    ZEL_AdminToolIcon target(uint64_t{0});
    target.setIconBits(1, 640, Bits(1));
    ZEL_BUF_BufferReader shortReader(event.GetData(), cut);
    EXPECT_EQ(target.read(shortReader), static_cast<int32_t>(0x80000001)) << cut;
    EXPECT_EQ(target.getData(), nullptr);
    EXPECT_EQ(target.getFlags(), 255);
  }
  ZEL_BUF_BufferReader starvedReader(event.GetData(), event.GetSize());
  zel::rt::FailNthAllocation(1);
  EXPECT_EQ(back.read(starvedReader), static_cast<int32_t>(0x80000002));
  EXPECT_EQ(zel::rt::OutstandingDebugBlocks(), 1u);  // the icon's own bits only

  ZEL_AdminToolPlugin plugin;
  plugin.setName(u"Reports");
  EXPECT_EQ(plugin.write(event), 0);
  EXPECT_EQ(plugin.read(reader), 0);
  EXPECT_EQ(event.GetSize(), 650u);
}

// The icon's writer keeps every failure inside and answers the append code.
TEST(IconTest, AFailedWriteAnswersTheAppendCodeAndThrowsNothing) {
  ZEL_AdminToolIcon icon(7, u"printer", 3, 640, Bits(0x5A));
  for (uint32_t room : {0u, 9u, 10u, 649u}) {  // in the UID, the flags, the bits
    ZEL_BUF_EventBuffer event(81, ZELVersion(1, 0), 0);
    event.SetMaxSize(room);
    int32_t result = 0;
    EXPECT_NO_THROW(result = icon.write(event)) << room;
    EXPECT_EQ(result, zel::rt::kEventTooLarge) << room;
  }
}

}  // namespace
