// The receiving side of group enumeration: parsing requests (with credentials) and writing
// replies, including round trips through the same writer and reader.
#include <gtest/gtest.h>

#include <memory>

#include "test_support.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/runtime/alloc.h"
#include "zel/runtime/secure.h"

namespace {

using zel::rt::testing::Bytes;
using zel::sal::testing::SalTest;
using zel::sal::testing::TraceCapture;

// A group enumeration request as a sender builds it; for event 82 with credentials.
std::unique_ptr<ZEL_BUF_EventBuffer> Request(uint16_t id, const ZELString& account = {},
                                             std::u16string password = u"pa55",
                                             uint32_t passwordBytes = 0) {
  auto event = std::make_unique<ZEL_BUF_EventBuffer>(id, ZELVersion(1, 0), 0);
  *event << ZELString(u"Root/Farm") << ZELString(u"Printers") << ZELString(u"Title") << int16_t{4}
         << uint16_t{9} << uint64_t{3} << uint64_t{77};
  if (id == 82) {
    std::vector<uint8_t> bytes(
        reinterpret_cast<const uint8_t*>(password.c_str()),
        reinterpret_cast<const uint8_t*>(password.c_str()) + 2 * (password.size() + 1));
    if (passwordBytes != 0) bytes.resize(passwordBytes, 0);
    ZEL_SECURE_EncryptData(bytes.data(), static_cast<uint32_t>(bytes.size()), 0x3A);
    *event << account << static_cast<uint32_t>(bytes.size());
    event->AppendData(bytes.data(), static_cast<uint32_t>(bytes.size()));
  }
  return event;
}

class GroupEnumerationTest : public SalTest {
 protected:
  GroupEnumerationTest() {
    uint8_t key[32];
    for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(0xA0 + i);
    ZEL_SECURE_SetKey(0x3A, key, 32);
  }
  ~GroupEnumerationTest() override { ZEL_SECURE_ClearKeys(); }

  // Parses `event`; keeps what it yields for the checks below.
  int32_t Parse(ZEL_BUF_EventBuffer* event) {
    ZEL_AdminToolObject* group = nullptr;
    UM_Credentials* credentials = nullptr;
    const int32_t result = sal_.ParseEnumerateGroupEvent(event, &group, &credentials);
    group_.reset(group);
    credentials_.reset(credentials);
    return result;
  }

  ZEL_AdminToolSAL sal_{host_};
  std::unique_ptr<ZEL_AdminToolObject> group_;
  std::unique_ptr<UM_Credentials> credentials_;
};

TEST_F(GroupEnumerationTest, ARequestBecomesAGroupNodeWithItsUidAsTheOnlyEntry) {
  auto request = Request(81);
  ASSERT_EQ(Parse(request.get()), 0);
  ASSERT_NE(group_, nullptr);
  EXPECT_EQ(std::u16string(group_->getDN()), u"Root/Farm/Printers");
  EXPECT_EQ(std::u16string(group_->getTitle()), u"Title");
  EXPECT_EQ(group_->getFlags(), 4);
  EXPECT_EQ(group_->getIcon(), 3u);
  EXPECT_EQ(group_->getUID(), 77u);
  EXPECT_EQ(group_->getUIDCount(), 1u);
  EXPECT_EQ(credentials_, nullptr);  // only event 82 carries credentials
  EXPECT_EQ(Parse(nullptr), ZEL_E_FAIL);
}

TEST_F(GroupEnumerationTest, CredentialsSplitAtTheFirstBackslashAndThePasswordIsDeciphered) {
  struct Case {
    const char16_t* account;
    const char16_t* user;
    const char16_t* domain;
  };
  for (const Case& c : {Case{u"jane", u"jane", u""}, Case{u"NORTH\\jane", u"jane", u"NORTH"},
                        Case{u"A\\B\\c", u"B\\c", u"A"}, Case{u"", u"", u""}}) {
    auto request = Request(82, ZELString(c.account));
    ASSERT_EQ(Parse(request.get()), 0) << ZELString(c.account).toUtf8();
    ASSERT_NE(credentials_, nullptr);
    EXPECT_EQ(credentials_->userName, ZELString(c.user));
    EXPECT_EQ(credentials_->domain, ZELString(c.domain));
    EXPECT_EQ(credentials_->password, ZELString(u"pa55"));
  }
  // 256 password bytes are accepted (the text ends inside them); 257 are not.
  auto longest = Request(82, ZELString(u"jane"), u"pw", 256);
  EXPECT_EQ(Parse(longest.get()), 0);
  EXPECT_EQ(credentials_->password, ZELString(u"pw"));
  auto tooLong = Request(82, ZELString(u"jane"), u"pw", 257);
  EXPECT_EQ(Parse(tooLong.get()), ZEL_E_FAIL);
  EXPECT_EQ(group_, nullptr);        // freed on failure
  EXPECT_NE(credentials_, nullptr);  // left to the caller

  // A 256-byte password without a terminator reads as its first 127 characters.
  auto unterminated = Request(82, ZELString(u"jane"), std::u16string(128, u'x'), 256);
  EXPECT_EQ(Parse(unterminated.get()), 0);
  EXPECT_EQ(credentials_->password.charCount(), 127u);

  auto wideAccount = Request(82, ZELString(std::u16string(256, u'a')));  // length value 514
  EXPECT_EQ(Parse(wideAccount.get()), ZEL_E_FAIL);
  auto widest = Request(82, ZELString(std::u16string(255, u'a')));  // length value 512
  EXPECT_EQ(Parse(widest.get()), 0);

  ZEL_SECURE_ClearKeys();  // a host without the farm key cannot read the password
  auto unreadable = Request(82, ZELString(u"jane"));
  EXPECT_EQ(Parse(unreadable.get()), ZEL_E_FAIL);
}

TEST_F(GroupEnumerationTest, EveryTruncationFailsAndFreesTheGroup) {
  auto full = Request(82, ZELString(u"NORTH\\jane"));
  for (uint32_t cut = 0; cut < full->GetSize(); ++cut) {
    ZEL_BUF_EventBuffer truncated(82, ZELVersion(1, 0), cut);
    truncated.AppendData(full->GetData(), cut);
    EXPECT_EQ(Parse(&truncated), ZEL_E_FAIL) << "cut at " << cut;
    EXPECT_EQ(group_, nullptr);
  }
  ZEL_AdminToolObject* untouched = reinterpret_cast<ZEL_AdminToolObject*>(&host_);
  zel::rt::FailNthAllocation(1);  // no storage for the group node
  EXPECT_EQ(sal_.ParseEnumerateGroupEvent(full.get(), &untouched, nullptr), ZEL_E_NO_EVENT);
  EXPECT_EQ(untouched, nullptr);
}

TEST_F(GroupEnumerationTest, RepliesCarryTheResultOrTheChildrenInChainOrder) {
  auto request = Request(81);
  request->SetSrcSubsystemUID(5);
  EXPECT_EQ(sal_.WriteGroupToEventBuffer(request.get(), ZEL_E_FAIL, nullptr, 0), 0);
  ASSERT_EQ(host_.Delivered().size(), 1u);
  EXPECT_EQ(host_.Delivered()[0].eventID, 81);
  EXPECT_EQ(host_.Delivered()[0].sizeHint, 4u);
  EXPECT_EQ(host_.Delivered()[0].srcSubsystemUID, 22);
  EXPECT_EQ(host_.Delivered()[0].destSubsystemUID, 5);
  EXPECT_EQ(host_.Delivered()[0].payload, (Bytes{0x01, 0x00, 0x00, 0x80}));

  TraceCapture().records.clear();
  EXPECT_EQ(sal_.WriteGroupToEventBuffer(request.get(), 0, nullptr, 0), ZEL_E_FAIL);
  EXPECT_EQ(Traced(zel::trace::kGroupReplyWithoutGroup).size(), 1u);

  ZEL_AdminToolObject group(u"Root", u"Printers");
  EXPECT_EQ(sal_.WriteGroupToEventBuffer(request.get(), 0, &group, 0), 0);
  EXPECT_EQ(host_.Delivered()[1].payload, zel::rt::testing::Write([](ZEL_BUF_BinBuffer& out) {
              out << int32_t{0} << int16_t{1} << int16_t{1} << u"Root/Printers" << int16_t{0};
            }));

  ZEL_AdminToolObject* children[] = {new ZEL_AdminToolObject(&group, u"p1"),
                                     new ZEL_AdminToolObject(&group, u"p2"),
                                     new ZEL_AdminToolObject(&group, u"p3")};
  EXPECT_EQ(sal_.WriteGroupToEventBuffer(request.get(), 0, &group, 1), 0);
  ZEL_BUF_EventBuffer expected(81, ZELVersion(1, 0), 0);  // a nonzero flag lists (op 0)
  expected << int32_t{0} << int16_t{1} << int16_t{0} << ZELString(u"Root/Printers") << int16_t{3};
  for (int i : {0, 2, 1}) children[i]->write(expected);  // the chain: first, then newest
  EXPECT_EQ(host_.Delivered()[2].payload,
            Bytes(expected.GetData(), expected.GetData() + expected.GetSize()));
  EXPECT_EQ(Traced(zel::trace::kGroupReplySent).size(), 1u);

  host_.FailNthCreate(1);  // no reply for a group with children: nothing sent, 0
  EXPECT_EQ(sal_.WriteGroupToEventBuffer(request.get(), 0, &group, 0), 0);
  ZEL_AdminToolObject lonely(u"Lonely");
  host_.FailNthCreate(1);
  EXPECT_EQ(sal_.WriteGroupToEventBuffer(request.get(), 0, &lonely, 0), ZEL_E_FAIL);
  EXPECT_EQ(host_.Delivered().size(), 3u);
  host_.FailNthAppend(5);  // a failed append passes to the caller; the reply is released
  EXPECT_THROW(sal_.WriteGroupToEventBuffer(request.get(), 0, &group, 0), ZEL_BUF_AppendException);
  group.deleteChildren();
}

}  // namespace
