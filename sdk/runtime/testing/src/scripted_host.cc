#include "zel/runtime/testing/scripted_host.h"

#include <memory>

#include "zel/runtime/alloc.h"

namespace zel::rt::testing {

RecordedEvent Record(const ZEL_BUF_EventBuffer& event) {
  RecordedEvent record;
  record.eventID = event.GetEventID();
  record.version = event.GetVersion();
  record.sizeHint = event.GetSizeHint();
  record.srcHostID = event.GetSrcHostID();
  record.destHostID = event.GetDestHostID();
  record.srcSubsystemUID = event.GetSrcSubsystemUID();
  record.destSubsystemUID = event.GetDestSubsystemUID();
  if (const auto* second = dynamic_cast<const ZEL_BUF_EventBuffer2*>(&event)) {
    record.interfaceLevel = second->GetInterfaceLevel();
  }
  record.payload.assign(event.GetData(), event.GetData() + event.GetSize());
  return record;
}

Bytes Write(const std::function<void(ZEL_BUF_BinBuffer&)>& write) {
  ZEL_BUF_BinBuffer buffer;
  write(buffer);
  return Bytes(buffer.GetData(), buffer.GetData() + buffer.GetSize());
}

ScriptedHost::ScriptedHost(uint32_t uid)
    : uid_(uid),
      previousHooks_(GetEventHooks()),
      baseEvents_(LiveEventCount()),
      baseAllocations_(GetAllocationStats().outstanding()),
      baseDebugBlocks_(OutstandingDebugBlocks()) {
  SetEventHooks(this);
  ZelPluginApis.Offer(kZelEventDispatcherInterface, static_cast<ZEL_PIF_EventDispatcher*>(this));
}

ScriptedHost::~ScriptedHost() {
  SetEventHooks(previousHooks_);
  if (ZelPluginApis.Offered(kZelEventDispatcherInterface) ==
      static_cast<ZEL_PIF_EventDispatcher*>(this)) {
    ZelPluginApis.Withdraw(kZelEventDispatcherInterface);
  }
}

void ScriptedHost::QueueReply(Bytes payload, int32_t result) {
  script_.push_back(Step{result, std::move(payload)});
}

void ScriptedHost::QueueSendFailure(int32_t code) { script_.push_back(Step{code, {}}); }

void ScriptedHost::SetResponder(std::function<int32_t(const RecordedEvent&, Bytes*)> respond) {
  responder_ = std::move(respond);
}

std::string ScriptedHost::Outstanding() const {
  std::string left;
  const auto add = [&left](uint64_t now, uint64_t base, const char* what) {
    if (now != base) left += std::to_string(now - base) + what;
  };
  add(LiveEventCount(), baseEvents_, " event(s); ");
  add(GetAllocationStats().outstanding(), baseAllocations_, " allocation(s); ");
  add(OutstandingDebugBlocks(), baseDebugBlocks_, " block(s)");
  return left;
}

int32_t ScriptedHost::DeliverEvent(ZEL_BUF_EventBuffer* event, uint32_t /*flags*/) {
  std::unique_ptr<ZEL_BUF_EventBuffer> owned(event);
  if (event == nullptr) return kInvalidArgument;
  delivered_.push_back(Record(*event));
  return deliverResult_;
}

int32_t ScriptedHost::Send(ZEL_BUF_EventBuffer* request, ZEL_BUF_EventBuffer** reply) {
  std::unique_ptr<ZEL_BUF_EventBuffer> owned(request);
  *reply = nullptr;
  sent_.push_back(Record(*request));
  Step step{kNoReply, {}};
  if (!script_.empty()) {
    step = std::move(script_.front());
    script_.pop_front();
  } else if (responder_) {
    step.result = responder_(sent_.back(), &step.payload);
  }
  if (step.result < 0) return step.result;
  // The reply is built outside the hooks: it is the peer's event, not the code under test's.
  buildingReply_ = true;
  std::unique_ptr<ZEL_BUF_EventBuffer2> answer(new (std::nothrow) ZEL_BUF_EventBuffer2(
      request->GetEventID(), ZELVersion(1, 0), static_cast<uint32_t>(step.payload.size()), 0));
  // A peer without storage fails the send.
  int32_t built = answer == nullptr ? kNoMemory : kOk;
  if (built == kOk) {
    answer->SetSrcSubsystemUID(request->GetDestSubsystemUID());
    answer->SetDestSubsystemUID(request->GetSrcSubsystemUID());
    built = answer->AppendData(step.payload.data(), static_cast<uint32_t>(step.payload.size()));
  }
  buildingReply_ = false;
  if (built < 0) return built;
  *reply = answer.release();
  return step.result;
}

int32_t ScriptedHost::Post(ZEL_BUF_EventBuffer* event) {
  std::unique_ptr<ZEL_BUF_EventBuffer> owned(event);
  if (event == nullptr) return kInvalidArgument;
  posted_.push_back(Record(*event));
  return dispatchResult_;
}

bool ScriptedHost::AllowCreate(uint16_t /*eventID*/) {
  ++createCalls_;
  if (failCreateAt_ != 0 && createCalls_ == failCreateAt_) {
    failCreateAt_ = 0;
    return false;
  }
  return true;
}

void ScriptedHost::OnCreated(const ZEL_BUF_EventBuffer& event) {
  created_.push_back(Record(event));
}

int32_t ScriptedHost::CheckAppend(const ZEL_BUF_BinBuffer& buffer, uint32_t /*length*/) {
  // Only appends to events count; plain buffers are the test's own scratch space.
  if (buildingReply_ || dynamic_cast<const ZEL_BUF_EventBuffer*>(&buffer) == nullptr) return kOk;
  ++appendCalls_;
  if (failAppendAt_ != 0 && appendCalls_ == failAppendAt_) {
    failAppendAt_ = 0;
    return failAppendCode_;
  }
  return kOk;
}

}  // namespace zel::rt::testing
