// The request exchange every operation uses: create the request, write it, send it, read the
// reply; and its first-generation and one-way variants. Operations give only their event, their
// writer, their reader and their failure clean-up.
//
//   write(event)          -> 0 to go on, or a negative code to give up with (no trace);
//                            may throw ZEL_BUF_AppendException: a failed write
//   read(reader, result)  -> the operation's result; called only when the reply's result is
//                            not negative; may throw ZEL_BUF_ReadException: a short reply
//   cleanup()             -> releases what the operation allocated for its outputs
#pragma once

#include <cstdint>
#include <new>
#include <optional>

#include "zel/admintool/protocol/grammar.h"
#include "zel/admintool/result_codes.h"
#include "zel/admintool/trace_messages.h"
#include "zel/admintool/zel_admintoolsal5.h"
#include "zel/protocol/events.h"
#include "zel/runtime/buffers.h"
#include "zel/runtime/pif.h"
#include "zel/runtime/reader.h"

namespace zel::sal {

using zel::protocol::kAdminToolSubsystemUID;
inline constexpr ZELVersion kEventVersion{1, 0};

struct Request {
  uint16_t eventID;
  uint32_t sizeHint;
  uint32_t interfaceLevel;  // 1 to 4; 0 for first-generation and one-way events
  // The information record written when the request cannot be written, if the operation has one.
  const trace::Message* writeFailure = nullptr;
  int32_t writeFailedCode = ZEL_E_WRITE_FAILED;
  int32_t shortReplyCode = ZEL_E_SHORT_REPLY;
  // Any nonzero send answer (not only a negative one) ends the operation.
  bool nonzeroSendEnds = false;
  // A raw append's failure answers its own code (no trace) instead of a failed write.
  bool appendCodeAsIs = false;
  // The error record written when the operation fails, if the operation has one.
  const trace::Message* failure = nullptr;
};

// The exchange of a request message: its event, hint and level, and the operation's codes.
template <typename M>
Request RequestFor(const M& message, Request codes = {}) {
  codes.eventID = M::kEvent;
  codes.sizeHint = message.SizeHint();
  codes.interfaceLevel = M::kLevel;
  return codes;
}

// Where a SAL object sends from.
struct Endpoint {
  ZEL_PIF_SAL& sal;
  ZEL_PIF_ISubSystem& host;
  uint16_t keptCallerUID;
  uint16_t keptTargetUID;
};

// The SAL object's state that the exchanges use.
struct SalAccess {
  static Endpoint EndpointOf(ZEL_AdminToolSAL& sal) {
    return Endpoint{sal, sal.GetHostSubsystem(), sal.callerSubsystemUID, sal.adminToolSubsystemUID};
  }
  static ZEL_PIF_EventDispatcher* DispatcherOf(ZEL_AdminToolSAL& sal) {
    return sal.eventDispatcher;
  }
  static AdminToolInterface4* LocalImplementationOf(ZEL_AdminToolSAL5& sal) {
    return sal.localImplementation;
  }
};

// Step 2 of the exchange for operations of the fourth interface: when the object holds a local
// implementation, `call(local)` answers instead of an event. True (with *result set) when it did.
// Answers nothing when the object holds none.
template <typename Call>
std::optional<int32_t> ForwardToLocal(ZEL_AdminToolSAL5& sal, Call&& call) {
  AdminToolInterface4* local = SalAccess::LocalImplementationOf(sal);
  if (local == nullptr) return std::nullopt;
  return call(*local);
}

// The request event of `request`: levels 1 and 2 ask the host for its UID at every call and
// name the AdminTool subsystem literally; levels 3 and 4 use the UIDs kept at construction.
ZEL_BUF_EventBuffer2* CreateRequest(const Endpoint& from, const Request& request);
// The information record of a failed write, when the request names one.
void TraceWriteFailure(const Request& request, int32_t code);
// The error record of a failed operation, when the request names one; answers `result`.
int32_t TraceFailure(const Request& request, int32_t result);

// Reads the reply's result and, when it is not negative, the operation's fields. The reader
// owns the reply and releases it.
template <typename Read>
int32_t ReadReply(ZEL_BUF_EventBuffer* reply, const Request& request, Read&& read) {
  ZEL_BUF_BufferReader reader(reply, 1);
  int32_t result = 0;
  try {
    reader >> result;
    if (result >= 0) result = read(reader, result);
  } catch (const ZEL_BUF_ReadException&) {
    result = request.shortReplyCode;
  }
  return result;
}

// Runs the write phase; 0, or the code to return after the request was released and the
// clean-up ran.
template <typename Write, typename Cleanup>
int32_t WriteRequest(ZEL_BUF_EventBuffer* event, const Request& request, Write&& write,
                     Cleanup&& cleanup) {
  int32_t code = 0;
  try {
    code = write(*event);
  } catch (const ZEL_BUF_AppendException& e) {
    TraceWriteFailure(request, e.code());
    code = request.writeFailedCode;
  } catch (const zel::admintool::WriteRefused& refused) {
    if (refused.appendFailed && !request.appendCodeAsIs) {
      TraceWriteFailure(request, refused.code);
      code = request.writeFailedCode;
    } else {
      code = refused.code;
    }
  }
  if (code < 0) {
    delete event;
    cleanup();
  }
  return code < 0 ? code : 0;
}

template <typename Write, typename Read, typename Cleanup>
int32_t RequestReply(const Endpoint& from, const Request& request, Write&& write, Read&& read,
                     Cleanup&& cleanup) {
  ZEL_BUF_EventBuffer2* event = CreateRequest(from, request);
  if (event == nullptr) return TraceFailure(request, ZEL_E_NO_EVENT);
  if (const int32_t failed = WriteRequest(event, request, write, cleanup)) {
    return TraceFailure(request, failed);
  }
  ZEL_BUF_EventBuffer* reply = nullptr;
  const int32_t sent = SendSALEvent2(event, &reply, from.host, 0);  // takes the request
  if (sent < 0 || (request.nonzeroSendEnds && sent != 0)) {
    delete reply;  // the reply of a positive answer; null after a failed send
    cleanup();
    return TraceFailure(request, sent);
  }
  const int32_t result = ReadReply(reply, request, read);
  if (result < 0) cleanup();
  return TraceFailure(request, result);
}

// Writes a request message: the write step of every exchange that sends one.
template <typename M>
auto MessageWriter(M& message) {
  return [&message](ZEL_BUF_EventBuffer& event) {
    zel::admintool::WriteMessage(event, message);
    return 0;
  };
}

// The exchange of a request message and its reply message: the reply's fields are read when its
// result is not negative; storage that runs out while reading answers 0x80000002. `cleanup`
// releases the operation's outputs when it fails.
template <typename Req, typename Rep, typename Cleanup>
int32_t Exchange(const Endpoint& from, const Request& request, Req& message, Rep& reply,
                 Cleanup&& cleanup) {
  return RequestReply(
      from, request, MessageWriter(message),
      [&](ZEL_BUF_BufferReader& reader, int32_t result) {
        const int32_t status = zel::admintool::ReadMessage(reader, reply);
        return status != 0 ? status : result;
      },
      cleanup);
}

// The same for a reply that carries only its result.
template <typename Req>
int32_t Exchange(const Endpoint& from, const Request& request, Req& message) {
  zel::admintool::ResultOnly none;
  return Exchange(from, request, message, none, [] {});
}

// The first generation: created and sent through the SAL base's own CreateSALEvent and
// SendSALEvent; the reply takes the request's place.
template <typename Write, typename Read, typename Cleanup>
int32_t RequestReplyFirstGeneration(ZEL_PIF_SAL& sal, const Request& request, Write&& write,
                                    Read&& read, Cleanup&& cleanup) {
  ZEL_BUF_EventBuffer* event = sal.CreateSALEvent(request.eventID, kEventVersion, 0);
  if (event == nullptr) return ZEL_E_NO_EVENT;
  if (const int32_t failed = WriteRequest(event, request, write, cleanup)) return failed;
  const int32_t sent = sal.SendSALEvent(&event, 0);
  if (sent < 0 || (request.nonzeroSendEnds && sent != 0)) {
    delete event;  // the reply of a positive answer; null after a failed send
    cleanup();
    return sent;
  }
  const int32_t result = ReadReply(event, request, read);
  if (result < 0) cleanup();
  return result;
}

// A one-way event: addressed by `address(event)`, written, and handed to the dispatcher, which
// takes it over whatever it answers. Answers the dispatcher's result.
template <typename Address, typename Write>
int32_t PostOneWay(ZEL_PIF_EventDispatcher* dispatcher, const Request& request, Address&& address,
                   Write&& write) {
  if (dispatcher == nullptr) return ZEL_E_NO_DISPATCHER;
  auto* event =
      new (std::nothrow) ZEL_BUF_EventBuffer(request.eventID, kEventVersion, request.sizeHint);
  if (event == nullptr) return ZEL_E_NO_EVENT;
  address(*event);
  if (const int32_t failed = WriteRequest(event, request, write, [] {})) return failed;
  return dispatcher->PostEvent(event);
}

// A one-way message, addressed by `address(event)`.
template <typename M, typename Address>
int32_t Post(ZEL_PIF_EventDispatcher* dispatcher, M& message, Address&& address) {
  return PostOneWay(dispatcher, RequestFor(message), address, MessageWriter(message));
}

}  // namespace zel::sal
