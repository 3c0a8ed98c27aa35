// An in-process farm host: subsystems registered under their UIDs, requests delivered
// synchronously to the target's handler, one-way events to the subsystem they name.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "zel/runtime/caller.h"
#include "zel/runtime/export.h"
#include "zel/runtime/pif.h"
#include "zel/runtime/plugins.h"

namespace zel::rt {

class InProcessFarm;

// One subsystem of the farm. It is a host subsystem on which SAL objects can be built, and it
// may answer requests and receive one-way events.
class ZEL_RUNTIME_API FarmSubsystem final : public ZEL_PIF_ISubSystem {
 public:
  // Answers a request: a result, and for a result that is not negative a reply in *reply (made
  // with the request's CreateReplyEvent, or any new event). The request stays the farm's.
  using RequestHandler =
      std::function<int32_t(const ZEL_BUF_EventBuffer& request, ZEL_BUF_EventBuffer** reply)>;
  // The same, told who sent the request.
  using CallerRequestHandler = std::function<int32_t(
      const Caller& caller, const ZEL_BUF_EventBuffer& request, ZEL_BUF_EventBuffer** reply)>;
  // Takes a one-way event addressed to this subsystem (instead of the inbox).
  using PostHandler =
      std::function<void(const Caller& caller, std::unique_ptr<ZEL_BUF_EventBuffer> event)>;
  // Told that a connection of the farm's server closed: what was kept for its callers can go.
  using ConnectionClosedHandler = std::function<void(uint64_t connection)>;

  FarmSubsystem(InProcessFarm& farm, uint16_t uid);
  FarmSubsystem(const FarmSubsystem&) = delete;
  FarmSubsystem& operator=(const FarmSubsystem&) = delete;
  ~FarmSubsystem();

  int32_t DeliverEvent(ZEL_BUF_EventBuffer* event, uint32_t flags) override;
  ZELString GetNeighborhoodName() override { return neighborhood_; }
  ZelPluginApiTable* GetPluginApis() override { return hasPluginApis_ ? &plugins_ : nullptr; }
  uint32_t GetSubsystemUID() override { return uid_; }
  EventTransport* GetEventTransport() override;

  void SetNeighborhoodName(const ZELString& name) { neighborhood_ = name; }
  void SetRequestHandler(RequestHandler handler);
  void SetCallerRequestHandler(CallerRequestHandler handler) { handler_ = std::move(handler); }
  void SetPostHandler(PostHandler handler) { postHandler_ = std::move(handler); }
  void SetConnectionClosedHandler(ConnectionClosedHandler handler) {
    closedHandler_ = std::move(handler);
  }
  // The identity that events sent from this subsystem carry to their target: the peer's account
  // text ("" for none) and whether it is the farm's owner. None until set.
  void SetPeer(std::string peer, bool owner);
  // The subsystem's own plug-in API table, where further interfaces are offered by number.
  PluginRegistry& Plugins() { return plugins_; }
  // Whether GetPluginApis() answers the table (true) or null (false).
  void SetHasPluginApis(bool has) { hasPluginApis_ = has; }

  // One-way events that reached this subsystem, oldest first; the inbox owns them.
  const std::vector<std::unique_ptr<ZEL_BUF_EventBuffer>>& Inbox() const { return inbox_; }
  std::vector<std::unique_ptr<ZEL_BUF_EventBuffer>> TakeInbox() { return std::move(inbox_); }

 private:
  friend class InProcessFarm;

  InProcessFarm& farm_;
  uint16_t uid_;
  ZELString neighborhood_;
  CallerRequestHandler handler_;
  PostHandler postHandler_;
  ConnectionClosedHandler closedHandler_;
  std::string peer_;
  bool owner_ = false;
  PluginRegistry plugins_;
  bool hasPluginApis_ = true;
  std::vector<std::unique_ptr<ZEL_BUF_EventBuffer>> inbox_;
};

// The farm. While it lives it is the event-dispatch interface that ZelPluginApis offers under
// kZelEventDispatcherInterface. Events travel without copying, as objects.
class ZEL_RUNTIME_API InProcessFarm final : public EventTransport, public ZEL_PIF_EventDispatcher {
 public:
  InProcessFarm();
  InProcessFarm(const InProcessFarm&) = delete;
  InProcessFarm& operator=(const InProcessFarm&) = delete;
  ~InProcessFarm();

  // A new subsystem under `uid`; an earlier one with that UID is replaced.
  FarmSubsystem& AddSubsystem(uint16_t uid);
  // Null when no subsystem has that UID.
  FarmSubsystem* FindSubsystem(uint16_t uid);

  int32_t Send(ZEL_BUF_EventBuffer* request, ZEL_BUF_EventBuffer** reply) override;
  int32_t Post(ZEL_BUF_EventBuffer* event) override;
  int32_t PostEvent(ZEL_BUF_EventBuffer* event) override { return Post(event); }

  // The same as Send and Post for a host that vouches for the caller itself (a server hands on
  // what came over one of its connections). Subsystems are added before such calls begin;
  // these may then come from several threads at once, so handlers must allow that.
  int32_t SendAs(const Caller& caller, ZEL_BUF_EventBuffer* request, ZEL_BUF_EventBuffer** reply);
  int32_t PostAs(const Caller& caller, ZEL_BUF_EventBuffer* event);
  // Tells every subsystem that has a handler for it that `connection` closed.
  void ConnectionClosed(uint64_t connection);

  // Takes one-way events for connections other than 0 (a server's): the event, taken over,
  // for the subsystem it names on that connection; kNoSuchSubsystem when the connection is
  // gone. Set before such posts begin.
  using ConnectionPostHandler =
      std::function<int32_t(uint64_t connection, std::unique_ptr<ZEL_BUF_EventBuffer> event)>;
  void SetConnectionPostHandler(ConnectionPostHandler handler) {
    connectionPostHandler_ = std::move(handler);
  }
  // Connection 0: Post; another: the connection post handler (kNoSuchSubsystem without one).
  int32_t PostTo(uint64_t connection, ZEL_BUF_EventBuffer* event) override;

 private:
  // Who `event` comes from: its source subsystem's peer identity, on connection 0.
  Caller CallerOf(const ZEL_BUF_EventBuffer& event);

  std::map<uint16_t, std::unique_ptr<FarmSubsystem>> subsystems_;
  ConnectionPostHandler connectionPostHandler_;
};

}  // namespace zel::rt
