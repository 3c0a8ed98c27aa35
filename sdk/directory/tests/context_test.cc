#include <gtest/gtest.h>

#include "zel/directory/codes.h"
#include "zel/directory/service.h"
#include "zel/directory/testing/temp_store.h"
#include "zel/runtime/alloc.h"
#include "zel/runtime/testing/child_process.h"
#include "zel/runtime/testing/scripted_host.h"

namespace {

using zel::dir::testing::StoreAt;
using zel::dir::testing::TempStore;
using zel::rt::testing::ChildProcess;

// Another process creates a context in the store at `path`.
const zel::rt::testing::ChildRole kCreateContext("create-context", [](const std::string& path) {
  StoreAt store(path);
  zel::rt::testing::ScriptedHost host;
  host.Plugins().Offer(kZelDirectoryStoreInterface, &store);
  ZEL_PS_LDAPSAL directory(host);
  return static_cast<int>(
      directory.CreateDataContext(ZELString(u"AdminToolIconContext"), ZELString(u"A/Icons")));
});

class ContextTest : public ::testing::Test {
 protected:
  ContextTest() { host_.Plugins().Offer(kZelDirectoryStoreInterface, &store_); }

  TempStore store_;
  zel::rt::testing::ScriptedHost host_;
};

TEST_F(ContextTest, ACreatedContextBindsByNameOrDnAndKeepsItsId) {
  ZEL_PS_LDAPSAL directory(host_);
  uint32_t id = 77;
  EXPECT_EQ(directory.BindLDAP(ZELString(u"&AdminToolContext"), id), zel::dir::kNoSuchContext);
  EXPECT_EQ(id, 77u);
  const ZELString dn(u"ServerNeighborhoods/North/AdminTool");
  ASSERT_EQ(directory.CreateDataContext(ZELString(u"AdminToolContext"), dn), 0);
  ASSERT_EQ(directory.CreateDataContext(ZELString(u"AdminToolObjectContext"),
                                        ZELString(dn).appendDistinguishedName(u"Objects")),
            0);
  uint32_t root = 0, objects = 0, byDn = 0;
  ASSERT_EQ(directory.BindLDAP(ZELString(u"&AdminToolContext"), root), 0);
  ASSERT_EQ(directory.BindLDAP(ZELString(u"&AdminToolObjectContext"), objects), 0);
  ASSERT_EQ(directory.BindLDAP(dn, byDn), 0);
  EXPECT_NE(root, 0u);
  EXPECT_NE(root, objects);
  EXPECT_EQ(byDn, root);

  // Creating again with the same DN is fine (processes race to do it); another DN is not.
  EXPECT_EQ(directory.CreateDataContext(ZELString(u"AdminToolContext"), dn), 0);
  EXPECT_EQ(directory.CreateDataContext(ZELString(u"AdminToolContext"), ZELString(u"Elsewhere")),
            zel::dir::kContextConflict);
  EXPECT_EQ(directory.CreateDataContext(ZELString(u"&Bad"), dn), zel::dir::kInvalidArgument);
  EXPECT_EQ(directory.BindLDAP(ZELString(), root), zel::dir::kInvalidArgument);
}

TEST_F(ContextTest, ContextsPersistAcrossProcesses) {
  ChildProcess child = ChildProcess::StartRole("create-context", store_.StorePath());
  ASSERT_TRUE(child.Started());
  ASSERT_EQ(child.Wait(), 0);

  ZEL_PS_LDAPSAL directory(host_);
  uint32_t id = 0;
  EXPECT_EQ(directory.BindLDAP(ZELString(u"&AdminToolIconContext"), id), 0);
  EXPECT_NE(id, 0u);
}

TEST_F(ContextTest, WithoutAUsableStoreEveryOperationSaysWhy) {
  uint32_t id = 0;
  host_.SetHasPluginApis(false);
  ZEL_PS_LDAPSAL noTable(host_);
  EXPECT_EQ(noTable.BindLDAP(ZELString(u"&X"), id), zel::dir::kNoStore);
  host_.SetHasPluginApis(true);
  host_.Plugins().Withdraw(kZelDirectoryStoreInterface);
  ZEL_PS_LDAPSAL noOffer(host_);
  EXPECT_EQ(noOffer.CreateDataContext(ZELString(u"X"), ZELString(u"X")), zel::dir::kNoStore);

  struct Unwritable final : ZEL_DIR_StoreLocation {
    std::string StorePath() override { return "/nonexistent-folder/zel/directory.db"; }
  } unwritable;
  host_.Plugins().Offer(kZelDirectoryStoreInterface, &unwritable);
  ZEL_PS_LDAPSAL broken(host_);
  EXPECT_EQ(broken.BindLDAP(ZELString(u"&X"), id), zel::dir::kStoreError);
  EXPECT_EQ(host_.Plugins().HeldCount(kZelDirectoryStoreInterface), 0u);  // always given back

  zel::rt::FailNthAllocation(1);
  EXPECT_EQ(new (std::nothrow) ZEL_PS_LDAPSAL(host_), nullptr);
}

}  // namespace
