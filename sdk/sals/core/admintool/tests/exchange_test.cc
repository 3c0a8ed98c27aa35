// The request exchange and its variants, driven with stand-in operations against the scripted
// host: what is created, written, sent and released on every path.
#include <gtest/gtest.h>

#include "admintool/sal/exchange.h"
#include "test_support.h"
#include "zel/runtime/alloc.h"

namespace {

using zel::rt::testing::Bytes;
using zel::rt::testing::Write;
using zel::sal::Request;
using zel::sal::testing::SalTest;

constexpr Request kLevel2{71, 0, 2, &zel::trace::kLogon2WriteFailed};
constexpr Request kLevel4{89, 8, 4};

class ExchangeTest : public SalTest {
 protected:
  // Runs `request` writing one uint64 and reading one uint32, counting clean-ups.
  int32_t Run(const Request& request, uint32_t* read = nullptr) {
    return zel::sal::RequestReply(
        zel::sal::SalAccess::EndpointOf(sal_), request,
        [](ZEL_BUF_EventBuffer& event) {
          event << uint64_t{0x0102030405060708};
          return 0;
        },
        [&](ZEL_BUF_BufferReader& reply, int32_t result) {
          uint32_t value;
          reply >> value;
          if (read != nullptr) *read = value;
          return result;
        },
        [&] { ++cleanups_; });
  }

  ZEL_AdminToolSAL5 sal_{host_};
  int cleanups_ = 0;
};

TEST_F(ExchangeTest, LevelsOneAndTwoAskTheHostEveryCallLevelsThreeAndFourUseTheKeptUIDs) {
  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{0} << uint32_t{9}; }));
  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{0} << uint32_t{9}; }));
  host_.SetSubsystemUID(0x10006);  // the host now reports another UID
  EXPECT_EQ(Run(kLevel2), 0);
  EXPECT_EQ(Run(kLevel4), 0);
  ASSERT_EQ(host_.Sent().size(), 2u);
  const auto& asked = host_.Sent()[0];
  EXPECT_EQ(asked.srcSubsystemUID, 6);
  EXPECT_EQ(asked.destSubsystemUID, 22);
  EXPECT_EQ(asked.interfaceLevel, 2u);
  EXPECT_EQ(asked.version, ZELVersion(1, 0));
  const auto& kept = host_.Sent()[1];
  EXPECT_EQ(kept.srcSubsystemUID, 5);  // (what each operation's request holds: its table)
  EXPECT_EQ(cleanups_, 0);
}

TEST_F(ExchangeTest, EveryFailureGivesItsCodeRunsTheCleanUpAndReleasesTheEvents) {
  host_.FailNthCreate(1);
  EXPECT_EQ(Run(kLevel2), ZEL_E_NO_EVENT);
  EXPECT_EQ(cleanups_, 0);  // nothing was allocated yet

  host_.FailNthAppend(1, -77);
  EXPECT_EQ(Run(kLevel2), ZEL_E_WRITE_FAILED);
  const auto traced = Traced(zel::trace::kLogon2WriteFailed);
  ASSERT_EQ(traced.size(), 1u);  // the information record carries the append's code
  EXPECT_EQ(traced[0].arguments[0], (std::vector<uint8_t>{0xB3, 0xFF, 0xFF, 0xFF}));
  host_.FailNthAppend(1);
  EXPECT_EQ(Run(kLevel4), ZEL_E_WRITE_FAILED);
  EXPECT_EQ(Traced(zel::trace::kLogon2WriteFailed).size(), 1u);  // level 4 names no record
  EXPECT_TRUE(host_.Sent().empty());

  host_.QueueSendFailure(-1234);
  EXPECT_EQ(Run(kLevel2), -1234);
  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{-55}; }));
  uint32_t read = 0xAAAA;
  EXPECT_EQ(Run(kLevel2, &read), -55);
  EXPECT_EQ(read, 0xAAAAu);  // a negative result reads nothing further
  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{0} << uint16_t{1}; }));
  EXPECT_EQ(Run(kLevel2), ZEL_E_SHORT_REPLY);
  host_.QueueReply(Bytes{1, 0});
  EXPECT_EQ(Run(kLevel2), ZEL_E_SHORT_REPLY);  // not even a whole result
  EXPECT_EQ(cleanups_, 6);

  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{7} << uint32_t{3}; }), 7);
  EXPECT_EQ(Run(kLevel2, &read), 7);  // positive results pass unchanged
  EXPECT_EQ(read, 3u);
  EXPECT_EQ(cleanups_, 6);

  // A write that gives up with its own code: released, cleaned up, no record.
  const int32_t own = zel::sal::RequestReply(
      zel::sal::SalAccess::EndpointOf(sal_), kLevel2, [](ZEL_BUF_EventBuffer&) { return -9; },
      [](ZEL_BUF_BufferReader&, int32_t r) { return r; }, [&] { ++cleanups_; });
  EXPECT_EQ(own, -9);
  EXPECT_EQ(cleanups_, 7);
}

// (What the first generation sends and reads is checked through its operations.)
TEST_F(ExchangeTest, TheFirstGenerationCleansUpAfterAFailedSend) {
  host_.QueueSendFailure(-3);
  EXPECT_EQ(zel::sal::RequestReplyFirstGeneration(
                sal_, Request{31, 0, 0}, [](ZEL_BUF_EventBuffer&) { return 0; },
                [](ZEL_BUF_BufferReader&, int32_t r) { return r; }, [&] { ++cleanups_; }),
            -3);
  EXPECT_EQ(cleanups_, 1);
}

// (Posting is checked through the node operations; a missing dispatcher only here.)
TEST_F(ExchangeTest, APostWithoutADispatcherSaysSo) {
  EXPECT_EQ(zel::sal::PostOneWay(
                nullptr, Request{97, 12, 0}, [](ZEL_BUF_EventBuffer&) {},
                [](ZEL_BUF_EventBuffer&) { return 0; }),
            ZEL_E_NO_DISPATCHER);
}

}  // namespace
