// The host subsystem, the event-dispatch interface, the send path and the SAL base.
#pragma once

#include <cstdint>

#include "zel/runtime/buffers.h"
#include "zel/runtime/codes.h"
#include "zel/runtime/export.h"
#include "zel/runtime/plugins.h"
#include "zel/runtime/strings.h"

// Interface number under which ZelPluginApis offers the event-dispatch interface.
inline constexpr uint32_t kZelEventDispatcherInterface = 300;

// Where one-way events are handed.
class ZEL_PIF_EventDispatcher {
 public:
  // Takes the event over whatever it answers; 0 on success.
  virtual int32_t PostEvent(ZEL_BUF_EventBuffer* event) = 0;

 protected:
  ~ZEL_PIF_EventDispatcher() = default;
};

namespace zel::rt {

// The seam of the send path: how events leave a host subsystem. The in-process farm is one
// transport; one to other processes can take its place without any caller changing.
class EventTransport {
 public:
  // Delivers `request` (taken over) and waits for its reply. On a result that is not negative
  // *reply holds the reply, which the caller then owns; otherwise *reply is null.
  virtual int32_t Send(ZEL_BUF_EventBuffer* request, ZEL_BUF_EventBuffer** reply) = 0;
  // Delivers a one-way event (taken over whatever the result).
  virtual int32_t Post(ZEL_BUF_EventBuffer* event) = 0;
  // Delivers a one-way event to the subsystem it names on `connection`, the connection a
  // caller came in on (zel::rt::Caller): how a subsystem reaches a console later, with a
  // change notification say. Connection 0 is this transport's own subsystems (Post); a
  // transport that has no other connections answers kNoSuchSubsystem for the rest. Takes the event
  // over whatever the result.
  virtual int32_t PostTo(uint64_t connection, ZEL_BUF_EventBuffer* event) {
    if (connection == 0) return Post(event);
    delete event;
    return kNoSuchSubsystem;
  }

 protected:
  ~EventTransport() = default;
};

}  // namespace zel::rt

// The host subsystem object on which SAL objects are built.
class ZEL_PIF_ISubSystem {
 public:
  // Virtual operations in their fixed order.
  // Hands an event (usually a reply built on the receiving side) on; takes it over.
  virtual int32_t DeliverEvent(ZEL_BUF_EventBuffer* event, uint32_t flags) = 0;
  virtual ZELString GetNeighborhoodName() = 0;
  // The host's plug-in API table, or null when it has none.
  virtual ZelPluginApiTable* GetPluginApis() = 0;
  // The subsystem's UID; only the low 16 bits are significant.
  virtual uint32_t GetSubsystemUID() = 0;
  // After the fixed four: the send path of this subsystem, or null when it cannot send.
  virtual zel::rt::EventTransport* GetEventTransport() = 0;

 protected:
  ~ZEL_PIF_ISubSystem() = default;
};

// A new request event addressed from `callerUID` to `targetUID`, or null when none can be had.
ZEL_RUNTIME_API ZEL_BUF_EventBuffer2* CreateSALEvent2(uint16_t eventID, ZELVersion version,
                                                      uint32_t sizeHint, uint16_t callerUID,
                                                      uint16_t targetUID, uint32_t interfaceLevel);

// Sends `request` through the host's transport and waits. The request is taken over in every
// case. Not negative: *reply holds the reply, the caller's to release. Negative: *reply is null.
// `flags` must be 0.
ZEL_RUNTIME_API int32_t SendSALEvent2(ZEL_BUF_EventBuffer* request, ZEL_BUF_EventBuffer** reply,
                                      ZEL_PIF_ISubSystem& host, uint32_t flags);

// The base of every SAL object: keeps the host subsystem, the caller's UID and the target UID.
class ZEL_RUNTIME_API ZEL_PIF_SAL {
 public:
  ZEL_PIF_SAL(ZEL_PIF_ISubSystem& host, uint16_t targetUID);
  ZEL_PIF_SAL(const ZEL_PIF_SAL&) = delete;
  ZEL_PIF_SAL& operator=(const ZEL_PIF_SAL&) = delete;

  // Virtual operations in their fixed order.
  virtual ~ZEL_PIF_SAL();
  // The trace component of this SAL base: none.
  virtual void* GetTraceComponent();
  // The error message type of this SAL base: 0, none.
  virtual uint32_t GetErrorMsgType();
  // Sends *event and waits; on success the reply replaces the request in *event, otherwise
  // *event becomes null. `flags` must be 0.
  virtual int32_t SendSALEvent(ZEL_BUF_EventBuffer** event, uint32_t flags);
  // Hands a one-way event to the host's transport (taken over).
  virtual int32_t PostSALEvent(ZEL_BUF_EventBuffer* event);
  // A new request addressed from the caller's UID to the target UID, or null.
  virtual ZEL_BUF_EventBuffer* CreateSALEvent(uint16_t eventID, ZELVersion version,
                                              uint32_t sizeHint);

  ZEL_PIF_ISubSystem& GetHostSubsystem() const { return host_; }
  uint16_t GetCallerSubsystemUID() const { return callerUID_; }
  uint16_t GetTargetSubsystemUID() const { return targetUID_; }

 private:
  ZEL_PIF_ISubSystem& host_;
  uint16_t callerUID_;
  uint16_t targetUID_;
};
