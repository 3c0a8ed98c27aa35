// A small farm server for zeladmin's tests until the real server runs here: the AdminTool
// subsystem on a SQLite store and the notification hub, served over a Unix socket whose owner is
// the given login.
//
//   zeladmin_test_farmd STORE SOCKET OWNER
//
// Prints "ready" when it listens and runs until its standard input closes.
#include <iostream>
#include <string>

#include "zel/directory/service.h"
#include "zel/hub/notification_hub.h"
#include "zel/protocol/events.h"
#include "zel/runtime/farm.h"
#include "zel/subsystem/admintool.h"
#include "zel/transport/server.h"

namespace {

class Store final : public ZEL_DIR_StoreLocation {
 public:
  explicit Store(std::string path) : path_(std::move(path)) {}
  std::string StorePath() override { return path_; }

 private:
  std::string path_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: zeladmin_test_farmd STORE SOCKET OWNER\n";
    return 2;
  }
  Store store(argv[1]);
  zel::rt::InProcessFarm farm;
  zel::rt::FarmSubsystem& host = farm.AddSubsystem(zel::protocol::kAdminToolSubsystemUID);
  host.Plugins().Offer(kZelDirectoryStoreInterface, &store);
  zel::subsystem::Options options;
  options.pwhashLimits = zel::subsystem::PwhashLimits::kMin;
  zel::subsystem::FarmKeys keys;
  for (uint8_t i = 0; i < 32; ++i) {
    keys.transport[i] = static_cast<uint8_t>(0x40 + i);
    keys.ticket[i] = static_cast<uint8_t>(0x80 + i);
  }
  options.keys = keys;
  zel::subsystem::AdminToolSubsystem admintool(host, options);
  admintool.Attach(host);
  zel::transport::ServerOptions serverOptions;
  serverOptions.listen = {std::string("unix:") + argv[2]};
  serverOptions.owner = argv[3];
  serverOptions.threads = 1;
  zel::transport::Server server(farm, serverOptions);
  // The tree's notifications go to the hub (UID 1), which hands them to the server's
  // subscribers.
  zel::hub::NotificationHub hub;
  hub.Attach(farm.AddSubsystem(1));
  hub.Subscribe([&server](const zel::rt::Caller&, const ZEL_BUF_EventBuffer& notification) {
    server.Publish(notification);
  });
  std::string error;
  if (server.Start(&error) < 0) {
    std::cerr << "zeladmin_test_farmd: " << error << '\n';
    return 1;
  }
  std::cout << "ready" << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  server.Stop();
  return 0;
}
