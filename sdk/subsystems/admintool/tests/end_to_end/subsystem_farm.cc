#include "subsystem_farm.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "zel/runtime/codes.h"
#include "zel/subsystem/admin_store.h"
#include "zel/transport/client.h"
#include "zel/transport/console_host.h"
#include "zel/transport/server.h"

namespace zel::subsystem::testing {

namespace {

// The accounts a console may act as over TLS: certificate "accountN" (CN=accountN, made when a
// console first acts as it) is mapped to the Nth. A table that needs another account adds it here.
const char* const kAccounts[] = {"unix:alice",   "unix:bob",   "unix:dave",    "unix:eve",
                                 "unix:mallory", "unix:probe", "NT:NORTH\\bob"};

// Makes a key and a certificate `name` signed by the authority in `folder` (made first with
// name "ca"), with `extra` arguments; openssl's chatter goes nowhere.
bool MakeCertificate(const std::string& folder, const std::string& name,
                     const std::string& extra = "") {
  const std::string request =
      "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=" +
      name + " -keyout " + name + ".key";
  const std::string script =
      name == "ca" ? request + " -x509 -out ca.crt"
                   : request + " -out " + name + ".csr && openssl x509 -req -in " + name +
                         ".csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -out " + name +
                         ".crt" + extra;
  return std::system(("cd '" + folder + "' && (" + script + ") >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace

Options TestOptions(uint64_t* now) {
  Options options;
  options.pwhashLimits = PwhashLimits::kMin;
  options.clock = [now] { return *now; };
  FarmKeys keys;
  for (uint8_t i = 0; i < 32; ++i) {
    keys.transport[i] = static_cast<uint8_t>(0x40 + i);
    keys.ticket[i] = static_cast<uint8_t>(0x80 + i);
  }
  options.keys = keys;
  return options;
}

// A transport server in front of the farm, and the clients of the consoles: one per peer, as
// one console process per peer would have. The owner's client is the process's dispatcher, so
// that what the library posts travels over its socket.
class SocketConsoles {
 public:
  SocketConsoles(zel::rt::InProcessFarm& farm, std::string folder)
      : farm_(farm), folder_(std::move(folder)) {
    options_.listen = {"unix:" + folder_ + "/farm.sock", "tls:127.0.0.1:0", "tcp:127.0.0.1:0"};
    options_.insecure = true;
    options_.owner = SubsystemFarm::OwnerPeer().substr(5);
    options_.threads = 2;
    options_.tlsCert = folder_ + "/server.crt";
    options_.tlsKey = folder_ + "/server.key";
    options_.tlsCA = folder_ + "/ca.crt";
    std::ofstream(folder_ + "/san.ext") << "subjectAltName=IP:127.0.0.1\n";
    EXPECT_TRUE(MakeCertificate(folder_, "ca") &&
                MakeCertificate(folder_, "server", " -extfile san.ext"));
    for (std::size_t i = 0; i < std::size(kAccounts); ++i) {
      options_.certMap["CN=account" + std::to_string(i)] = kAccounts[i];
    }
    farm_.SetConnectionPostHandler(
        [this](uint64_t connection, std::unique_ptr<ZEL_BUF_EventBuffer> event) {
          return server_ ? server_->PostTo(connection, *event) : zel::rt::kNoSuchSubsystem;
        });
    Start();
  }
  void Start() {
    server_ = std::make_unique<zel::transport::Server>(farm_, options_);
    std::string error;
    ASSERT_EQ(server_->Start(&error), 0) << error;
    // A server started again listens where the consoles were told.
    options_.listen = server_->ListeningAddresses();
  }
  // Stops the server; the consoles notice and connect again at their next call.
  void Stop() {
    server_.reset();
    for (auto& [peer, client] : clients_) client->Disconnect();
  }

  ZEL_PIF_ISubSystem& AddConsole(uint16_t uid, const std::string& peer, bool owner) {
    zel::transport::Client& client = ClientOf(owner ? "" : peer, owner);
    auto& host = hosts_[uid];
    host = std::make_unique<zel::transport::ConsoleHost>(client, uid);
    clientOf_[uid] = &client;
    return *host;
  }
  void Disconnect(uint16_t uid) { clientOf_.at(uid)->Disconnect(); }
  int32_t Send(uint16_t uid, ZEL_BUF_EventBuffer* request, ZEL_BUF_EventBuffer** reply) {
    return clientOf_.at(uid)->Send(request, reply);
  }

 private:
  std::string Address(const char* scheme) const {
    for (const std::string& address : options_.listen) {
      if (address.rfind(scheme, 0) == 0) return address;
    }
    return "";
  }

  zel::transport::Client& ClientOf(const std::string& peer, bool owner) {
    const std::string key = owner ? "owner" : peer;
    auto& client = clients_[key];
    if (client) return *client;
    zel::transport::ClientOptions options;
    options.offerDispatcher = owner;
    if (owner) {
      options.address = Address("unix:");
    } else if (peer.empty()) {
      options.address = Address("tcp:");
      options.insecure = true;
    } else {
      const auto* account = std::find(std::begin(kAccounts), std::end(kAccounts), peer);
      EXPECT_NE(account, std::end(kAccounts)) << "no certificate for " << peer << ": add it";
      const std::string name = "account" + std::to_string(account - kAccounts);
      EXPECT_TRUE(MakeCertificate(folder_, name)) << peer;
      options.address = Address("tls:");
      options.ca = folder_ + "/ca.crt";
      options.cert = folder_ + "/" + name + ".crt";
      options.key = folder_ + "/" + name + ".key";
    }
    client = std::make_unique<zel::transport::Client>(options);
    return *client;
  }

  zel::rt::InProcessFarm& farm_;
  std::string folder_;
  zel::transport::ServerOptions options_;
  // Destroyed in reverse: the consoles' hosts, their clients, then the server.
  std::unique_ptr<zel::transport::Server> server_;
  std::map<std::string, std::unique_ptr<zel::transport::Client>> clients_;
  std::map<uint16_t, std::unique_ptr<zel::transport::ConsoleHost>> hosts_;
  std::map<uint16_t, zel::transport::Client*> clientOf_;
};

SubsystemFarm::SubsystemFarm(Transport transport) {
  // The library's context IDs are process-wide: a fresh store binds them anew.
  ZEL_AdminToolSAL::s_adminToolContext = ZELString();
  ZEL_AdminToolSAL::s_cid = ZEL_AdminToolSAL::s_objCid = 0;
  ZEL_AdminToolSAL::s_iconCid = ZEL_AdminToolSAL::s_pluginCid = 0;
  host_.Plugins().Offer(kZelDirectoryStoreInterface, &store_);
  host_.SetConnectionClosedHandler(
      [this](uint64_t connection) { subsystem_->ConnectionClosed(connection); });
  Start();
  if (transport == Transport::kSockets) {
    sockets_ = std::make_unique<SocketConsoles>(farm_, store_.Folder());
  }
}

SubsystemFarm::~SubsystemFarm() {
  consoles_.clear();  // the consoles' SAL objects may still ask the server on their way out
  sockets_.reset();
}

void SubsystemFarm::Start() {
  subsystem_ = std::make_unique<AdminToolSubsystem>(host_, TestOptions(&now));
  subsystem_->Attach(host_);
}

void SubsystemFarm::Restart() {
  if (sockets_) sockets_->Stop();
  subsystem_.reset();
  Start();
  if (sockets_) sockets_->Start();
}

void SubsystemFarm::Reconnect(uint16_t uid) {
  if (sockets_) {
    sockets_->Disconnect(uid);
  } else {
    farm_.ConnectionClosed(0);
  }
}

std::string SubsystemFarm::OwnerPeer() {
  const passwd* entry = getpwuid(geteuid());
  return "unix:" +
         (entry != nullptr ? std::string(entry->pw_name) : "#" + std::to_string(geteuid()));
}

ZEL_AdminToolSAL6& SubsystemFarm::Console(uint16_t uid, const std::string& peer, bool owner) {
  ConsoleSlot& console = consoles_[uid];
  if (!console.sal) {
    if (sockets_) {
      console.host = &sockets_->AddConsole(uid, peer, owner);
    } else {
      zel::rt::FarmSubsystem& host = farm_.AddSubsystem(uid);
      host.SetPeer(peer, owner);
      host.Plugins().Offer(kZelDirectoryStoreInterface, &store_);
      console.host = &host;
    }
    console.sal = std::make_unique<ZEL_AdminToolSAL6>(*console.host);
  }
  return *console.sal;
}

uint64_t SubsystemFarm::AddAdmin(const std::string& account, std::vector<uint32_t> privileges) {
  ZEL_PS_LDAPSAL directory(host_);
  Administrator admin;
  admin.account = Account::FromText(account);
  admin.displayName = u"Display " + admin.account.name;
  admin.privileges = std::move(privileges);
  EXPECT_EQ(AdministratorStore(directory).Put(&admin), 0) << account;
  return admin.uid;
}

int32_t SubsystemFarm::Raw(uint16_t uid, uint16_t eventID, const std::vector<uint8_t>& payload,
                           std::unique_ptr<ZEL_BUF_EventBuffer>* reply) {
  auto* request = new ZEL_BUF_EventBuffer(eventID, ZELVersion(1, 0), 0);
  request->SetSrcSubsystemUID(uid);
  request->SetDestSubsystemUID(zel::protocol::kAdminToolSubsystemUID);
  if (!payload.empty()) request->AppendBytes(payload.data(), static_cast<uint32_t>(payload.size()));
  ZEL_BUF_EventBuffer* answer = nullptr;
  const int32_t sent =
      sockets_ ? sockets_->Send(uid, request, &answer) : farm_.Send(request, &answer);
  if (sent < 0) return sent;
  std::unique_ptr<ZEL_BUF_EventBuffer> owned(answer);
  int32_t result = 0;
  if (owned->GetSize() >= 4) std::memcpy(&result, owned->GetData(), 4);
  if (reply != nullptr) *reply = std::move(owned);
  return result;
}

}  // namespace zel::subsystem::testing
