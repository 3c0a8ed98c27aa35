// Registry lookups by UID find only entries of their own kind: a UID of a tree object or of an
// icon's name entry is no icon, so the icon operations neither read nor delete it.
#include <gtest/gtest.h>

#include <vector>

#include "directory_test_support.h"
#include "zel/runtime/alloc.h"

namespace {

using CrossContextTest = zel::sal::testing::DirectoryTest;

TEST_F(CrossContextTest, IconOperationsIgnoreUidsOfOtherEntries) {
  ZEL_AdminToolObject object(u"Root/Servers", u"web01");
  object.setTitle(u"kept");
  ASSERT_EQ(sal_.RegisterObject(object, false), 0);
  void* bits = nullptr;
  ASSERT_EQ(ZEL_BUF_Allocate_Debug(640, &bits, "cross_context_test", __LINE__), 0);
  ZEL_AdminToolIcon icon(0x2A, u"Users", 1, 640, static_cast<uint8_t*>(bits));
  ASSERT_EQ(sal_.RegisterIcon(icon), 0);
  ASSERT_EQ(Query("SELECT count(*) FROM entries"), 3);

  const uint64_t tag = 0x0121ull << 32;
  const struct {
    const char* what;
    uint64_t uid;
  } cases[] = {
      {"a tree object", tag | Query("SELECT id FROM entries WHERE class LIKE '%ObjectClass2'")},
      {"an icon's name entry", tag | Query("SELECT id FROM entries WHERE class = ''")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ZEL_AdminToolIcon byUID(c.uid);
    EXPECT_EQ(sal_.GetIconByUID(byUID), ZEL_E_FAIL);
    EXPECT_EQ(byUID.getData(), nullptr);
    ZEL_AdminToolIcon doomed(0x2A, u"Other");
    doomed.setUID(c.uid);
    EXPECT_EQ(sal_.DeleteIcon(doomed), static_cast<int32_t>(0x8006000D));
  }
  EXPECT_EQ(Query("SELECT count(*) FROM entries"), 3);
  ZEL_AdminToolObject read(u"Root/Servers", u"web01");
  ASSERT_EQ(sal_.GetObjectW(read), 0);
  EXPECT_EQ(std::u16string(read.getTitle()), u"kept");
}

}  // namespace
