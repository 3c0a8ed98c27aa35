#include "admintool/trace/trace.h"

#include <cstdarg>
#include <cstring>
#include <string>

#include "zel/runtime/alloc.h"

namespace zel::trace {

const RegistrationRecord kRegistration = {&kControlGuid, kComponentName, kFlagNames};

TraceDevice* g_device = nullptr;
std::atomic<const ControlBlock*> g_controlBlock{nullptr};
std::atomic<int32_t> g_openOnce{0};

namespace {
TraceDevice* g_installed = nullptr;
}  // namespace

void InstallTraceDevice(TraceDevice* device) { g_installed = device; }

const ControlBlock* OpenDevice(TraceDevice* device, const RegistrationRecord& registration) {
  if (device == nullptr) return nullptr;
  const ControlBlock* control = device->Register(registration);
  if (control == nullptr) device->Close();
  return control;
}

void OpenOnce() {
  int32_t closed = 0;
  if (!g_openOnce.compare_exchange_strong(closed, 1)) return;
  g_device = g_installed != nullptr ? g_installed : OpenPlatformDevice();
  g_controlBlock.store(OpenDevice(g_device, kRegistration));
}

uint32_t Emit(uint32_t loggerLow, uint32_t loggerHigh, uint32_t /*messageFlags*/, const Guid* guid,
              uint32_t messageNumber, ...) {
  TraceRecord record{};
  const uint16_t number = static_cast<uint16_t>(messageNumber);
  record.header.classType = kClassType;
  record.header.logger = (static_cast<uint64_t>(loggerHigh) << 32) | loggerLow;
  record.header.guidAddress = WidenAddress(guid);
  record.header.flags = kHeaderFlags;
  record.fields[0] = Descriptor{WidenAddress(&number), sizeof number, 0};

  va_list pairs;
  va_start(pairs, messageNumber);
  va_list again;
  va_copy(again, pairs);
  uint32_t count = 0;
  uint64_t total = 0;
  while (const void* bytes = va_arg(pairs, const void*)) {
    const uint32_t length = va_arg(pairs, uint32_t);
    if (count < kMaxDescribedArguments) {
      record.fields[count + 1] = Descriptor{WidenAddress(bytes), length, 0};
    }
    ++count;
    total += length;
  }
  va_end(pairs);

  uint8_t* block = nullptr;
  uint32_t status = kStatusOk;
  if (total > kMaxArgumentBytes) {
    status = kStatusTooLarge;
  } else if (count > kMaxDescribedArguments) {
    // Nine or more arguments travel as one block holding all their bytes in order.
    block = static_cast<uint8_t*>(zel::rt::Allocate(total));
    if (block == nullptr) {
      status = kStatusNoMemory;
    } else {
      uint8_t* at = block;
      while (const void* bytes = va_arg(again, const void*)) {
        const uint32_t length = va_arg(again, uint32_t);
        if (length != 0) std::memcpy(at, bytes, length);
        at += length;
      }
      for (auto& field : record.fields) field = Descriptor{};
      record.fields[0] = Descriptor{WidenAddress(&number), sizeof number, 0};
      record.fields[1] = Descriptor{WidenAddress(block), static_cast<uint32_t>(total), 0};
      record.header.size = 80;
    }
  } else {
    record.header.size = static_cast<uint16_t>(16 * (count + 4));
  }
  va_end(again);

  if (status == kStatusOk && g_device != nullptr) g_device->Send(record);
  zel::rt::Free(block);
  return status;
}

namespace {

// The string rule: null travels as "NULL", empty as "<NULL>", anything else as itself with its
// terminator.
struct StringArgument {
  const void* bytes;
  uint32_t length;
};

StringArgument ArgumentOf(const char16_t* text) {
  if (text == nullptr) return {u"NULL", 10};
  if (*text == u'\0') return {u"<NULL>", 14};
  return {text, static_cast<uint32_t>((std::char_traits<char16_t>::length(text) + 1) * 2)};
}

constexpr const void* kEnd = nullptr;

}  // namespace

void TraceCode(TraceClass cls, const Message& message, int32_t code) {
  if (const uint64_t logger = ActiveLogger(cls)) {
    TraceUInt32(static_cast<uint32_t>(logger), static_cast<uint32_t>(logger >> 32), message.number,
                &GuidOf(message.module), static_cast<uint32_t>(code));
  }
}

uint32_t TraceNoData(uint32_t low, uint32_t high, uint32_t number, const Guid* guid) {
  return Emit(low, high, kMessageFlags, guid, number, kEnd);
}

uint32_t TraceUInt32(uint32_t low, uint32_t high, uint32_t number, const Guid* guid,
                     uint32_t value) {
  return Emit(low, high, kMessageFlags, guid, number, static_cast<const void*>(&value), uint32_t{4},
              kEnd);
}

uint32_t TraceUInt64(uint32_t low, uint32_t high, uint32_t number, const Guid* guid,
                     uint64_t value) {
  return Emit(low, high, kMessageFlags, guid, number, static_cast<const void*>(&value), uint32_t{8},
              kEnd);
}

uint32_t TraceString(uint32_t low, uint32_t high, uint32_t number, const Guid* guid,
                     const char16_t* text) {
  const StringArgument s = ArgumentOf(text);
  return Emit(low, high, kMessageFlags, guid, number, s.bytes, s.length, kEnd);
}

uint32_t TraceStringAndFive(uint32_t low, uint32_t high, uint32_t number, const Guid* guid,
                            const char16_t* text, uint32_t v1, uint32_t v2, uint32_t v3,
                            uint32_t v4, uint32_t v5) {
  const StringArgument s = ArgumentOf(text);
  return Emit(low, high, kMessageFlags, guid, number, s.bytes, s.length,
              static_cast<const void*>(&v1), uint32_t{4}, static_cast<const void*>(&v2),
              uint32_t{4}, static_cast<const void*>(&v3), uint32_t{4},
              static_cast<const void*>(&v4), uint32_t{4}, static_cast<const void*>(&v5),
              uint32_t{4}, kEnd);
}

uint32_t TraceTwoStrings(uint32_t low, uint32_t high, uint32_t number, const Guid* guid,
                         const char16_t* first, const char16_t* second) {
  const StringArgument a = ArgumentOf(first);
  const StringArgument b = ArgumentOf(second);
  return Emit(low, high, kMessageFlags, guid, number, a.bytes, a.length, b.bytes, b.length, kEnd);
}

}  // namespace zel::trace
