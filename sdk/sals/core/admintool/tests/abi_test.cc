// The shared library as a caller sees it: the SAL classes are exported and work across the
// library boundary; the library's inner functions are not exported.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "zel/admintool/result_codes.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/runtime/farm.h"
#include "zel/runtime/reader.h"
#include "zel/usersal/account_blob.h"

namespace {

TEST(AbiTest, ASixthVersionObjectAnswersThroughItsInterfacesAcrossTheLibraryBoundary) {
  zel::rt::InProcessFarm farm;
  zel::rt::FarmSubsystem& console = farm.AddSubsystem(5);
  console.SetHasPluginApis(false);
  // An AdminTool subsystem that knows one administrator.
  farm.AddSubsystem(22).SetRequestHandler(
      [](const ZEL_BUF_EventBuffer& request, ZEL_BUF_EventBuffer** reply) {
        ZEL_BUF_BufferReader reader(const_cast<ZEL_BUF_EventBuffer*>(&request), 0);
        UM_AccountIdentity account;
        if (UM_ReadAcctIDBlob(reader, &account) != 0) return int32_t{-1};
        const uint32_t isAdmin = account.accountName == ZELString(u"root") ? 1 : 0;
        request.CreateReplyEvent(reply, 48, ZELVersion(1, 0), 22, 8);
        **reply << int32_t{0} << isAdmin;
        return int32_t{0};
      });

  ZEL_AdminToolSAL* sal = new ZEL_AdminToolSAL6(console);
  ZEL_AdminToolInterface2* first = dynamic_cast<ZEL_AdminToolSAL6*>(sal);
  UM_AcctIDBlobWriter root(UM_AccountIdentity{ZELString(u"NT"), {}, ZELString(u"root"), {}});
  UM_AcctIDBlobWriter guest(UM_AccountIdentity{ZELString(u"NT"), {}, ZELString(u"guest"), {}});
  uint32_t answer = 7;
  EXPECT_EQ(first->IsUserKeldraAdmin(root, &answer), 0);
  EXPECT_EQ(answer, 1u);
  EXPECT_EQ(first->IsUserKeldraAdmin(guest, &answer), 0);
  EXPECT_EQ(answer, 0u);
  delete sal;
}

TEST(AbiTest, OnlyTheApiIsExported) {
  void* library = dlopen("libZelAdminSal.so", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(library, nullptr) << dlerror();
  EXPECT_NE(dlsym(library, "_ZN17ZEL_AdminToolSAL6C1ER18ZEL_PIF_ISubSystem"), nullptr);
  EXPECT_NE(dlsym(library, "_ZN16ZEL_AdminToolSAL18s_adminToolContextE"), nullptr);
  // The event describer is exported for tools; the exchange is not.
  EXPECT_NE(dlsym(library, "_ZN3zel9admintool13DescribeEventEtNS_8protocol9DirectionEPKhj"),
            nullptr);
  EXPECT_EQ(dlsym(library, "_ZN3zel5trace8OpenOnceEv"), nullptr);
  EXPECT_EQ(dlsym(library, "_ZN3zel3sal18TraceWriteFailureERKNS0_7RequestEi"), nullptr);
  dlclose(library);
}

}  // namespace
