// A console of a running farm: connects to a zelfarmd (the address given, else $ZEL_FARM or the
// server's usual socket), watches the tree's notifications, asks whether an account is an
// administrator through the library, creates a folder and prints what the farm answered.
//
//   zelfarmd --store /tmp/farm.db --listen unix:/tmp/farm.sock --owner "$USER" &
//   zel_farm_console unix:/tmp/farm.sock
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/protocol/events.h"
#include "zel/protocol/folders.h"
#include "zel/transport/client.h"
#include "zel/transport/console_host.h"
#include "zel/usersal/account_blob.h"

int main(int argc, char** argv) {
  zel::transport::ClientOptions options;
  if (argc > 1) options.address = argv[1];
  options.timeout = std::chrono::seconds(5);
  // One client per process: the connection every console-side host of the process shares.
  zel::transport::Client client(options);
  if (const int32_t connected = client.Connect(); connected != 0) {
    std::fprintf(stderr, "cannot reach %s: 0x%08x %s\n", options.address.c_str(),
                 static_cast<unsigned>(connected), zel::transport::Client::LastError().c_str());
    return 1;
  }
  // Notifications arrive on the client's own thread.
  uint32_t subscription = 0;
  client.Subscribe(
      {81, 95}, false,
      [](uint32_t, std::unique_ptr<ZEL_BUF_EventBuffer> event) {
        std::printf("notification: event %u, %u bytes\n", event->GetEventID(), event->GetSize());
      },
      &subscription);

  // The console-side host: its own UID, the store location farm:, the library on top.
  zel::transport::ConsoleHost host(client, 50);
  ZEL_AdminToolSAL6 sal(host);
  UM_AcctIDBlobWriter account(
      UM_AccountIdentity{ZELString(u"unix"), ZELString(), ZELString(u"root"), {}});
  uint32_t isAdmin = 0;
  const int32_t asked = sal.IsUserKeldraAdmin(account, &isAdmin);
  std::printf("IsUserKeldraAdmin(unix:root): 0x%08x, %s\n", static_cast<unsigned>(asked),
              isAdmin != 0 ? "an administrator" : "not an administrator");

  // A request of ours, written with the protocol component and sent through the same client.
  auto* request = new ZEL_BUF_EventBuffer(zel::protocol::event::kCreateFolder, ZELVersion(1, 0), 0);
  zel::protocol::Encode(zel::protocol::CreateFolderRequest{0, u"Printers"}, *request);
  request->SetSrcSubsystemUID(50);
  request->SetDestSubsystemUID(zel::protocol::kAdminToolSubsystemUID);
  ZEL_BUF_EventBuffer* reply = nullptr;
  const int32_t sent = client.Send(request, &reply);
  int32_t result = sent;
  if (sent >= 0) {
    std::unique_ptr<ZEL_BUF_EventBuffer> owned(reply);
    std::memcpy(&result, owned->GetData(), sizeof result);
  }
  std::printf("create folder Printers: 0x%08x\n", static_cast<unsigned>(result));
  // Give the notification of the new folder a moment to arrive.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  client.Unsubscribe(subscription);
  return result == 0 ? 0 : 2;
}
