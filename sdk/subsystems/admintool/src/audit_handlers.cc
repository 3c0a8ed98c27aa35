// The audit query (ours): one page of the audit for a caller with the privilege to read it.
#include "zel/protocol/audit.h"
#include "zel/subsystem/codes.h"
#include "zel/subsystem/handlers.h"

namespace zel::subsystem {

namespace {

int32_t AuditQuery(Context& ctx, Call& call) {
  zel::protocol::AuditQueryRequest query;
  zel::protocol::Decode(call.in, query);
  ExpectEnd(call.in);
  if (const int32_t denied = ctx.authoriser.Require(call.caller, Privilege::kReadAudit)) {
    return denied;
  }
  zel::protocol::AuditQueryReply reply;
  if (const int32_t queried = ctx.audit.Query(query, &reply)) return queried;
  WriteReplyOfOurs(call, reply, 0);
  return 0;
}

}  // namespace

void RegisterAuditHandlers(DispatchTable& table) {
  table.Add(zel::protocol::event::kAuditQuery, Effect::kReads, AuditQuery);
}

}  // namespace zel::subsystem
