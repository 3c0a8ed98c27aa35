#include "farm_session.h"

#include <cstring>

#include "zel/console/requests.h"

namespace zeladmin {
namespace {

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

std::string TransportDetail() { return zel::transport::Client::LastError(); }

}  // namespace zeladmin
