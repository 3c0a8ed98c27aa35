#include "zel/runtime/farm.h"

#include "zel/runtime/codes.h"

namespace zel::rt {

FarmSubsystem::FarmSubsystem(InProcessFarm& farm, uint16_t uid) : farm_(farm), uid_(uid) {}

FarmSubsystem::~FarmSubsystem() = default;

int32_t FarmSubsystem::DeliverEvent(ZEL_BUF_EventBuffer* event, uint32_t /*flags*/) {
  return farm_.Post(event);
}

EventTransport* FarmSubsystem::GetEventTransport() { return &farm_; }

void FarmSubsystem::SetRequestHandler(RequestHandler handler) {
  if (!handler) {
    handler_ = nullptr;
    return;
  }
  handler_ = [handler = std::move(handler)](const Caller&, const ZEL_BUF_EventBuffer& request,
                                            ZEL_BUF_EventBuffer** reply) {
    return handler(request, reply);
  };
}

void FarmSubsystem::SetPeer(std::string peer, bool owner) {
  peer_ = std::move(peer);
  owner_ = owner;
}

InProcessFarm::InProcessFarm() {
  ZelPluginApis.Offer(kZelEventDispatcherInterface, static_cast<ZEL_PIF_EventDispatcher*>(this));
}

InProcessFarm::~InProcessFarm() {
  // Withdraw only our own offer: a later farm may have replaced it.
  void* ours = static_cast<ZEL_PIF_EventDispatcher*>(this);
  if (ZelPluginApis.Offered(kZelEventDispatcherInterface) == ours) {
    ZelPluginApis.Withdraw(kZelEventDispatcherInterface);
  }
}

FarmSubsystem& InProcessFarm::AddSubsystem(uint16_t uid) {
  auto& slot = subsystems_[uid];
  slot = std::make_unique<FarmSubsystem>(*this, uid);
  return *slot;
}

FarmSubsystem* InProcessFarm::FindSubsystem(uint16_t uid) {
  auto found = subsystems_.find(uid);
  return found == subsystems_.end() ? nullptr : found->second.get();
}

int32_t InProcessFarm::Send(ZEL_BUF_EventBuffer* request, ZEL_BUF_EventBuffer** reply) {
  if (request == nullptr) {
    *reply = nullptr;
    return kInvalidArgument;
  }
  return SendAs(CallerOf(*request), request, reply);
}

int32_t InProcessFarm::SendAs(const Caller& caller, ZEL_BUF_EventBuffer* request,
                              ZEL_BUF_EventBuffer** reply) {
  std::unique_ptr<ZEL_BUF_EventBuffer> owned(request);
  *reply = nullptr;
  if (request == nullptr) return kInvalidArgument;
  FarmSubsystem* target = FindSubsystem(request->GetDestSubsystemUID());
  if (target == nullptr) return kNoSuchSubsystem;
  if (!target->handler_) return kNotAccepted;
  ZEL_BUF_EventBuffer* answer = nullptr;
  const int32_t result = target->handler_(caller, *request, &answer);
  if (result < 0) {
    delete answer;  // a failing handler's reply is never handed on
    return result;
  }
  if (answer == nullptr) return kNoReply;
  *reply = answer;
  return result;
}

int32_t InProcessFarm::Post(ZEL_BUF_EventBuffer* event) {
  if (event == nullptr) return kInvalidArgument;
  return PostAs(CallerOf(*event), event);
}

int32_t InProcessFarm::PostAs(const Caller& caller, ZEL_BUF_EventBuffer* event) {
  std::unique_ptr<ZEL_BUF_EventBuffer> owned(event);
  if (event == nullptr) return kInvalidArgument;
  FarmSubsystem* target = FindSubsystem(event->GetDestSubsystemUID());
  if (target == nullptr) return kNoSuchSubsystem;
  if (target->postHandler_) {
    target->postHandler_(caller, std::move(owned));
    return kOk;
  }
  target->inbox_.push_back(std::move(owned));
  return kOk;
}

int32_t InProcessFarm::PostTo(uint64_t connection, ZEL_BUF_EventBuffer* event) {
  if (connection == 0) return Post(event);
  std::unique_ptr<ZEL_BUF_EventBuffer> owned(event);
  if (event == nullptr) return kInvalidArgument;
  if (!connectionPostHandler_) return kNoSuchSubsystem;
  return connectionPostHandler_(connection, std::move(owned));
}

void InProcessFarm::ConnectionClosed(uint64_t connection) {
  for (auto& [uid, subsystem] : subsystems_) {
    if (subsystem->closedHandler_) subsystem->closedHandler_(connection);
  }
}

Caller InProcessFarm::CallerOf(const ZEL_BUF_EventBuffer& event) {
  Caller caller;
  caller.sourceUID = event.GetSrcSubsystemUID();
  if (const FarmSubsystem* source = FindSubsystem(caller.sourceUID)) {
    caller.peer = source->peer_;
    caller.owner = source->owner_;
  }
  return caller;
}

}  // namespace zel::rt
