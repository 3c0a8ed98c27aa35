// The owning array and the console tree node.
#include <gtest/gtest.h>

#include <vector>

#include "zel/admintool/zel_admintoolobject.h"
#include "zel/admintool/zel_simplearray.h"
#include "zel/runtime/alloc.h"
#include "zel/runtime/testing/scripted_host.h"

namespace {

using zel::rt::testing::Bytes;

std::vector<uint64_t> Values(ZEL_SimpleArray<uint64_t>& array) {
  std::vector<uint64_t> out;
  for (uint32_t i = 0; i < array.Count(); ++i) out.push_back(array[i]);
  return out;
}

TEST(SimpleArrayTest, ResizesExactlyKeepsLeadingElementsAndFailsEmpty) {
  ZEL_SimpleArray<uint64_t> array;
  EXPECT_EQ(array.GetDataSize(), 4u);
  EXPECT_THROW(array[0], ZEL_OutOfBoundsException);
  EXPECT_EQ(array.ChangeSize(0), 0u);
  ASSERT_EQ(array.ChangeSize(5), 5u);
  for (uint32_t i = 0; i < 5; ++i) array[i] = 10 + i;
  EXPECT_EQ(array.ChangeSize(2), 2u);
  EXPECT_EQ(array.ChangeSize(5), 5u);
  EXPECT_EQ(array[1], 11u);
  array[2] = 12;  // grown elements are not initialised
  EXPECT_THROW(array[5], ZEL_OutOfBoundsException);
  array[4] = 99;
  EXPECT_EQ(array[4], 99u);
  ASSERT_EQ(array.ChangeSize(3), 3u);
  EXPECT_EQ(array.GetDataSize(), 28u);

  ZEL_SimpleArray<uint64_t> copy(array);
  copy[0] = 7;
  EXPECT_EQ(array[0], 10u);  // the copy has its own storage
  copy = copy;
  EXPECT_EQ(Values(copy), (std::vector<uint64_t>{7, 11, 12}));
  copy = ZEL_SimpleArray<uint64_t>();
  EXPECT_EQ(copy.Count(), 0u);

  // Without storage: a resize leaves the array empty; an assignment empties and throws.
  zel::rt::FailNthAllocation(1);
  EXPECT_EQ(array.ChangeSize(4), 0u);
  EXPECT_EQ(array.Count(), 0u);
  EXPECT_THROW(array[0], ZEL_OutOfBoundsException);
  copy.ChangeSize(2);
  ZEL_SimpleArray<uint64_t> target;
  target.ChangeSize(1);
  zel::rt::FailNthAllocation(1);
  EXPECT_THROW(target = copy, bad_alloc);
  EXPECT_EQ(target.Count(), 0u);
  // A size whose bytes do not fit in 32 bits fails rather than wraps.
  EXPECT_EQ(array.ChangeSize(0x20000001), 0u);
}

TEST(NodeTest, NamesTitlesAndDistinguishedNames) {
  ZEL_AdminToolObject under(u"Root/Farm", u"Servers");
  EXPECT_EQ(std::u16string(under.getDN()), u"Root/Farm/Servers");
  EXPECT_EQ(std::u16string(under.getTitle()), u"Servers");
  ZEL_AdminToolObject top(u"Servers");
  EXPECT_EQ(std::u16string(top.getDN()), u"Servers");
  EXPECT_EQ(top.getUID(), ZEL_AdminToolObject::kNoUID);
  EXPECT_EQ(top.getUIDCount(), 0u);

  ZEL_AdminToolObject child(&under, u"a/b");
  EXPECT_EQ(std::u16string(child.getParentDN()), u"Root/Farm/Servers");
  EXPECT_EQ(std::u16string(child.getDN()), u"Root/Farm/Servers/a\\/b");
  child.setParentDN(u"Elsewhere");  // the DN follows only a new name
  EXPECT_EQ(std::u16string(child.getDN()), u"Root/Farm/Servers/a\\/b");
  child.setName(u"c");
  EXPECT_EQ(std::u16string(child.getDN()), u"Elsewhere/c");
  under.nullifyChildren();
}

TEST(NodeTest, TheUidListFollowsSetAddAndRemove) {
  ZEL_AdminToolObject node(u"n");
  auto list = [&] {
    std::vector<uint64_t> out;
    for (uint32_t i = 0; i < node.getUIDCount(); ++i) out.push_back(node.getUIDAt(i));
    return out;
  };
  node.setUID(5);
  EXPECT_EQ(list(), (std::vector<uint64_t>{5}));
  node.setUID(7);
  EXPECT_EQ(list(), (std::vector<uint64_t>{7}));
  const uint64_t more[] = {7, 9, 9, 11};
  node.addUIDs(more, 4);
  EXPECT_EQ(list(), (std::vector<uint64_t>{7, 9, 11}));
  node.setUID(9);
  EXPECT_EQ(list(), (std::vector<uint64_t>{9, 11}));
  EXPECT_EQ(node.getUID(), 9u);
  EXPECT_EQ(node.removeUID(9), static_cast<int32_t>(0x80000001));
  EXPECT_EQ(node.removeUID(13), 0);
  EXPECT_EQ(node.removeUID(11), 0);
  EXPECT_EQ(list(), (std::vector<uint64_t>{9}));

  // Without storage for a longer list the node keeps its UID and list.
  zel::rt::FailNthAllocation(1);
  node.setUID(21);
  EXPECT_EQ(node.getUID(), 9u);
  EXPECT_EQ(list(), (std::vector<uint64_t>{9}));
}

TEST(NodeTest, ChildrenChainFirstThenNewestAndCopiesShareLinksOnly) {
  ZEL_AdminToolObject* root = ZEL_AdminToolObject::getRootNode();
  ASSERT_NE(root, nullptr);
  for (const char16_t* name : {u"P", u"Q", u"R"}) new ZEL_AdminToolObject(root, name);
  auto* duplicate = new ZEL_AdminToolObject(u"Q");
  root->addChild(duplicate);  // a child named Q is there already
  std::u16string chain;
  for (ZEL_AdminToolObject* at = root->getChild(); at != nullptr; at = at->getSibling()) {
    chain += at->getName();
  }
  EXPECT_EQ(chain, u"PRQ");
  EXPECT_EQ(root->getNumChildren(), 3);
  EXPECT_TRUE(root->findChild(duplicate));
  delete duplicate;

  {
    ZEL_AdminToolObject copy(*root);
    EXPECT_EQ(copy.getChild(), root->getChild());
  }  // destroying the copy frees nothing of the tree
  EXPECT_EQ(std::u16string(root->getChild()->getName()), u"P");
  root->deleteChildren();  // the sanitizer build checks that all three are freed
  EXPECT_EQ(root->getChild(), nullptr);
  delete root;

  zel::rt::FailNthAllocation(1);
  EXPECT_EQ(ZEL_AdminToolObject::getRootNode(), nullptr);
}

TEST(NodeTest, WriteHasNineFieldsAndReadTakesTheLeadingSix) {
  ZEL_AdminToolObject node(u"Root", u"N");
  node.setTitle(u"T");
  node.setFlags(0x20);
  node.setSSID(0x0102);
  node.setIcon(3);
  node.setUID(4);
  const uint64_t other = 5;
  node.addUIDs(&other, 1);
  node.setAccessPriv(0xA1B2C3D4);
  ZEL_BUF_EventBuffer event(81, ZELVersion(1, 0), 0);
  EXPECT_EQ(node.write(event), 0);
  const Bytes expected = zel::rt::testing::Write([](ZEL_BUF_BinBuffer& out) {
    out << ZELString(u"N") << ZELString(u"T") << int16_t{0x20} << uint16_t{0x0102} << uint64_t{3}
        << uint64_t{4} << uint32_t{2} << uint64_t{4} << uint64_t{5} << uint32_t{0xA1B2C3D4};
  });
  EXPECT_EQ(Bytes(event.GetData(), event.GetData() + event.GetSize()), expected);
  EXPECT_EQ(node.objectSize(), static_cast<int32_t>(expected.size()));
  node.setFlags(0);
  EXPECT_EQ(node.objectSize(), static_cast<int32_t>(expected.size()) - 4);

  ZEL_AdminToolObject back(u"Parent", nullptr);
  ZEL_BUF_BufferReader reader(&event, 0);
  EXPECT_EQ(back.read(reader), 0);
  EXPECT_EQ(std::u16string(back.getDN()), u"Parent/N");
  EXPECT_EQ(back.getSSID(), 0x0102);
  EXPECT_EQ(back.getUID(), 4u);
  EXPECT_EQ(back.getUIDCount(), 1u);
  EXPECT_EQ(reader.GetRemaining(), 4u + 16u + 4u);  // count, list and privilege left unread

  // Every truncation of the leading six fields reports 0x80000001.
  const std::size_t leading = event.GetSize() - 24;
  for (std::size_t cut = 0; cut < leading; ++cut) {
    ZEL_BUF_BufferReader shortReader(event.GetData(), static_cast<uint32_t>(cut));
    ZEL_AdminToolObject target(u"x");
    EXPECT_EQ(target.read(shortReader), static_cast<int32_t>(0x80000001)) << cut;
  }
}

}  // namespace
