// Changes reach the consoles of one zelfarmd that subscribed to them, whichever console made
// them: the `farm:` store's change notifications. The console that makes the changes is a
// process of its own. (The hub's tree notifications: test_farm_server_test.cc, same host.)
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../../../sdk/transport/tests/test_farm.h"
#include "gtest/gtest.h"
#include "server_process.h"
#include "zel/directory/entry.h"
#include "zel/directory/records.h"
#include "zel/directory/service.h"
#include "zel/transport/console_host.h"

namespace zel::farm::testing {
namespace {

// The other console: once told to go, it adds an entry through the server and exits with the
// number of its calls that failed.
[[noreturn]] void OtherConsole(const std::string& socket, int go) {
  char byte = 0;
  int failed = ::read(go, &byte, 1) == 1 ? 0 : 100;
  zel::transport::Client client(UnixClient(socket));
  zel::transport::ConsoleHost host(client, 51);
  ZEL_PS_LDAPSAL directory(host);
  uint32_t objects = 0;
  failed += directory.BindLDAP(u"&AdminToolObjectContext", objects) != 0;
  failed += ZEL_DIR_BaseEntry(&directory, u"by-another", objects).Add() != 0;
  ::_exit(failed);
}

TEST(ZelfarmdNotificationsTest, ConsolesHearChangesMadeByAnotherConsole) {
  TempFolder dir;
  const std::string socket = dir.File("f.sock");
  const auto server = StartServer(dir.Path(),
                                  {"--store", dir.File("s.db"), "--listen", "unix:" + socket,
                                   "--owner", zel::transport::testing::CurrentLogin()},
                                  socket);
  ASSERT_TRUE(server);
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  const pid_t other = ::fork();  // before this process has threads of its own
  if (other == 0) {
    ::close(pipe[1]);  // the read ends if this process dies before it says go
    OtherConsole(socket, pipe[0]);
  }

  zel::transport::Client client(UnixClient(socket));
  zel::transport::ConsoleHost host(client, 50);
  ZEL_PS_LDAPSAL directory(host);
  std::mutex mu;
  std::vector<std::u16string> heard;  // the entries' names, by the thread that delivers them
  auto heardOnly = [&](const std::vector<std::u16string>& names) {
    std::lock_guard lock(mu);
    return heard == names;
  };
  host.SetPostHandler([&](std::unique_ptr<ZEL_BUF_EventBuffer> event) {
    zel::dir::DeliverChange(directory, *event);
  });
  ASSERT_EQ(directory.CreateDataContext(u"AdminToolObjectContext", u"N/AdminTool/Objects"), 0);
  uint32_t objects = 0, changes = 0;
  ASSERT_EQ(directory.BindLDAP(u"&AdminToolObjectContext", objects), 0);
  const auto hear = [&](uint32_t, const zel::dir::Change& change) {
    std::lock_guard lock(mu);
    heard.push_back(change.dn);
  };
  ASSERT_EQ(zel::dir::Subscribe(directory, objects, hear, &changes), 0);
  ASSERT_EQ(::write(pipe[1], "g", 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(other, &status, 0), other);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other console failed";
  EXPECT_TRUE(Eventually([&] { return heardOnly({u"by-another"}); }, 5s));

  // Once its handler is gone, the console takes no more of the store's changes.
  host.SetPostHandler(nullptr);
  ASSERT_EQ(ZEL_DIR_BaseEntry(&directory, u"unheard", objects).Add(), 0);
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(heardOnly({u"by-another"}));
}

}  // namespace
}  // namespace zel::farm::testing
