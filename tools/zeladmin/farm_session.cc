#include "farm_session.h"

#include <cstring>

namespace zeladmin {
namespace {

// This console's subsystem UID; one host per zeladmin process.
constexpr uint16_t kConsoleUID = 200;

zel::transport::ClientOptions ClientOptionsOf(const FarmOptions& options) {
  zel::transport::ClientOptions out;
  if (!options.address.empty()) out.address = options.address;
  out.cert = options.cert;
  out.key = options.key;
  out.ca = options.ca;
  out.insecure = options.insecure;
  return out;
}

}  // namespace

FarmSession::FarmSession(const FarmOptions& options)
    : client_(std::make_unique<zel::transport::Client>(ClientOptionsOf(options))),
      host_(std::make_unique<zel::transport::ConsoleHost>(*client_, kConsoleUID)),
      sal_(std::make_unique<ZEL_AdminToolSAL6>(*host_)) {}

FarmSession::~FarmSession() {
  // The library's object before its host, the host before the connection.
  sal_.reset();
  host_.reset();
  client_.reset();
}

bool FarmSession::Connect(Failure* failure) {
  const int32_t connected = client_->Connect();
  if (connected >= 0) return true;
  *failure = Failure{"connecting to the farm", connected, TransportDetail()};
  return false;
}

int32_t FarmSession::SendOurs(uint16_t eventID, const ZEL_BUF_BinBuffer& payload,
                              std::unique_ptr<ZEL_BUF_EventBuffer>* answer) {
  auto* request = new ZEL_BUF_EventBuffer(eventID, ZELVersion(1, 0), 0);
  request->SetSrcSubsystemUID(kConsoleUID);
  request->SetDestSubsystemUID(zel::protocol::kAdminToolSubsystemUID);
  if (payload.GetSize() > 0) request->AppendBytes(payload.GetData(), payload.GetSize());
  ZEL_BUF_EventBuffer* reply = nullptr;
  const int32_t sent = client_->Send(request, &reply);
  if (sent < 0) return sent;
  answer->reset(reply);
  if (reply == nullptr || reply->GetSize() < 4) return static_cast<int32_t>(0x80060008u);
  return 0;
}

std::string TransportDetail() { return zel::transport::Client::LastError(); }

}  // namespace zeladmin
