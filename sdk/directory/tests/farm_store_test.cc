// The `farm:` store's side of the wire: what it makes of the farm server's replies, written
// here byte by byte, whatever the server. A reply that does not read is kBadReply, never a
// half-read value; the server's own codes and the runtime's pass through.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "zel/directory/codes.h"
#include "zel/directory/entry.h"
#include "zel/directory/records.h"
#include "zel/directory/testing/temp_store.h"
#include "zel/runtime/codes.h"
#include "zel/runtime/farm.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes U32(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}
Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A console (UID 5) whose store is `farm:`, and a server at UID 22 that answers every request
// with the same scripted reply.
class ScriptedServer : public ::testing::Test {
 protected:
  ScriptedServer() {
    console_.Plugins().Offer(kZelDirectoryStoreInterface, &location_);
    server_.SetRequestHandler(
        [this](const ZEL_BUF_EventBuffer& request, ZEL_BUF_EventBuffer** reply) {
          asked_.push_back(request.GetEventID());
          ZEL_BUF_EventBuffer* made = nullptr;
          request.CreateReplyEvent(&made, replyID_ != 0 ? replyID_ : request.GetEventID(),
                                   ZELVersion(1, 0), 22, 0);
          made->AppendBytes(reply_.data(), static_cast<uint32_t>(reply_.size()));
          *reply = made;
          return 0;
        });
  }
  zel::dir::testing::StoreAt location_{"farm:"};
  zel::rt::InProcessFarm farm_;
  zel::rt::FarmSubsystem& console_ = farm_.AddSubsystem(5);
  zel::rt::FarmSubsystem& server_ = farm_.AddSubsystem(22);
  ZEL_PS_LDAPSAL directory_{console_};
  Bytes reply_;
  uint16_t replyID_ = 0;  // 0: the request's
  std::vector<uint16_t> asked_;
};

TEST_F(ScriptedServer, RepliesThatDoNotReadAreBadAndCodesPassThrough) {
  const auto bind = [this] {
    uint32_t id = 0;
    return directory_.BindLDAP(u"&AdminToolObjectContext", id);
  };
  const auto search = [this] {
    uint32_t count = 0;
    return ZEL_DIR_SearchHelper(&directory_, 1, ZELString(), 1, ZELString(), u"*").Search(count);
  };
  const struct {
    const char* what;
    Bytes reply;
    uint16_t replyID;
    std::function<int32_t()> run;
    int32_t code;
  } cases[] = {
      {"a bind answered with its context", Join({U32(0), U32(7)}), 0, bind, 0},
      {"a bind reply without the context", U32(0), 0, bind, zel::dir::kBadReply},
      {"a bind reply with bytes after it", Join({U32(0), U32(7), {1}}), 0, bind,
       zel::dir::kBadReply},
      {"a reply under another event ID", Join({U32(0), U32(7)}), 1014, bind, zel::dir::kBadReply},
      {"an empty reply", {}, 0, bind, zel::dir::kBadReply},
      {"the server's refusal", U32(0x80070003u), 0, bind, static_cast<int32_t>(0x80070003u)},
      {"a search page with no entries and a cookie (would go on for ever)",
       Join({U32(0), U32(0), U32(1), {1}}), 0, search, zel::dir::kBadReply},
      {"a search page whose entry count runs past the reply", Join({U32(0), U32(1000), U32(0)}), 0,
       search, zel::dir::kBadReply},
      {"a last search page with nothing", Join({U32(0), U32(0), U32(0)}), 0, search, 0},
  };
  for (const auto& c : cases) {
    reply_ = c.reply;
    replyID_ = c.replyID;
    EXPECT_EQ(c.run(), c.code) << c.what;
  }
}

TEST_F(ScriptedServer, NotificationsReachOnlyTheirSubscription) {
  reply_ = Join({U32(0), U32(41)});  // subscribed: subscription 41
  int heard = 0;
  uint32_t subscription = 0;
  ASSERT_EQ(zel::dir::Subscribe(
                directory_, 3, [&](uint32_t, const zel::dir::Change&) { ++heard; }, &subscription),
            0);
  EXPECT_EQ(subscription, 41u);
  // subscription context change: number kind uid dn ("a": length 4, 'a', terminator)
  const Bytes change = Join({U32(9), U32(0), {2}, U32(0x21), U32(1), U32(4), {'a', 0, 0, 0}});
  const struct {
    const char* what;
    uint16_t eventID;
    Bytes payload;
    int32_t code;
  } cases[] = {
      {"a change of its subscription", 1020, Join({U32(41), U32(3), change}), 0},
      {"another subscription's", 1020, Join({U32(42), U32(3), change}), zel::dir::kInvalidArgument},
      {"another event", 81, Join({U32(41), U32(3), change}), zel::dir::kInvalidArgument},
      {"a change of a kind that does not exist", 1020,
       Join({U32(41), U32(3), U32(9), U32(0), {7}, U32(0x21), U32(1), U32(4), {'a', 0, 0, 0}}),
       zel::dir::kBadReply},
      {"a cut change", 1020, Join({U32(41), U32(3), U32(9)}), zel::dir::kBadReply},
  };
  const auto deliver = [this](uint16_t eventID, const Bytes& payload) {
    ZEL_BUF_EventBuffer event(eventID, ZELVersion(1, 0), 0);
    event.AppendBytes(payload.data(), static_cast<uint32_t>(payload.size()));
    return zel::dir::DeliverChange(directory_, event);
  };
  for (const auto& c : cases) EXPECT_EQ(deliver(c.eventID, c.payload), c.code) << c.what;
  EXPECT_EQ(heard, 1);
  // Ended, the subscription hears nothing more.
  reply_ = U32(0);
  ASSERT_EQ(zel::dir::Unsubscribe(directory_, subscription), 0);
  EXPECT_EQ(deliver(1020, cases[0].payload), zel::dir::kInvalidArgument);
  EXPECT_EQ(heard, 1);
}

TEST_F(ScriptedServer, WithoutAServerTheRuntimeSaysWhy) {
  zel::rt::InProcessFarm alone;
  zel::rt::FarmSubsystem& console = alone.AddSubsystem(5);
  console.Plugins().Offer(kZelDirectoryStoreInterface, &location_);
  ZEL_PS_LDAPSAL directory(console);
  uint32_t id = 0;
  EXPECT_EQ(directory.BindLDAP(u"&AdminToolObjectContext", id), zel::rt::kNoSuchSubsystem);
  EXPECT_TRUE(asked_.empty());
}

}  // namespace
