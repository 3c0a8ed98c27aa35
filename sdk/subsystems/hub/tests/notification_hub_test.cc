// The notification hub: which posts reach which subscribers, unsubscribing (also from inside a
// delivery and while other threads relay), and the hub as subsystem 1 of an in-process farm.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "zel/admintool/zel_admintoolsal.h"
#include "zel/hub/notification_hub.h"

namespace {

using zel::hub::NotificationHub;
using Bytes = std::vector<uint8_t>;

// Records each event handed to it: its ID, payload and poster.
struct Seen {
  std::vector<std::pair<uint16_t, Bytes>> events;
  std::vector<zel::rt::Caller> posters;
  zel::hub::Subscriber Callback() {
    return [this](const zel::rt::Caller& poster, const ZEL_BUF_EventBuffer& event) {
      events.push_back(
          {event.GetEventID(), Bytes(event.GetData(), event.GetData() + event.GetSize())});
      posters.push_back(poster);
    };
  }
};

TEST(NotificationHubTest, EachNotificationReachesEverySubscriberOfThatMoment) {
  const struct Case {
    uint16_t eventID;
    int subscribers;
    int leftFirst;  // the first ones unsubscribe before the post
    std::size_t handed;
  } cases[] = {
      {81, 2, 0, 2}, {95, 3, 0, 3}, {81, 3, 1, 2},   {95, 2, 2, 0}, {81, 0, 0, 0},
      {97, 2, 1, 1}, {27, 2, 0, 0}, {1004, 2, 0, 0},  // requests are no notifications
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.eventID << " " << c.subscribers << " " << c.leftFirst);
    NotificationHub hub;
    EXPECT_EQ(hub.Subscribe(nullptr), 0u);  // an empty callback is no subscriber
    std::vector<Seen> seen(c.subscribers);
    std::vector<zel::hub::SubscriptionID> ids;
    for (Seen& s : seen) ids.push_back(hub.Subscribe(s.Callback()));
    for (int i = 0; i < c.leftFirst; ++i) EXPECT_TRUE(hub.Unsubscribe(ids[i]));
    for (int i = 0; i < c.leftFirst; ++i) EXPECT_FALSE(hub.Unsubscribe(ids[i]));  // gone
    ZEL_BUF_EventBuffer event(c.eventID, ZELVersion(1, 0), 0);
    event << int32_t{0} << int16_t{1};
    const zel::rt::Caller poster{7, 22, "unix:alice", false};
    EXPECT_EQ(hub.Relay(poster, event), c.handed);

    const bool relayed = c.eventID == 81 || c.eventID == 95 || c.eventID == 97;
    EXPECT_EQ(hub.Relayed(), relayed ? 1u : 0u);
    EXPECT_EQ(hub.Refused(), relayed ? 0u : 1u);
    for (int i = 0; i < c.subscribers; ++i) {
      const bool gets = relayed && i >= c.leftFirst;
      ASSERT_EQ(seen[i].events.size(), gets ? 1u : 0u) << "subscriber " << i;
      if (!gets) continue;
      EXPECT_EQ(seen[i].events[0], (std::pair<uint16_t, Bytes>{c.eventID, {0, 0, 0, 0, 1, 0}}));
      EXPECT_EQ(seen[i].posters[0], poster);
    }
  }
}

TEST(NotificationHubTest, ACallbackMayUnsubscribeItselfAndIsNotCalledAgain) {
  NotificationHub hub;
  int calls = 0;
  zel::hub::SubscriptionID self = 0;
  self = hub.Subscribe([&](const zel::rt::Caller&, const ZEL_BUF_EventBuffer&) {
    ++calls;
    EXPECT_TRUE(hub.Unsubscribe(self));  // would wait for itself if the hub did not know
  });
  Seen other;
  hub.Subscribe(other.Callback());
  ZEL_BUF_EventBuffer event(95, ZELVersion(1, 0), 0);
  EXPECT_EQ(hub.Relay({}, event), 2u);
  EXPECT_EQ(hub.Relay({}, event), 1u);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(other.events.size(), 2u);
}

// Threads relay while subscribers come and go: a steady subscriber gets every notification, and
// no callback runs after its Unsubscribe returned.
TEST(NotificationHubTest, ThreadsRelayWhileSubscribersComeAndGo) {
  NotificationHub hub;
  std::atomic<int> steady{0}, late{0};
  std::atomic<bool> stop{false};
  hub.Subscribe([&](const zel::rt::Caller&, const ZEL_BUF_EventBuffer&) { ++steady; });
  std::thread churn([&] {
    while (!stop) {
      auto gone = std::make_shared<std::atomic<bool>>(false);
      const auto id = hub.Subscribe(
          [gone, &late](const zel::rt::Caller&, const ZEL_BUF_EventBuffer&) { late += *gone; });
      std::this_thread::yield();
      hub.Unsubscribe(id);
      *gone = true;
    }
  });
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t) {
    posters.emplace_back([&hub] {
      ZEL_BUF_EventBuffer event(81, ZELVersion(1, 0), 0);
      for (int i = 0; i < 500; ++i) hub.Relay({}, event);
    });
  }
  for (auto& p : posters) p.join();
  stop = true;
  churn.join();
  EXPECT_EQ(steady.load(), 2000);
  EXPECT_EQ(late.load(), 0);
  EXPECT_EQ(hub.SubscriberCount(), 1u);
}

// As subsystem 1 of a farm it relays what the library's node operations post.
TEST(NotificationHubTest, AttachedAsSubsystemOneItRelaysTheLibrarysNotifications) {
  zel::rt::InProcessFarm farm;
  NotificationHub hub;
  zel::rt::FarmSubsystem& hubHost = farm.AddSubsystem(1);
  hub.Attach(hubHost);
  farm.AddSubsystem(22).SetPeer("unix:zelfarmd", false);
  ZEL_AdminToolSAL sal(farm.AddSubsystem(5));
  Seen seen;
  hub.Subscribe(seen.Callback());
  ZELString parent(u"Ab");
  ZEL_AdminToolObject node(u"Ab", u"web01");
  ASSERT_EQ(sal.AddNode(parent, node), 0);
  ASSERT_EQ(seen.events.size(), 2u);
  EXPECT_EQ(seen.events[0].first, 81);
  // Event 95 naming "Ab": status 0, one container, the marker 3, the DN with its terminator.
  EXPECT_EQ(seen.events[1], (std::pair<uint16_t, Bytes>{
                                95, {0, 0, 0, 0, 1, 0, 3, 0, 6, 0, 0, 0, 'A', 0, 'b', 0, 0, 0}}));
  // The library addresses its notifications from subsystem 22: the farm names its host.
  EXPECT_EQ(seen.posters[1].peer, "unix:zelfarmd");
  EXPECT_TRUE(hubHost.Inbox().empty());
}

}  // namespace
