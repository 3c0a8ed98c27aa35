// The testing target console developers use: a farm in their process, reached over its socket;
// the tree's notifications reach a subscribed console; the server stops and starts again.
#include "zel/farm/testing/test_farm_server.h"

#include <mutex>

#include "gtest/gtest.h"
#include "server_process.h"
#include "zel/protocol/folders.h"
#include "zel/runtime/codes.h"

namespace zel::farm::testing {
namespace {

TEST(TestFarmServerTest, ServesConsolesAndFansNotificationsOut) {
  TestFarmServer farm;
  ASSERT_EQ(farm.Start(), 0) << farm.Error();
  zel::transport::ClientOptions options = UnixClient("");
  options.address = farm.Address();
  zel::transport::Client watcher(options), owner(options);
  std::mutex mu;
  std::vector<uint16_t> seen;
  uint32_t subscription = 0;
  const auto hear = [&](uint32_t, std::unique_ptr<ZEL_BUF_EventBuffer> event) {
    std::lock_guard lock(mu);
    seen.push_back(event->GetEventID());
  };
  ASSERT_EQ(watcher.Subscribe({81, 95}, false, hear, &subscription), 0);
  EXPECT_EQ(Call(owner, 50, zel::protocol::CreateFolderRequest{0, u"Printers"}), 0);
  EXPECT_TRUE(Eventually([&] {
    std::lock_guard lock(mu);
    return !seen.empty() && (seen.front() == 81 || seen.front() == 95);
  }));

  // Stopped, the farm answers nothing; started again, the same console goes on. Whether the
  // console has seen its connection close before it sends decides between the two codes: the
  // server is gone (seen) or the connection broke under the request (not yet seen).
  farm.Stop();
  const int32_t stopped = Call(owner, 50, zel::protocol::CreateFolderRequest{0, u"Gone"});
  EXPECT_TRUE(stopped == zel::rt::kServerGone || stopped == zel::rt::kConnectionBroken)
      << std::hex << stopped;
  ASSERT_EQ(farm.Start(), 0) << farm.Error();
  EXPECT_EQ(Call(owner, 50, zel::protocol::CreateFolderRequest{0, u"Back"}), 0);
}

}  // namespace
}  // namespace zel::farm::testing
