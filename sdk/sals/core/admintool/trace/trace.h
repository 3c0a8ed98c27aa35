// The library's trace channel: the process-wide device state, opening the device once, Emit,
// the wrapper family and the trace site.
//
// A site costs a few loads and a branch while its class is off, and prepares none of its
// arguments:
//   ZEL_TRACE(kEntry, kSalConstructed, TraceNoData);
//   ZEL_TRACE(kInfo, kLogon2WriteFailed, TraceUInt32, code);
#pragma once

#include <atomic>
#include <cstdint>

#include "zel/admintool/export.h"
#include "zel/admintool/trace_messages.h"
#include "zel/tracedev/device.h"
#include "zel/tracedev/protocol.h"

namespace zel::trace {

// The classes of records the library writes.
struct TraceClass {
  uint8_t mask;
  uint8_t level;
};
inline constexpr TraceClass kError{kFlagError, 1};
inline constexpr TraceClass kInfo{kFlagInfo, 1};
inline constexpr TraceClass kEntry{kFlagEntry, 5};

inline constexpr uint32_t kMessageFlags = 0x2B;
inline constexpr const char16_t* kFlagNames =
    u"QDL_ERROR QDL_INFO QDL_PRIVATE QDL_ENTRY QDL_PROFILE QDL_UNITTEST QDL_RESERVED6 "
    u"QDL_RESERVED7 QDL_RESERVED8 QDL_RESERVED9 QDL_RESERVED10 QDL_RESERVED11";
extern const RegistrationRecord kRegistration;

// Process-wide state: the device ("handle"), the control block it shares, the open-once flag.
extern TraceDevice* g_device;
extern std::atomic<const ControlBlock*> g_controlBlock;
extern std::atomic<int32_t> g_openOnce;

// Uses `device` instead of the platform's when the device is opened. Call it before the first
// SAL object of the process is constructed; it is how tests and hosts bring their own sink.
ZEL_ADMINSAL_API void InstallTraceDevice(TraceDevice* device);

// Registers with `device` (which may be null: no device); the control block, or null after
// closing the device when it refuses.
const ControlBlock* OpenDevice(TraceDevice* device, const RegistrationRecord& registration);
// Opens the device for the process, once, whichever caller comes first.
void OpenOnce();

// One field of the device's memory, read once as it is now (the device may change it at any
// time).
template <typename T>
inline T LoadRelaxed(const T* field) {
#if defined(_MSC_VER)
  return *static_cast<const volatile T*>(field);
#else
  return __atomic_load_n(field, __ATOMIC_RELAXED);
#endif
}

// The logger handle when sites of `cls` emit now; 0 when they stay silent.
inline uint64_t ActiveLogger(TraceClass cls) {
  const ControlBlock* control = g_controlBlock.load(std::memory_order_relaxed);
  if (control == nullptr) return 0;
  const uint64_t logger = LoadRelaxed(&control->logger);
  const uint8_t flags = LoadRelaxed(&control->flags);
  const uint8_t level = LoadRelaxed(&control->level);
  return (logger != 0 && (flags & cls.mask) != 0 && level >= cls.level) ? logger : 0;
}

// A record of `cls` with `message` carrying one code, when `cls` is on now.
void TraceCode(TraceClass cls, const Message& message, int32_t code);

// Passes `result` on, after an error record carrying it when it is a failure.
inline int32_t TraceIfFailed(const Message& message, int32_t result) {
  if (result < 0) TraceCode(kError, message, result);
  return result;
}

// Builds one record from (pointer, uint32 length) pairs ended by a null pointer and sends it.
// 0; kStatusTooLarge past 8192 argument bytes; kStatusNoMemory when more than eight arguments
// find no storage for their block.
uint32_t Emit(uint32_t loggerLow, uint32_t loggerHigh, uint32_t messageFlags, const Guid* guid,
              uint32_t messageNumber, ...);

// The wrapper family: (logger low, logger high, message number, message GUID, data...).
uint32_t TraceNoData(uint32_t low, uint32_t high, uint32_t number, const Guid* guid);
uint32_t TraceUInt32(uint32_t low, uint32_t high, uint32_t number, const Guid* guid,
                     uint32_t value);
uint32_t TraceUInt64(uint32_t low, uint32_t high, uint32_t number, const Guid* guid,
                     uint64_t value);
uint32_t TraceString(uint32_t low, uint32_t high, uint32_t number, const Guid* guid,
                     const char16_t* text);
uint32_t TraceStringAndFive(uint32_t low, uint32_t high, uint32_t number, const Guid* guid,
                            const char16_t* text, uint32_t v1, uint32_t v2, uint32_t v3,
                            uint32_t v4, uint32_t v5);
uint32_t TraceTwoStrings(uint32_t low, uint32_t high, uint32_t number, const Guid* guid,
                         const char16_t* first, const char16_t* second);

}  // namespace zel::trace

#define ZEL_TRACE(cls, message, wrapper, ...)                                                     \
  do {                                                                                            \
    if (const uint64_t zel_trace_logger = ::zel::trace::ActiveLogger(::zel::trace::cls)) {        \
      ::zel::trace::wrapper(                                                                      \
          static_cast<uint32_t>(zel_trace_logger), static_cast<uint32_t>(zel_trace_logger >> 32), \
          ::zel::trace::message.number,                                                           \
          &::zel::trace::GuidOf(::zel::trace::message.module) __VA_OPT__(, ) __VA_ARGS__);        \
    }                                                                                             \
  } while (0)
