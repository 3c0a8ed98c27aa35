// The folder helpers of the receiving side.
#include <gtest/gtest.h>

#include "test_support.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/runtime/alloc.h"

namespace {

using zel::rt::testing::Bytes;
using zel::rt::testing::Write;
using zel::sal::testing::SalTest;

class FolderHelpersTest : public SalTest {
 protected:
  static std::unique_ptr<ZEL_BUF_EventBuffer> Event(const Bytes& payload) {
    auto event = std::make_unique<ZEL_BUF_EventBuffer>(200, ZELVersion(1, 0), 0);
    event->AppendData(payload.data(), static_cast<uint32_t>(payload.size()));
    event->SetSrcSubsystemUID(9);
    return event;
  }
  ZEL_AdminToolSAL sal_{host_};
};

TEST_F(FolderHelpersTest, FolderRequestsParseAndShortOnesSaySo) {
  uint64_t uid = 0;
  ZELString name;
  auto create = Event(Write([](ZEL_BUF_BinBuffer& out) { out << uint64_t{12} << u"Reports"; }));
  EXPECT_EQ(sal_.CreateFolderHelper(create.get(), uid, name), 0);
  EXPECT_EQ(uid, 12u);
  EXPECT_EQ(name, ZELString(u"Reports"));
  auto shortRename = Event(Write([](ZEL_BUF_BinBuffer& out) { out << uint64_t{13}; }));
  EXPECT_EQ(sal_.RenameFolderHelper(shortRename.get(), uid, name), ZEL_E_SHORT_REPLY);
  EXPECT_EQ(uid, 13u);  // read before the failure: kept
  EXPECT_EQ(sal_.DeleteFolderHelper(shortRename.get(), uid), 0);
  EXPECT_EQ(sal_.DeleteFolderHelper(Event({1, 2}).get(), uid), ZEL_E_SHORT_REPLY);
}

TEST_F(FolderHelpersTest, MemberListsAreCheckedBeforeTheyAreAllocated) {
  uint32_t count = 0;
  uint64_t* members = nullptr;
  uint64_t first = 0, second = 0;
  auto none = Event(
      Write([](ZEL_BUF_BinBuffer& out) { out << uint32_t{0} << uint64_t{5} << uint64_t{6}; }));
  EXPECT_EQ(sal_.MoveFolderMembersHelper(none.get(), count, members, first, second), 0);
  EXPECT_NE(members, nullptr);  // an array of no elements
  EXPECT_EQ(second, 6u);
  EXPECT_EQ(sal_.FreeMemberUIDListHelper(members), 0);
  EXPECT_EQ(sal_.FreeMemberUIDListHelper(nullptr), 0);

  const Bytes valid = Write([](ZEL_BUF_BinBuffer& out) {
    out << uint32_t{2} << uint64_t{1} << uint64_t{2} << uint64_t{5} << uint64_t{6};
  });
  for (std::size_t cut = 0; cut < valid.size(); ++cut) {
    auto truncated = Event(Bytes(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(cut)));
    EXPECT_EQ(sal_.MoveFolderMembersHelper(truncated.get(), count, members, first, second),
              ZEL_E_SHORT_REPLY);
    EXPECT_EQ(members, nullptr);
  }
  auto hostile = Event(Write([](ZEL_BUF_BinBuffer& out) { out << uint32_t{0xFFFFFFFF}; }));
  const uint64_t allocations = zel::rt::GetAllocationStats().allocations;
  EXPECT_EQ(sal_.MoveFolderMembersHelper(hostile.get(), count, members, first, second),
            ZEL_E_SHORT_REPLY);
  EXPECT_EQ(zel::rt::GetAllocationStats().allocations, allocations);
  auto full = Event(valid);
  zel::rt::FailNthAllocation(1);
  EXPECT_EQ(sal_.MoveFolderMembersHelper(full.get(), count, members, first, second),
            ZEL_E_NO_EVENT);
  EXPECT_EQ(members, nullptr);
}

TEST_F(FolderHelpersTest, RepliesCarryTheUidOnlyWhenThereIsOne) {
  auto request = Event({});
  EXPECT_EQ(sal_.FolderOperationReplyHelper(request.get(), 201, -7, 0), 0);
  ASSERT_EQ(host_.Delivered().size(), 1u);
  EXPECT_EQ(host_.Delivered()[0].eventID, 201);
  EXPECT_EQ(host_.Delivered()[0].sizeHint, 4u);
  EXPECT_EQ(host_.Delivered()[0].srcSubsystemUID, 5);  // the caller's subsystem
  EXPECT_EQ(host_.Delivered()[0].destSubsystemUID, 9);
  EXPECT_EQ(host_.Delivered()[0].payload, (Bytes{0xF9, 0xFF, 0xFF, 0xFF}));
  host_.SetDeliverResult(3);
  EXPECT_EQ(sal_.FolderOperationReplyHelper(request.get(), 201, 0, 0x11), 3);
  EXPECT_EQ(host_.Delivered()[1].sizeHint, 12u);
  EXPECT_EQ(host_.Delivered()[1].payload.size(), 12u);
  host_.FailNthCreate(1);
  EXPECT_EQ(sal_.FolderOperationReplyHelper(request.get(), 201, 0, 0), zel::rt::kNoMemory);
  host_.FailNthAppend(2);
  EXPECT_EQ(sal_.FolderOperationReplyHelper(request.get(), 201, 0, 1), ZEL_E_WRITE_FAILED);
  EXPECT_EQ(host_.Delivered().size(), 2u);
}

}  // namespace
