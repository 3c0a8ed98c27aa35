// The shared library as a caller sees it: the SAL classes are exported and work across the
// library boundary; the library's inner functions are not exported.
#include <gtest/gtest.h>

#include "zel/admintool/result_codes.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/runtime/farm.h"
#include "zel/runtime/reader.h"
#include "zel/runtime/testing/portable.h"
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
  // The same linker names on every platform this builds for (Itanium C++ ABI).
  const struct {
    const char* symbol;
    bool exported;
  } kCases[] = {
      {"ZEL_CRC16", true},  // C linkage: unmangled
      {"_ZN17ZEL_AdminToolSAL6C1ER18ZEL_PIF_ISubSystem", true},
      {"_ZN16ZEL_AdminToolSAL18s_adminToolContextE", true},
      {"_ZN3zel5trace18InstallTraceDeviceEPNS0_11TraceDeviceE", true},
      // The event describer is exported for tools; the exchange is not.
      {"_ZN3zel9admintool13DescribeEventEtNS_8protocol9DirectionEPKhj", true},
      {"_ZN3zel9admintool12BlankSecretsEtNS_8protocol9DirectionEPhj", true},
      {"_ZN3zel5trace8OpenOnceEv", false},
      {"_ZN3zel3sal18TraceWriteFailureERKNS0_7RequestEi", false},
  };
  for (const auto& c : kCases) {
    bool loaded = false;
    EXPECT_EQ(zel::rt::testing::ExportsSymbol("ZelAdminSal", c.symbol, &loaded), c.exported)
        << c.symbol;
    ASSERT_TRUE(loaded) << "the library is not loaded under its name";
  }
}

}  // namespace
