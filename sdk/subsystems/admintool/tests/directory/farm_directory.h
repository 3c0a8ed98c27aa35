// A directory on the `farm:` store: an in-process farm whose AdminTool subsystem (UID 22) runs
// on a real SQLite file, and consoles (farm subsystems with a peer identity) whose directory
// service names the store "farm:". Each console's host hands the change notifications it is
// posted to its directory service, as a console-side host does.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "zel/directory/records.h"
#include "zel/directory/testing/backend.h"
#include "zel/protocol/events.h"
#include "zel/runtime/farm.h"
#include "zel/subsystem/admintool.h"

namespace zel::subsystem::testing {

class FarmDirectory final : public zel::dir::testing::DirectoryUnderTest {
 public:
  FarmDirectory() {
    server_.Plugins().Offer(kZelDirectoryStoreInterface, &store_);
    options_.pwhashLimits = PwhashLimits::kMin;
    options_.clock = [] { return uint64_t{1'700'000'000'000}; };
    subsystem_ = std::make_unique<AdminToolSubsystem>(server_, options_);
    subsystem_->Attach(server_);
  }
  // The farm's owner's console: may do everything.
  ZEL_PS_LDAPSAL& Directory() override { return Console(5, "unix:root", true); }

  // The directory of console `uid`, which acts as `peer` (made at the first call).
  ZEL_PS_LDAPSAL& Console(uint16_t uid, const std::string& peer, bool owner = false) {
    std::unique_ptr<ZEL_PS_LDAPSAL>& directory = consoles_[uid];
    if (!directory) {
      zel::rt::FarmSubsystem& host = farm_.AddSubsystem(uid);
      host.SetPeer(peer, owner);
      host.Plugins().Offer(kZelDirectoryStoreInterface, &location_);
      directory = std::make_unique<ZEL_PS_LDAPSAL>(host);
      host.SetPostHandler([&service = *directory](const zel::rt::Caller&,
                                                  std::unique_ptr<ZEL_BUF_EventBuffer> event) {
        zel::dir::DeliverChange(service, *event);
      });
    }
    return *directory;
  }

  zel::rt::InProcessFarm& Farm() { return farm_; }
  AdminToolSubsystem& Subsystem() { return *subsystem_; }
  // The server's own view of its store (what a local program sees).
  ZEL_PS_LDAPSAL& ServerDirectory() { return local_; }

 private:
  zel::dir::testing::TempStore store_;
  zel::dir::testing::StoreAt location_{"farm:"};
  zel::rt::InProcessFarm farm_;
  zel::rt::FarmSubsystem& server_ = farm_.AddSubsystem(zel::protocol::kAdminToolSubsystemUID);
  Options options_;
  std::unique_ptr<AdminToolSubsystem> subsystem_;
  std::map<uint16_t, std::unique_ptr<ZEL_PS_LDAPSAL>> consoles_;
  ZEL_PS_LDAPSAL local_{server_};
};

inline zel::dir::testing::Backend FarmBackend() {
  return zel::dir::testing::Backend{"Farm", [] { return std::make_unique<FarmDirectory>(); },
                                    zel::dir::testing::Backend::Scopes::kRefused};
}

}  // namespace zel::subsystem::testing
