// Record arrays made in one file and counted and released in another. This file includes
// <cstddef> before anything else and only makes arrays; allocation_header_other.cc includes
// <string> first and only counts and releases them. Some toolchains give the two files different
// views of the strictest alignment; the array header must not depend on it.
#include <cstddef>
//
#include <gtest/gtest.h>

#include "allocation_header_types.h"
#include "zel/admintool/allocation.h"
#include "zel/runtime/alloc.h"

namespace {

using namespace zel::sal::testing;

template <typename T>
void MakeAndReleaseElsewhere(uint32_t count) {
  const auto before = zel::rt::GetAllocationStats();
  g_alive = 0;
  T* elements = zel::sal::NewArray<T>(count);
  ASSERT_NE(elements, nullptr);
  EXPECT_EQ(g_alive, static_cast<int>(count));
  EXPECT_EQ(CountElsewhere(elements), count) << "alignment " << alignof(T);
  ReleaseElsewhere(elements);
  EXPECT_EQ(g_alive, 0) << "alignment " << alignof(T);
  EXPECT_EQ(zel::rt::GetAllocationStats().outstanding(), before.outstanding());
}

TEST(AllocationHeaderTest, ArraysMadeInOneFileAreCountedAndReleasedInAnother) {
  MakeAndReleaseElsewhere<Counted<1>>(3);
  MakeAndReleaseElsewhere<Counted<4>>(5);
  MakeAndReleaseElsewhere<Counted<8>>(7);
  MakeAndReleaseElsewhere<Counted<8>>(0);
}

}  // namespace
