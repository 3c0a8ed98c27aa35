// The subsystem in a farm on a real store file: UID 22 answers, consoles act as peers of the
// farm, each with the library's SAL object on its host. Every end-to-end table builds on it and
// runs once per transport:
//   - in process: each console is a subsystem of the farm carrying its peer identity;
//   - over sockets: a transport server serves the same farm; the owner's consoles use its Unix
//     socket (this process's user is the owner), every other account is a TLS client with a
//     certificate of its own mapped to that account, the peer without identity plain TCP in
//     insecure mode. The subsystem, its clock and its store stay reachable from the test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/directory/testing/temp_store.h"
#include "zel/protocol/events.h"
#include "zel/protocol/result_reply.h"
#include "zel/runtime/farm.h"
#include "zel/runtime/reader.h"
#include "zel/subsystem/admintool.h"

namespace zel::subsystem::testing {

enum class Transport { kInProcess, kSockets };

// The transports this test program runs the tables over (the socket program is a system test).
inline auto Transports() {
#if defined(ZEL_TABLES_OVER_SOCKETS)
  return ::testing::Values(Transport::kSockets);
#else
  return ::testing::Values(Transport::kInProcess);
#endif
}
inline std::string TransportName(const ::testing::TestParamInfo<Transport>& info) {
  return info.param == Transport::kSockets ? "Sockets" : "InProcess";
}

// Tests hash passwords as cheaply as possible, set the clock themselves and hold fixed keys
// (the transport key becomes the process's password key, as a server's does).
Options TestOptions(uint64_t* now);

class SocketConsoles;

class SubsystemFarm {
 public:
  explicit SubsystemFarm(Transport transport);
  ~SubsystemFarm();

  // The subsystem anew on the same store (what a restarted server sees; over sockets the
  // server restarts too and the consoles connect again).
  void Restart();

  // Console `uid`'s connection closes: over sockets the console connects again at its next call;
  // in process the subsystem is told that connection 0 closed, as a server would tell it.
  void Reconnect(uint16_t uid);

  // The SAL object of a console subsystem `uid` that acts as `peer` ("" for none).
  ZEL_AdminToolSAL6& Console(uint16_t uid, const std::string& peer, bool owner = false);
  // The host of console `uid` (made by Console), to build other SAL versions on.
  ZEL_PIF_ISubSystem& ConsoleHost(uint16_t uid) { return *consoles_.at(uid).host; }
  // The owner's console (UID 5), a local account of the farm's owner: this process's user.
  ZEL_AdminToolSAL6& Owner() { return Console(5, OwnerPeer(), true); }
  static std::string OwnerPeer();

  // Sends a raw request from console `uid` (made first with Console) and answers the reply's
  // result; *reply (when given) takes the reply.
  int32_t Raw(uint16_t uid, uint16_t eventID, const std::vector<uint8_t>& payload,
              std::unique_ptr<ZEL_BUF_EventBuffer>* reply = nullptr);

  // A request of ours (a protocol message) from console `uid`: the reply's result, and its
  // fields in *reply (when given) when the result is not negative.
  template <class Request, class Reply = zel::protocol::ResultReply>
  int32_t Ask(uint16_t uid, const Request& request, Reply* reply = nullptr) {
    ZEL_BUF_BinBuffer payload;
    zel::protocol::Encode(request, payload);
    std::unique_ptr<ZEL_BUF_EventBuffer> answer;
    const int32_t result = Raw(
        uid, Request::kEventID,
        std::vector<uint8_t>(payload.GetData(), payload.GetData() + payload.GetSize()), &answer);
    if (result >= 0 && reply != nullptr) {
      ZEL_BUF_BufferReader in(answer->GetData(), answer->GetSize());
      zel::protocol::Decode(in, *reply);
      EXPECT_EQ(in.GetRemaining(), 0u);
    }
    return result;
  }

  // An administrator put straight into the store, as the administrator handlers would, with
  // display name "Display NAME": its UID.
  uint64_t AddAdmin(const std::string& account, std::vector<uint32_t> privileges);

  AdminToolSubsystem& Subsystem() { return *subsystem_; }
  zel::rt::InProcessFarm& Farm() { return farm_; }
  // The subsystem's host (what the server's own programs reach the store through).
  zel::rt::FarmSubsystem& Host() { return host_; }
  const std::string& StorePath() { return path_; }

  uint64_t now = 1'700'000'000'000;  // the subsystem's clock (ms)

 private:
  void Start();
  struct ConsoleSlot {
    ZEL_PIF_ISubSystem* host = nullptr;
    std::unique_ptr<ZEL_AdminToolSAL6> sal;
  };

  zel::dir::testing::TempStore store_;
  std::string path_ = store_.StorePath();
  zel::rt::InProcessFarm farm_;
  zel::rt::FarmSubsystem& host_ = farm_.AddSubsystem(zel::protocol::kAdminToolSubsystemUID);
  std::unique_ptr<AdminToolSubsystem> subsystem_;
  std::unique_ptr<SocketConsoles> sockets_;  // over sockets only
  std::map<uint16_t, ConsoleSlot> consoles_;
};

// A table's fixture: a farm over the transport of the test's parameter.
class FarmTest : public ::testing::TestWithParam<Transport> {
 protected:
  SubsystemFarm farm_{GetParam()};
};

}  // namespace zel::subsystem::testing

// Runs the tables of `suite` over this program's transports.
#define ZEL_TABLES_OVER_TRANSPORTS(suite)                                              \
  INSTANTIATE_TEST_SUITE_P(Transports, suite, ::zel::subsystem::testing::Transports(), \
                           ::zel::subsystem::testing::TransportName)
