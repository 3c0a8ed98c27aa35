// Requests of ours to the farm's AdminTool subsystem, sent from one console-side host over the
// process's client: the same connection as the library's own events.
#pragma once

#include <cstdint>
#include <memory>

#include "zel/protocol/grammar.h"
#include "zel/runtime/buffers.h"
#include "zel/transport/client.h"

namespace zel::console {

// Sends `payload` as event `eventID` from host `sourceUID`; the reply in *answer. 0, the
// transport's code, or ZEL_E_SHORT_REPLY (0x80060008) for a reply without its result field.
int32_t SendOurs(zel::transport::Client& client, uint16_t sourceUID, uint16_t eventID,
                 const ZEL_BUF_BinBuffer& payload, std::unique_ptr<ZEL_BUF_EventBuffer>* answer);

// The request's result (or the send's failure). The reply's fields are read only when the
// result is not negative; a reply that does not read answers ZEL_E_SHORT_REPLY.
template <class Request, class Reply>
int32_t Ours(zel::transport::Client& client, uint16_t sourceUID, const Request& request,
             Reply* reply) {
  ZEL_BUF_BinBuffer payload;
  zel::protocol::Encode(request, payload);
  std::unique_ptr<ZEL_BUF_EventBuffer> answer;
  const int32_t sent = SendOurs(client, sourceUID, Request::kEventID, payload, &answer);
  if (sent < 0) return sent;
  ZEL_BUF_BufferReader in(answer->GetData(), answer->GetSize());
  try {
    zel::protocol::Decode(in, *reply);
  } catch (...) {
    return static_cast<int32_t>(0x80060008u);
  }
  return reply->result;
}

}  // namespace zel::console
