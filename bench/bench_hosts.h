// A host subsystem for benchmarks: it takes every event it is handed and drops it, counting
// bytes, and offers a plug-in table (where a directory store can be named).
#pragma once

#include <cstdint>

#include "zel/runtime/pif.h"
#include "zel/runtime/plugins.h"

namespace zel::bench {

class SinkHost final : public ZEL_PIF_ISubSystem, public ZEL_PIF_EventDispatcher {
 public:
  uint64_t bytes = 0;
  zel::rt::PluginRegistry plugins;

  int32_t DeliverEvent(ZEL_BUF_EventBuffer* event, uint32_t) override { return Take(event); }
  int32_t PostEvent(ZEL_BUF_EventBuffer* event) override { return Take(event); }
  ZELString GetNeighborhoodName() override { return ZELString(u"Bench"); }
  ZelPluginApiTable* GetPluginApis() override { return &plugins; }
  uint32_t GetSubsystemUID() override { return 5; }
  zel::rt::EventTransport* GetEventTransport() override { return nullptr; }

 private:
  int32_t Take(ZEL_BUF_EventBuffer* event) {
    bytes += event->GetSize();
    delete event;
    return 0;
  }
};

}  // namespace zel::bench
