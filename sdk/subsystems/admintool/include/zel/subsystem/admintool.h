// The AdminTool subsystem (UID 22): the other side of every request the library sends. It keeps
// the farm's administrators, their logons and the audit in the farm directory and answers each
// request event through the handler registered for it (handlers.h).
//
//   zel::rt::FarmSubsystem& host = farm.AddSubsystem(22);
//   host.Plugins().Offer(kZelDirectoryStoreInterface, &storeLocation);
//   zel::subsystem::AdminToolSubsystem admintool(host, options);
//   admintool.Attach(host);
//
// Thread safety: Handle and ConnectionClosed may be called from several threads at once; one
// mutex around the state makes them take turns (a request runs to its end before the next).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>

#include "zel/directory/service.h"
#include "zel/runtime/buffers.h"
#include "zel/runtime/caller.h"
#include "zel/runtime/farm.h"
#include "zel/runtime/pif.h"
#include "zel/subsystem/handlers.h"
#include "zel/subsystem/options.h"

namespace zel::subsystem {

class StoreFollower;

class AdminToolSubsystem {
 public:
  // Built on `host`, whose plug-in table names the store (kZelDirectoryStoreInterface), as for
  // the library's directory; the store is opened at the first request. `host` outlives it.
  AdminToolSubsystem(ZEL_PIF_ISubSystem& host, Options options);
  AdminToolSubsystem(const AdminToolSubsystem&) = delete;
  AdminToolSubsystem& operator=(const AdminToolSubsystem&) = delete;
  ~AdminToolSubsystem();

  // Makes this the caller request handler of `host` (which must outlive this object, or be
  // given another handler first).
  void Attach(zel::rt::FarmSubsystem& host);

  // Answers one request: 0 and the reply in *reply, whose first field is the request's result
  // (a refused or failed request gets a reply too, so that a console reads the subsystem's code
  // rather than a failed send); or the runtime's negative code, with *reply null, when no reply
  // can be made. The request stays the caller's.
  int32_t Handle(const zel::rt::Caller& caller, const ZEL_BUF_EventBuffer& request,
                 ZEL_BUF_EventBuffer** reply);
  // Ends the logons of the connection.
  void ConnectionClosed(uint64_t connection);

  // Reads the store's changes made by other servers sharing it (a replicated LDAP directory)
  // and announces their tree changes to the notification hub (src/store_follower.h). A server
  // calls it on a timer. 0; kNotSupported where the store has no such feed (SQLite); or the
  // store's code. `log` (taken at the first call) hears the changes given up, whose entries
  // did not reach this server's replica.
  int32_t FollowOtherServers(const std::function<void(std::string_view)>& log = {});

  // For hosts and tests that add handlers of their own (under the same rules).
  DispatchTable& Table() { return table_; }

 private:
  // Runs the handler of the request's event; its result.
  int32_t Run(Call& call);
  void Audit(const zel::rt::Caller& caller, uint16_t eventID, const std::string& what,
             int32_t result);

  std::mutex mutex_;
  ZEL_PIF_ISubSystem& host_;
  Options options_;
  ZEL_PS_LDAPSAL directory_;
  AdministratorStore admins_;
  Sessions sessions_;
  Authoriser authoriser_;
  AuditLog audit_;
  Notifier notifier_;
  Credentials credentials_;
  Context context_;
  DispatchTable table_;
  std::unique_ptr<StoreFollower> follower_;  // made at the first FollowOtherServers
};

}  // namespace zel::subsystem
