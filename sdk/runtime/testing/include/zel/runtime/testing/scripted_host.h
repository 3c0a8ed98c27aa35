// A scripted host for byte-exact tests: it records every event created, sent, posted and
// delivered, answers sends with scripted replies or failures, and can refuse an event creation,
// fail an append or make the dispatcher answer a code. While it lives it is the process's event
// hooks and the dispatcher offered under interface 300.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "zel/runtime/buffers.h"
#include "zel/runtime/codes.h"
#include "zel/runtime/pif.h"
#include "zel/runtime/plugins.h"

namespace zel::rt::testing {

using Bytes = std::vector<uint8_t>;

// An event's header and payload, copied.
struct RecordedEvent {
  uint16_t eventID = 0;
  ZELVersion version;
  uint32_t sizeHint = 0;
  uint32_t srcHostID = 0;
  uint32_t destHostID = 0;
  uint16_t srcSubsystemUID = 0;
  uint16_t destSubsystemUID = 0;
  std::optional<uint32_t> interfaceLevel;  // set for ZEL_BUF_EventBuffer2 only
  Bytes payload;
};
RecordedEvent Record(const ZEL_BUF_EventBuffer& event);

// The bytes that `write` puts into a fresh buffer: expected payloads and scripted replies are
// built with the same writer the code under test uses.
Bytes Write(const std::function<void(ZEL_BUF_BinBuffer&)>& write);

class ScriptedHost final : public ZEL_PIF_ISubSystem,
                           public EventTransport,
                           public ZEL_PIF_EventDispatcher,
                           public EventHooks {
 public:
  explicit ScriptedHost(uint32_t uid = 5);
  ScriptedHost(const ScriptedHost&) = delete;
  ScriptedHost& operator=(const ScriptedHost&) = delete;
  ~ScriptedHost();

  // --- the script --------------------------------------------------------------------------
  // The next send answers `result` (not negative) with a reply holding `payload`.
  void QueueReply(Bytes payload, int32_t result = 0);
  // The next send fails with `code` (negative) and gives no reply.
  void QueueSendFailure(int32_t code);
  // Every send is answered by `respond` once the queue is empty (request in, reply payload out).
  void SetResponder(std::function<int32_t(const RecordedEvent& request, Bytes* reply)> respond);
  // The nth event creation from now (1 = the next) returns null.
  void FailNthCreate(uint32_t nth) { failCreateAt_ = createCalls_ + nth; }
  // The nth append to an event from now (1 = the next) fails with `code`.
  void FailNthAppend(uint32_t nth, int32_t code = kNoMemory) {
    failAppendAt_ = appendCalls_ + nth;
    failAppendCode_ = code;
  }
  void SetDispatchResult(int32_t code) { dispatchResult_ = code; }
  void SetDeliverResult(int32_t code) { deliverResult_ = code; }
  void SetNeighborhoodName(const ZELString& name) { neighborhood_ = name; }
  void SetSubsystemUID(uint32_t uid) { uid_ = uid; }
  // Whether GetPluginApis() answers this host's own table (true, the default) or null.
  void SetHasPluginApis(bool has) { hasPluginApis_ = has; }
  PluginRegistry& Plugins() { return plugins_; }

  // --- what happened -----------------------------------------------------------------------
  const std::vector<RecordedEvent>& Created() const { return created_; }  // header at creation
  const std::vector<RecordedEvent>& Sent() const { return sent_; }
  const std::vector<RecordedEvent>& Posted() const { return posted_; }  // PostEvent and Post
  const std::vector<RecordedEvent>& Delivered() const { return delivered_; }
  uint32_t AppendCalls() const { return static_cast<uint32_t>(appendCalls_); }
  // Empty when every event and allocation made since construction has been released;
  // otherwise says what is left.
  std::string Outstanding() const;

  // --- ZEL_PIF_ISubSystem ------------------------------------------------------------------
  int32_t DeliverEvent(ZEL_BUF_EventBuffer* event, uint32_t flags) override;
  ZELString GetNeighborhoodName() override { return neighborhood_; }
  ZelPluginApiTable* GetPluginApis() override { return hasPluginApis_ ? &plugins_ : nullptr; }
  uint32_t GetSubsystemUID() override { return uid_; }
  EventTransport* GetEventTransport() override { return this; }

  // --- EventTransport and ZEL_PIF_EventDispatcher ------------------------------------------
  int32_t Send(ZEL_BUF_EventBuffer* request, ZEL_BUF_EventBuffer** reply) override;
  int32_t Post(ZEL_BUF_EventBuffer* event) override;
  int32_t PostEvent(ZEL_BUF_EventBuffer* event) override { return Post(event); }

  // --- EventHooks --------------------------------------------------------------------------
  bool AllowCreate(uint16_t eventID) override;
  void OnCreated(const ZEL_BUF_EventBuffer& event) override;
  int32_t CheckAppend(const ZEL_BUF_BinBuffer& buffer, uint32_t length) override;

 private:
  struct Step {
    int32_t result;
    Bytes payload;
  };

  uint32_t uid_;
  EventHooks* previousHooks_;
  ZELString neighborhood_ = u"TestFarm";
  PluginRegistry plugins_;
  bool hasPluginApis_ = true;

  std::deque<Step> script_;
  std::function<int32_t(const RecordedEvent&, Bytes*)> responder_;
  uint64_t createCalls_ = 0;
  uint64_t failCreateAt_ = 0;
  uint64_t appendCalls_ = 0;
  uint64_t failAppendAt_ = 0;
  int32_t failAppendCode_ = kNoMemory;
  int32_t dispatchResult_ = 0;
  int32_t deliverResult_ = 0;
  bool buildingReply_ = false;

  std::vector<RecordedEvent> created_;
  std::vector<RecordedEvent> sent_;
  std::vector<RecordedEvent> posted_;
  std::vector<RecordedEvent> delivered_;

  uint64_t baseEvents_;
  uint64_t baseAllocations_;
  uint64_t baseDebugBlocks_;
};

}  // namespace zel::rt::testing
