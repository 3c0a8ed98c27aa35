// The subsystem in an in-process farm on a real store file: UID 22 answers, consoles are
// subsystems of the farm with a peer identity, each with the library's SAL object on it. Every
// area's tests build on it.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/directory/testing/temp_store.h"
#include "zel/protocol/events.h"
#include "zel/runtime/farm.h"
#include "zel/subsystem/admintool.h"

namespace zel::subsystem::testing {

// Tests hash passwords as cheaply as possible, set the clock themselves and hold fixed keys
// (the transport key becomes the process's password key, as a server's does).
inline Options TestOptions(uint64_t* now) {
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

class SubsystemFarm {
 public:
  SubsystemFarm() {
    // The library's context IDs are process-wide: a fresh store binds them anew.
    ZEL_AdminToolSAL::s_adminToolContext = ZELString();
    ZEL_AdminToolSAL::s_cid = ZEL_AdminToolSAL::s_objCid = 0;
    ZEL_AdminToolSAL::s_iconCid = ZEL_AdminToolSAL::s_pluginCid = 0;
    host_.Plugins().Offer(kZelDirectoryStoreInterface, &store_);
    Start();
  }

  // The subsystem anew on the same store (what a restarted server sees).
  void Restart() {
    subsystem_.reset();
    Start();
  }

  // The SAL object of a console subsystem `uid` that acts as `peer` ("" for none).
  ZEL_AdminToolSAL6& Console(uint16_t uid, const std::string& peer, bool owner = false) {
    auto& console = consoles_[uid];
    if (!console.sal) {
      zel::rt::FarmSubsystem& host = farm_.AddSubsystem(uid);
      host.SetPeer(peer, owner);
      host.Plugins().Offer(kZelDirectoryStoreInterface, &store_);
      console.sal = std::make_unique<ZEL_AdminToolSAL6>(host);
    }
    return *console.sal;
  }
  // The host of console `uid` (made by Console), to build other SAL versions on.
  zel::rt::FarmSubsystem& ConsoleHost(uint16_t uid) { return *farm_.FindSubsystem(uid); }
  // The owner's console (UID 5), a local account of the farm's owner.
  ZEL_AdminToolSAL6& Owner() { return Console(5, "unix:root", true); }

  // Sends a raw request from console `uid` (made first with Console) and answers the reply's
  // result; *reply (when given) takes the reply.
  int32_t Raw(uint16_t uid, uint16_t eventID, const std::vector<uint8_t>& payload,
              std::unique_ptr<ZEL_BUF_EventBuffer>* reply = nullptr);

  AdminToolSubsystem& Subsystem() { return *subsystem_; }
  zel::rt::InProcessFarm& Farm() { return farm_; }
  zel::rt::FarmSubsystem& Host() { return host_; }
  const std::string& StorePath() { return path_; }

  uint64_t now = 1'700'000'000'000;  // the subsystem's clock (ms)

 private:
  void Start() {
    subsystem_ = std::make_unique<AdminToolSubsystem>(host_, TestOptions(&now));
    subsystem_->Attach(host_);
  }
  struct ConsoleSlot {
    std::unique_ptr<ZEL_AdminToolSAL6> sal;
  };

  zel::dir::testing::TempStore store_;
  std::string path_ = store_.StorePath();
  zel::rt::InProcessFarm farm_;
  zel::rt::FarmSubsystem& host_ = farm_.AddSubsystem(zel::protocol::kAdminToolSubsystemUID);
  std::unique_ptr<AdminToolSubsystem> subsystem_;
  std::map<uint16_t, ConsoleSlot> consoles_;
};

inline int32_t SubsystemFarm::Raw(uint16_t uid, uint16_t eventID,
                                  const std::vector<uint8_t>& payload,
                                  std::unique_ptr<ZEL_BUF_EventBuffer>* reply) {
  auto* request = new ZEL_BUF_EventBuffer(eventID, ZELVersion(1, 0), 0);
  request->SetSrcSubsystemUID(uid);
  request->SetDestSubsystemUID(zel::protocol::kAdminToolSubsystemUID);
  if (!payload.empty()) request->AppendBytes(payload.data(), static_cast<uint32_t>(payload.size()));
  ZEL_BUF_EventBuffer* answer = nullptr;
  const int32_t sent = farm_.Send(request, &answer);
  if (sent < 0) return sent;
  std::unique_ptr<ZEL_BUF_EventBuffer> owned(answer);
  int32_t result = 0;
  if (owned->GetSize() >= 4) std::memcpy(&result, owned->GetData(), 4);
  if (reply != nullptr) *reply = std::move(owned);
  return result;
}

}  // namespace zel::subsystem::testing
