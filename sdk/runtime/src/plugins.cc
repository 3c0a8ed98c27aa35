#include "zel/runtime/plugins.h"

#include "zel/runtime/codes.h"

zel::rt::PluginRegistry ZelPluginApis;

namespace zel::rt {

PluginRegistry::Slot* PluginRegistry::find(uint32_t number) {
  for (Slot& slot : slots_) {
    if (slot.used && slot.number == number) return &slot;
  }
  return nullptr;
}

const PluginRegistry::Slot* PluginRegistry::find(uint32_t number) const {
  return const_cast<PluginRegistry*>(this)->find(number);
}

int32_t PluginRegistry::AcquireInterface(uint32_t number, void** out) {
  if (out == nullptr) return kInvalidArgument;
  *out = nullptr;
  Slot* slot = find(number);
  if (slot == nullptr) return kNoSuchInterface;
  ++slot->acquired;
  *out = slot->iface;
  return kOk;
}

int32_t PluginRegistry::ReleaseInterface(uint32_t number, void* iface) {
  Slot* slot = find(number);
  if (slot == nullptr || iface == nullptr || iface != slot->iface) return kInvalidArgument;
  if (slot->released == slot->acquired) return kInvalidArgument;  // released more than acquired
  ++slot->released;
  if (observer_ != nullptr) observer_(observerContext_, number);
  return kOk;
}

int32_t PluginRegistry::Offer(uint32_t number, void* iface) {
  Slot* slot = find(number);
  if (slot == nullptr) {
    for (Slot& candidate : slots_) {
      if (!candidate.used) {
        slot = &candidate;
        break;
      }
    }
  }
  if (slot == nullptr) return kNoMemory;
  *slot = Slot{true, number, iface, 0, 0};
  return kOk;
}

uint32_t PluginRegistry::Withdraw(uint32_t number) {
  Slot* slot = find(number);
  if (slot == nullptr) return 0;
  const uint32_t held = slot->acquired - slot->released;
  *slot = Slot{};
  return held;
}

void* PluginRegistry::Offered(uint32_t number) const {
  const Slot* slot = find(number);
  return slot == nullptr ? nullptr : slot->iface;
}

uint32_t PluginRegistry::HeldCount(uint32_t number) const {
  const Slot* slot = find(number);
  return slot == nullptr ? 0 : slot->acquired - slot->released;
}

uint32_t PluginRegistry::AcquireCount(uint32_t number) const {
  const Slot* slot = find(number);
  return slot == nullptr ? 0 : slot->acquired;
}

uint32_t PluginRegistry::ReleaseCount(uint32_t number) const {
  const Slot* slot = find(number);
  return slot == nullptr ? 0 : slot->released;
}

}  // namespace zel::rt
