// The SAL object: construction, what it acquires and releases, its trace records and the slot
// orders of its interfaces.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/runtime/alloc.h"
#include "zel/runtime/testing/vtable_slot.h"

namespace {

using zel::rt::testing::VirtualSlot;
using zel::sal::testing::SalTest;
using zel::sal::testing::TraceCapture;

// Shows the protected state of a sixth-version object.
class InspectableSal6 : public ZEL_AdminToolSAL6 {
 public:
  using ZEL_AdminToolSAL::adminToolSubsystemUID;
  using ZEL_AdminToolSAL::callerSubsystemUID;
  using ZEL_AdminToolSAL::eventDispatcher;
  using ZEL_AdminToolSAL::storeSal;
  using ZEL_AdminToolSAL5::hostPluginApis;
  using ZEL_AdminToolSAL5::localImplementation;
  using ZEL_AdminToolSAL6::ZEL_AdminToolSAL6;
};

using SalObjectTest = SalTest;

TEST_F(SalObjectTest, ConstructionOpensTheTraceDeviceOnceAndWritesEachVersionsEntryRecord) {
  host_.SetHasPluginApis(false);  // no local implementation to look for
  {
    InspectableSal6 sal(host_);
    ZEL_AdminToolSAL2 second(host_);
    EXPECT_EQ(sal.callerSubsystemUID, 5);  // the host's UID kept as 16 bits
    EXPECT_EQ(sal.adminToolSubsystemUID, 22);
    EXPECT_NE(sal.storeSal, nullptr);
    EXPECT_EQ(sal.eventDispatcher, static_cast<ZEL_PIF_EventDispatcher*>(&host_));
  }
  EXPECT_EQ(TraceCapture().registrations, 1);
  EXPECT_EQ(std::u16string(TraceCapture().registered.componentName), u"ZEL_Sals_AdminTool");
  EXPECT_EQ(TraceCapture().registered.controlGuid, &zel::trace::kControlGuid);

  // Version 6 writes the base's, the fifth's and its own entry record; version 2 the base's.
  ASSERT_EQ(TraceCapture().records.size(), 4u);
  EXPECT_EQ(Traced(zel::trace::kSalConstructed).size(), 2u);
  EXPECT_EQ(Traced(zel::trace::kSal6Constructed).size(), 1u);
  EXPECT_EQ(TraceCapture().records[0].header.size, 64);  // no arguments

  // Entry records need level 5: at level 4 construction stays silent.
  TraceCapture().records.clear();
  TraceCapture().control.level = 4;
  ZEL_AdminToolSAL quiet(host_);
  EXPECT_TRUE(TraceCapture().records.empty());
}

TEST_F(SalObjectTest, ConstructionGoesOnWithoutStoreAccessOrEventDispatcher) {
  zel::rt::FailNthAllocation(1);  // the store-access object is the first thing allocated
  InspectableSal6 noStore(host_);
  EXPECT_EQ(noStore.storeSal, nullptr);
  EXPECT_NE(noStore.eventDispatcher, nullptr);

  ZelPluginApis.Withdraw(kZelEventDispatcherInterface);
  InspectableSal6 noDispatcher(host_);
  EXPECT_EQ(noDispatcher.eventDispatcher, nullptr);
}

TEST_F(SalObjectTest, TheFifthVersionTakesTheHostsLocalImplementationWhenOffered) {
  zel::sal::testing::RecordingLocal local;
  host_.Plugins().Offer(2300, static_cast<AdminToolInterface4*>(&local));
  {
    InspectableSal6 sal(host_);
    EXPECT_EQ(sal.localImplementation, &local);
    EXPECT_EQ(sal.hostPluginApis, host_.GetPluginApis());
    EXPECT_EQ(host_.Plugins().HeldCount(2300), 1u);
  }
  EXPECT_EQ(host_.Plugins().ReleaseCount(2300), 1u);

  // A table without interface 2300: an information record with the table's answer.
  host_.Plugins().Withdraw(2300);
  {
    InspectableSal6 sal(host_);
    EXPECT_EQ(sal.localImplementation, nullptr);
    const auto records = Traced(zel::trace::kSal5NoLocalImplementation);
    ASSERT_EQ(records.size(), 1u);
    ASSERT_EQ(records[0].arguments.size(), 1u);
    EXPECT_EQ(records[0].arguments[0],
              (std::vector<uint8_t>{0x06, 0x00, 0x01, 0x80}));  // kNoSuchInterface
  }

  // No table at all: nothing to acquire and nothing to trace.
  TraceCapture().records.clear();
  host_.SetHasPluginApis(false);
  InspectableSal6 sal(host_);
  EXPECT_EQ(sal.hostPluginApis, nullptr);
  EXPECT_EQ(sal.localImplementation, nullptr);
  EXPECT_TRUE(Traced(zel::trace::kSal5NoLocalImplementation).empty());
}

TEST_F(SalObjectTest, DeletingTheSixthVersionThroughTheBaseReleasesWhatItAcquired) {
  zel::sal::testing::RecordingLocal local;
  host_.Plugins().Offer(2300, static_cast<AdminToolInterface4*>(&local));
  const uint32_t dispatcherReleases = ZelPluginApis.ReleaseCount(kZelEventDispatcherInterface);
  const uint64_t held = zel::rt::GetAllocationStats().outstanding();
  ZEL_AdminToolSAL* sal = new ZEL_AdminToolSAL6(host_);
  delete sal;
  EXPECT_EQ(host_.Plugins().ReleaseCount(2300), 1u);
  EXPECT_EQ(ZelPluginApis.ReleaseCount(kZelEventDispatcherInterface), dispatcherReleases + 1);
  EXPECT_EQ(zel::rt::GetAllocationStats().outstanding(), held);  // the store-access object too
}

TEST(SlotOrderTest, EveryInterfaceDeclaresItsOperationsInTheirFixedOrder) {
  if (!zel::rt::testing::kCanReadVirtualSlots) GTEST_SKIP() << "slot layout unreadable here";
  EXPECT_EQ(VirtualSlot(&ZEL_AdminToolInterface2::IsUserKeldraAdmin), 0);

  const std::vector<std::ptrdiff_t> second = {
      VirtualSlot(&AdminToolInterface2::Logon2),
      VirtualSlot(&AdminToolInterface2::AddUsers2),
      VirtualSlot(&AdminToolInterface2::SetPrivilege2),
      VirtualSlot(&AdminToolInterface2::GetPrivilege2),
      VirtualSlot(&AdminToolInterface2::GetStaticGroupPermission),
      VirtualSlot(&AdminToolInterface2::EnumerateKeldraAdmins)};
  const std::vector<std::ptrdiff_t> third = {VirtualSlot(&AdminToolInterface3::AddDefaultUser2),
                                             VirtualSlot(&AdminToolInterface3::DeleteUser)};
  const std::vector<std::ptrdiff_t> fourth = {
      VirtualSlot(&AdminToolInterface4::GetVoAdminAccountsForTicket),
      VirtualSlot(&AdminToolInterface4::AddUsers3),
      VirtualSlot(&AdminToolInterface4::GetPrivilege3),
      VirtualSlot(&AdminToolInterface4::SetPrivilege3),
      VirtualSlot(&AdminToolInterface4::EnumerateKeldraAdmins2),
      VirtualSlot(&AdminToolInterface4::GetPermissionsForCurrentUser),
      VirtualSlot(&AdminToolInterface4::DeleteCapabilityObjectsInDB),
      VirtualSlot(&AdminToolInterface4::GetAdminNameByUID),
      VirtualSlot(&AdminToolInterface4::GetAdminUIDByName),
      VirtualSlot(&AdminToolInterface4::GetPrivilegesByBlob)};
  for (const auto* slots : {&second, &third, &fourth}) {
    for (std::size_t i = 0; i < slots->size(); ++i) EXPECT_EQ((*slots)[i], std::ptrdiff_t(i));
  }
  EXPECT_EQ(VirtualSlot(&NDSDrvInterface1::NDSDrvOperation3), 2);
  EXPECT_EQ(VirtualSlot(&WinDrvInterface1::WinDrvOperation1), 0);
  // The SAL base keeps the runtime's order: destructor, then its five operations.
  EXPECT_EQ(VirtualSlot(&ZEL_AdminToolSAL6::CreateSALEvent), 6);
}

}  // namespace
