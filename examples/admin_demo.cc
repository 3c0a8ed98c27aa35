// The library at work against the AdminTool subsystem in one process: an in-process farm with
// the subsystem (UID 22) on a store file, the notification hub (UID 1) printing what it
// relays, and two consoles, the farm's owner and a guest, each with the library's SAL object.
// The owner registers tree objects and makes a folder, the guest's attempt is refused, and the
// tree is enumerated. The store is a fresh file (or the one named on the command line, kept).
// Set ZEL_TRACE_CONTROL (see zeltrace) to trace it.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "zel/admintool/protocol/describe.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/hub/notification_hub.h"
#include "zel/protocol/folders.h"
#include "zel/protocol/group_enumeration.h"
#include "zel/runtime/farm.h"
#include "zel/subsystem/admintool.h"
#include "zel/subsystem/codes.h"

namespace {

using zel::protocol::Direction;

class StoreFile final : public ZEL_DIR_StoreLocation {
 public:
  explicit StoreFile(std::string path) : path_(std::move(path)) {}
  std::string StorePath() override { return path_; }

 private:
  std::string path_;
};

void Print(const char* what, uint16_t eventID, Direction direction,
           const ZEL_BUF_EventBuffer& event) {
  std::printf("%s\n%s", what,
              zel::admintool::DescribeEvent(eventID, direction, event.GetData(), event.GetSize())
                  .Text()
                  .c_str());
}

// Sends a request of ours from `console` and prints its reply; the reply's result.
template <typename M>
int32_t Send(zel::rt::FarmSubsystem& console, const M& message, const char* what) {
  ZEL_BUF_EventBuffer* request = CreateSALEvent2(M::kEventID, ZELVersion(1, 0), 0,
                                                 static_cast<uint16_t>(console.GetSubsystemUID()),
                                                 zel::protocol::kAdminToolSubsystemUID, 4);
  zel::protocol::Encode(message, *request);
  ZEL_BUF_EventBuffer* reply = nullptr;
  const int32_t sent = SendSALEvent2(request, &reply, console, 0);
  if (sent < 0) return sent;
  std::unique_ptr<ZEL_BUF_EventBuffer> owned(reply);
  Print(what, reply->GetEventID(), Direction::kReply, *reply);
  int32_t result = 0;
  std::memcpy(&result, reply->GetData(), sizeof result);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const bool fresh = argc < 2;
  const std::string path = fresh ? (std::filesystem::temp_directory_path() /
                                    ("zel_admin_demo_" + std::to_string(getpid()) + ".db"))
                                       .string()
                                 : argv[1];
  StoreFile store(path);
  {
    zel::rt::InProcessFarm farm;
    zel::hub::NotificationHub hub;
    hub.Attach(farm.AddSubsystem(zel::protocol::kNotificationHubUID));
    hub.Subscribe([](const zel::rt::Caller&, const ZEL_BUF_EventBuffer& event) {
      Print("hub:", event.GetEventID(), Direction::kNotification, event);
    });
    zel::rt::FarmSubsystem& host = farm.AddSubsystem(zel::protocol::kAdminToolSubsystemUID);
    host.Plugins().Offer(kZelDirectoryStoreInterface, &store);
    zel::subsystem::AdminToolSubsystem admintool(host, zel::subsystem::Options{});
    admintool.Attach(host);

    zel::rt::FarmSubsystem& ownerHost = farm.AddSubsystem(5);
    ownerHost.SetPeer("unix:root", true);
    ownerHost.Plugins().Offer(kZelDirectoryStoreInterface, &store);
    zel::rt::FarmSubsystem& guestHost = farm.AddSubsystem(6);
    guestHost.SetPeer("unix:guest", false);
    ZEL_AdminToolSAL6 owner(ownerHost);

    // The owner's console registers two objects and announces them itself.
    ZEL_AdminToolObject servers(u"", u"Servers");
    servers.setUID(0x100);
    ZEL_AdminToolObject web(u"Servers", u"web01");
    web.setTitle(u"Web server");
    web.setUID(0x101);
    std::printf("RegisterObject: 0x%08x, 0x%08x\n",
                static_cast<unsigned>(owner.RegisterObject(servers, true)),
                static_cast<unsigned>(owner.RegisterObject(web, true)));

    // Folders are the subsystem's: it stores them and announces them.
    const int32_t made = Send(ownerHost, zel::protocol::CreateFolderRequest{0, u"Printers"},
                              "the owner creates a folder:");
    const int32_t refused =
        Send(guestHost, zel::protocol::CreateFolderRequest{0, u"Mine"}, "a guest tries the same:");
    std::printf("guest: %s\n", zel::subsystem::CodeText(refused));

    zel::protocol::EnumerateGroupRequest root;
    Send(ownerHost, root, "the tree's root, as the subsystem lists it:");
    zel::protocol::EnumerateGroupRequest group;
    group.name = u"Servers";
    const int32_t listed = Send(ownerHost, group, "and the group Servers:");
    if (made != 0 || refused != zel::subsystem::kAccessDenied || listed != 0) return 1;
  }
  if (fresh) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  }
  return 0;
}
