#include "zel/runtime/pif.h"

#include "event_factory.h"
#include "zel/runtime/codes.h"

ZEL_BUF_EventBuffer2* CreateSALEvent2(uint16_t eventID, ZELVersion version, uint32_t sizeHint,
                                      uint16_t callerUID, uint16_t targetUID,
                                      uint32_t interfaceLevel) {
  ZEL_BUF_EventBuffer2* event = zel::rt::NewEvent(eventID, version, sizeHint, interfaceLevel);
  if (event == nullptr) return nullptr;
  event->SetSrcSubsystemUID(callerUID);
  event->SetDestSubsystemUID(targetUID);
  return event;
}

int32_t SendSALEvent2(ZEL_BUF_EventBuffer* request, ZEL_BUF_EventBuffer** reply,
                      ZEL_PIF_ISubSystem& host, uint32_t flags) {
  if (reply != nullptr) *reply = nullptr;
  if (request == nullptr || reply == nullptr || flags != 0) {
    delete request;
    return zel::rt::kInvalidArgument;
  }
  zel::rt::EventTransport* transport = host.GetEventTransport();
  if (transport == nullptr) {
    delete request;
    return zel::rt::kNoTransport;
  }
  const int32_t result = transport->Send(request, reply);
  if (result < 0 && *reply != nullptr) {
    // A transport that fails keeps no reply; make sure the caller is never handed one.
    delete *reply;
    *reply = nullptr;
  }
  return result;
}

ZEL_PIF_SAL::ZEL_PIF_SAL(ZEL_PIF_ISubSystem& host, uint16_t targetUID)
    : host_(host),
      callerUID_(static_cast<uint16_t>(host.GetSubsystemUID() & 0xFFFF)),
      targetUID_(targetUID) {}

ZEL_PIF_SAL::~ZEL_PIF_SAL() = default;

void* ZEL_PIF_SAL::GetTraceComponent() { return nullptr; }

uint32_t ZEL_PIF_SAL::GetErrorMsgType() { return 0; }

int32_t ZEL_PIF_SAL::SendSALEvent(ZEL_BUF_EventBuffer** event, uint32_t flags) {
  if (event == nullptr) return zel::rt::kInvalidArgument;
  ZEL_BUF_EventBuffer* reply = nullptr;
  const int32_t result = SendSALEvent2(*event, &reply, host_, flags);
  *event = reply;
  return result;
}

int32_t ZEL_PIF_SAL::PostSALEvent(ZEL_BUF_EventBuffer* event) {
  if (event == nullptr) return zel::rt::kInvalidArgument;
  zel::rt::EventTransport* transport = host_.GetEventTransport();
  if (transport == nullptr) {
    delete event;
    return zel::rt::kNoTransport;
  }
  return transport->Post(event);
}

ZEL_BUF_EventBuffer* ZEL_PIF_SAL::CreateSALEvent(uint16_t eventID, ZELVersion version,
                                                 uint32_t sizeHint) {
  return CreateSALEvent2(eventID, version, sizeHint, callerUID_, targetUID_, 0);
}
