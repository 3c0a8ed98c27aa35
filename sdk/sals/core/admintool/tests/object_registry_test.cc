// Context binding and the object registry on each store the program lists.
#include <gtest/gtest.h>

#include <string>

#include "directory_test_support.h"
#include "zel/runtime/alloc.h"

namespace {

using zel::sal::testing::RegistryTest;
using zel::sal::testing::TraceCapture;

ZEL_AdminToolObject Object(const char16_t* name, uint64_t uid,
                           const char16_t* parent = u"Root/Servers") {
  ZEL_AdminToolObject object(parent, name);
  object.setTitle(u"A title");
  object.setFlags(0x21);
  object.setSSID(7);
  object.setIcon(0x0000012100000003);
  object.setUID(uid);
  return object;
}

class ObjectRegistryTest : public RegistryTest {
 protected:
  std::vector<uint32_t> Capabilities(const char16_t* dn) {
    ZELString group = ZELString(dn).parentDistinguishedName();
    uint32_t count = 0;
    AdminObjectCapability* caps = nullptr;
    EXPECT_EQ(sal_.GetStaticGroupPermissionHelper(group, count, &caps), 0);
    std::vector<uint32_t> values;
    for (uint32_t i = 0; i < count; ++i) {
      if (caps[i].objectUID != 0 && caps[i].privilegeCount != 0) {
        values.assign(caps[i].privileges, caps[i].privileges + caps[i].privilegeCount);
      }
    }
    delete[] caps;
    return values;
  }
};
INSTANTIATE_TEST_SUITE_P(Stores, ObjectRegistryTest,
                         ::testing::ValuesIn(zel::sal::testing::StoresUnderTest()),
                         zel::sal::testing::StoreName);

TEST_P(ObjectRegistryTest, TheFirstOperationCreatesAndBindsTheContextsOnce) {
  ZEL_AdminToolObject object = Object(u"web01", 11);
  ASSERT_EQ(sal_.RegisterObject(object, false), 0);
  EXPECT_EQ(ZEL_AdminToolSAL::s_adminToolContext,
            ZELString(u"ServerNeighborhoods/North/AdminTool"));
  EXPECT_NE(ZEL_AdminToolSAL::s_cid, 0u);
  EXPECT_NE(ZEL_AdminToolSAL::s_objCid, 0u);
  ASSERT_EQ(Traced(zel::trace::kContextCreating).size(), 2u);  // the root, then the objects
  if (OnFile()) {
    EXPECT_EQ(Query("SELECT count(*) FROM contexts WHERE dn = "
                    "'ServerNeighborhoods/North/AdminTool/Objects'"),
              1);
    // Object flags are kept as "uint16" (code 11).
    EXPECT_EQ(Query("SELECT type_code FROM attribute_values WHERE attribute = "
                    "'ATTRIBUTE-AdminFlags'"),
              11);
  }

  // Another object of the process finds the contexts bound: nothing is created or traced.
  ZEL_AdminToolSAL other(host_);
  TraceCapture().records.clear();
  ZEL_AdminToolObject second = Object(u"web02", 12);
  ASSERT_EQ(other.RegisterObject(second, false), 0);
  EXPECT_TRUE(TraceCapture().records.empty());
}

TEST_P(ObjectRegistryTest, ContextDnsFollowTheNeighborhoodNameAndTheRootStaysOnceBound) {
  host_.SetNeighborhoodName(ZELString());  // length value 2: the DN is left as it was (empty)
  ZEL_AdminToolObject object = Object(u"web01", 11);
  ASSERT_EQ(sal_.RegisterObject(object, false), 0);
  EXPECT_TRUE(ZEL_AdminToolSAL::s_adminToolContext.isEmpty());
  if (OnFile()) {
    EXPECT_EQ(Query("SELECT count(*) FROM contexts WHERE dn = 'Objects'"), 1);
  }

  // A child bind with the root bound touches neither the root nor its DN.
  ZEL_AdminToolSAL::s_adminToolContext = u"Elsewhere";
  ZEL_AdminToolPlugin plugin;
  plugin.setName(u"Reports");
  ASSERT_EQ(sal_.RegisterPlugin(plugin), 0);
  if (OnFile()) {
    EXPECT_EQ(Query("SELECT count(*) FROM contexts WHERE dn = 'Elsewhere/Plugins'"), 1);
  }
  EXPECT_EQ(ZEL_AdminToolSAL::s_adminToolContext, ZELString(u"Elsewhere"));
}

TEST_P(ObjectRegistryTest, ObjectsAreRegisteredReadAndDeletedWithTheirNotifications) {
  ZEL_AdminToolObject object = Object(u"web \"01\"/a", 11);
  ASSERT_EQ(sal_.RegisterObject(object, false), 0);
  EXPECT_TRUE(host_.Posted().empty());  // no notify, no event
  object.setTitle(u"Renamed");
  ASSERT_EQ(sal_.RegisterObject(object, true), 0);  // exists: rewritten, and announced
  ASSERT_EQ(host_.Posted().size(), 2u);
  EXPECT_EQ(host_.Posted()[0].eventID, 81);

  ZEL_AdminToolObject read(u"Root/Servers", u"web \"01\"/a");
  ASSERT_EQ(sal_.GetObjectW(read), 0);
  EXPECT_EQ(std::u16string(read.getTitle()), u"Renamed");
  EXPECT_EQ(read.getFlags(), 0x21);
  EXPECT_EQ(read.getSSID(), 7);
  EXPECT_EQ(read.getIcon(), 0x0000012100000003u);
  EXPECT_EQ(read.getUID(), 11u);

  ZEL_AdminToolObject longName(u"Root/Servers", std::u16string(5000, u'\u00e9').c_str());
  longName.setUID(12);
  ASSERT_EQ(sal_.RegisterObject(longName, false), 0);
  ZEL_AdminToolObject longBack(u"Root/Servers", std::u16string(5000, u'\u00e9').c_str());
  ASSERT_EQ(sal_.GetObjectW(longBack), 0);
  EXPECT_EQ(longBack.getUID(), 12u);

  ASSERT_EQ(sal_.DeleteObject(read), 0);
  ASSERT_EQ(host_.Posted().size(), 4u);        // DeleteNode always announces
  EXPECT_EQ(host_.Posted()[2].payload[6], 2);  // op delete
  EXPECT_EQ(sal_.DeleteObject(read), static_cast<int32_t>(0x8006000D));
  EXPECT_EQ(Traced(zel::trace::kObjectDeleteFailed).size(), 1u);
  EXPECT_EQ(host_.Posted().size(), 4u);
  EXPECT_EQ(sal_.GetObjectW(read), ZEL_E_FAIL);
  EXPECT_EQ(Traced(zel::trace::kObjectSyncFailed).size(), 1u);
}

TEST_P(ObjectRegistryTest, CapabilityValuesMergeWithThoseAlreadyThere) {
  ZEL_AdminToolObject object = Object(u"web01", 11);
  ASSERT_EQ(sal_.RegisterObject(object, false), 0);
  ZELString dn(object.getDN());
  EXPECT_EQ(sal_.UpdateObject(dn, 0, nullptr), 0);
  uint32_t first[] = {3, 3, 5};
  ASSERT_EQ(sal_.UpdateObject(dn, 3, first), 0);  // none there: all, duplicates included
  EXPECT_EQ(Capabilities(object.getDN()), (std::vector<uint32_t>{3, 3, 5}));
  uint32_t more[] = {5, 8, 8, 3};
  ASSERT_EQ(sal_.UpdateObject(dn, 4, more), 0);  // old ones first, then the new not among them
  EXPECT_EQ(Capabilities(object.getDN()), (std::vector<uint32_t>{3, 3, 5, 8, 8}));

  ASSERT_EQ(sal_.RegisterObject(object, false), 0);  // re-registering keeps them
  EXPECT_EQ(Capabilities(object.getDN()).size(), 5u);

  zel::rt::FailNthAllocation(1);
  uint32_t one[] = {9};
  EXPECT_EQ(sal_.UpdateObject(dn, 1, one), ZEL_E_NO_EVENT);
  EXPECT_EQ(Capabilities(object.getDN()).size(), 5u);  // the attribute is as it was
  ZELString missing(u"Root/Servers/none");
  EXPECT_EQ(sal_.UpdateObject(missing, 1, one), static_cast<int32_t>(0x8006000D));
}

TEST_P(ObjectRegistryTest, GroupsReadTheirDirectChildrenAndCapabilities) {
  ZEL_AdminToolObject group(u"Root", u"Servers");
  EXPECT_EQ(sal_.ReadGroupFromDirectory(&group), 0);  // the context is bound; no entries
  EXPECT_EQ(group.getChild(), nullptr);
  uint32_t count = 99;
  AdminObjectCapability* caps = reinterpret_cast<AdminObjectCapability*>(&host_);
  EXPECT_EQ(sal_.GetStaticGroupPermissionHelper(ZELString(u"Root/Servers"), count, &caps), 0);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(caps, reinterpret_cast<AdminObjectCapability*>(&host_));  // untouched

  for (auto [name, uid] : {std::pair{u"a", 1}, std::pair{u"b", 2}, std::pair{u"c", 3}}) {
    ZEL_AdminToolObject child = Object(name, static_cast<uint64_t>(uid));
    ASSERT_EQ(sal_.RegisterObject(child, false), 0);
  }
  ZEL_AdminToolObject deeper = Object(u"x", 4, u"Root/Servers/a");
  ASSERT_EQ(sal_.RegisterObject(deeper, false), 0);
  ZELString dnOfB(u"Root/Servers/b");
  uint32_t values[] = {7, 8};
  ASSERT_EQ(sal_.UpdateObject(dnOfB, 2, values), 0);

  ASSERT_EQ(sal_.ReadGroupFromDirectory(&group), 0);
  EXPECT_EQ(group.getNumChildren(), 3);
  ZEL_AdminToolObject* child = group.getChild();
  EXPECT_EQ(std::u16string(child->getDN()), u"Root/Servers/a");
  EXPECT_EQ(std::u16string(child->getTitle()), u"A title");
  EXPECT_EQ(child->getUID(), 1u);
  group.deleteChildren();

  ASSERT_EQ(sal_.GetStaticGroupPermissionHelper(ZELString(u"Root/Servers"), count, &caps), 0);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(caps[0].privilegeCount, 0u);  // counted, without privileges
  EXPECT_EQ(caps[1].objectUID, 2u);
  ASSERT_EQ(caps[1].privilegeCount, 2u);
  EXPECT_EQ(caps[1].privileges[1], 8u);
  delete[] caps;
}

}  // namespace
