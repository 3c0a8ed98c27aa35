// How the subsystem answers a request: a dispatch table from event ID to handler. Each area
// registers its handlers in its own file with one function (RegisterAdminHandlers, ...), which
// the subsystem calls once when it is made.
//
// A handler reads the request from call.in and writes the reply's fields (what follows the
// result) to call.out; it answers the result. The subsystem then writes the reply: the result
// first, and call.out's bytes only when the result is not negative. So a handler that fails
// half way leaves nothing of its fields in the reply.
//
// Rules for handlers:
// - Read the whole request before changing anything (ReadAll, ReadLibraryMessage). A request
//   that does not parse throws ZEL_BUF_ReadException out of the handler: the subsystem answers
//   kMalformedRequest, and nothing was changed.
// - Check the caller first (ctx.authoriser.Require / RequireAdministrator).
// - A changing request runs in one ZEL_DIR_Transaction on ctx.directory; commit it last.
// - Describe a change in call.what (names and UIDs, never a secret): a handler registered as
//   kChanges gets one audit record per request with it, whatever the result.
// - A handler that answers with an event of another ID (the group reply, event 81) puts the
//   whole reply in call.replacement; the subsystem sends it as it is.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "zel/directory/service.h"
#include "zel/protocol/grammar.h"
#include "zel/runtime/buffers.h"
#include "zel/runtime/caller.h"
#include "zel/runtime/reader.h"
#include "zel/subsystem/admin_store.h"
#include "zel/subsystem/audit_log.h"
#include "zel/subsystem/authoriser.h"
#include "zel/subsystem/credentials.h"
#include "zel/subsystem/notifier.h"
#include "zel/subsystem/options.h"
#include "zel/subsystem/sessions.h"

namespace zel::subsystem {

// What every handler works with. The subsystem holds its lock while a handler runs, so a
// handler never locks.
struct Context {
  ZEL_PIF_ISubSystem& host;  // the subsystem's host (UID 22)
  ZEL_PS_LDAPSAL& directory;
  AdministratorStore& admins;
  Sessions& sessions;
  Authoriser& authoriser;
  AuditLog& audit;
  Notifier& notifier;
  const Options& options;
  Credentials& credentials;  // hasher, logon throttle, keys (zel/subsystem/credentials.h)

  // Milliseconds since 1970-01-01 UTC, from the options' clock.
  uint64_t Now() const;
};

// One request being answered.
struct Call {
  const zel::rt::Caller& caller;
  const ZEL_BUF_EventBuffer& request;
  ZEL_BUF_BufferReader& in;  // the request's payload (the request stays the host's)
  ZEL_BUF_EventBuffer& out;  // the reply's fields after the result
  std::string what;          // the change, for the audit
  std::unique_ptr<ZEL_BUF_EventBuffer> replacement;  // a whole reply of the handler's own
};

using Handler = std::function<int32_t(Context& ctx, Call& call)>;

enum class Effect {
  kReads,    // answers without changing anything
  kChanges,  // may change state: audited
};

class DispatchTable {
 public:
  // A later registration of the same event ID replaces the earlier one.
  void Add(uint16_t eventID, Effect effect, Handler handler);
  struct Entry {
    Effect effect;
    Handler handler;
  };
  // Null for an event nobody registered.
  const Entry* Find(uint16_t eventID) const;

  // What an area forgets when a connection closes (its subscriptions, say); called under the
  // subsystem's lock, in the order added.
  using ClosedHandler = std::function<void(uint64_t connection)>;
  void OnConnectionClosed(ClosedHandler handler) { closed_.push_back(std::move(handler)); }
  void ConnectionClosed(uint64_t connection) const {
    for (const ClosedHandler& handler : closed_) handler(connection);
  }

 private:
  std::map<uint16_t, Entry> entries_;
  std::vector<ClosedHandler> closed_;
};

// One per area, each in its own file.
void RegisterAdminHandlers(DispatchTable& table);       // administrators: admin_handlers.cc
void RegisterCapabilityHandlers(DispatchTable& table);  // capability objects (73, 92)
void RegisterAuditHandlers(DispatchTable& table);       // the audit query: audit_handlers.cc
void RegisterCredentialHandlers(DispatchTable& table);  // credentials: credential_handlers.cc
void RegisterTreeHandlers(DispatchTable& table);        // tree and folders: tree_handlers.cc
void RegisterDirectoryHandlers(DispatchTable& table);   // `farm:` store: directory_handlers.cc

// Throws ZEL_BUF_ReadException (kMalformed) when the request holds bytes after its fields.
void ExpectEnd(const ZEL_BUF_BufferReader& in);

// Writes a reply message of ours (zel/protocol/...) into call.out. Those messages list the
// result as their first field, which the subsystem writes itself, so only what follows it goes
// to call.out; `result` (what the handler answers) decides which fields are present.
// Throws ZEL_BUF_AppendException when the fields do not fit.
template <class M>
void WriteReplyOfOurs(Call& call, M& reply, int32_t result) {
  reply.result = result;
  ZEL_BUF_BinBuffer whole;
  zel::protocol::Encode(reply, whole);
  constexpr uint32_t kResultSize = 4;
  const int32_t appended =
      call.out.AppendBytes(whole.GetData() + kResultSize, whole.GetSize() - kResultSize);
  if (appended < 0) throw ZEL_BUF_AppendException(appended);
}

}  // namespace zel::subsystem
