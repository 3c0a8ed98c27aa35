// The persistent-store access object keeps its operations in their fixed slot order.
#include <gtest/gtest.h>

#include <vector>

#include "zel/directory/service.h"
#include "zel/runtime/testing/vtable_slot.h"

namespace {

using zel::rt::testing::VirtualSlot;
using S = ZEL_PS_LDAPSAL;
using Values = S::Values;
using zel::dir::StoredEntry;
using zel::dir::StoredValue;

TEST(DirectorySlotOrderTest, TheAccessObjectDeclaresItsOperationsInTheirFixedOrder) {
  if (!zel::rt::testing::kCanReadVirtualSlots) GTEST_SKIP() << "slot layout unreadable here";
  // The UID overload of each pair, then the DN overload.
  const std::vector<std::ptrdiff_t> slots = {
      VirtualSlot(&S::InstallLDAP),
      VirtualSlot(&S::BindLDAP),
      VirtualSlot(&S::RegObjectClass),
      VirtualSlot(&S::AddEntry),
      VirtualSlot(static_cast<int32_t (S::*)(uint64_t, const ZELString&)>(&S::DelEntry)),
      VirtualSlot(
          static_cast<int32_t (S::*)(uint32_t, const ZELString&, const ZELString&)>(&S::DelEntry)),
      VirtualSlot(
          static_cast<int32_t (S::*)(uint64_t, const ZELString&, StoredEntry&)>(&S::ReadEntry)),
      VirtualSlot(
          static_cast<int32_t (S::*)(uint32_t, const ZELString&, const ZELString&, StoredEntry&)>(
              &S::ReadEntry)),
      VirtualSlot(
          static_cast<int32_t (S::*)(uint64_t, const ZELString&, const Values&)>(&S::UpdateEntry)),
      VirtualSlot(
          static_cast<int32_t (S::*)(uint32_t, const ZELString&, const ZELString&, const Values&)>(
              &S::UpdateEntry)),
      VirtualSlot(static_cast<int32_t (S::*)(uint64_t, const ZELString&)>(&S::DoesEntryExist)),
      VirtualSlot(static_cast<int32_t (S::*)(uint32_t, const ZELString&, const ZELString&)>(
          &S::DoesEntryExist)),
      VirtualSlot(
          static_cast<int32_t (S::*)(uint64_t, const ZELString&, const ZELString&, Values&)>(
              &S::ReadAttribute)),
      VirtualSlot(static_cast<int32_t (S::*)(uint32_t, const ZELString&, const ZELString&,
                                             const ZELString&, Values&)>(&S::ReadAttribute)),
      VirtualSlot(
          static_cast<int32_t (S::*)(uint64_t, const ZELString&, const ZELString&, const Values&)>(
              &S::UpdateAttribute)),
      VirtualSlot(
          static_cast<int32_t (S::*)(uint32_t, const ZELString&, const ZELString&, const ZELString&,
                                     const Values&)>(&S::UpdateAttribute)),
      VirtualSlot(static_cast<int32_t (S::*)(uint64_t, const ZELString&, const StoredValue&)>(
          &S::AddAttributeValue)),
      VirtualSlot(static_cast<int32_t (S::*)(uint32_t, const ZELString&, const ZELString&,
                                             const StoredValue&)>(&S::AddAttributeValue)),
      VirtualSlot(static_cast<int32_t (S::*)(uint64_t, const ZELString&, const StoredValue&)>(
          &S::DelAttributeValue)),
      VirtualSlot(static_cast<int32_t (S::*)(uint32_t, const ZELString&, const ZELString&,
                                             const StoredValue&)>(&S::DelAttributeValue)),
      VirtualSlot(&S::Initialize),
      VirtualSlot(&S::UnInitialize),
      VirtualSlot(&S::Search),
      VirtualSlot(&S::CreateDataContext),
      VirtualSlot(&S::DestroyDataContext),
      VirtualSlot(&S::GetContextChangeNumber),
      VirtualSlot(&S::GetContextEntryChangeInfo),
      VirtualSlot(&S::SetPSOption),
  };
  for (std::size_t i = 0; i < slots.size(); ++i) EXPECT_EQ(slots[i], std::ptrdiff_t(i)) << i;
  // The destructor takes two slots (complete and deleting) after SetPSOption.
  const std::vector<std::ptrdiff_t> after = {
      VirtualSlot(&S::SetTimeout),
      VirtualSlot(&S::Sync_EnterMSJetCriticalSection),
      VirtualSlot(&S::Sync_LeaveMSJetCriticalSection),
      VirtualSlot(&S::SubscribeToDirChangeNotification),
      VirtualSlot(&S::SeedLocalCache),
      VirtualSlot(&S::DirChangeNotificationHelper),
  };
  for (std::size_t i = 0; i < after.size(); ++i) {
    EXPECT_EQ(after[i], std::ptrdiff_t(slots.size() + 2 + i)) << i;
  }
}

}  // namespace
