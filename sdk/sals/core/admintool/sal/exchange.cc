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

int32_t TraceFailure(const Request& request, int32_t result) {
  if (result < 0 && request.failure != nullptr) trace::TraceIfFailed(*request.failure, result);
  return result;
}

void TraceWriteFailure(const Request& request, int32_t code) {
  if (request.writeFailure != nullptr) trace::TraceCode(trace::kInfo, *request.writeFailure, code);
}

}  // namespace zel::sal
