// A console-side host subsystem: what a console builds its SAL objects on. It has its own
// subsystem UID (the server keeps one acting identity per connection and UID), sends through
// the process's client, and offers the store location "farm:" so that the directory reaches
// the farm's store through the server, never opening it itself.
#pragma once

#include <cstdint>
#include <string>

#include "zel/directory/service.h"
#include "zel/runtime/pif.h"
#include "zel/runtime/plugins.h"
#include "zel/transport/client.h"

namespace zel::transport {

// The store location a console-side host offers.
inline constexpr const char* kFarmStoreLocation = "farm:";

class ConsoleHost final : public ZEL_PIF_ISubSystem, private ZEL_DIR_StoreLocation {
 public:
  // `client` must outlive the host. `uid`: this host's subsystem UID, unique in the process.
  ConsoleHost(Client& client, uint16_t uid);
  ConsoleHost(const ConsoleHost&) = delete;
  ConsoleHost& operator=(const ConsoleHost&) = delete;
  ~ConsoleHost();

  // One-way events handed to the host go to the farm.
  int32_t DeliverEvent(ZEL_BUF_EventBuffer* event, uint32_t flags) override;
  ZELString GetNeighborhoodName() override { return neighborhood_; }
  ZelPluginApiTable* GetPluginApis() override { return &plugins_; }
  uint32_t GetSubsystemUID() override { return uid_; }
  zel::rt::EventTransport* GetEventTransport() override { return &client_; }

  void SetNeighborhoodName(const ZELString& name) { neighborhood_ = name; }
  // Takes the one-way events the server posts to this host, on the client's thread. A console
  // that subscribes to changes of the `farm:` store hands them to its directory:
  //   host.SetPostHandler([&directory](std::unique_ptr<ZEL_BUF_EventBuffer> event) {
  //     zel::dir::DeliverChange(directory, *event);
  //   });
  // An empty handler stops the deliveries (as the host's destructor does).
  void SetPostHandler(Client::PostHandler handler) {
    client_.SetPostHandler(uid_, std::move(handler));
  }
  // The host's plug-in table, where further interfaces can be offered by number.
  zel::rt::PluginRegistry& Plugins() { return plugins_; }

 private:
  std::string StorePath() override { return kFarmStoreLocation; }

  Client& client_;
  uint16_t uid_;
  ZELString neighborhood_;
  zel::rt::PluginRegistry plugins_;
};

}  // namespace zel::transport
