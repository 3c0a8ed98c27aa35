// Plug-in API tables: where a process or a host subsystem offers interfaces by number.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zel/runtime/export.h"

// A table of interfaces offered by number.
class ZelPluginApiTable {
 public:
  // The interface offered under `number` into *out; 0 on success, negative (and *out null) when
  // none is offered.
  virtual int32_t AcquireInterface(uint32_t number, void** out) = 0;
  // Gives back an interface acquired under `number`; 0 on success, negative when `iface` is not
  // one that was acquired there.
  virtual int32_t ReleaseInterface(uint32_t number, void* iface) = 0;

 protected:
  ~ZelPluginApiTable() = default;
};

namespace zel::rt {

// A plug-in API table with a fixed number of slots. It counts acquisitions so that the owner of
// an interface can check that every user gave it back.
class ZEL_RUNTIME_API PluginRegistry : public ZelPluginApiTable {
 public:
  static constexpr std::size_t kMaxOffers = 16;

  constexpr PluginRegistry() = default;
  PluginRegistry(const PluginRegistry&) = delete;
  PluginRegistry& operator=(const PluginRegistry&) = delete;
  virtual ~PluginRegistry() = default;

  int32_t AcquireInterface(uint32_t number, void** out) override;
  int32_t ReleaseInterface(uint32_t number, void* iface) override;

  // Offers `iface` under `number`, replacing any earlier offer; 0, or kNoMemory when every slot
  // is taken.
  int32_t Offer(uint32_t number, void* iface);
  // Withdraws the offer under `number`; returns how many acquisitions were still held.
  uint32_t Withdraw(uint32_t number);
  // Called after every successful release, with `context` and the interface number; lets the
  // owner of an interface see when (and in which order) its users give it back. Null: none.
  using ReleaseObserver = void (*)(void* context, uint32_t number);
  void SetReleaseObserver(ReleaseObserver observer, void* context) {
    observer_ = observer;
    observerContext_ = context;
  }

  // What is offered under `number`, or null.
  void* Offered(uint32_t number) const;
  // Acquisitions held under `number` now.
  uint32_t HeldCount(uint32_t number) const;
  // Acquisitions and releases under `number` since it was offered.
  uint32_t AcquireCount(uint32_t number) const;
  uint32_t ReleaseCount(uint32_t number) const;

 private:
  struct Slot {
    bool used = false;
    uint32_t number = 0;
    void* iface = nullptr;
    uint32_t acquired = 0;
    uint32_t released = 0;
  };
  Slot* find(uint32_t number);
  const Slot* find(uint32_t number) const;

  Slot slots_[kMaxOffers] = {};
  ReleaseObserver observer_ = nullptr;
  void* observerContext_ = nullptr;
};

}  // namespace zel::rt

// The foundation library's process-wide plug-in API table.
extern ZEL_RUNTIME_API zel::rt::PluginRegistry ZelPluginApis;
