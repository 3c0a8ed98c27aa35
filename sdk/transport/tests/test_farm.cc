#include "test_farm.h"

#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "zel/runtime/codes.h"
#include "zel/runtime/reader.h"

namespace zel::transport::testing {

namespace {

std::unique_ptr<ZEL_BUF_EventBuffer> EmptyReply(const ZEL_BUF_EventBuffer& request) {
  ZEL_BUF_EventBuffer* reply = nullptr;
  request.CreateReplyEvent(&reply, request.GetEventID(), ZELVersion(1, 0), kTestUID, 0);
  return std::unique_ptr<ZEL_BUF_EventBuffer>(reply);
}

}  // namespace

bool ReadEcho(const ZEL_BUF_EventBuffer& reply, EchoedCaller* out) {
  ZEL_BUF_BufferReader in(reply.GetData(), reply.GetSize());
  try {
    uint8_t owner = 0;
    uint32_t peerSize = 0;
    in >> out->connection >> out->sourceUID >> owner >> peerSize;
    out->owner = owner != 0;
    out->peer.resize(peerSize);
    in.ReadData(out->peer.data(), peerSize);
    out->payload.resize(in.GetRemaining());
    in.ReadData(out->payload.data(), static_cast<uint32_t>(out->payload.size()));
  } catch (const ZEL_BUF_ReadException&) {
    return false;
  }
  return true;
}

TestFarm::TestFarm(ServerOptions options) {
  zel::rt::FarmSubsystem& subsystem = farm_.AddSubsystem(kTestUID);
  server_ = std::make_unique<Server>(farm_, std::move(options));
  Server* server = server_.get();
  subsystem.SetCallerRequestHandler([server](const zel::rt::Caller& caller,
                                             const ZEL_BUF_EventBuffer& request,
                                             ZEL_BUF_EventBuffer** reply) -> int32_t {
    std::unique_ptr<ZEL_BUF_EventBuffer> answer = EmptyReply(request);
    if (request.GetEventID() == kEcho) {
      *answer << caller.connection << caller.sourceUID << uint8_t{caller.owner}
              << static_cast<uint32_t>(caller.peer.size());
      answer->SetMaxSize(ZEL_BUF_BinBuffer::kDefaultMaxSize + 1024);
      answer->AppendData(caller.peer.data(), static_cast<uint32_t>(caller.peer.size()));
      answer->AppendData(request.GetData(), request.GetSize());
    } else if (request.GetEventID() == kSlow) {
      uint32_t milliseconds = 0;
      ZEL_BUF_BufferReader in(request.GetData(), request.GetSize());
      in >> milliseconds;
      std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    } else if (request.GetEventID() == kPublish) {
      ZEL_BUF_EventBuffer published(kPublished, ZELVersion(1, 0), 0);
      published.SetSrcSubsystemUID(kTestUID);
      published.AppendData(request.GetData(), request.GetSize());
      server->Publish(published);
    } else if (request.GetEventID() == kThrow) {
      throw std::runtime_error("the handler failed");
    } else {
      return zel::rt::kInvalidArgument;
    }
    *reply = answer.release();
    return 0;
  });
  subsystem.SetPostHandler(
      [server](const zel::rt::Caller&, std::unique_ptr<ZEL_BUF_EventBuffer> event) {
        ZEL_BUF_EventBuffer posted(kPosted, ZELVersion(1, 0), 0);
        posted.AppendData(event->GetData(), event->GetSize());
        server->Publish(posted);
      });
  subsystem.SetConnectionClosedHandler([this](uint64_t connection) {
    std::lock_guard lock(mu_);
    closed_.push_back(connection);
  });
  server_->SetLogHook([this](std::string_view line) {
    std::lock_guard lock(mu_);
    log_.emplace_back(line);
  });
}

TestFarm::~TestFarm() { server_->Stop(); }

int32_t TestFarm::Start() { return server_->Start(&error_); }

std::vector<uint64_t> TestFarm::ClosedConnections() {
  std::lock_guard lock(mu_);
  return closed_;
}

std::vector<std::string> TestFarm::LogLines() {
  std::lock_guard lock(mu_);
  return log_;
}

std::unique_ptr<ZEL_BUF_EventBuffer> MakeRequest(uint16_t eventID, uint16_t sourceUID,
                                                 const std::vector<uint8_t>& payload) {
  auto request = std::make_unique<ZEL_BUF_EventBuffer2>(eventID, ZELVersion(1, 0),
                                                        static_cast<uint32_t>(payload.size()), 4);
  request->SetSrcSubsystemUID(sourceUID);
  request->SetDestSubsystemUID(kTestUID);
  if (!payload.empty()) request->AppendData(payload.data(), static_cast<uint32_t>(payload.size()));
  return request;
}

std::vector<uint8_t> SlowPayload(uint32_t milliseconds) {
  return {static_cast<uint8_t>(milliseconds), static_cast<uint8_t>(milliseconds >> 8),
          static_cast<uint8_t>(milliseconds >> 16), static_cast<uint8_t>(milliseconds >> 24)};
}

bool MakeCertificates(const std::string& folder, Certificates* out) {
  const std::string f = folder + "/";
  const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  const std::string quiet = " >/dev/null 2>&1";
  std::string script =
      "cd '" + folder + "' && printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' > san.ext" +
      " && openssl req -x509" + key + " -keyout ca.key -out ca.crt -subj /CN=TestAuthority" +
      " -days 2" + quiet + " && openssl req -x509" + key +
      " -keyout other.ca.key -out other.ca.crt -subj /CN=OtherAuthority -days 2" + quiet +
      " && openssl req" + key + " -keyout server.key -out server.csr -subj /CN=localhost" + quiet +
      " && openssl x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial" +
      " -extfile san.ext -out server.crt -days 2" + quiet + " && openssl req" + key +
      " -keyout client.key -out client.csr -subj /O=North/CN=alice" + quiet +
      " && openssl x509 -req -in client.csr -CA ca.crt -CAkey ca.key -CAcreateserial" +
      " -out client.crt -days 2" + quiet + " && openssl req" + key +
      " -keyout other.key -out other.csr -subj /CN=mallory" + quiet +
      " && openssl x509 -req -in other.csr -CA other.ca.crt -CAkey other.ca.key" +
      " -CAcreateserial -out other.crt -days 2" + quiet;
  if (std::system(script.c_str()) != 0) return false;
  *out = {f + "ca.crt",     f + "server.crt", f + "server.key", f + "client.crt",
          f + "client.key", f + "other.crt",  f + "other.key"};
  return true;
}

std::string CurrentLogin() {
  passwd* entry = getpwuid(geteuid());
  return entry != nullptr ? entry->pw_name : "#" + std::to_string(geteuid());
}

int ConnectRaw(const std::string& address) {
  if (address.rfind("unix:", 0) != 0) return -1;
  const std::string path = address.substr(5);
  sockaddr_un name{};
  name.sun_family = AF_UNIX;
  std::strncpy(name.sun_path, path.c_str(), sizeof name.sun_path - 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&name), sizeof name) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool WriteRaw(int fd, const std::vector<uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

bool ReadUntilClosed(int fd, int milliseconds, std::vector<uint8_t>* received) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
    uint8_t chunk[4096];
    const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0) return true;  // closed (or reset)
    received->insert(received->end(), chunk, chunk + got);
  }
}

}  // namespace zel::transport::testing
