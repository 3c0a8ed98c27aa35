// What the transport tests share: a small farm whose one subsystem answers test requests, a
// server started on it, certificates made with the openssl command, raw socket helpers.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "zel/runtime/farm.h"
#include "zel/transport/client.h"
#include "zel/transport/server.h"

namespace zel::transport::testing {

// The test subsystem's UID and its events.
inline constexpr uint16_t kTestUID = 40;
// Reply payload: connection:u64 sourceUID:u16 owner:u8 peer:bytes, then the request's payload.
inline constexpr uint16_t kEcho = 7001;
// Request payload: milliseconds:u32; the reply comes after that long.
inline constexpr uint16_t kSlow = 7002;
// Publishes kPublished with the request's payload; replies with an empty payload.
inline constexpr uint16_t kPublish = 7003;
inline constexpr uint16_t kPublished = 7100;
// A post of any ID to the subsystem is published as kPosted with the post's payload.
inline constexpr uint16_t kPosted = 7101;
// The handler throws.
inline constexpr uint16_t kThrow = 7004;

// The caller an echo reply reports.
struct EchoedCaller {
  uint64_t connection = 0;
  uint16_t sourceUID = 0;
  bool owner = false;
  std::string peer;
  std::vector<uint8_t> payload;
};
bool ReadEcho(const ZEL_BUF_EventBuffer& reply, EchoedCaller* out);

// A farm with the test subsystem and a server on it.
class TestFarm {
 public:
  explicit TestFarm(ServerOptions options);
  ~TestFarm();

  // 0, or the server's code with its reason in Error().
  int32_t Start();
  Server& server() { return *server_; }
  const std::string& Error() const { return error_; }
  std::string Address(std::size_t i = 0) const { return server_->ListeningAddresses().at(i); }
  std::vector<uint64_t> ClosedConnections();
  std::vector<std::string> LogLines();

 private:
  zel::rt::InProcessFarm farm_;
  std::unique_ptr<Server> server_;
  std::string error_;
  std::mutex mu_;
  std::vector<uint64_t> closed_;
  std::vector<std::string> log_;
};

// A request from `sourceUID` to the test subsystem.
std::unique_ptr<ZEL_BUF_EventBuffer> MakeRequest(uint16_t eventID, uint16_t sourceUID,
                                                 const std::vector<uint8_t>& payload);
std::vector<uint8_t> SlowPayload(uint32_t milliseconds);

// Certificates in a folder: an authority, the server's (for 127.0.0.1 and localhost), a
// console's (subject "CN=alice,O=North") and one from another authority ("CN=mallory").
struct Certificates {
  std::string ca, serverCert, serverKey, clientCert, clientKey, otherCert, otherKey;
  static constexpr const char* kClientSubject = "CN=alice,O=North";
};
// Makes them under `folder` with the openssl command; false when that fails.
bool MakeCertificates(const std::string& folder, Certificates* out);

// The login of this process's user.
std::string CurrentLogin();

// A plain blocking connection to a unix: address; -1 when none.
int ConnectRaw(const std::string& address);
// Writes all bytes; false on failure.
bool WriteRaw(int fd, const std::vector<uint8_t>& bytes);
// Reads until the other end closes or `milliseconds` pass; true when it closed. What came is
// appended to *received.
bool ReadUntilClosed(int fd, int milliseconds, std::vector<uint8_t>* received);

}  // namespace zel::transport::testing
