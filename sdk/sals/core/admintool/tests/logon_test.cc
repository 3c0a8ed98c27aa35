// IsUserKeldraAdmin and Logon2, byte for byte against the scripted host.
#include <gtest/gtest.h>

#include "test_support.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/runtime/alloc.h"

namespace {

using zel::rt::testing::Bytes;
using zel::rt::testing::Write;
using zel::sal::testing::SalTest;
using zel::sal::testing::TraceCapture;

UM_AcctIDBlobWriter Account() {
  return UM_AcctIDBlobWriter(
      UM_AccountIdentity{ZELString(u"NT"), ZELString(u"NORTH"), ZELString(u"jane"), {1, 2, 3}});
}

class IsUserKeldraAdminTest : public SalTest {
 protected:
  ZEL_AdminToolSAL2 sal_{host_};
  UM_AcctIDBlobWriter account_ = Account();
  uint32_t answer_ = 0xDEAD;
};

TEST_F(IsUserKeldraAdminTest, SendsTheAccountBlobAloneAndReadsOneAnswer) {
  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{2} << uint32_t{1}; }), 2);
  EXPECT_EQ(sal_.IsUserKeldraAdmin(account_, &answer_), 2);
  EXPECT_EQ(answer_, 1u);
  ASSERT_EQ(host_.Sent().size(), 1u);
  const auto& request = host_.Sent()[0];
  EXPECT_EQ(request.eventID, 48);
  EXPECT_EQ(request.sizeHint, 0u);
  EXPECT_EQ(request.interfaceLevel, 1u);
  ZEL_BUF_EventBuffer expected(48, ZELVersion(1, 0), 0);
  ASSERT_EQ(account_.WriteToEvent(&expected), 0);
  EXPECT_EQ(request.payload, Bytes(expected.GetData(), expected.GetData() + expected.GetSize()));
}

TEST_F(IsUserKeldraAdminTest, FailuresLeaveTheAnswerAsItWas) {
  TraceCapture().records.clear();  // the construction's entry records
  host_.FailNthAppend(1);
  EXPECT_EQ(sal_.IsUserKeldraAdmin(account_, &answer_), ZEL_E_FAIL);
  EXPECT_TRUE(host_.Sent().empty());  // an account that cannot write itself sends nothing
  EXPECT_TRUE(TraceCapture().records.empty());
  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{-21} << uint32_t{1}; }));
  EXPECT_EQ(sal_.IsUserKeldraAdmin(account_, &answer_), -21);
  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{0} << uint16_t{1}; }));
  EXPECT_EQ(sal_.IsUserKeldraAdmin(account_, &answer_), ZEL_E_SHORT_REPLY);
  EXPECT_EQ(answer_, 0xDEADu);
}

class Logon2Test : public SalTest {
 protected:
  int32_t Logon(const Bytes& credentials) {
    return sal_.Logon2(name_, static_cast<uint32_t>(credentials.size()),
                       const_cast<uint8_t*>(credentials.data()), status_, resolved_, value_,
                       &valueCount_, &values_, &uidCount_, &uids_, 0);
  }
  void Release() {
    zel::rt::Free(values_);
    zel::rt::Free(uids_);
    values_ = nullptr;
    uids_ = nullptr;
  }
  static Bytes FullReply(int32_t result) {
    return Write([&](ZEL_BUF_BinBuffer& out) {
      const uint32_t values[2] = {10, 20};
      const uint64_t uids[3] = {1, 2, 0xFFFFFFFFFFFFFFFF};
      out << result << ZELString(u"Jane Doe") << uint32_t{77} << uint32_t{2};
      out.AppendBytes(values, sizeof values);
      out << uint32_t{3};
      out.AppendBytes(uids, sizeof uids);
    });
  }

  ZEL_AdminToolSAL3 sal_{host_};
  ZELString name_{u"jane"};
  uint32_t status_ = 0xBEEF;
  ZELString resolved_;
  uint32_t value_ = 0;
  uint32_t valueCount_ = 99;
  uint32_t* values_ = nullptr;
  uint32_t uidCount_ = 99;
  uint64_t* uids_ = nullptr;
};

TEST_F(Logon2Test, WritesNameLengthAndRawCredentialsAndDecodesTheWholeReply) {
  host_.QueueReply(FullReply(1), 1);
  EXPECT_EQ(Logon({0xC0, 0xFF, 0xEE}), 0);  // the raw reads decide the result
  ASSERT_EQ(host_.Sent().size(), 1u);
  const auto& request = host_.Sent()[0];
  EXPECT_EQ(request.eventID, 65);
  EXPECT_EQ(request.sizeHint, 0u);
  EXPECT_EQ(request.interfaceLevel, 2u);
  EXPECT_EQ(request.payload,
            (Bytes{10,   0,    0,   0, 'j', 0, 'a', 0, 'n', 0, 'e', 0, 0, 0,  // name
                   3,    0,    0,   0,                                        // length
                   0xC0, 0xFF, 0xEE}));                                       // raw
  EXPECT_EQ(status_, 1u);
  EXPECT_EQ(resolved_, ZELString(u"Jane Doe"));
  EXPECT_EQ(value_, 77u);
  ASSERT_EQ(valueCount_, 2u);
  EXPECT_EQ(values_[1], 20u);
  ASSERT_EQ(uidCount_, 3u);
  EXPECT_EQ(uids_[2], 0xFFFFFFFFFFFFFFFFu);
  Release();

  // Empty credentials still carry their length; a reply without arrays keeps its result.
  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) {
                     out << int32_t{1} << ZELString() << uint32_t{0} << uint32_t{0} << uint32_t{0};
                   }),
                   1);
  EXPECT_EQ(Logon({}), 1);
  EXPECT_EQ(host_.Sent()[1].payload.size(), 14u + 4u);
  EXPECT_TRUE(values_ == nullptr && uids_ == nullptr && valueCount_ == 0 && uidCount_ == 0);
  host_.QueueReply(Write([](ZEL_BUF_BinBuffer& out) { out << int32_t{-4}; }));
  EXPECT_EQ(Logon({1}), -4);
  EXPECT_EQ(status_, 1u);  // a negative result reads nothing, not even the status
}

TEST_F(Logon2Test, WriteAndStorageFailuresAreReportedAndCleanedUp) {
  for (uint32_t nth = 1; nth <= 3; ++nth) {  // the name, the length, the raw credentials
    TraceCapture().records.clear();
    host_.FailNthAppend(nth, -66);
    EXPECT_EQ(Logon({1, 2}), ZEL_E_WRITE_FAILED) << "append " << nth;
    const auto traced = Traced(zel::trace::kLogon2WriteFailed);
    ASSERT_EQ(traced.size(), 1u);
    EXPECT_EQ(traced[0].arguments[0], (std::vector<uint8_t>{0xBE, 0xFF, 0xFF, 0xFF}));
  }
  EXPECT_TRUE(host_.Sent().empty());

  EXPECT_EQ(sal_.Logon2(name_, 0, nullptr, status_, resolved_, value_, nullptr, &values_,
                        &uidCount_, &uids_, 0),
            ZEL_E_INVALID_ARG);
}

}  // namespace
