#include "zel/transport/console_host.h"

namespace zel::transport {

ConsoleHost::ConsoleHost(Client& client, uint16_t uid) : client_(client), uid_(uid) {
  plugins_.Offer(kZelDirectoryStoreInterface, static_cast<ZEL_DIR_StoreLocation*>(this));
}

ConsoleHost::~ConsoleHost() {
  client_.SetPostHandler(uid_, nullptr);
  plugins_.Withdraw(kZelDirectoryStoreInterface);
}

int32_t ConsoleHost::DeliverEvent(ZEL_BUF_EventBuffer* event, uint32_t /*flags*/) {
  return client_.Post(event);
}

}  // namespace zel::transport
