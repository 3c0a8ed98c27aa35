// The notification hub: which posts reach which subscribers, unsubscribing (also from inside a
// delivery and while other threads relay), and the hub as subsystem 1 of an in-process farm.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "zel/admintool/zel_admintoolsal.h"
#include "zel/hub/notification_hub.h"

namespace {

using zel::hub::NotificationHub;
using zel::hub::SubscriptionID;
using Bytes = std::vector<uint8_t>;

Bytes PayloadOf(const ZEL_BUF_EventBuffer& event) {
  return Bytes(event.GetData(), event.GetData() + event.GetSize());
}

// What one subscriber was handed.
struct Seen {
  std::vector<uint16_t> ids;
  std::vector<Bytes> payloads;
  std::vector<zel::rt::Caller> posters;
};

zel::hub::Subscriber Recorder(Seen& seen) {
  return [&seen](const zel::rt::Caller& poster, const ZEL_BUF_EventBuffer& event) {
    seen.ids.push_back(event.GetEventID());
    seen.payloads.push_back(PayloadOf(event));
    seen.posters.push_back(poster);
  };
}

TEST(NotificationHubTest, EachNotificationReachesEverySubscriberOfThatMoment) {
  const struct Case {
    const char* what;
    uint16_t eventID;
    int subscribers;
    int unsubscribedFirst;  // the first ones leave before the post
    std::size_t handed;
  } cases[] = {
      {"a tree operation, two subscribers", 81, 2, 0, 2},
      {"a container change, three subscribers", 95, 3, 0, 3},
      {"one of three left before", 81, 3, 1, 2},
      {"all left before", 95, 2, 2, 0},
      {"nobody subscribed", 81, 0, 0, 0},
      {"a request event is no notification", 27, 2, 0, 0},
      {"a group enumeration request is none either", 1004, 2, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NotificationHub hub;
    std::vector<Seen> seen(c.subscribers);
    std::vector<SubscriptionID> ids;
    for (Seen& s : seen) ids.push_back(hub.Subscribe(Recorder(s)));
    for (int i = 0; i < c.unsubscribedFirst; ++i) EXPECT_TRUE(hub.Unsubscribe(ids[i]));
    EXPECT_EQ(hub.SubscriberCount(), static_cast<std::size_t>(c.subscribers - c.unsubscribedFirst));

    ZEL_BUF_EventBuffer event(c.eventID, ZELVersion(1, 0), 0);
    event << int32_t{0} << int16_t{1};
    zel::rt::Caller poster;
    poster.connection = 7;
    poster.sourceUID = 22;
    poster.peer = "unix:alice";
    EXPECT_EQ(hub.Relay(poster, event), c.handed);

    const bool relayed = c.eventID == 81 || c.eventID == 95;
    EXPECT_EQ(hub.Relayed(), relayed ? 1u : 0u);
    EXPECT_EQ(hub.Refused(), relayed ? 0u : 1u);
    for (int i = 0; i < c.subscribers; ++i) {
      const bool gets = relayed && i >= c.unsubscribedFirst;
      ASSERT_EQ(seen[i].ids.size(), gets ? 1u : 0u) << "subscriber " << i;
      if (!gets) continue;
      EXPECT_EQ(seen[i].ids[0], c.eventID);
      EXPECT_EQ(seen[i].payloads[0], (Bytes{0, 0, 0, 0, 1, 0}));
      EXPECT_EQ(seen[i].posters[0], poster);
    }
  }
}

TEST(NotificationHubTest, SubscriptionNumbersAndUnknownOnes) {
  NotificationHub hub;
  EXPECT_EQ(hub.Subscribe(nullptr), 0u);  // an empty callback is no subscriber
  Seen a, b;
  const SubscriptionID first = hub.Subscribe(Recorder(a));
  const SubscriptionID second = hub.Subscribe(Recorder(b));
  EXPECT_NE(first, 0u);
  EXPECT_NE(first, second);
  EXPECT_FALSE(hub.Unsubscribe(0));
  EXPECT_FALSE(hub.Unsubscribe(second + 100));
  EXPECT_TRUE(hub.Unsubscribe(first));
  EXPECT_FALSE(hub.Unsubscribe(first));  // gone already
  // A number is never given again, so a late Unsubscribe cannot remove a newer subscriber.
  const SubscriptionID third = hub.Subscribe(Recorder(a));
  EXPECT_NE(third, first);
  EXPECT_EQ(hub.SubscriberCount(), 2u);
}

TEST(NotificationHubTest, ACallbackMayUnsubscribeItselfAndIsNotCalledAgain) {
  NotificationHub hub;
  int selfCalls = 0;
  SubscriptionID self = 0;
  self = hub.Subscribe([&](const zel::rt::Caller&, const ZEL_BUF_EventBuffer&) {
    ++selfCalls;
    EXPECT_TRUE(hub.Unsubscribe(self));  // would wait for itself if the hub did not know
  });
  Seen other;
  hub.Subscribe(Recorder(other));
  ZEL_BUF_EventBuffer event(95, ZELVersion(1, 0), 0);
  EXPECT_EQ(hub.Relay({}, event), 2u);
  EXPECT_EQ(hub.Relay({}, event), 1u);
  EXPECT_EQ(selfCalls, 1);
  EXPECT_EQ(other.ids.size(), 2u);
}

// Several threads relay while subscribers come and go: a steady subscriber gets every
// notification, and no callback runs after its Unsubscribe returned.
TEST(NotificationHubTest, ThreadsRelayWhileSubscribersComeAndGo) {
  NotificationHub hub;
  std::atomic<int> steady{0};
  hub.Subscribe([&](const zel::rt::Caller&, const ZEL_BUF_EventBuffer&) { ++steady; });
  std::atomic<int> lateCalls{0};
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    while (!stop) {
      auto gone = std::make_shared<std::atomic<bool>>(false);
      const SubscriptionID id =
          hub.Subscribe([gone, &lateCalls](const zel::rt::Caller&, const ZEL_BUF_EventBuffer&) {
            if (*gone) ++lateCalls;
          });
      std::this_thread::yield();
      hub.Unsubscribe(id);
      *gone = true;
    }
  });
  constexpr int kThreads = 4, kPosts = 500;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&hub] {
      ZEL_BUF_EventBuffer event(81, ZELVersion(1, 0), 0);
      for (int i = 0; i < kPosts; ++i) hub.Relay({}, event);
    });
  }
  for (auto& p : posters) p.join();
  stop = true;
  churn.join();
  EXPECT_EQ(steady.load(), kThreads * kPosts);
  EXPECT_EQ(lateCalls.load(), 0);
  EXPECT_EQ(hub.Relayed(), static_cast<uint64_t>(kThreads * kPosts));
  EXPECT_EQ(hub.SubscriberCount(), 1u);
}

// As subsystem 1 of a farm the hub receives what the library's node operations post, and a
// post to it is never left in its inbox.
TEST(NotificationHubTest, AttachedAsSubsystemOneItRelaysTheLibrarysNotifications) {
  zel::rt::InProcessFarm farm;
  NotificationHub hub;
  zel::rt::FarmSubsystem& hubHost = farm.AddSubsystem(1);
  hub.Attach(hubHost);
  farm.AddSubsystem(22).SetPeer("unix:zelfarmd", false);
  ZEL_AdminToolSAL sal(farm.AddSubsystem(5));
  Seen seen;
  hub.Subscribe(Recorder(seen));

  ZELString parent(u"Ab");
  ZEL_AdminToolObject node(u"Ab", u"web01");
  ASSERT_EQ(sal.AddNode(parent, node), 0);
  ASSERT_EQ(seen.ids, (std::vector<uint16_t>{81, 95}));
  // Event 95 naming "Ab": status 0, one container, the marker 3, the DN with its terminator.
  EXPECT_EQ(seen.payloads[1], (Bytes{0, 0, 0, 0, 1, 0, 3, 0, 6, 0, 0, 0, 'A', 0, 'b', 0, 0, 0}));
  // The library addresses its notifications from the AdminTool subsystem, so that is who the
  // farm says posted them.
  EXPECT_EQ(seen.posters[1].sourceUID, 22);
  EXPECT_EQ(seen.posters[1].peer, "unix:zelfarmd");
  EXPECT_TRUE(hubHost.Inbox().empty());
}

}  // namespace
