#include "zel/usersal/account_blob.h"

#include <gtest/gtest.h>

#include "zel/runtime/testing/scripted_host.h"
#include "zel/usersal/descriptors.h"

namespace {

using zel::rt::testing::Bytes;

UM_AccountIdentity Sample() {
  return UM_AccountIdentity{
      ZELString(u"NT"), ZELString(u"NORTH"), ZELString(u"jane/admin"), {0x01, 0x05, 0x00, 0xFF}};
}

Bytes BlobBytes(const UM_AccountIdentity& identity) {
  ZEL_BUF_EventBuffer event(48, ZELVersion(1, 0), 0);
  UM_AcctIDBlobWriter writer(identity);
  EXPECT_EQ(writer.WriteToEvent(&event), 0);
  EXPECT_EQ(event.GetSize(), writer.BlobSize());
  return Bytes(event.GetData(), event.GetData() + event.GetSize());
}

TEST(AccountBlobTest, ABlobReadsBackAsTheIdentityThatWroteIt) {
  const Bytes bytes = BlobBytes(Sample());
  // The length field counts what follows it; the version comes next.
  EXPECT_EQ(bytes[0] + (bytes[1] << 8), static_cast<int>(bytes.size() - 4));
  EXPECT_EQ(bytes[4], kAccountBlobVersion);

  Bytes twice = bytes;
  twice.insert(twice.end(), bytes.begin(), bytes.end());
  ZEL_BUF_BufferReader reader(twice.data(), static_cast<uint32_t>(twice.size()));
  UM_AccountIdentity first, second;
  ASSERT_EQ(UM_ReadAcctIDBlob(reader, &first), 0);
  ASSERT_EQ(UM_ReadAcctIDBlob(reader, &second), 0);  // the first blob was consumed exactly
  EXPECT_EQ(first, Sample());
  EXPECT_EQ(second, Sample());
  EXPECT_EQ(reader.GetRemaining(), 0u);
}

TEST(AccountBlobTest, TruncatedOrInconsistentBlobsAreRefusedAndLeaveTheTargetAlone) {
  const Bytes bytes = BlobBytes(Sample());
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    ZEL_BUF_BufferReader reader(bytes.data(), static_cast<uint32_t>(cut));
    UM_AccountIdentity target{ZELString(u"untouched"), {}, {}, {}};
    EXPECT_EQ(UM_ReadAcctIDBlob(reader, &target), kAccountBlobShort) << "cut at " << cut;
    EXPECT_EQ(target.authority, ZELString(u"untouched"));
  }
  Bytes newer = bytes;
  newer[4] = 2;
  ZEL_BUF_BufferReader versioned(newer.data(), static_cast<uint32_t>(newer.size()));
  UM_AccountIdentity target;
  EXPECT_EQ(UM_ReadAcctIDBlob(versioned, &target), kAccountBlobUnknownVersion);
  EXPECT_EQ(versioned.GetRemaining(), 0u);  // an unreadable blob is skipped whole

  Bytes longID = bytes;
  longID[bytes.size() - 8] += 1;  // the id length claims one byte more than the blob holds
  ZEL_BUF_BufferReader inconsistent(longID.data(), static_cast<uint32_t>(longID.size()));
  EXPECT_EQ(UM_ReadAcctIDBlob(inconsistent, &target), kAccountBlobMalformed);
}

TEST(AccountBlobTest, AFailedAppendIsReportedWithItsCode) {
  zel::rt::testing::ScriptedHost host;
  ZEL_BUF_EventBuffer event(48, ZELVersion(1, 0), 0);
  UM_AcctIDBlobWriter writer(Sample());
  host.FailNthAppend(3, -42);
  EXPECT_EQ(writer.WriteToEvent(&event), -42);
  host.FailNthAppend(7, -43);  // the raw identifier, after every field
  EXPECT_EQ(writer.WriteToEvent(&event), -43);
  EXPECT_EQ(writer.WriteToEvent(nullptr), zel::rt::kInvalidArgument);

  UM_AcctAuthType authority;
  authority.SetValue(u"NDS");
  EXPECT_EQ(authority.GetValue(), ZELString(u"NDS"));
  authority.SetValue(nullptr);
  EXPECT_TRUE(authority.GetValue().isEmpty());
}

}  // namespace
