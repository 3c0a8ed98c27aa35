// The icon and plug-in registry on each store the program lists.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "admintool/types/crc16_tables.h"
#include "directory_test_support.h"
#include "zel/runtime/alloc.h"

namespace {

using zel::sal::testing::RegistryTest;

std::vector<uint8_t> Pattern(uint8_t seed) {
  std::vector<uint8_t> bits(640);
  for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<uint8_t>(i * seed + 1);
  return bits;
}

// An icon holding a debug-allocated copy of `bits`.
ZEL_AdminToolIcon IconOf(uint16_t ssid, const char16_t* name, const std::vector<uint8_t>& bits) {
  void* block = nullptr;
  EXPECT_EQ(ZEL_BUF_Allocate_Debug(640, &block, "icon_registry_test", __LINE__), 0);
  std::memcpy(block, bits.data(), 640);
  return ZEL_AdminToolIcon(ssid, name, 1, 640, static_cast<uint8_t*>(block));
}

// Other bits with the same checksum: the checksum is linear, so adding a pattern whose
// checksum is 0 keeps it.
std::vector<uint8_t> SameCrcOtherBits(const std::vector<uint8_t>& bits) {
  std::vector<uint8_t> delta(640, 0);
  delta[0] = 1;
  const uint16_t target = zel::crc16::ChecksumBytewise(delta.data(), 640);
  for (uint32_t v = 1; v <= 0xFFFF; ++v) {
    std::vector<uint8_t> probe(640, 0);
    probe[300] = static_cast<uint8_t>(v >> 8);
    probe[301] = static_cast<uint8_t>(v);
    if (zel::crc16::ChecksumBytewise(probe.data(), 640) == target) {
      std::vector<uint8_t> other = bits;
      other[0] ^= 1;
      other[300] ^= probe[300];
      other[301] ^= probe[301];
      return other;
    }
  }
  ADD_FAILURE() << "no pattern found";
  return bits;
}

using IconRegistryTest = RegistryTest;
INSTANTIATE_TEST_SUITE_P(Stores, IconRegistryTest,
                         ::testing::ValuesIn(zel::sal::testing::StoresUnderTest()),
                         zel::sal::testing::StoreName);

TEST_P(IconRegistryTest, BitsAreStoredOnceAndEveryNameRefersToThem) {
  const std::vector<uint8_t> bits = Pattern(3);
  ZEL_AdminToolIcon users = IconOf(0x2A, u"Users", bits);
  ASSERT_EQ(sal_.RegisterIcon(users), 0);
  ZEL_AdminToolIcon admins = IconOf(0x2A, u"Admins", bits);
  ASSERT_EQ(sal_.RegisterIcon(admins), 0);
  EXPECT_EQ(admins.getUID(), users.getUID());
  ZEL_AdminToolIcon again = IconOf(0x2A, u"Users", bits);
  ASSERT_EQ(sal_.RegisterIcon(again), 0);  // the name entry exists: still a success
  EXPECT_EQ(again.getUID(), users.getUID());
  if (OnFile()) {
    EXPECT_EQ(Query("SELECT count(*) FROM entries WHERE class = 'CLASS-AdminToolIconClass'"), 1);
    EXPECT_EQ(Query("SELECT count(*) FROM entries WHERE class = '' AND dn LIKE '%/002aUsers'"), 1);
    EXPECT_EQ(Query("SELECT count(*) FROM entries WHERE class = ''"), 2);
    // Icon flags are kept as "int16" (code 14).
    EXPECT_EQ(Query("SELECT DISTINCT type_code FROM attribute_values v JOIN entries e ON "
                    "e.id = v.entry WHERE e.class = 'CLASS-AdminToolIconClass' AND "
                    "v.attribute = 'ATTRIBUTE-AdminFlags'"),
              14);
  }

  const std::vector<uint8_t> twin = SameCrcOtherBits(bits);
  ASSERT_NE(twin, bits);
  ZEL_AdminToolIcon lookalike = IconOf(0x2A, u"Lookalike", twin);
  ASSERT_EQ(lookalike.getCRC(), users.getCRC());
  ASSERT_EQ(sal_.RegisterIcon(lookalike), 0);
  EXPECT_NE(lookalike.getUID(), users.getUID());  // told apart by the bits themselves
  if (OnFile()) {
    EXPECT_EQ(Query("SELECT count(*) FROM entries WHERE class = 'CLASS-AdminToolIconClass'"), 2);
  }
}

TEST_P(IconRegistryTest, IconsAreFoundByUidThenByTheNameThatGave) {
  const std::vector<uint8_t> bits = Pattern(5);
  ZEL_AdminToolIcon stored = IconOf(0x0007, u"Printer", bits);
  ASSERT_EQ(sal_.RegisterIcon(stored), 0);
  EXPECT_EQ((stored.getUID() >> 32) & 0xFFFF, 0x0121u);

  // The caller's UID carries the SSID in bits 32-47; the directory is asked with 0x0121 there.
  ZEL_AdminToolIcon byUID((stored.getUID() & 0xFFFF0000FFFFFFFFull) | (0x0007ull << 32));
  ASSERT_EQ(sal_.GetIconByUID(byUID), 0);
  EXPECT_EQ(byUID.getSSID(), 7);
  EXPECT_TRUE(byUID.matches(bits.data(), 640));
  EXPECT_EQ(byUID.getFlags(), 1);

  ZEL_AdminToolIcon byName(0x0007, byUID.getName());  // the name GetIconByUID gave: its DN
  ASSERT_EQ(sal_.GetIconByName(byName), 0);
  EXPECT_TRUE(byName.matches(bits.data(), 640));
  EXPECT_EQ(byName.getUID(), (stored.getUID() & 0xFFFF0000FFFFFFFFull) | (0x0007ull << 32));

  ZEL_AdminToolIcon missing(0x00070121FFFFFFF0ull);
  EXPECT_EQ(sal_.GetIconByUID(missing), ZEL_E_FAIL);
  EXPECT_EQ(missing.getData(), nullptr);
  EXPECT_EQ(missing.getFlags(), 255);
  EXPECT_EQ(std::u16string(missing.getName()), u"");
  ZEL_AdminToolIcon unknown(1, u"@nothing");
  unknown.setUID(5);
  EXPECT_EQ(sal_.GetIconByName(unknown), ZEL_E_FAIL);
  EXPECT_EQ(unknown.getUID(), 0u);

  zel::rt::FailNthAllocation(2);  // the entry's own copy works; the icon's copy has no storage
  ZEL_AdminToolIcon starved(0x0007, byUID.getName());
  EXPECT_EQ(sal_.GetIconByName(starved), zel::rt::kNoMemory);
  EXPECT_EQ(Traced(zel::trace::kIconStorageFailed).size(), 1u);
}

TEST_P(IconRegistryTest, DeletingRemovesTheNameThenTheIconAndReportsAMissingIcon) {
  ZEL_AdminToolIcon icon = IconOf(0x2A, u"Users", Pattern(7));
  ASSERT_EQ(sal_.RegisterIcon(icon), 0);
  ASSERT_EQ(sal_.DeleteIcon(icon), 0);
  if (OnFile()) {
    EXPECT_EQ(Query("SELECT count(*) FROM entries"), 0);
  }
  EXPECT_EQ(sal_.DeleteIcon(icon), static_cast<int32_t>(0x8006000D));
  EXPECT_EQ(Traced(zel::trace::kIconEntryMissing).size(), 1u);
  EXPECT_EQ(Traced(zel::trace::kIconNameEntryDeleteFailed).size(), 1u);
}

TEST_P(IconRegistryTest, PluginsAreRegisteredReadAndNeverDeleted) {
  ZEL_AdminToolPlugin plugin;
  plugin.setName(u"Reports/\"daily\"");
  ASSERT_EQ(sal_.RegisterPlugin(plugin), 0);
  ASSERT_EQ(sal_.RegisterPlugin(plugin), 0);  // exists: rewritten
  ZEL_AdminToolPlugin read;
  read.setName(u"Reports/\"daily\"");
  ASSERT_EQ(sal_.GetPlugin(read), 0);
  EXPECT_EQ(std::u16string(read.getName()), u"Reports/\"daily\"");
  EXPECT_EQ(sal_.DeletePlugin(read), 0);
  EXPECT_EQ(sal_.GetPlugin(read), 0);  // still there
  read.setName(u"Unknown");
  EXPECT_EQ(sal_.GetPlugin(read), ZEL_E_FAIL);
  EXPECT_EQ(Traced(zel::trace::kPluginNotFound).size(), 1u);
}

TEST_P(IconRegistryTest, WithoutAStoreOrItsContextEveryOperationAnswersACode) {
  host_.Plugins().Withdraw(kZelDirectoryStoreInterface);  // the directory cannot open
  ZEL_AdminToolIcon icon = IconOf(1, u"x", Pattern(9));
  EXPECT_EQ(sal_.RegisterIcon(icon), ZEL_E_FAIL);
  EXPECT_EQ(Traced(zel::trace::kIconBindFailed).size(), 1u);
  ZEL_AdminToolObject object(u"o");
  EXPECT_EQ(sal_.RegisterObject(object, true), ZEL_E_FAIL);
  EXPECT_TRUE(host_.Posted().empty());

  zel::rt::FailNthAllocation(1);  // a SAL object without store access
  ZEL_AdminToolSAL noStore(host_);
  EXPECT_EQ(noStore.GetObjectW(object), ZEL_E_NO_EVENT);
  EXPECT_EQ(noStore.DeleteIcon(icon), ZEL_E_NO_EVENT);
  ZEL_AdminToolPlugin plugin;
  EXPECT_EQ(noStore.GetPlugin(plugin), ZEL_E_NO_EVENT);
}

}  // namespace
