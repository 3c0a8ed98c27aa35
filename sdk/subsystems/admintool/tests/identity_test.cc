// Who acts: logons per connection and source subsystem, the peer's account otherwise, the owner
// always; and where the subsystem's notifications go.
#include <gtest/gtest.h>

#include <functional>

#include "zel/admintool/protocol/tree_forms.h"
#include "zel/directory/testing/temp_store.h"
#include "zel/protocol/events.h"
#include "zel/runtime/farm.h"
#include "zel/subsystem/authoriser.h"
#include "zel/subsystem/codes.h"
#include "zel/subsystem/notifier.h"

namespace zel::subsystem {
namespace {

using zel::rt::Caller;

TEST(Identity, LogonsActPerConnectionAndSourceUntilTheyEnd) {
  zel::dir::testing::TempStore store;
  zel::rt::InProcessFarm farm;
  zel::rt::FarmSubsystem& host = farm.AddSubsystem(22);
  host.Plugins().Offer(kZelDirectoryStoreInterface, &store);
  ZEL_PS_LDAPSAL directory(host);
  AdministratorStore admins(directory);
  Sessions sessions;
  Authoriser authoriser(admins, sessions);
  Administrator alice;
  alice.account = Account::FromText("unix:alice");
  alice.privileges = {static_cast<uint32_t>(Privilege::kManageAdministrators)};
  ASSERT_EQ(admins.Put(&alice), 0);

  const Caller eve{1, 5, "unix:eve", false}, eveOtherHost{1, 6, "unix:eve", false},
      eveElsewhere{2, 5, "unix:eve", false}, owner{0, 5, "", true},
      alicePeer{3, 5, "unix:alice", false};
  const auto may = [&](const Caller& c) {
    return authoriser.Require(c, Privilege::kManageAdministrators);
  };
  struct Step {
    const char* name;
    std::function<void()> change;
    int32_t eve, eveOtherHost, eveElsewhere;
  } steps[] = {
      {"no logon: eve acts as herself", [] {}, kAccessDenied, kAccessDenied, kAccessDenied},
      {"eve's host on connection 1 logs on as alice", [&] { sessions.LogOn(eve, alice.uid); }, 0,
       kAccessDenied, kAccessDenied},
      {"another connection closes", [&] { sessions.ConnectionClosed(2); }, 0, kAccessDenied,
       kAccessDenied},
      {"her connection closes", [&] { sessions.ConnectionClosed(1); }, kAccessDenied, kAccessDenied,
       kAccessDenied},
      {"logged on, then alice is deleted",
       [&] {
         sessions.LogOn(eve, alice.uid);
         ASSERT_EQ(admins.Remove(alice.uid), 0);
       },
       kAccessDenied, kAccessDenied, kAccessDenied},
  };
  for (const Step& step : steps) {
    step.change();
    EXPECT_EQ(may(eve), step.eve) << step.name;
    EXPECT_EQ(may(eveOtherHost), step.eveOtherHost) << step.name;
    EXPECT_EQ(may(eveElsewhere), step.eveElsewhere) << step.name;
    EXPECT_EQ(may(owner), 0) << step.name;
  }
  EXPECT_FALSE(sessions.LoggedOn(eve).has_value()) << "a deleted administrator's logon ends";
  Identity who;
  EXPECT_EQ(authoriser.Require(alicePeer, Privilege::kManageAdministrators, &who), kAccessDenied);
  EXPECT_EQ(who.Text(), "unix:alice");
  EXPECT_FALSE(who.administrator);
}

TEST(Notifier, NotificationsGoFromTheSubsystemToTheHubAsTheLibrarysDo) {
  zel::rt::InProcessFarm farm;
  zel::rt::FarmSubsystem& host = farm.AddSubsystem(22);
  zel::rt::FarmSubsystem& hub = farm.AddSubsystem(zel::protocol::kNotificationHubUID);
  Notifier notifier(host);
  ASSERT_EQ(notifier.Post(zel::protocol::event::kContainerChange, 0,
                          [](ZEL_BUF_EventBuffer& e) { e << int32_t{0} << int16_t{1}; }),
            0);
  EXPECT_EQ(notifier.Post(zel::protocol::event::kTreeOperation, 0,
                          [](ZEL_BUF_EventBuffer&) { throw ZEL_BUF_AppendException(-7); }),
            -7);
  ASSERT_EQ(hub.Inbox().size(), 1u) << "an event that could not be written is not posted";
  const ZEL_BUF_EventBuffer& posted = *hub.Inbox()[0];
  EXPECT_EQ(posted.GetEventID(), zel::protocol::event::kContainerChange);
  EXPECT_EQ(posted.GetSrcSubsystemUID(), 22);
  EXPECT_EQ(posted.GetDestSubsystemUID(), 1);
  EXPECT_EQ(posted.GetSrcHostID(), 0x80000001u);
  EXPECT_EQ(posted.GetDestHostID(), 0x80000003u);
  EXPECT_EQ(posted.GetSize(), 6u);
}

}  // namespace
}  // namespace zel::subsystem
