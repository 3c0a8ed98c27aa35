#include "admintool/sal/exchange.h"

#include "admintool/trace/trace.h"

namespace zel::sal {

ZEL_BUF_EventBuffer2* CreateRequest(const Endpoint& from, const Request& request) {
  if (request.interfaceLevel <= 2) {
    const auto caller = static_cast<uint16_t>(from.host.GetSubsystemUID());
    return CreateSALEvent2(request.eventID, kEventVersion, request.sizeHint, caller,
                           kAdminToolSubsystemUID, request.interfaceLevel);
  }
  return CreateSALEvent2(request.eventID, kEventVersion, request.sizeHint, from.keptCallerUID,
                         from.keptTargetUID, request.interfaceLevel);
}

void TraceWriteFailure(const Request& request, int32_t code) {
  if (request.writeFailure == nullptr) return;
  const trace::Message& message = *request.writeFailure;
  if (const uint64_t logger = trace::ActiveLogger(trace::kInfo)) {
    trace::TraceUInt32(static_cast<uint32_t>(logger), static_cast<uint32_t>(logger >> 32),
                       message.number, &trace::GuidOf(message.module), static_cast<uint32_t>(code));
  }
}

}  // namespace zel::sal
