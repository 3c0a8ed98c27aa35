// The library at work against the AdminTool subsystem in one process: an in-process farm with
// the subsystem (UID 22) on a store file, the notification hub (UID 1) printing what it
// relays, and consoles with the library's SAL object: the farm's owner, alice and a guest.
// The owner makes alice an administrator who may change the tree and gives her a password;
// the library checks both accounts and logs alice on. The owner registers tree objects, alice
// makes a folder, the guest's attempt is refused, and the tree is enumerated. The store is a
// fresh file (or the one named on the command line, kept). Set ZEL_TRACE_CONTROL (see
// zeltrace) to trace it.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "zel/admintool/protocol/describe.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/hub/notification_hub.h"
#include "zel/protocol/credentials.h"
#include "zel/protocol/folders.h"
#include "zel/protocol/group_enumeration.h"
#include "zel/runtime/farm.h"
#include "zel/subsystem/admintool.h"
#include "zel/subsystem/codes.h"
#include "zel/subsystem/privileges.h"
#include "zel/usersal/account_blob.h"

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
    zel::rt::FarmSubsystem& aliceHost = farm.AddSubsystem(7);
    aliceHost.SetPeer("unix:alice", false);
    ZEL_AdminToolSAL6 owner(ownerHost);
    ZEL_AdminToolSAL6 alice(aliceHost);

    // The owner adds the first administrator, who may read the farm and change the tree, and
    // sets her password (the subsystem keeps only its hash).
    ZEL_ADMIN_USERINFO record[1];
    record[0].accountName = u"alice";
    record[0].accountAuthority = u"unix";
    const uint32_t privileges[] = {static_cast<uint32_t>(zel::subsystem::Privilege::kReadFarm),
                                   static_cast<uint32_t>(zel::subsystem::Privilege::kChangeTree)};
    record[0].ReplacePrivs(2, privileges);
    std::printf(
        "AddUsers2(unix:alice): 0x%08x\n",
        static_cast<unsigned>(static_cast<AdminToolInterface2&>(owner).AddUsers2(1, record)));
    ZELString aliceName(u"alice");
    uint64_t aliceUID = 0;
    owner.GetAdminUIDByName(aliceName.getName(), u"unix", aliceUID);
    zel::protocol::SetCredentialRequest password;
    password.admin = aliceUID;
    password.newPassword = zel::protocol::SecretBytes(std::string_view("s3cret"));
    Send(ownerHost, password, "the owner sets her password:");

    for (const char16_t* name : {u"alice", u"guest"}) {
      UM_AcctIDBlobWriter account(
          UM_AccountIdentity{ZELString(u"unix"), ZELString(), ZELString(name), {}});
      uint32_t answer = 0;
      const int32_t result = owner.IsUserKeldraAdmin(account, &answer);
      std::printf("IsUserKeldraAdmin(unix:%s): result 0x%08x, administrator: %s\n",
                  ZELString(name).toUtf8().c_str(), static_cast<unsigned>(result),
                  answer != 0 ? "yes" : "no");
    }
    uint8_t credentials[6] = {'s', '3', 'c', 'r', 'e', 't'};
    uint32_t status = 0, value = 0, valueCount = 0, uidCount = 0;
    uint32_t* values = nullptr;
    uint64_t* uids = nullptr;
    ZELString resolved;
    const int32_t logon = static_cast<AdminToolInterface2&>(alice).Logon2(
        aliceName, sizeof credentials, credentials, status, resolved, value, &valueCount, &values,
        &uidCount, &uids, 0);
    std::printf("Logon2(alice): result 0x%08x, %u values, %u UIDs\n", static_cast<unsigned>(logon),
                valueCount, uidCount);
    if (values != nullptr) alice.FreeMemory(values, ZEL_AdminToolSAL3::kFreePlainArray);
    if (uids != nullptr) alice.FreeMemory(uids, ZEL_AdminToolSAL3::kFreePlainArray);

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
    const int32_t made = Send(aliceHost, zel::protocol::CreateFolderRequest{0, u"Printers"},
                              "alice creates a folder:");
    const int32_t refused =
        Send(guestHost, zel::protocol::CreateFolderRequest{0, u"Mine"}, "a guest tries the same:");
    std::printf("guest: %s\n", zel::subsystem::CodeText(refused));

    zel::protocol::EnumerateGroupRequest root;
    Send(ownerHost, root, "the tree's root, as the subsystem lists it:");
    zel::protocol::EnumerateGroupRequest group;
    group.name = u"Servers";
    const int32_t listed = Send(ownerHost, group, "and the group Servers:");
    if (logon != 0 || made != 0 || refused != zel::subsystem::kAccessDenied || listed != 0) {
      return 1;
    }
  }
  if (fresh) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  }
  return 0;
}
