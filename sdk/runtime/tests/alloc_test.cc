#include "zel/runtime/alloc.h"

#include <gtest/gtest.h>

#include "zel/runtime/codes.h"

namespace {

TEST(DebugAllocatorTest, CountsOutstandingBlocksUnderTheTagTheyWereAllocatedWith) {
  const uint64_t before = zel::rt::OutstandingDebugBlocks();
  void* a = nullptr;
  void* b = nullptr;
  ASSERT_EQ(ZEL_BUF_Allocate_Debug(640, &a, "alloc_test_a", __LINE__), 0);
  ASSERT_EQ(ZEL_BUF_Allocate_Debug(0, &b, "alloc_test_b", __LINE__), 0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u);
  EXPECT_EQ(zel::rt::OutstandingDebugBlocks("alloc_test_a"), 1u);
  EXPECT_EQ(zel::rt::OutstandingDebugBlocks(), before + 2);

  // Released under another source's tag: still counted off the tag it was allocated with.
  ZEL_BUF_Free_Debug(a, "some_other_source", __LINE__);
  EXPECT_EQ(zel::rt::OutstandingDebugBlocks("alloc_test_a"), 0u);
  ZEL_BUF_Free_Debug(b, "alloc_test_b", __LINE__);
  ZEL_BUF_Free_Debug(nullptr, "alloc_test_b", __LINE__);
  EXPECT_EQ(zel::rt::OutstandingDebugBlocks(), before);

  EXPECT_EQ(ZEL_BUF_Allocate_Debug(8, nullptr, "alloc_test_a", __LINE__),
            zel::rt::kInvalidArgument);
}

TEST(AllocationSeamTest, FailsExactlyTheNthCallOrEveryCallFromIt) {
  zel::rt::FailNthAllocation(2);
  void* first = zel::rt::Allocate(8);
  void* second = nullptr;
  EXPECT_EQ(ZEL_BUF_Allocate_Debug(8, &second, "alloc_test", __LINE__), zel::rt::kNoMemory);
  EXPECT_EQ(second, nullptr);
  void* third = zel::rt::Allocate(8);
  EXPECT_NE(first, nullptr);
  EXPECT_NE(third, nullptr);
  zel::rt::Free(first);
  zel::rt::Free(third);

  const zel::rt::AllocationStats before = zel::rt::GetAllocationStats();
  zel::rt::FailAllocationsFrom(2);
  void* ok = zel::rt::Allocate(1);
  EXPECT_NE(ok, nullptr);
  EXPECT_EQ(zel::rt::Allocate(1), nullptr);
  EXPECT_EQ(zel::rt::Allocate(1), nullptr);
  zel::rt::FailAllocationsFrom(0);
  void* again = zel::rt::Allocate(1);
  EXPECT_NE(again, nullptr);
  zel::rt::Free(ok);
  zel::rt::Free(again);

  const zel::rt::AllocationStats after = zel::rt::GetAllocationStats();
  EXPECT_EQ(after.failures - before.failures, 2u);
  EXPECT_EQ(after.allocations - before.allocations, 2u);
  EXPECT_EQ(after.outstanding(), before.outstanding());
}

}  // namespace
