// Sweeps over every reply decoder, each run on a valid reply of its row in reply_rows.h: every
// prefix of it, every allocation made to fail in turn, and hostile values in every count field.
// After each, the decoder answers its code, its outputs are as its operation promises, and
// nothing is left allocated.
#include <gtest/gtest.h>

#include <cstring>

#include "reply_rows.h"
#include "zel/runtime/alloc.h"

namespace {

using zel::rt::testing::Bytes;
using zel::sal::testing::Io;
using zel::sal::testing::ReplyRow;
using zel::sal::testing::Sal;

std::vector<ReplyRow> Decoders() {
  std::vector<ReplyRow> swept;
  for (ReplyRow& row : zel::sal::testing::Replies()) {
    if (!row.counts.empty()) swept.push_back(std::move(row));
  }
  return swept;
}

class SweepTest : public zel::sal::testing::SalTest {
 protected:
  SweepTest() { host_.SetHasPluginApis(false); }  // no local implementation: events only

  // Runs `row`'s operation on fresh outputs against `reply` with its `nth` allocation failing
  // (0: none); checks what a failure leaves, and that nothing is held once the outputs go.
  int32_t Run(const ReplyRow& row, const Bytes& reply, uint32_t nth = 0) {
    host_.QueueReply(reply, row.sendAnswer);
    const uint64_t held = zel::rt::GetAllocationStats().outstanding();
    int32_t result = 0;
    {
      Io io(sal_);
      const uint64_t bytes = zel::rt::GetAllocationStats().bytes;
      zel::rt::FailNthAllocation(nth);
      result = row.call(sal_, io);
      zel::rt::FailNthAllocation(0);
      callBytes_ = zel::rt::GetAllocationStats().bytes - bytes;
      EXPECT_TRUE(result >= 0 || (io.NoOutputs() && (!row.clearsCount || io.n == 0)))
          << row.what << " answering " << result;
    }
    EXPECT_EQ(zel::rt::GetAllocationStats().outstanding(), held) << row.what;
    return result;
  }

  Sal sal_{host_};
  uint64_t callBytes_ = 0;
};

TEST_F(SweepTest, EveryPrefixOfAValidReplyIsShortAndLeavesNothing) {
  for (const ReplyRow& row : Decoders()) {
    ASSERT_EQ(Run(row, row.reply), row.code) << row.what;
    for (std::size_t cut = 4; cut < row.reply.size(); ++cut) {
      const Bytes prefix(row.reply.begin(), row.reply.begin() + static_cast<std::ptrdiff_t>(cut));
      EXPECT_EQ(Run(row, prefix), row.shortCode) << row.what << " cut at " << cut;
    }
  }
}

TEST_F(SweepTest, ANegativeResultIsAnsweredAsItIsAndLeavesNothing) {
  for (const ReplyRow& row : Decoders()) {
    EXPECT_EQ(Run(row, Bytes{0xFB, 0xFF, 0xFF, 0xFF}), -5) << row.what;
  }
}

TEST_F(SweepTest, EveryAllocationMadeToFailGivesACodeAndLeavesNothing) {
  for (const ReplyRow& row : Decoders()) {
    uint32_t nth = 1;
    for (int32_t result; (result = Run(row, row.reply, nth)) != row.code; ++nth) {
      EXPECT_LT(result, 0) << row.what << " allocation " << nth;
      ASSERT_LT(nth, 50u) << row.what << " never succeeds";
    }
    EXPECT_GE(nth, 5u) << row.what;  // events and storage on both sides, then its own
  }
}

TEST_F(SweepTest, HostileCountsAreShortRepliesFoundBeforeAllocating) {
  for (const ReplyRow& row : Decoders()) {
    for (std::size_t offset : row.counts) {
      for (uint32_t hostile : {0xFFFFFFFFu, 0x40000000u}) {
        Bytes reply = row.reply;
        ASSERT_LE(offset + 4, reply.size()) << row.what;
        uint32_t original = 0;
        std::memcpy(&original, reply.data() + offset, 4);
        ASSERT_LE(original, 3u) << row.what << ": no count at " << offset;
        std::memcpy(reply.data() + offset, &hostile, 4);
        EXPECT_EQ(Run(row, reply), row.shortCode) << row.what << " at " << offset;
        EXPECT_LT(callBytes_, 4 * reply.size() + 1024)
            << row.what << " allocated for a count it could not fill";
      }
    }
  }
}

}  // namespace
